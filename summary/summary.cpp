// The summary's lines as data: one table for the scan, one for a slice entry,
// and the one function that prints a row.
#include "summary/summary.hpp"

#include <algorithm>
#include <cerrno>
#include <initializer_list>
#include <limits>
#include <string_view>

namespace melvane {
namespace {

// How a row's values are read and printed.
enum class Kind {
  revision_name,   // the fixed text "20.0"; reads nothing
  big_endian,      // the BigEndian flag
  text,            // NUL-terminated text, one per location
  s16,             // 16-bit integer through swaps
  s32,             // 32-bit integer through swapl
  s32_div1000,     // 32-bit integer divided by 1000
  s32_div10,       // 32-bit integer divided by 10
  f32,             // float through swapf, widened to double
  f32_truncated,   // float truncated toward zero to a 32-bit integer
  time_per_frame,  // [nshot float, TR 32-bit integer]
  pixel_size,      // [FOV float, imgsize 16-bit integer], single precision quotient
};

// A value's place: its offset, and the end of the block that holds it (texts
// stop there). Offsets of slice rows count from the start of their entry.
struct Loc {
  std::size_t offset = 0, end = 0;
};

consteval Loc in(Block block, std::size_t offset) {
  if (offset >= block.size) throw "offset beyond its block";
  return {block.start + offset, block.end()};
}
consteval Loc raw(std::size_t offset) { return in(kRawHeader, offset); }
consteval Loc exam(std::size_t offset) { return in(kExamRecord, offset); }
consteval Loc series(std::size_t offset) { return in(kSeriesRecord, offset); }
consteval Loc image(std::size_t offset) { return in(kImageRecord, offset); }
inline constexpr std::size_t kSliceEntrySize = 48;
consteval Loc entry(std::size_t offset) { return in({0, kSliceEntrySize}, offset); }

// Bytes read at the i-th location of a row of this kind.
consteval std::size_t width(Kind kind, int i) {
  switch (kind) {
    case Kind::text: return 1;
    case Kind::s16: return 2;
    case Kind::pixel_size: return i == 0 ? 4 : 2;
    default: return 4;
  }
}

// The conversion letter that the value of a kind must be printed with.
consteval char conversion(Kind kind) {
  switch (kind) {
    case Kind::revision_name:
    case Kind::text: return 's';
    case Kind::f32: return 'f';
    case Kind::pixel_size: return 'g';
    default: return 'd';
  }
}

// Number of locations a kind reads for each value it prints: texts and plain
// numbers one per value, the computed ones two for their single value.
consteval int valuesPrinted(Kind kind, int locations) {
  switch (kind) {
    case Kind::revision_name:
    case Kind::big_endian:
    case Kind::time_per_frame:
    case Kind::pixel_size: return 1;
    default: return locations;
  }
}

// Counts the format's conversions and throws unless each has the letter the
// kind prints with ('%%' is no conversion).
consteval int checkedConversions(std::string_view format, char letter) {
  int count = 0;
  for (std::size_t i = 0; i < format.size(); ++i) {
    if (format[i] != '%') continue;
    ++i;
    if (i < format.size() && format[i] == '%') continue;
    while (i < format.size() && std::string_view("-+ #0123456789.").find(format[i]) !=
                                    std::string_view::npos) {
      ++i;
    }
    if (i >= format.size() || format[i] != letter) throw "conversion does not fit the kind";
    ++count;
  }
  return count;
}

// One summary line: its format and the places of its values. The constructor
// runs at compile time and rejects a format whose conversions do not fit the
// kind or the number of values, and a value that overruns its block.
struct Field {
  const char* format;
  Kind kind;
  Loc locs[3];
  int count;

