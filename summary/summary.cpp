// The summary's lines: tables of rows that name the revision table's fields,
// and the fixed and computed lines written as literal formats where they fall
// between the tables.
#include "summary/summary.hpp"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdarg>
#include <initializer_list>
#include <limits>
#include <span>
#include <string>
#include <string_view>

#include "common/format_check.hpp"
#include "summary/scan_values.hpp"

namespace melvane {
namespace {

using pfile::ExamFields;
using pfile::ImageFields;
using pfile::RawFields;
using pfile::SeriesFields;

// The type a row hands printf: texts as %s, floats as stored as %f (widened
// to double), every integer, truncated floats included, as %d.
enum class Printed { text, real, integer };

// What is done to a stored number before it is printed as an integer: its
// low 32 bits, a float's fraction dropped, an integer divided by `divisor`
// (both toward zero), or the slice count's reading (see sliceCount).
struct Conversion {
  enum class How { as_stored, truncate, divide, slice_count } how = How::as_stored;
  int divisor = 1;
};
inline constexpr Conversion kTruncated{Conversion::How::truncate};
inline constexpr Conversion kSliceCountRead{Conversion::How::slice_count};
// The divisor is at least 2, so that an unsigned 32-bit quotient fits an int.
consteval Conversion dividedBy(int divisor) {
  if (divisor < 2) throw "divided by too small a number for an int";
  return {Conversion::How::divide, divisor};
}

// One summary line that prints one to three values of one printed type, each
// read from its revision's field. The constructor runs at compile time and
// rejects a format whose conversions differ from the row's values in type or
// number; the field's kind is the table's, checked when it is read.
struct Row {
  const char* format;
  Printed printed;
  Conversion conversion;
  std::array<Source, 3> sources;
  std::size_t count;

