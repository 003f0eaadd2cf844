// Where each value melvane prints comes from: a field of the revision table,
// named by its record and member, so that every revision reads it at its own
// place and in its own kind. The summary's rows and the JSON sidecar's keys
// both read through these, so the two never disagree about a value.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "common/revisions.hpp"
#include "common/scan_header.hpp"

namespace melvane {

enum class From : std::uint8_t { raw, exam, series, image, slice_entry };

// A value's field in a given revision.
using FieldOf = pfile::Field (*)(const pfile::Revision&);
struct Source {
  From from;
  FieldOf field;
};

template <pfile::Field pfile::RawFields::*member>
constexpr Source raw() {
  return {From::raw, [](const pfile::Revision& r) { return r.raw->*member; }};
}
template <std::size_t i>  // user0 ... user5
constexpr Source rawUser() {
  return {From::raw, [](const pfile::Revision& r) { return r.raw->user[i]; }};
}
template <pfile::Field pfile::ExamFields::*member>
constexpr Source exam() {
  return {From::exam, [](const pfile::Revision& r) { return r.exam_fields->*member; }};
}
template <pfile::Field pfile::SeriesFields::*member>
constexpr Source series() {
  return {From::series, [](const pfile::Revision& r) { return r.series_fields->*member; }};
}
template <pfile::Field pfile::ImageFields::*member>
constexpr Source image() {
  return {From::image, [](const pfile::Revision& r) { return r.image_fields->*member; }};
}
template <pfile::Triple pfile::ImageFields::*member, std::size_t axis>  // axis: R, A, S
constexpr Source imageAxis() {
  return {From::image, [](const pfile::Revision& r) { return (r.image_fields->*member)[axis]; }};
}
// A field of a slice entry; every revision's entry starts alike.
template <pfile::Kind kind, std::uint32_t offset>
constexpr Source entry() {
  return {From::slice_entry, [](const pfile::Revision&) { return pfile::Field{offset, kind}; }};
}

// Values that name the outputs, count the slices or feed a computed line.
inline constexpr Source kRunNumber = raw<&pfile::RawFields::run_number>();
inline constexpr Source kExamNumber = series<&pfile::SeriesFields::exam_number>();
inline constexpr Source kSeriesNumber = series<&pfile::SeriesFields::series_number>();
inline constexpr Source kSliceCount = raw<&pfile::RawFields::slice_count>();
inline constexpr Source kNshot = rawUser<4>();
inline constexpr Source kImageSize = raw<&pfile::RawFields::image_size>();
inline constexpr Source kRepetitionTime = image<&pfile::ImageFields::repetition_time>();  // us
inline constexpr Source kEchoTime = image<&pfile::ImageFields::echo_time>();              // us
inline constexpr Source kFieldOfView = image<&pfile::ImageFields::field_of_view>();
inline constexpr Source kFrequency = raw<&pfile::RawFields::frequency>();  // tenths of a hertz

// The value of `source` in `header` (for a slice entry, in entry `entry`).
// Each throws std::logic_error when the table gives the field another kind.
// An integer of any kind, widened with its sign.
std::int64_t integerOf(const pfile::ScanHeader& header, Source source, std::size_t entry = 0);
float realOf(const pfile::ScanHeader& header, Source source, std::size_t entry = 0);
// A text: up to its first zero byte, or the end of its field; revision 20.x
// texts run on to the end of their record, as melvane has always read them.
std::string_view textOf(const pfile::ScanHeader& header, Source source, std::size_t entry = 0);

// The slice count read as a signed number of its width, as melvane has always
// read the 16-bit count: stored 0xFFFF is -1, and a 32-bit count (28.002 on)
// of 2^31 or more is negative too. A count below 1 gives no slices.
std::int32_t sliceCount(const pfile::ScanHeader& header);
// The slice entries to print: the count, at most the table's capacity.
std::size_t slicesShown(const pfile::ScanHeader& header);

}  // namespace melvane
