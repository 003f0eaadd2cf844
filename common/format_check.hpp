// A compile-time check of a printf format against the values a table row
// hands it, for formats that live in tables and so escape -Wformat.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <span>
#include <string_view>

namespace pfile {

// True when `format` holds exactly the conversions `expected` names, in that
// order. A conversion is named by its length modifier and letter as the
// argument's type needs it: "d" and "i" take an int, "ld" a long, "lu" an
// unsigned long, "f" and "g" a double, "c" an int, "s" a const char*. Flags,
// a width and a precision in digits may precede it; "%%" converts nothing.
// A '*' width or precision would take an argument of its own and never fits,
// nor does a format that ends inside a conversion.
//
// Use it in a row's consteval constructor and throw when it is false:
//   if (!pfile::conversionsFit(format, {"f"})) throw "format does not fit an f32 field";
consteval bool conversionsFit(std::string_view format, std::span<const std::string_view> expected) {
  constexpr std::string_view kFlagsWidthPrecision = "-+ #0123456789.";
  constexpr std::string_view kLengthModifiers = "hljztL";
  std::size_t matched = 0;
  for (std::size_t i = 0; i < format.size(); ++i) {
    if (format[i] != '%') continue;
    ++i;
    if (i < format.size() && format[i] == '%') continue;
    while (i < format.size() && kFlagsWidthPrecision.find(format[i]) != std::string_view::npos) ++i;
    const std::size_t start = i;
    while (i < format.size() && kLengthModifiers.find(format[i]) != std::string_view::npos) ++i;
    if (i >= format.size()) return false;
    const std::string_view conversion = format.substr(start, i + 1 - start);
    if (matched == expected.size() || conversion != expected[matched]) return false;
    ++matched;
  }
  return matched == expected.size();
}

consteval bool conversionsFit(std::string_view format, std::initializer_list<std::string_view> expected) {
  return conversionsFit(format, std::span(expected.begin(), expected.size()));
}

}  // namespace pfile
