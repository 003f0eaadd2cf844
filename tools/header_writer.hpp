// Header bytes built value by value: numbers stored at byte offsets in the
// header's byte order, texts, and runs of one byte value. mkpfile writes its
// synthetic Pfiles with it, and the tests build their headers with it.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstring>
#include <stdexcept>
#include <string_view>
#include <type_traits>
#include <vector>

#include "common/bytes.hpp"

namespace pfile {

class HeaderWriter {
 public:
  // `size` zero bytes; numbers are stored in `order` unless a call names another.
  explicit HeaderWriter(std::size_t size, std::endian order = std::endian::native)
      : bytes_(size, std::byte{0}), order_(order) {}

  // Each store throws std::out_of_range, changing nothing, when its bytes do
  // not lie wholly inside the header.

  template <class T>
  HeaderWriter& put(std::size_t offset, T value) {
    return put(offset, value, order_);
  }
  template <class T>
  HeaderWriter& put(std::size_t offset, T value, std::endian order) {
    static_assert(std::is_trivially_copyable_v<T>);
    check(offset, sizeof value);
    if (order != std::endian::native) value = byteReversed(value);
    std::memcpy(bytes_.data() + offset, &value, sizeof value);
    return *this;
  }
  // The text's bytes alone: no zero byte is added after them.
  HeaderWriter& text(std::size_t offset, std::string_view text) {
    check(offset, text.size());
    std::memcpy(bytes_.data() + offset, text.data(), text.size());
    return *this;
  }
  HeaderWriter& fill(std::size_t offset, std::size_t count, std::byte value) {
    check(offset, count);
    std::fill_n(bytes_.begin() + static_cast<std::ptrdiff_t>(offset), count, value);
    return *this;
  }
  // Cuts the header or extends it with zero bytes.
  HeaderWriter& resize(std::size_t size) {
    bytes_.resize(size, std::byte{0});
    return *this;
  }

  const std::vector<std::byte>& bytes() const { return bytes_; }
  std::size_t size() const { return bytes_.size(); }
  std::endian order() const { return order_; }

 private:
  // offset + count <= size, written so that it cannot overflow.
  void check(std::size_t offset, std::size_t count) const {
    if (offset > bytes_.size() || bytes_.size() - offset < count) {
      throw std::out_of_range("value lies beyond the header");
    }
  }

  std::vector<std::byte> bytes_;
  std::endian order_;
};

}  // namespace pfile
