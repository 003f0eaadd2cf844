// melvane's view of a revision 20.006 Pfile header: where its blocks lie, the
// byte order of its numbers (SwapEndian), the three swap functions every
// numeric read goes through, the revision check and the header read itself.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

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

// The one accepted revision: 20.006 rounded to single precision (0x41A00C4A).
inline constexpr float kRevision = 20.006f;

// 1 when the header's numbers have their bytes in the reverse of host order.
// Set once, from the header's first float, before any other value is read.
extern int SwapEndian;
// Always 0; printed in the summary and consulted by nothing.
extern int BigEndian;

// Return their argument as is, or with its bytes reversed when SwapEndian is 1.
std::int16_t swaps(std::int16_t value);
std::int32_t swapl(std::int32_t value);
float swapf(float value);

// 1 unless the first four bytes, as a host-order float, lie in [5.0, 100.0]
// (NaN and a span shorter than four bytes give 1).
int detectSwapEndian(Bytes header);

// The revision at offset 0 in the order SwapEndian selects (0.0 for a span
// shorter than four bytes), and whether it is exactly 20.006f.
float revisionOf(Bytes header);
bool revisionAccepted(Bytes header);

// Opens the Pfile for reading (large-file support, path of any length).
// O_NONBLOCK is set for the open only, so that a FIFO without a writer opens
// and then reads as empty instead of blocking. Returns -1 with errno set on
// failure.
int openInput(std::string_view path);

// Reads up to buffer.size() bytes from the start of `fd` with read(2),
// repeating after partial reads and EINTR. Returns the count read; a read
// error ends the loop like end of file does (the caller sees a short read).
std::size_t readHeader(int fd, std::span<std::byte> buffer);

}  // namespace melvane
