// The one place where header bytes become numbers or texts: bounds-checked
// loads in the host's byte order, texts that stop at their first zero byte
// or at the end of the bytes the caller owns, whichever comes first, and the
// byte reversal for numbers stored in the other order.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstring>
#include <span>
#include <stdexcept>
#include <string_view>
#include <type_traits>
#include <utility>

namespace pfile {

using Bytes = std::span<const std::byte>;

// Loads a T stored at `offset` in host byte order. Throws std::out_of_range
// when the value does not lie wholly inside `bytes`; the comparison is written
// so that it cannot overflow.
template <class T>
T load(Bytes bytes, std::size_t offset) {
  static_assert(std::is_trivially_copyable_v<T>);
  if (offset > bytes.size() || bytes.size() - offset < sizeof(T)) {
    throw std::out_of_range("header field lies outside its buffer");
  }
  T value;
  std::memcpy(&value, bytes.data() + offset, sizeof value);
  return value;
}

// The text that starts at `offset`: its bytes up to, not including, the first
// zero byte, or up to the end of `bytes` when no zero byte comes first. An
// offset at or past the end gives the empty text.
inline std::string_view text(Bytes bytes, std::size_t offset) {
  if (offset >= bytes.size()) return {};
  const auto* first = reinterpret_cast<const char*>(bytes.data() + offset);
  const std::size_t room = bytes.size() - offset;
  const void* nul = std::memchr(first, 0, room);
  const std::size_t length =
      nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - first) : room;
  return {first, length};
}

// `value` with its bytes in the opposite order: how a number stored in the
// other byte order than the host's becomes the host's.
template <class T>
T byteReversed(T value) {
  static_assert(std::is_trivially_copyable_v<T>);
  auto bytes = std::bit_cast<std::array<std::byte, sizeof(T)>>(value);
  for (std::size_t i = 0; i < sizeof(T) / 2; ++i) std::swap(bytes[i], bytes[sizeof(T) - 1 - i]);
  return std::bit_cast<T>(bytes);
}

}  // namespace pfile
