// Test support: builds header bytes value by value at offsets that the test
// itself states, in host or reversed byte order, and writes them to a file.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace testing_support {

class HeaderBuilder {
 public:
  explicit HeaderBuilder(std::size_t size) : bytes_(size, std::byte{0}) {}

  // Stores value at offset in the host's byte order.
  template <class T>
  HeaderBuilder& put(std::size_t offset, T value) {
    return put_raw(offset, &value, sizeof value, false);
  }
  // Stores value at offset with its bytes reversed (big-endian on x86).
  template <class T>
  HeaderBuilder& put_swapped(std::size_t offset, T value) {
    return put_raw(offset, &value, sizeof value, true);
  }
  // Stores the text's bytes; no zero byte is added after them.
  HeaderBuilder& put_text(std::size_t offset, std::string_view text) {
    return put_raw(offset, text.data(), text.size(), false);
  }
  HeaderBuilder& fill(std::size_t offset, std::size_t count, std::byte value) {
    check(offset, count);
    std::fill_n(bytes_.begin() + static_cast<std::ptrdiff_t>(offset), count, value);
    return *this;
  }
  HeaderBuilder& resize(std::size_t size) {
    bytes_.resize(size, std::byte{0});
    return *this;
  }

  const std::vector<std::byte>& bytes() const { return bytes_; }
  std::string str() const {
    return {reinterpret_cast<const char*>(bytes_.data()), bytes_.size()};
  }
  void write(const std::string& path) const {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(bytes_.data()),
               static_cast<std::streamsize>(bytes_.size()));
    if (!file) throw std::runtime_error("cannot write " + path);
  }

 private:
  void check(std::size_t offset, std::size_t count) const {
    if (offset > bytes_.size() || bytes_.size() - offset < count) {
      throw std::out_of_range("HeaderBuilder: value beyond the header");
    }
  }
  HeaderBuilder& put_raw(std::size_t offset, const void* data, std::size_t count, bool reversed) {
    check(offset, count);
    std::memcpy(bytes_.data() + offset, data, count);
    if (reversed) std::reverse(bytes_.begin() + static_cast<std::ptrdiff_t>(offset),
                               bytes_.begin() + static_cast<std::ptrdiff_t>(offset + count));
    return *this;
  }
  std::vector<std::byte> bytes_;
};

}  // namespace testing_support
