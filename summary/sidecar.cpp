// The JSON sidecar: its keys, the values each takes from the revision's
// fields, and its text, built with nlohmann::json.
#include "summary/sidecar.hpp"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <nlohmann/json.hpp>

#include "summary/scan_values.hpp"
#include "summary/summary.hpp"

namespace melvane {
namespace {

using Json = nlohmann::ordered_json;
using pfile::ExamFields;
using pfile::ImageFields;
using pfile::RawFields;
using pfile::SeriesFields;

// A float as a JSON number; NaN and the infinities, which JSON cannot hold, as null.
Json number(double value) { return std::isfinite(value) ? Json(value) : Json(nullptr); }

Json text(const pfile::ScanHeader& header, Source source) {
  return validUtf8(textOf(header, source));
}
Json real(const pfile::ScanHeader& header, Source source) {
  return number(static_cast<double>(realOf(header, source)));
}
Json integer(const pfile::ScanHeader& header, Source source) {
  return integerOf(header, source);
}

// [R, A, S] of a point of slice entry `entry` whose R lies `offset` bytes
// into it; the same fields the summary's gw_point lines read.
template <std::uint32_t offset>
Json point(const pfile::ScanHeader& header, std::size_t entry) {
  using pfile::Kind;
  return {number(realOf(header, melvane::entry<Kind::f32, offset>(), entry)),
          number(realOf(header, melvane::entry<Kind::f32, offset + 4>(), entry)),
          number(realOf(header, melvane::entry<Kind::f32, offset + 8>(), entry))};
}

// The number of one to `max` decimal digits at `at` of `s`, which end at
// `end_char` or at the end of `s`; `at` moves past them and the separator
// (past the end of `s` when none follows).
bool digits(std::string_view s, std::size_t& at, char end_char, std::size_t max, int& value) {
  const std::size_t end = std::min(s.find(end_char, at), s.size());
  if (at >= s.size()) return false;
  if (end == at || end - at > max || s[at] < '0' || s[at] > '9') return false;
  const auto [rest, error] = std::from_chars(s.data() + at, s.data() + end, value);
  if (error != std::errc() || rest != s.data() + end) return false;
  at = end + 1;
  return true;
}

}  // namespace

std::string validUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  const auto at = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
  for (std::size_t i = 0; i < bytes.size();) {
    const unsigned char lead = at(i);
    // The sequence's length and the range of its second byte (Unicode's table
    // of well-formed UTF-8: no overlong forms, surrogates or values past U+10FFFF).
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;
    if (lead < 0x80) length = 1;
    else if (lead >= 0xC2 && lead <= 0xDF) length = 2;
    else if (lead == 0xE0) length = 3, low = 0xA0;
    else if (lead == 0xED) length = 3, high = 0x9F;
    else if (lead >= 0xE1 && lead <= 0xEF) length = 3;
    else if (lead == 0xF0) length = 4, low = 0x90;
    else if (lead == 0xF4) length = 4, high = 0x8F;
    else if (lead >= 0xF1 && lead <= 0xF3) length = 4;
    bool whole = length > 0 && bytes.size() - i >= length;
    for (std::size_t k = 1; whole && k < length; ++k) {
      const unsigned char next = at(i + k);
      whole = k == 1 ? next >= low && next <= high : next >= 0x80 && next <= 0xBF;
    }
    if (whole) {
      out.append(bytes.substr(i, length));
      i += length;
    } else {
      out.append("\xEF\xBF\xBD");  // U+FFFD
      ++i;
    }
  }
  return out;
}

std::string isoDateTime(std::string_view date, std::string_view time) {
  int month = 0, day = 0, year = 0, hour = 0, minute = 0, second = 0;
  std::size_t d = 0, t = 0;
  const bool date_read = digits(date, d, '/', 2, month) && digits(date, d, '/', 2, day) &&
                         digits(date, d, '/', 3, year) && d > date.size();
  const bool time_read = digits(time, t, ':', 2, hour) && digits(time, t, ':', 2, minute) &&
                         (t > time.size() || (digits(time, t, ':', 2, second) && t > time.size()));
  if (!date_read || !time_read || month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 ||
      minute > 59 || second > 60) {
    return "";
  }
  char iso[80];  // room for any int, though each is checked above
  std::snprintf(iso, sizeof iso, "%04d-%02d-%02dT%02d:%02d:%02d", 1900 + year, month, day, hour,
                minute, second);
  return iso;
}

std::string sidecarName(const std::string& summary_name) {
  return summary_name.substr(0, summary_name.rfind('.')) + ".json";
}

