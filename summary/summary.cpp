// The summary's lines: tables of rows for the numbers and texts the header
// holds, and the fixed and computed lines written as literal formats where
// they fall between the tables.
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

namespace melvane {
namespace {

// A value's place: its header offset, and the end of the block that holds it
// (a text without a NUL byte stops there). Places of slice rows count from
// the start of their entry. Revision 20.007 keeps a few texts elsewhere.
struct Place {
  std::size_t offset = 0, end = 0;
  std::size_t offset_20_007 = 0;

  constexpr std::size_t at(Revision revision) const {
    return revision == Revision::r20_007 ? offset_20_007 : offset;
  }
};

consteval Place in(Block block, std::size_t offset) {
  if (offset >= block.size) throw "offset beyond its block";
  return {block.start + offset, block.end(), block.start + offset};
}
consteval Place raw(std::size_t offset) { return in(kRawHeader, offset); }
consteval Place exam(std::size_t offset) { return in(kExamRecord, offset); }
// An exam text that revision 20.007 keeps at another offset of the record.
consteval Place exam(std::size_t offset, std::size_t offset_20_007) {
  Place place = exam(offset);
  place.offset_20_007 = exam(offset_20_007).offset;
  return place;
}
consteval Place series(std::size_t offset) { return in(kSeriesRecord, offset); }
consteval Place image(std::size_t offset) { return in(kImageRecord, offset); }
inline constexpr std::size_t kSliceEntrySize = 48;
inline constexpr std::size_t kSliceEntries = kSliceTable.size / kSliceEntrySize;
consteval Place entry(std::size_t offset) { return in({0, kSliceEntrySize}, offset); }

// How a row's values are stored: NUL-terminated texts, or numbers in the
// header's byte order, signed or unsigned as the scanner defines them.
enum class Stored { text, s16, u16, s32, u32, f32 };

consteval std::size_t width(Stored stored) {
  switch (stored) {
    case Stored::text: return 1;
    case Stored::s16:
    case Stored::u16: return 2;
    case Stored::s32:
    case Stored::u32:
    case Stored::f32: return 4;
  }
  throw "unknown storage";
}

// What is done to a stored number before it is printed: nothing, dropping a
// float's fraction, or dividing an integer by `divisor`; both toward zero.
struct Conversion {
  enum class How { as_stored, truncate, divide } how = How::as_stored;
  int divisor = 1;
};
inline constexpr Conversion kTruncated{Conversion::How::truncate};
consteval Conversion dividedBy(int divisor) { return {Conversion::How::divide, divisor}; }

// The type a row hands printf: texts as %s, floats as stored as %f (widened
// to double), every integer, truncated floats included, as %d.
enum class Printed { text, real, integer };

// The type a row hands printf for a value stored as `s` and converted by `c`:
// texts as %s, floats as stored as %f (widened to double), every integer,
// truncated floats included, as %d.
consteval Printed printedAs(Stored s, Conversion c) {
  if (s == Stored::text) return Printed::text;
  if (s == Stored::f32 && c.how == Conversion::How::as_stored) return Printed::real;
  return Printed::integer;
}

// One summary line that prints one to three values of one printed type,
// each stored as its own kind says. The constructor runs at compile time and
// rejects a value that overruns its block, a conversion that does not fit a
// stored kind, and a format whose conversions differ from the row's values in
// type or number.
struct Row {
  const char* format;
  std::array<Stored, 3> stored;
  Conversion conversion;
  Printed printed;
  std::array<Place, 3> places;
  std::size_t count;

  // Values all stored as `s`.
  consteval Row(const char* f, Stored s, std::initializer_list<Place> values, Conversion c = {})
      : Row(f, {s, s, s}, values, c, values.size()) {}
  // Values stored as `kinds`, one kind per value.
  consteval Row(const char* f, std::initializer_list<Stored> kinds,
                std::initializer_list<Place> values)
      : Row(f, kinds, values, {}, kinds.size()) {}

