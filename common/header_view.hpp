// A header of fixed length as the tools read it: numbers at byte offsets in
// the header's own byte order, which is decided once when the view is made,
// and NUL-terminated texts that never run past the end of their block.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <type_traits>

#include "common/bytes.hpp"

namespace pfile {

// Host: the bytes are in the host's order. Reversed: each number's bytes
// stand in the opposite order (a big-endian header on an x86 host).
enum class ByteOrder { host, reversed };

// `value` with its bytes in the opposite order.
template <class T>
T byteReversed(T value) {
  static_assert(std::is_trivially_copyable_v<T>);
  auto bytes = std::bit_cast<std::array<std::byte, sizeof(T)>>(value);
  for (std::size_t i = 0; i < sizeof(T) / 2; ++i) std::swap(bytes[i], bytes[sizeof(T) - 1 - i]);
  return std::bit_cast<T>(bytes);
}

template <std::size_t Size>
class HeaderView {
 public:
  explicit HeaderView(std::span<const std::byte, Size> bytes, ByteOrder order = ByteOrder::host)
      : bytes_(bytes), order_(order) {}

  // The T stored at `offset`, in the header's byte order. Throws
  // std::out_of_range when it does not lie wholly inside the header.
  template <class T>
  T number(std::size_t offset) const {
    const T value = load<T>(bytes_, offset);
    return order_ == ByteOrder::reversed ? byteReversed(value) : value;
  }

  // The text at `offset`: up to its first NUL byte, or up to `block_end`
  // (the end of the block that holds it) when no NUL comes first.
  std::string_view text(std::size_t offset, std::size_t block_end) const {
    return pfile::text(std::span(bytes_).first(block_end < Size ? block_end : Size), offset);
  }

  std::span<const std::byte, Size> bytes() const { return bytes_; }
  ByteOrder order() const { return order_; }

 private:
  std::span<const std::byte, Size> bytes_;
  ByteOrder order_;
};

}  // namespace pfile
