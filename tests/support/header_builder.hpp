// Test support: builds header bytes value by value at offsets that the test
// itself states, in host or reversed byte order, and writes them to a file.
// The bytes are mkpfile's own header writer's; this adds the file and the
// string the tests want.
#pragma once

#include <bit>
#include <cstddef>
#include <fstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "tools/header_writer.hpp"

namespace testing_support {

class HeaderBuilder {
 public:
  explicit HeaderBuilder(std::size_t size) : header_(size) {}

  // Each store throws std::out_of_range when its bytes lie beyond the header.

  // Stores value at offset in the host's byte order.
  template <class T>
  HeaderBuilder& put(std::size_t offset, T value) {
    header_.put(offset, value);
    return *this;
  }
  // Stores value at offset with its bytes reversed (big-endian on x86).
  template <class T>
  HeaderBuilder& put_swapped(std::size_t offset, T value) {
    constexpr auto reversed =
        std::endian::native == std::endian::little ? std::endian::big : std::endian::little;
    header_.put(offset, value, reversed);
    return *this;
  }
  // Stores the text's bytes; no zero byte is added after them.
  HeaderBuilder& put_text(std::size_t offset, std::string_view text) {
    header_.text(offset, text);
    return *this;
  }
  HeaderBuilder& fill(std::size_t offset, std::size_t count, std::byte value) {
    header_.fill(offset, count, value);
    return *this;
  }
  HeaderBuilder& resize(std::size_t size) {
    header_.resize(size);
    return *this;
  }

  const std::vector<std::byte>& bytes() const { return header_.bytes(); }
  std::string str() const {
    return {reinterpret_cast<const char*>(bytes().data()), bytes().size()};
  }
  void write(const std::string& path) const {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(bytes().data()),
               static_cast<std::streamsize>(bytes().size()));
    if (!file) throw std::runtime_error("cannot write " + path);
  }

 private:
  pfile::HeaderWriter header_;
};

}  // namespace testing_support