std::string sidecarText(const pfile::ScanHeader& h, bool identifying) {
  char revision[32];
  std::snprintf(revision, sizeof revision, "%.3f", static_cast<double>(h.revision().number()));
  const std::string when = isoDateTime(textOf(h, raw<&RawFields::scan_date>()),
                                       textOf(h, raw<&RawFields::scan_time>()));
  // Tenths of a hertz, whatever the revision's kind.
  const double mhz = static_cast<double>(integerOf(h, kFrequency)) / 1e7;
  const float thickness = realOf(h, image<&ImageFields::slice_thickness>());
  const float gap = realOf(h, image<&ImageFields::spacing>());

  Json j;
  j["Manufacturer"] = "GE";
  j["PfileRevision"] = revision;
  j["RunNumber"] = integer(h, kRunNumber);
  j["ExamNumber"] = integer(h, kExamNumber);
  j["SeriesNumber"] = integer(h, kSeriesNumber);
  j["AcquisitionDateTime"] = when.empty() ? Json(nullptr) : Json(when);
  j["SeriesDescription"] = text(h, series<&SeriesFields::description>());
  j["PulseSequenceName"] = text(h, image<&ImageFields::pulse_sequence>());
  j["PulseSequenceInternalName"] = text(h, image<&ImageFields::internal_name>());
  j["ReceiveCoilName"] = text(h, image<&ImageFields::coil>());
  j["RepetitionTime"] = static_cast<double>(integerOf(h, kRepetitionTime)) / 1e6;
  j["EchoTime"] = static_cast<double>(integerOf(h, kEchoTime)) / 1e6;
  j["FlipAngle"] = integer(h, image<&ImageFields::flip_angle>());
  j["ImagingFrequency"] = mhz;
  j["MagneticFieldStrength"] = std::round(mhz / 42.577 * 10) / 10;
  j["SliceThickness"] = number(static_cast<double>(thickness));
  j["SpacingBetweenSlices"] = number(static_cast<double>(thickness) + static_cast<double>(gap));
  j["NumberOfSlices"] = sliceCount(h);
  j["NumberOfEchoes"] = integer(h, raw<&RawFields::echoes>());
  j["NumberOfTemporalPositions"] = truncated(realOf(h, rawUser<1>()));
  j["FieldOfView"] = real(h, kFieldOfView);
  j["PixelSize"] = number(static_cast<double>(pixelSize(h)));
  j["ImageSize"] = integer(h, kImageSize);
  j["AcquisitionMatrix"] = real(h, rawUser<3>());
  j["Shots"] = real(h, kNshot);
  j["DiscardedFrames"] = real(h, image<&ImageFields::user5>());
  j["GradientType"] = real(h, rawUser<5>());
  j["PatientEntry"] = integer(h, series<&SeriesFields::patient_entry>());
  j["Plane"] = integer(h, image<&ImageFields::plane>());
  j["ObliquePlane"] = integer(h, image<&ImageFields::oblique_plane>());
  j["R1"] = integer(h, raw<&RawFields::r1>());
  j["R2"] = integer(h, raw<&RawFields::r2>());
  j["TG"] = integer(h, raw<&RawFields::tg>());
  j["PhysiologicalRecording"] = real(h, image<&ImageFields::user10>());
  j["SlabCentre"] = {real(h, imageAxis<&ImageFields::centre, 0>()),
                     real(h, imageAxis<&ImageFields::centre, 1>()),
                     real(h, imageAxis<&ImageFields::centre, 2>())};
  Json slices = Json::array();
  for (std::size_t i = 0, n = slicesShown(h); i < n; ++i) {
    slices.push_back({{"slice", integerOf(h, entry<pfile::Kind::s16, 2>(), i)},
                      {"gw_point1", point<4>(h, i)},
                      {"gw_point2", point<16>(h, i)},
                      {"gw_point3", point<28>(h, i)}});
  }
  j["Slices"] = std::move(slices);
  if (identifying) {
    j["PatientName"] = text(h, exam<&ExamFields::patient_name>());
    j["PatientID"] = text(h, exam<&ExamFields::patient_id>());
    j["RequisitionNumber"] = text(h, exam<&ExamFields::requisition_number>());
    j["ReferringPhysicianName"] = text(h, exam<&ExamFields::referring_physician>());
    j["Radiologist"] = text(h, exam<&ExamFields::radiologist>());
    j["History"] = text(h, exam<&ExamFields::history>());
  }
  return j.dump(2) + "\n";
}

int writeSidecar(const pfile::ScanHeader& header, bool identifying, std::FILE* out) {
  const std::string json = sidecarText(header, identifying);
  errno = 0;
  if (std::fwrite(json.data(), 1, json.size(), out) == json.size()) return 0;
  return errno != 0 ? errno : EIO;
}

}  // namespace melvane
