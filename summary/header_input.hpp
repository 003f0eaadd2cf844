// melvane's view of a revision 20.006 or 20.007 Pfile header: where its
// blocks lie, the byte order of its numbers (SwapEndian), the swap functions
// and the one getter through which every number is read, and the revision
// check.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <type_traits>

#include "common/byte_order.hpp"
#include "common/bytes.hpp"

namespace melvane {

using pfile::Bytes;

// The header is 149788 bytes; its blocks, by byte offset from the start of
// the file. Bytes 4096-36863 and 135168-142819 are read by nothing and only
// travel in the header copy.
inline constexpr std::size_t kHeaderSize = 149788;
struct Block {
  std::size_t start, size;
  constexpr std::size_t end() const { return start + size; }
};
inline constexpr Block kRawHeader{0, 4096};
inline constexpr Block kSliceTable{36864, 2048 * 48};
inline constexpr Block kExamRecord{142820, 1960};
inline constexpr Block kSeriesRecord{144780, 2560};
inline constexpr Block kImageRecord{147340, 2448};
static_assert(kImageRecord.end() == kHeaderSize, "the image record closes the header");

// The whole header as the run holds it; the type states its length.
using HeaderBytes = std::span<const std::byte, kHeaderSize>;

// The accepted revisions, rounded to single precision: 20.006 (0x41A00C4A)
// and 20.007 (0x41A00E56). Their headers differ only in where three exam
// texts lie.
enum class Revision { r20_006, r20_007 };

// 1 when the header's numbers have their bytes in the reverse of host order.
// Set once, from the header's first float, before any other value is read.
extern int SwapEndian;
// Always 0; printed in the summary and consulted by nothing.
extern int BigEndian;

// Return their argument as is, or with its bytes reversed when SwapEndian is 1.
std::int16_t swaps(std::int16_t value);
std::int32_t swapl(std::int32_t value);
float swapf(float value);
// The same for the numbers the scanner stores unsigned (exam number, freq).
std::uint16_t swapus(std::uint16_t value);
std::uint32_t swapul(std::uint32_t value);

// The number of type T stored at `offset`, in the header's byte order: the
// one place where header bytes become numbers, each through the swap
// function of its type.
template <class T>
T numberAt(HeaderBytes header, std::size_t offset) {
  const T stored = pfile::load<T>(header, offset);
  if constexpr (std::is_same_v<T, std::int16_t>) {
    return swaps(stored);
  } else if constexpr (std::is_same_v<T, std::int32_t>) {
    return swapl(stored);
  } else if constexpr (std::is_same_v<T, std::uint16_t>) {
    return swapus(stored);
  } else if constexpr (std::is_same_v<T, std::uint32_t>) {
    return swapul(stored);
  } else {
    static_assert(std::is_same_v<T, float>, "the header holds 16- and 32-bit integers and floats");
    return swapf(stored);
  }
}

// 1 unless the first four bytes, as a host-order float, lie in [5.0, 100.0]
// (a NaN gives 1).
int detectSwapEndian(HeaderBytes header);

// The revision at offset 0 in the order SwapEndian selects; which accepted
// revision it is exactly, if any.
float revisionOf(HeaderBytes header);
std::optional<Revision> acceptedRevision(HeaderBytes header);
bool revisionAccepted(HeaderBytes header);

}  // namespace melvane