 private:
  consteval Row(const char* f, std::initializer_list<Stored> kinds,
                std::initializer_list<Place> values, Conversion c, std::size_t kind_count)
      : format(f), stored{}, conversion(c), printed(printedAs(*kinds.begin(), c)), places{},
        count(values.size()) {
    if (count == 0 || count > places.size()) throw "a row prints one to three values";
    if (kind_count < count) throw "a row names a kind for each value";
    std::copy_n(kinds.begin(), count, stored.begin());
    std::size_t i = 0;
    for (const Place& place : values) {
      const Stored s = stored[i];
      if (place.end - std::max(place.offset, place.offset_20_007) < width(s)) {
        throw "a value overruns its block";
      }
      if (c.how == Conversion::How::truncate && s != Stored::f32) throw "only floats are truncated";
      if (c.how == Conversion::How::divide && s != Stored::s32 && s != Stored::u32) {
        throw "only 32-bit integers are divided";
      }
      // %d takes an int: an unsigned 32-bit value fits one only once halved.
      const int least_divisor = s == Stored::u32 ? 2 : 1;
      if ((c.how == Conversion::How::divide || s == Stored::u32) && c.divisor < least_divisor) {
        throw "divided by too small a number for an int";
      }
      if (printedAs(s, c) != printed) throw "a row's values print as one type";
      places[i++] = place;
    }
    const std::string_view letter =
        printed == Printed::text ? "s" : printed == Printed::real ? "f" : "d";
    const std::string_view expected[] = {letter, letter, letter};
    if (!pfile::conversionsFit(f, std::span(expected).first(count))) {
      throw "the format's conversions do not fit the row's values";
    }
  }
};

constexpr Stored text = Stored::text, s16 = Stored::s16, u16 = Stored::u16, s32 = Stored::s32,
                 u32 = Stored::u32, f32 = Stored::f32;

// Values that name the summary file, count the slices or feed a computed line.
constexpr Place kRunNumber = raw(4);
constexpr Place kExamNumber = series(808);
constexpr Place kSeriesNumber = series(842);
constexpr Place kSliceCount = raw(68);
constexpr Place kNshot = raw(232);
constexpr Place kRepetitionTime = image(1056);  // TR, in microseconds
constexpr Place kImageSize = raw(110);
constexpr Place kFieldOfView = image(304);

// The rows of the summary's lines 3 to 39, in printed order, split where a
// computed line comes between them. Places lie in the named block of the
// 149788-byte header. The exam number is unsigned, as the scanner defines it:
// stored 50540 prints as 50540, not -14996. Revision 20.007 keeps patient
// name, patient id and requisition number 8 bytes later than 20.006.
constexpr Row kIdentification[] = {
    {"runnum = %05d\n", s32, {kRunNumber}},
    {"examnum/seriesnum = %05d/%03d\n", {u16, s16}, {kExamNumber, kSeriesNumber}},
    {"date of scan = %s\n", text, {raw(16)}},
    {"time of scan = %s\n", text, {raw(26)}},
    {"patient id = %s\n", text, {exam(1581, 1589)}},
    {"patient name = %s\n", text, {exam(1516, 1524)}},
    {"exam description = %s\n", text, {exam(1252)}},
    {"history = %s\n", text, {exam(800)}},
    {"requisition number = %s\n", text, {exam(1646, 1654)}},
    {"referring physician = %s\n", text, {exam(1057)}},
    {"radiologist = %s\n", text, {exam(1122)}},
    {"series description = %s\n", text, {series(982)}},
    {"psd = %s (%s)\n", text, {image(1632), image(1678)}},
    {"coil = %s \n", text, {image(1749)}},
};
constexpr Row kTiming[] = {
    {"slquant = %d\n", s16, {kSliceCount}},
    {"num time frames = %d\n", f32, {raw(220)}, kTruncated},
    {"num echoes = %d\n", s16, {raw(70)}},
    {"nextra discards = %d\n", f32, {image(376)}, kTruncated},
    {"nshot = %d\n", f32, {kNshot}, kTruncated},
    {"FOV = %6.1f\n", f32, {kFieldOfView}},
    {"slice thick = %5.1f\n", f32, {image(316)}},
    {"skip = %5.1f\n", f32, {image(320)}},
    {"TR = %d msec\n", s32, {kRepetitionTime}, dividedBy(1000)},
    {"TE = %d msec\n", s32, {image(1064)}, dividedBy(1000)},
    {"flip angle = %d deg.\n", s16, {image(1412)}},
};
// (time/frame is computed; see writeSummary)
constexpr Row kMatrix[] = {
    {"equiv matrix size = %d\n", f32, {raw(228)}, kTruncated},
    {"imgsize = %d  \n", s16, {kImageSize}},
};
// (pixel size is computed; see writeSummary)
constexpr Row kPlacement[] = {
    {"gtype = %d\n", f32, {raw(236)}, kTruncated},
    {"pa_entry= %d\n", s32, {series(644)}},
    {"plane = %d\n", s16, {image(1392)}},
    {"ob_plane = %d\n", s32, {image(1080)}},
    {"freq = %d\n", u32, {raw(440)}, dividedBy(10)},  // unsigned: 298 MHz at 7 T
    {"R1, R2, TG (mps)= %d  %d  %d\n", s32, {raw(412), raw(416), raw(420)}},
    {"phys_record_flag = %d\n", f32, {image(396)}, kTruncated},
    {"start_loc= %7.1f %7.1f %7.1f\n", f32, {image(696), image(700), image(704)}},
};

// The lines of one 48-byte slice entry; places count from the entry's start.
constexpr Row kSliceLines[] = {
    {"slice =%d\n", s16, {entry(2)}},
    {"gw_point1= %7.1f %7.1f %7.1f\n", f32, {entry(4), entry(8), entry(12)}},
    {"gw_point2= %7.1f %7.1f %7.1f\n", f32, {entry(16), entry(20), entry(24)}},
    {"gw_point3= %7.1f %7.1f %7.1f\n", f32, {entry(28), entry(32), entry(36)}},
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

// The integer a row prints for its number `stored` at `offset`.
int integerAt(const Row& row, Stored stored, HeaderBytes header, std::size_t offset) {
  const bool divide = row.conversion.how == Conversion::How::divide;
  switch (stored) {
    case Stored::s16: return numberAt<std::int16_t>(header, offset);
    case Stored::u16: return numberAt<std::uint16_t>(header, offset);
    case Stored::s32: {
      const std::int32_t value = numberAt<std::int32_t>(header, offset);
      return divide ? value / row.conversion.divisor : value;
    }
    case Stored::u32: {
      // Row's constructor makes the divisor at least 2: the quotient fits an int.
      const std::uint32_t value = numberAt<std::uint32_t>(header, offset);
      return static_cast<int>(value / static_cast<std::uint32_t>(row.conversion.divisor));
    }
    case Stored::f32: return truncated(numberAt<float>(header, offset));
    case Stored::text: break;
  }
  return 0;  // a text row prints no integer
}

// Prints one row whose places lie `base` bytes further into the header. The
// only place a row's format reaches printf: Row's constructor matched the
// format's conversions against the row's values at compile time, and each case
// hands exactly their promoted type. A format with fewer than three
// conversions ignores the spare arguments.
bool printRow(std::FILE* out, const Row& row, HeaderBytes header, Revision revision,
              std::size_t base) {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
  switch (row.printed) {
    case Printed::text: {
      std::string texts[3];  // copied, so that printf finds a NUL after each
      for (std::size_t i = 0; i < row.count; ++i) {
        const Place& place = row.places[i];
        texts[i] = pfile::text(header.first(base + place.end), base + place.at(revision));
      }
      return line(out, row.format, texts[0].c_str(), texts[1].c_str(), texts[2].c_str());
    }
    case Printed::real: {
      double values[3] = {};
      for (std::size_t i = 0; i < row.count; ++i) {
        values[i] =
            static_cast<double>(numberAt<float>(header, base + row.places[i].at(revision)));
      }
      return line(out, row.format, values[0], values[1], values[2]);
    }
    case Printed::integer: {
      int values[3] = {};
      for (std::size_t i = 0; i < row.count; ++i) {
        values[i] = integerAt(row, row.stored[i], header, base + row.places[i].at(revision));
      }
      return line(out, row.format, values[0], values[1], values[2]);
    }
  }
#pragma GCC diagnostic pop
  return false;
}

bool printRows(std::FILE* out, std::span<const Row> rows, HeaderBytes header, Revision revision,
               std::size_t base = 0) {
  return std::all_of(rows.begin(), rows.end(),
                     [&](const Row& row) { return printRow(out, row, header, revision, base); });
}

// The slice count is the header's own and may exceed the table's 2048
// entries; the loop stops after the last entry.
bool printSlices(std::FILE* out, HeaderBytes header, Revision revision) {
  const int count = numberAt<std::int16_t>(header, kSliceCount.offset);
  const std::size_t slices = std::min(count > 0 ? static_cast<std::size_t>(count) : 0, kSliceEntries);
  for (std::size_t i = 0; i < slices; ++i) {
    const std::size_t entry = kSliceTable.start + kSliceEntrySize * i;
    if (!printRows(out, kSliceLines, header, revision, entry)) return false;
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

std::string summaryName(HeaderBytes header) {
  char name[32];  // "E65535S-32768P-2147483648.7" at the longest
  std::snprintf(name, sizeof name, "E%05dS%03dP%05d.7",
                int{numberAt<std::uint16_t>(header, kExamNumber.offset)},
                numberAt<std::int16_t>(header, kSeriesNumber.offset),
                numberAt<std::int32_t>(header, kRunNumber.offset));
  return name;
}

int writeSummary(HeaderBytes header, std::FILE* out) {
  const Revision revision = acceptedRevision(header).value_or(Revision::r20_006);
  const bool written =
      line(out, "rev = %s\n", "20.0") && line(out, "BigEndian = %d\n", BigEndian) &&
      printRows(out, kIdentification, header, revision) &&
      printRows(out, kTiming, header, revision) &&
      line(out, "time/frame = %d msec\n",
           timePerFrame(numberAt<float>(header, kNshot.offset),
                        numberAt<std::int32_t>(header, kRepetitionTime.offset))) &&
      printRows(out, kMatrix, header, revision) &&
      // The quotient is taken in single precision: imgsize 0 gives an infinity,
      // or a NaN when the field of view is 0 too.
      line(out, "pixel size = %g mm\n",
           static_cast<double>(numberAt<float>(header, kFieldOfView.offset) /
                               static_cast<float>(numberAt<std::int16_t>(header, kImageSize.offset)))) &&
      printRows(out, kPlacement, header, revision) && printSlices(out, header, revision);
  if (written) return 0;
  return errno != 0 ? errno : EIO;
}

}  // namespace melvane
