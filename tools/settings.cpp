// The settings every kind of mkpfile file takes: their parsing, their
// application to the header, and the writing of the file.
#include "tools/settings.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace mkpfile {

// strtoll and friends need a terminated string and accept a prefix of it: the
// copy terminates the text, and `end` must reach its end.
std::optional<long long> parseSigned(std::string_view text) {
  const std::string copy(text);
  char* end = nullptr;
  errno = 0;
  const long long value = std::strtoll(copy.c_str(), &end, 0);
  if (copy.empty() || *end != '\0' || errno != 0) return std::nullopt;
  return value;
}

std::optional<unsigned long long> parseUnsigned(std::string_view text) {
  const std::string copy(text);
  char* end = nullptr;
  errno = 0;
  const unsigned long long value = std::strtoull(copy.c_str(), &end, 0);
  if (copy.empty() || *end != '\0' || errno != 0) return std::nullopt;
  return value;
}

// Out-of-range values are kept as strtof rounds them (1e39 is inf), since a
// test may want exactly that.
std::optional<float> parseFloat(std::string_view text) {
  const std::string copy(text);
  char* end = nullptr;
  const float value = std::strtof(copy.c_str(), &end);
  if (copy.empty() || *end != '\0') return std::nullopt;
  return value;
}

namespace {

// Stores the integer `text` in the width of T, wrapping as two's complement.
template <class T>
bool putInteger(pfile::HeaderWriter& header, std::size_t offset, std::string_view text) {
  const auto value = parseSigned(text);
  if (value) header.put(offset, static_cast<T>(*value));
  return value.has_value();
}

// KIND@OFF=VALUE or fill@OFF+COUNT=BYTE. False when the name has no such form
// or the value cannot be read; throws std::out_of_range beyond the header.
bool putRaw(const Setting& setting, TextEnd text_end, pfile::HeaderWriter& header) {
  const std::size_t at = setting.name.find('@');
  const std::string_view kind = setting.name.substr(0, at);
  std::string_view where = setting.name.substr(at + 1);
  std::optional<unsigned long long> count;
  if (kind == "fill") {
    const std::size_t plus = where.find('+');
    if (plus == std::string_view::npos) return false;
    count = parseUnsigned(where.substr(plus + 1));
    where = where.substr(0, plus);
    if (!count) return false;
  }
  const auto parsed = parseUnsigned(where);
  if (!parsed) return false;
  const auto offset = static_cast<std::size_t>(*parsed);
  const std::string_view value = setting.value;

  if (kind == "u8") return putInteger<std::uint8_t>(header, offset, value);
  if (kind == "s16" || kind == "u16") return putInteger<std::uint16_t>(header, offset, value);
  if (kind == "s32" || kind == "u32") return putInteger<std::uint32_t>(header, offset, value);
  if (kind == "s64") return putInteger<std::int64_t>(header, offset, value);
  if (kind == "u64") {
    const auto number = parseUnsigned(value);
    if (number) header.put<std::uint64_t>(offset, *number);
    return number.has_value();
  }
  if (kind == "f32") {
    const auto number = parseFloat(value);
    if (number) header.put(offset, *number);
    return number.has_value();
  }
  if (kind == "text") {
    header.text(offset, value);
    const std::size_t end = offset + value.size();  // inside the header: text() checked it
    if (text_end == TextEnd::zero_when_room && end < header.size()) {
      header.put<std::uint8_t>(end, 0);
    }
    return true;
  }
  if (kind == "fill") {
    const auto byte = parseSigned(value);
    if (byte) header.fill(offset, static_cast<std::size_t>(*count), static_cast<std::byte>(*byte));
    return byte.has_value();
  }
  return false;
}

// One setting of any kind; `size` receives size=.
bool apply(const FileKind& kind, const Setting& setting, pfile::HeaderWriter& header,
           std::size_t& size) {
  if (setting.name == "order") return setting.value == "le" || setting.value == "be";
  if (setting.name == "size") {
    const auto length = parseUnsigned(setting.value);
    if (!length || setting.value.starts_with('-')) return false;
    size = static_cast<std::size_t>(*length);
    return true;
  }
  if (setting.name.find('@') != std::string_view::npos) {
    return putRaw(setting, kind.text_end, header);
  }
  return kind.named(setting, header);
}

// Writes the first `length` bytes of the header, or the whole header and then
// zeros up to `length`. The zeros are a hole in the file, so that a file of
// gigabytes costs neither memory nor disk.
int writeFile(const std::string& path, const std::vector<std::byte>& bytes, std::size_t length) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) {
    std::fprintf(stderr, "mkpfile: %s: %s\n", path.c_str(), std::strerror(errno));
    return 1;
  }
  const std::size_t count = std::min(length, bytes.size());
  const bool written = std::fwrite(bytes.data(), 1, count, file) == count;
  if (std::fclose(file) != 0 || !written) {
    std::fprintf(stderr, "mkpfile: %s: write failed\n", path.c_str());
    return 1;
  }
  if (length > count) {
    std::error_code error;
    std::filesystem::resize_file(path, length, error);
    if (error) {
      std::fprintf(stderr, "mkpfile: %s: %s\n", path.c_str(), error.message().c_str());
      return 1;
    }
  }
  return 0;
}

}  // namespace

std::endian byteOrder(std::span<const std::string> settings) {
  std::endian order = std::endian::little;
  for (const std::string& setting : settings) {
    if (setting == "order=le") order = std::endian::little;
    if (setting == "order=be") order = std::endian::big;
  }
  return order;
}

int applyAndWrite(const FileKind& kind, pfile::HeaderWriter& header,
                  std::span<const std::string> settings, const std::string& path) {
  std::size_t size = kind.size;
  for (const std::string& text : settings) {
    const std::size_t eq = text.find('=');
    bool ok = false;
    if (eq != std::string::npos) {
      const std::string_view whole = text;
      try {
        ok = apply(kind, {whole.substr(0, eq), whole.substr(eq + 1)}, header, size);
      } catch (const std::out_of_range&) {
        ok = false;  // the value lies beyond the header
      }
    }
    if (!ok) {
      std::fprintf(stderr, "mkpfile: bad setting '%s'\n%s", text.c_str(), kind.usage);
      return 2;
    }
  }
  return writeFile(path, header.bytes(), size);
}

}  // namespace mkpfile