  consteval Row(const char* f, Printed p, std::initializer_list<Source> values,
                Conversion c = {})
      : format(f), printed(p), conversion(c), sources{}, count(values.size()) {
    if (count == 0 || count > sources.size()) throw "a row prints one to three values";
    if (c.how != Conversion::How::as_stored && p != Printed::integer) {
      throw "only integers are converted";
    }
    std::copy(values.begin(), values.end(), sources.begin());
    const std::string_view letter = p == Printed::text ? "s" : p == Printed::real ? "f" : "d";
    const std::string_view expected[] = {letter, letter, letter};
    if (!pfile::conversionsFit(f, std::span(expected).first(count))) {
      throw "the format's conversions do not fit the row's values";
    }
  }
};

constexpr Printed text = Printed::text, real = Printed::real, integer = Printed::integer;

// The rows of the summary's lines 3 to 39, in printed order, split where a
// computed line comes between them. The exam number is unsigned, as the
// scanner defines it: stored 50540 prints as 50540, not -14996.
constexpr Row kIdentification[] = {
    {"runnum = %05d\n", integer, {kRunNumber}},
    {"examnum/seriesnum = %05d/%03d\n", integer, {kExamNumber, kSeriesNumber}},
    {"date of scan = %s\n", text, {raw<&RawFields::scan_date>()}},
    {"time of scan = %s\n", text, {raw<&RawFields::scan_time>()}},
    {"patient id = %s\n", text, {exam<&ExamFields::patient_id>()}},
    {"patient name = %s\n", text, {exam<&ExamFields::patient_name>()}},
    {"exam description = %s\n", text, {exam<&ExamFields::description>()}},
    {"history = %s\n", text, {exam<&ExamFields::history>()}},
    {"requisition number = %s\n", text, {exam<&ExamFields::requisition_number>()}},
    {"referring physician = %s\n", text, {exam<&ExamFields::referring_physician>()}},
    {"radiologist = %s\n", text, {exam<&ExamFields::radiologist>()}},
    {"series description = %s\n", text, {series<&SeriesFields::description>()}},
    {"psd = %s (%s)\n", text,
     {image<&ImageFields::pulse_sequence>(), image<&ImageFields::internal_name>()}},
    {"coil = %s \n", text, {image<&ImageFields::coil>()}},
};
constexpr Row kTiming[] = {
    {"slquant = %d\n", integer, {kSliceCount}, kSliceCountRead},
    {"num time frames = %d\n", integer, {rawUser<1>()}, kTruncated},
    {"num echoes = %d\n", integer, {raw<&RawFields::echoes>()}},
    {"nextra discards = %d\n", integer, {image<&ImageFields::user5>()}, kTruncated},
    {"nshot = %d\n", integer, {kNshot}, kTruncated},
    {"FOV = %6.1f\n", real, {kFieldOfView}},
    {"slice thick = %5.1f\n", real, {image<&ImageFields::slice_thickness>()}},
    {"skip = %5.1f\n", real, {image<&ImageFields::spacing>()}},
    {"TR = %d msec\n", integer, {kRepetitionTime}, dividedBy(1000)},
    {"TE = %d msec\n", integer, {kEchoTime}, dividedBy(1000)},
    {"flip angle = %d deg.\n", integer, {image<&ImageFields::flip_angle>()}},
};
// (time/frame is computed; see writeSummary)
constexpr Row kMatrix[] = {
    {"equiv matrix size = %d\n", integer, {rawUser<3>()}, kTruncated},
    {"imgsize = %d  \n", integer, {kImageSize}},
};
// (pixel size is computed; see writeSummary)
constexpr Row kPlacement[] = {
    {"gtype = %d\n", integer, {rawUser<5>()}, kTruncated},
    {"pa_entry= %d\n", integer, {series<&SeriesFields::patient_entry>()}},
    {"plane = %d\n", integer, {image<&ImageFields::plane>()}},
    {"ob_plane = %d\n", integer, {image<&ImageFields::oblique_plane>()}},
    {"freq = %d\n", integer, {kFrequency}, dividedBy(10)},
    {"R1, R2, TG (mps)= %d  %d  %d\n", integer,
     {raw<&RawFields::r1>(), raw<&RawFields::r2>(), raw<&RawFields::tg>()}},
    {"phys_record_flag = %d\n", integer, {image<&ImageFields::user10>()}, kTruncated},
    {"start_loc= %7.1f %7.1f %7.1f\n", real,
     {imageAxis<&ImageFields::centre, 0>(), imageAxis<&ImageFields::centre, 1>(),
      imageAxis<&ImageFields::centre, 2>()}},
};

// The lines of one slice entry; every revision's entry starts alike.
using pfile::Kind;
constexpr Row kSliceLines[] = {
    {"slice =%d\n", integer, {entry<Kind::s16, 2>()}},
    {"gw_point1= %7.1f %7.1f %7.1f\n", real,
     {entry<Kind::f32, 4>(), entry<Kind::f32, 8>(), entry<Kind::f32, 12>()}},
    {"gw_point2= %7.1f %7.1f %7.1f\n", real,
     {entry<Kind::f32, 16>(), entry<Kind::f32, 20>(), entry<Kind::f32, 24>()}},
    {"gw_point3= %7.1f %7.1f %7.1f\n", real,
     {entry<Kind::f32, 28>(), entry<Kind::f32, 32>(), entry<Kind::f32, 36>()}},
};

// vfprintf with errno cleared first, so that a failure leaves its own errno.
// True when the line was written. The format attribute lets -Wformat check
// every call with a literal format.
[[gnu::format(printf, 2, 3)]] bool line(std::FILE* out, const char* format, ...) {
  va_list values;
  va_start(values, format);
  errno = 0;
  const int written = std::vfprintf(out, format, values);
  va_end(values);
  return written >= 0;
}

// The integer a row prints for `source`.
int integerAt(const Row& row, const pfile::ScanHeader& header, Source source, std::size_t entry) {
  switch (row.conversion.how) {
    case Conversion::How::as_stored: return asInt(integerOf(header, source, entry));
    case Conversion::How::truncate: return truncated(realOf(header, source, entry));
    case Conversion::How::divide:
      // Toward zero; any 32-bit integer over 2 or more fits an int.
      return asInt(integerOf(header, source, entry) / row.conversion.divisor);
    case Conversion::How::slice_count: return sliceCount(header);
  }
  return 0;
}

// Prints one row (of slice entry `entry` for slice lines). The only place a
// row's format reaches printf: Row's constructor matched the format's
// conversions against the row's values at compile time, and each case hands
// exactly their promoted type. A format with fewer than three conversions
// ignores the spare arguments.
bool printRow(std::FILE* out, const Row& row, const pfile::ScanHeader& header, std::size_t entry) {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
  switch (row.printed) {
    case Printed::text: {
      std::string texts[3];  // copied, so that printf finds a NUL after each
      for (std::size_t i = 0; i < row.count; ++i) {
        texts[i] = textOf(header, row.sources[i], entry);
      }
      return line(out, row.format, texts[0].c_str(), texts[1].c_str(), texts[2].c_str());
    }
    case Printed::real: {
      double values[3] = {};
      for (std::size_t i = 0; i < row.count; ++i) {
        values[i] = static_cast<double>(realOf(header, row.sources[i], entry));
      }
      return line(out, row.format, values[0], values[1], values[2]);
    }
    case Printed::integer: {
      int values[3] = {};
      for (std::size_t i = 0; i < row.count; ++i) {
        values[i] = integerAt(row, header, row.sources[i], entry);
      }
      return line(out, row.format, values[0], values[1], values[2]);
    }
  }
#pragma GCC diagnostic pop
  return false;
}

bool printRows(std::FILE* out, std::span<const Row> rows, const pfile::ScanHeader& header,
               std::size_t entry = 0) {
  return std::all_of(rows.begin(), rows.end(),
                     [&](const Row& row) { return printRow(out, row, header, entry); });
}

bool printSlices(std::FILE* out, const pfile::ScanHeader& header) {
  const std::size_t slices = slicesShown(header);
  for (std::size_t i = 0; i < slices; ++i) {
    if (!printRows(out, kSliceLines, header, i)) return false;
  }
  return true;
}

}  // namespace

std::int32_t truncated(float value) {
  // Saturate rather than convert out of range (undefined behaviour): NaN → 0,
  // at or above 2^31 → INT32_MAX, below -2^31 → INT32_MIN.
  if (value != value) return 0;
  if (value >= 2147483648.0f) return std::numeric_limits<std::int32_t>::max();
  if (value < -2147483648.0f) return std::numeric_limits<std::int32_t>::min();
  return static_cast<std::int32_t>(value);
}

std::int32_t timePerFrame(float nshot, std::int32_t tr) {
  // The 64-bit product is exact; keeping its low 32 bits is what a 32-bit
  // two's-complement multiply gives, without signed overflow.
  const std::int64_t product = std::int64_t{truncated(nshot)} * tr;
  const auto wrapped = static_cast<std::int32_t>(static_cast<std::uint32_t>(product));
  return wrapped / 1000;
}

int asInt(std::int64_t value) {
  // Conversion to a narrower signed type keeps the low bits (two's complement).
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(value));
}

