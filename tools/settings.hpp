// The settings every kind of mkpfile file takes, and the one place that turns
// setting texts into numbers:
//   order=le|be            byte order of every number written (default le)
//   size=N                 file length (shorter: a cut header; longer: zeros)
//   KIND@OFF=VALUE         one raw value at header offset OFF, KIND one of
//                          u8 s16 u16 s32 u32 s64 u64 f32 text
//   fill@OFF+COUNT=BYTE    COUNT bytes of value BYTE from OFF
// Numbers and offsets are decimal, 0x hex or 0-prefixed octal.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "tools/header_writer.hpp"

namespace mkpfile {

struct Setting {
  std::string_view name, value;
};

// The whole text as a number, or nullopt. Integers are stored modulo 2 to
// the power of their width (u16@0=-1 stores 0xFFFF).
std::optional<long long> parseSigned(std::string_view text);
std::optional<unsigned long long> parseUnsigned(std::string_view text);
std::optional<float> parseFloat(std::string_view text);

// How a text@ value ends: with its last character, or with a zero byte after
// it when the header has room for one.
enum class TextEnd { bare, zero_when_room };

// What a kind of file adds to the common settings.
struct FileKind {
  std::size_t size;  // header length, and file length unless size= says otherwise
  const char* usage;  // printed after a bad setting
  TextEnd text_end;
  // Applies one of the kind's own settings; false for a name it does not know
  // or a value it cannot read. May throw std::out_of_range like HeaderWriter.
  std::function<bool(const Setting&, pfile::HeaderWriter&)> named;
};

// The byte order that the order= settings ask for (the last one counts;
// applyAndWrite reports a value other than le and be). Read before the
// defaults are written, since it applies to them too.
std::endian byteOrder(std::span<const std::string> settings);

// Applies each setting, in command-line order, over the defaults already in
// `header`, and writes the file. Returns the exit status: 0, 1 when the file
// cannot be written, 2 after a bad setting (with a message on standard error).
int applyAndWrite(const FileKind& kind, pfile::HeaderWriter& header,
                  std::span<const std::string> settings, const std::string& path);

}  // namespace mkpfile