  consteval Field(const char* f, Kind k, std::initializer_list<Loc> places = {})
      : format(f), kind(k), locs{}, count(static_cast<int>(places.size())) {
    if (places.size() > 3) throw "at most three values per line";
    int i = 0;
    for (const Loc& loc : places) {
      if (loc.end - loc.offset < width(k, i)) throw "value overruns its block";
      locs[i++] = loc;
    }
    const bool reads = k != Kind::revision_name && k != Kind::big_endian;
    if (reads != (count > 0)) throw "wrong number of places for the kind";
    if ((k == Kind::time_per_frame || k == Kind::pixel_size) && count != 2) {
      throw "a computed value needs two places";
    }
    if (checkedConversions(f, conversion(k)) != valuesPrinted(k, count)) {
      throw "format and values differ in number";
    }
  }
};

// The values that name the summary file and the one that counts the slices.
constexpr Loc kExamNumber = series(808);
constexpr Loc kSeriesNumber = series(842);
constexpr Loc kRunNumber = raw(4);
constexpr Loc kSliceCount = raw(68);

// The scan lines of the summary, in printed order. Offsets are within the
// named block of the 149788-byte header; numbers are in the header's byte
// order (SwapEndian), texts are NUL-terminated.
constexpr Field kScanLines[] = {
    {"rev = %s\n", Kind::revision_name},
    {"BigEndian = %d\n", Kind::big_endian},
    {"runnum = %05d\n", Kind::s32, {kRunNumber}},
    {"examnum/seriesnum = %05d/%03d\n", Kind::s16, {kExamNumber, kSeriesNumber}},
    {"date of scan = %s\n", Kind::text, {raw(16)}},
    {"time of scan = %s\n", Kind::text, {raw(26)}},
    {"patient id = %s\n", Kind::text, {exam(1581)}},
    {"patient name = %s\n", Kind::text, {exam(1516)}},
    {"exam description = %s\n", Kind::text, {exam(1252)}},
    {"history = %s\n", Kind::text, {exam(800)}},
    {"requisition number = %s\n", Kind::text, {exam(1646)}},
    {"referring physician = %s\n", Kind::text, {exam(1057)}},
    {"radiologist = %s\n", Kind::text, {exam(1122)}},
    {"series description = %s\n", Kind::text, {series(982)}},
    {"psd = %s (%s)\n", Kind::text, {image(1632), image(1678)}},
    {"coil = %s \n", Kind::text, {image(1749)}},
    {"slquant = %d\n", Kind::s16, {kSliceCount}},
    {"num time frames = %d\n", Kind::f32_truncated, {raw(220)}},
    {"num echoes = %d\n", Kind::s16, {raw(70)}},
    {"nextra discards = %d\n", Kind::f32_truncated, {image(376)}},
    {"nshot = %d\n", Kind::f32_truncated, {raw(232)}},
    {"FOV = %6.1f\n", Kind::f32, {image(304)}},
    {"slice thick = %5.1f\n", Kind::f32, {image(316)}},
    {"skip = %5.1f\n", Kind::f32, {image(320)}},
    {"TR = %d msec\n", Kind::s32_div1000, {image(1056)}},
    {"TE = %d msec\n", Kind::s32_div1000, {image(1064)}},
    {"flip angle = %d deg.\n", Kind::s16, {image(1412)}},
    {"time/frame = %d msec\n", Kind::time_per_frame, {raw(232), image(1056)}},
    {"equiv matrix size = %d\n", Kind::f32_truncated, {raw(228)}},
    {"imgsize = %d  \n", Kind::s16, {raw(110)}},
    {"pixel size = %g mm\n", Kind::pixel_size, {image(304), raw(110)}},
    {"gtype = %d\n", Kind::f32_truncated, {raw(236)}},
    {"pa_entry= %d\n", Kind::s32, {series(644)}},
    {"plane = %d\n", Kind::s16, {image(1392)}},
    {"ob_plane = %d\n", Kind::s32, {image(1080)}},
    {"freq = %d\n", Kind::s32_div10, {raw(440)}},
    {"R1, R2, TG (mps)= %d  %d  %d\n", Kind::s32, {raw(412), raw(416), raw(420)}},
    {"phys_record_flag = %d\n", Kind::f32_truncated, {image(396)}},
    {"start_loc= %7.1f %7.1f %7.1f\n", Kind::f32, {image(696), image(700), image(704)}},
};
static_assert(std::size(kScanLines) == 39);

// The lines of one 48-byte slice entry; offsets count from the entry's start.
// The slice acquisition table holds 2048 entries from header offset 36864.
constexpr Field kSliceLines[] = {
    {"slice =%d\n", Kind::s16, {entry(2)}},
    {"gw_point1= %7.1f %7.1f %7.1f\n", Kind::f32, {entry(4), entry(8), entry(12)}},
    {"gw_point2= %7.1f %7.1f %7.1f\n", Kind::f32, {entry(16), entry(20), entry(24)}},
    {"gw_point3= %7.1f %7.1f %7.1f\n", Kind::f32, {entry(28), entry(32), entry(36)}},
};
inline constexpr std::size_t kSliceEntries = kSliceTable.size / kSliceEntrySize;

// A number of type T at `offset` in host order, or 0 when the span does not
// hold all of it.
template <class T>
T loadOrZero(Bytes header, std::size_t offset) {
  if (offset > header.size() || header.size() - offset < sizeof(T)) return T{};
  return pfile::load<T>(header, offset);
}

int s16At(Bytes h, std::size_t offset) { return swaps(loadOrZero<std::int16_t>(h, offset)); }
std::int32_t s32At(Bytes h, std::size_t offset) {
  return swapl(loadOrZero<std::int32_t>(h, offset));
}
float f32At(Bytes h, std::size_t offset) { return swapf(loadOrZero<float>(h, offset)); }

// The text at `offset`, ending at the first NUL, the end of its block or the
// end of the span, whichever comes first; copied so that printf gets its NUL.
std::string textAt(Bytes h, std::size_t offset, std::size_t end) {
  return std::string(pfile::text(h.first(std::min(end, h.size())), offset));
}

int integerValue(Kind kind, Bytes h, const Loc* locs, int i) {
  switch (kind) {
    case Kind::big_endian: return BigEndian;
    case Kind::s16: return s16At(h, locs[i].offset);
    case Kind::s32: return s32At(h, locs[i].offset);
    case Kind::s32_div1000: return s32At(h, locs[i].offset) / 1000;
    case Kind::s32_div10: return s32At(h, locs[i].offset) / 10;
    case Kind::f32_truncated: return truncated(f32At(h, locs[i].offset));
    case Kind::time_per_frame: return timePerFrame(f32At(h, locs[0].offset), s32At(h, locs[1].offset));
    default: return 0;
  }
}

// Prints one row whose places lie `base` bytes further into the header.
// Returns fprintf's result.
int printField(std::FILE* out, const Field& field, Bytes h, std::size_t base) {
  Loc locs[3];
  for (int i = 0; i < field.count; ++i) {
    locs[i] = {base + field.locs[i].offset, base + field.locs[i].end};
  }
  // Formats come from the tables above, whose conversions Field's consteval
  // constructor has matched against the kind and the number of values; a
  // format is handed more arguments than it converts only where it has fewer
  // values than three, which printf ignores.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
  switch (field.kind) {
    case Kind::revision_name:
      return std::fprintf(out, field.format, "20.0");
    case Kind::text: {
      const std::string first = textAt(h, locs[0].offset, locs[0].end);
      const std::string second = field.count > 1 ? textAt(h, locs[1].offset, locs[1].end) : "";
      return std::fprintf(out, field.format, first.c_str(), second.c_str());
    }
    case Kind::f32: {
      double v[3] = {};
      for (int i = 0; i < field.count; ++i) v[i] = static_cast<double>(f32At(h, locs[i].offset));
      return std::fprintf(out, field.format, v[0], v[1], v[2]);
    }
    case Kind::pixel_size: {
      const float fov = f32At(h, locs[0].offset);
      const float imgsize = static_cast<float>(s16At(h, locs[1].offset));
      return std::fprintf(out, field.format, static_cast<double>(fov / imgsize));
    }
    default: {
      int v[3] = {};
      const int values = field.kind == Kind::time_per_frame || field.kind == Kind::big_endian
                             ? 1 : field.count;
      for (int i = 0; i < values; ++i) v[i] = integerValue(field.kind, h, locs, i);
      return std::fprintf(out, field.format, v[0], v[1], v[2]);
    }
  }
#pragma GCC diagnostic pop
}

int writeError() { return errno != 0 ? errno : EIO; }

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

std::string summaryName(Bytes header) {
  char name[64];
  std::snprintf(name, sizeof name, "E%05dS%03dP%05d.7", s16At(header, kExamNumber.offset),
                s16At(header, kSeriesNumber.offset), static_cast<int>(s32At(header, kRunNumber.offset)));
  return name;
}

int writeSummary(Bytes header, std::FILE* out) {
  for (const Field& field : kScanLines) {
    errno = 0;
    if (printField(out, field, header, 0) < 0) return writeError();
  }
  const int slquant = s16At(header, kSliceCount.offset);
  // The count is the header's own; the loop never leaves the table.
  const std::size_t slices = std::min<std::size_t>(
      slquant > 0 ? static_cast<std::size_t>(slquant) : 0, kSliceEntries);
  for (std::size_t i = 0; i < slices; ++i) {
    for (const Field& field : kSliceLines) {
      errno = 0;
      if (printField(out, field, header, kSliceTable.start + kSliceEntrySize * i) < 0) {
        return writeError();
      }
    }
  }
  return 0;
}

}  // namespace melvane