float pixelSize(const pfile::ScanHeader& header) {
  return realOf(header, kFieldOfView) / static_cast<float>(integerOf(header, kImageSize));
}

std::string summaryName(const pfile::ScanHeader& header) {
  char name[32];  // "E65535S-2147483648P-2147483648.7" at the longest
  std::snprintf(name, sizeof name, "E%05dS%03dP%05d.7", asInt(integerOf(header, kExamNumber)),
                asInt(integerOf(header, kSeriesNumber)), asInt(integerOf(header, kRunNumber)));
  return name;
}

int writeSummary(const pfile::ScanHeader& header, std::FILE* out) {
  // "20.0" for every 20.x, "26.0" for 26.002, "14.3": one decimal.
  const double revision = static_cast<double>(header.revision().number());
  const bool written =
      line(out, "rev = %.1f\n", revision) && line(out, "BigEndian = %d\n", 0) &&
      printRows(out, kIdentification, header) && printRows(out, kTiming, header) &&
      line(out, "time/frame = %d msec\n",
           timePerFrame(realOf(header, kNshot), asInt(integerOf(header, kRepetitionTime)))) &&
      printRows(out, kMatrix, header) &&
      line(out, "pixel size = %g mm\n", static_cast<double>(pixelSize(header))) &&
      printRows(out, kPlacement, header) && printSlices(out, header);
  if (written) return 0;
  return errno != 0 ? errno : EIO;
}

}  // namespace melvane
