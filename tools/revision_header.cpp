// Headers of any revision in the revision table (common/revisions.hpp), as a
// scanner of that revision would write them: the header's size, its offset
// words where the revision has them, and a plausible oblique scan (texts,
// exam 4321 in both records, three slices, TR 2 s, TE 30 ms, FOV 240) with
// every field at that revision's place. Any field can be set by name; the
// image corners follow the named normal, centre and field of view unless a
// corner is named. Numbers are little-endian, or big-endian with order=be.
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/revisions.hpp"
#include "tools/settings.hpp"
#include "tools/writers.hpp"

namespace mkpfile {
namespace {

using pfile::Field;
using pfile::Kind;
using pfile::Revision;

const char* const kUsage =
    "usage: mkpfile rev=REVISION OUT [order=le|be] [size=N] [slices=N] [corners=0] [name=value ...]"
    " [KIND@OFF=VALUE] [fill@OFF+COUNT=BYTE]\n"
    "  REVISION: one of the table's (7.0 ... 30.1, as `torvek --help` lists them)\n"
    "  raw record: run date time slquant echoes imgsize user0..user5 r1 r2 tg freq\n"
    "  exam record: exam (also sets the series copy) ex_desc hist refphy diagrad patname patid"
    " reqnum\n"
    "  series record: series_exam series se_desc entry start_ras start_loc end_loc\n"
    "  image record: fov slthick spacing im_user5 im_user10 ctr_R|A|S norm_R|A|S tlhc_R|A|S"
    " trhc_R|A|S brhc_R|A|S tr te obplane plane flip psd psd_iname coil\n"
    "  (KIND: u8 s16 u16 s32 u32 s64 u64 f32 text; OFF: header offset; a text is followed"
    " by a zero byte when there is room)\n";

enum class Record { raw, exam, series, image };

struct Named {
  std::string_view name;
  Record record;
  Field field;
};

// Every named field of the revision, by its record and its place there.
std::vector<Named> namedFields(const Revision& rev) {
  const pfile::RawFields& r = *rev.raw;
  const pfile::ExamFields& e = *rev.exam_fields;
  const pfile::SeriesFields& s = *rev.series_fields;
  const pfile::ImageFields& i = *rev.image_fields;
  std::vector<Named> named = {
      {"run", Record::raw, r.run_number},       {"date", Record::raw, r.scan_date},
      {"time", Record::raw, r.scan_time},       {"slquant", Record::raw, r.slice_count},
      {"echoes", Record::raw, r.echoes},        {"imgsize", Record::raw, r.image_size},
      {"user0", Record::raw, r.user[0]},        {"user1", Record::raw, r.user[1]},
      {"user2", Record::raw, r.user[2]},        {"user3", Record::raw, r.user[3]},
      {"user4", Record::raw, r.user[4]},        {"user5", Record::raw, r.user[5]},
      {"r1", Record::raw, r.r1},                {"r2", Record::raw, r.r2},
      {"tg", Record::raw, r.tg},                {"freq", Record::raw, r.frequency},
      {"exam", Record::exam, e.exam_number},    {"ex_desc", Record::exam, e.description},
      {"hist", Record::exam, e.history},        {"refphy", Record::exam, e.referring_physician},
      {"diagrad", Record::exam, e.radiologist}, {"patname", Record::exam, e.patient_name},
      {"patid", Record::exam, e.patient_id},    {"reqnum", Record::exam, e.requisition_number},
      {"series_exam", Record::series, s.exam_number},
      {"series", Record::series, s.series_number},
      {"se_desc", Record::series, s.description},
      {"entry", Record::series, s.patient_entry},
      {"start_ras", Record::series, s.start_ras},
      {"start_loc", Record::series, s.start_loc},
      {"end_loc", Record::series, s.end_loc},
      {"fov", Record::image, i.field_of_view},  {"slthick", Record::image, i.slice_thickness},
      {"spacing", Record::image, i.spacing},    {"im_user5", Record::image, i.user5},
      {"im_user10", Record::image, i.user10},   {"tr", Record::image, i.repetition_time},
      {"te", Record::image, i.echo_time},       {"obplane", Record::image, i.oblique_plane},
      {"plane", Record::image, i.plane},        {"flip", Record::image, i.flip_angle},
      {"psd", Record::image, i.pulse_sequence}, {"psd_iname", Record::image, i.internal_name},
      {"coil", Record::image, i.coil},
  };
  const std::pair<std::string_view, const pfile::Triple*> triples[] = {
      {"ctr", &i.centre},     {"norm", &i.normal},     {"tlhc", &i.top_left},
      {"trhc", &i.top_right}, {"brhc", &i.bottom_right}};
  // The names outlive the call: they are literals.
  static constexpr std::string_view kTripleNames[5][3] = {
      {"ctr_R", "ctr_A", "ctr_S"},    {"norm_R", "norm_A", "norm_S"},
      {"tlhc_R", "tlhc_A", "tlhc_S"}, {"trhc_R", "trhc_A", "trhc_S"},
      {"brhc_R", "brhc_A", "brhc_S"}};
  for (std::size_t t = 0; t < 5; ++t) {
    for (std::size_t k = 0; k < 3; ++k) {
      named.push_back({kTripleNames[t][k], Record::image, (*triples[t].second)[k]});
    }
  }
  return named;
}

std::size_t recordStart(const Revision& rev, Record record) {
  switch (record) {
    case Record::raw: break;
    case Record::exam: return rev.exam.start;
    case Record::series: return rev.series.start;
    case Record::image: return rev.image.start;
  }
  return 0;
}

// The slice table's entry size as this header states it: 76 bytes where the
// words give it (27.001 on), as scanners of those revisions write it.
std::size_t sliceEntrySize(const Revision& rev) {
  return rev.slice_entry_size == 0 ? 76 : rev.slice_entry_size;
}

// The value text as the field's kind; false when it cannot be read. A text
// keeps at most the field's length and gets a zero byte when it has room.
bool putField(pfile::HeaderWriter& header, std::size_t at, const Field& field,
              std::string_view value) {
  switch (field.kind) {
    case Kind::s16:
    case Kind::u16: {
      const auto number = parseSigned(value);
      if (number) header.put(at, static_cast<std::uint16_t>(*number));
      return number.has_value();
    }
    case Kind::s32:
    case Kind::u32: {
      const auto number = parseSigned(value);
      if (number) header.put(at, static_cast<std::uint32_t>(*number));
      return number.has_value();
    }
    case Kind::f32: {
      const auto number = parseFloat(value);
      if (number) header.put(at, *number);
      return number.has_value();
    }
    case Kind::letter:
      if (value.size() != 1) return false;
      header.put(at, static_cast<std::uint8_t>(value[0]));
      return true;
    case Kind::text: {
      const std::string_view kept = value.substr(0, field.length);
      header.fill(at, field.length, std::byte{0}).text(at, kept);
      return true;
    }
  }
  return false;
}

// The slice count at the revision's place and entries 0..n-1 (at most the
// table's capacity): slice number i+1 and three corners of a 240 mm square
// at z = -30 + 5i.
void putSlices(const Revision& rev, pfile::HeaderWriter& header, long long n) {
  const Field& count = rev.raw->slice_count;
  putField(header, count.offset, count, std::to_string(n));
  const std::size_t entry_size = sliceEntrySize(rev);
  for (long long i = 0; i < n && i < static_cast<long long>(rev.slice_entries); ++i) {
    const std::size_t entry = rev.slice_table + entry_size * static_cast<std::size_t>(i);
    const float z = -30.0f + 5.0f * static_cast<float>(i);
    const float corners[9] = {-120, 120, z, 120, 120, z, -120, -120, z};
    header.put(entry + 2, static_cast<std::int16_t>(i + 1));
    for (std::size_t k = 0; k < 9; ++k) header.put(entry + 4 + 4 * k, corners[k]);
  }
}

// The offset words, as the table's positions give them.
void putWords(const Revision& rev, pfile::HeaderWriter& header) {
  if (rev.positions == pfile::Positions::fixed) return;
  const pfile::RevisionWords words = pfile::wordsOf(rev.positions);
  const auto word = [&](std::size_t at, std::size_t value) {
    header.put(at, static_cast<std::uint32_t>(value));
  };
  word(words.header_size, rev.header_size);
  word(words.slice_table, rev.slice_table);
  if (words.after_slice_table != 0) {
    word(words.after_slice_table, rev.slice_table + rev.slice_entries * sliceEntrySize(rev));
  }
  word(words.exam, rev.exam.start);
  word(words.series, rev.series.start);
  word(words.image, rev.image.start);
}

// The scan every header describes unless a setting says otherwise. The
// normal is a unit vector tilted from S towards A and R.
constexpr std::pair<std::string_view, std::string_view> kDefaults[] = {
    {"run", "23456"},      {"date", "03/14/112"},  {"time", "14:05"},
    {"echoes", "1"},       {"imgsize", "64"},      {"user1", "120"},
    {"user3", "64"},       {"user4", "1"},         {"user5", "1"},
    {"r1", "13"},          {"r2", "30"},           {"tg", "150"},
    {"freq", "1277346000"}, {"exam", "4321"},      {"series_exam", "4321"},
    {"ex_desc", "BRAIN FMRI"}, {"hist", "headache, r/o lesion"},
    {"refphy", "DR SMITH"}, {"diagrad", "DR JONES"}, {"patname", "DOE^JANE"},
    {"patid", "PT0042"},   {"reqnum", "REQ5521"},  {"series", "5"},
    {"se_desc", "EPI RESTING STATE"}, {"entry", "1"}, {"start_ras", "S"},
    {"start_loc", "-30"},  {"end_loc", "20"},      {"fov", "240"},
    {"slthick", "4"},      {"spacing", "1"},       {"im_user5", "4"},
    {"im_user10", "0"},    {"ctr_R", "2.5"},       {"ctr_A", "-10"},
    {"ctr_S", "15"},       {"norm_R", "0.1"},      {"norm_A", "0.173648"},
    {"norm_S", "0.979796"}, {"tr", "2000000"},     {"te", "30000"},
    {"obplane", "2"},      {"plane", "2"},         {"flip", "90"},
    {"psd", "epi2"},       {"psd_iname", "EPI"},   {"coil", "8HRBRAIN"},
};

struct Vector {
  double r = 0, a = 0, s = 0;
};

// The normal, centre and field of view the settings leave, for the corners.
struct Geometry {
  Vector normal{0.1, 0.173648, 0.979796}, centre{2.5, -10, 15};
  double fov = 240;
  bool corners_named = false, no_corners = false;
};

void noteGeometry(Geometry& g, std::string_view name, std::string_view value) {
  if (name == "corners") {
    g.no_corners = value == "0";
    return;
  }
  if (name.starts_with("tlhc_") || name.starts_with("trhc_") || name.starts_with("brhc_")) {
    g.corners_named = true;
    return;
  }
  const auto number = parseFloat(value);
  if (!number) return;
  const double x = *number;
  if (name == "fov") g.fov = x;
  Vector* v = name.starts_with("norm_") ? &g.normal : name.starts_with("ctr_") ? &g.centre : nullptr;
  if (!v || name.size() < 2) return;
  const char axis = name.back();
  (axis == 'R' ? v->r : axis == 'A' ? v->a : v->s) = x;
}

// Three corners of a square of side fov centred on the centre, in the plane
// whose normal is the given one: (top right - top left) x (bottom right -
// top right) is a multiple of the normal. Zero for a zero normal.
std::array<Vector, 3> corners(const Geometry& g) {
  const Vector n = g.normal;
  const double length = std::sqrt(n.r * n.r + n.a * n.a + n.s * n.s);
  if (!(length > 0)) return {};
  const Vector u0{n.r / length, n.a / length, n.s / length};
  // An in-plane axis: the normal crossed with the axis it is least along.
  const Vector e = std::fabs(u0.r) <= std::fabs(u0.a) && std::fabs(u0.r) <= std::fabs(u0.s)
                       ? Vector{1, 0, 0}
                       : std::fabs(u0.a) <= std::fabs(u0.s) ? Vector{0, 1, 0} : Vector{0, 0, 1};
  Vector u{u0.a * e.s - u0.s * e.a, u0.s * e.r - u0.r * e.s, u0.r * e.a - u0.a * e.r};
  const double ul = std::sqrt(u.r * u.r + u.a * u.a + u.s * u.s);
  u = {u.r / ul, u.a / ul, u.s / ul};
  const Vector v{u0.a * u.s - u0.s * u.a, u0.s * u.r - u0.r * u.s, u0.r * u.a - u0.a * u.r};
  const double h = g.fov / 2;
  const auto at = [&](double x, double y) {
    return Vector{g.centre.r + x * u.r + y * v.r, g.centre.a + x * u.a + y * v.a,
                  g.centre.s + x * u.s + y * v.s};
  };
  return {at(-h, h), at(h, h), at(h, -h)};
}

}  // namespace

int writeRevisionHeader(std::string_view revision, const std::string& path,
                        std::span<const std::string> settings) {
  const Revision* found = nullptr;
  for (const Revision& row : pfile::scannerRevisions()) {
    if (revision == row.name) found = &row;
  }
  if (!found) {
    std::fprintf(stderr, "mkpfile: no revision %.*s in the table\n%s",
                 static_cast<int>(revision.size()), revision.data(), kUsage);
    return 2;
  }
  if (path == "--help") {
    std::fputs(kUsage, stdout);
    return 0;
  }
  const Revision& rev = *found;
  const std::vector<Named> named = namedFields(rev);
  pfile::HeaderWriter header(rev.header_size, byteOrder(settings));
  header.put(0, rev.bits);
  putWords(rev, header);
  const auto setNamed = [&](std::string_view name, std::string_view value) {
    for (const Named& field : named) {
      if (field.name != name) continue;
      return putField(header, recordStart(rev, field.record) + field.field.offset, field.field,
                      value);
    }
    return false;
  };
  for (const auto& [name, value] : kDefaults) setNamed(name, value);
  putSlices(rev, header, 3);

  // The corners follow the geometry the settings leave.
  Geometry geometry;
  for (const std::string& text : settings) {
    const std::size_t eq = text.find('=');
    if (eq != std::string::npos) {
      noteGeometry(geometry, std::string_view(text).substr(0, eq), std::string_view(text).substr(eq + 1));
    }
  }
  if (!geometry.corners_named) {
    const std::array<Vector, 3> points = geometry.no_corners ? std::array<Vector, 3>{} : corners(geometry);
    const pfile::ImageFields& image = *rev.image_fields;
    const pfile::Triple* triples[] = {&image.top_left, &image.top_right, &image.bottom_right};
    for (std::size_t c = 0; c < 3; ++c) {
      const double xyz[3] = {points[c].r, points[c].a, points[c].s};
      for (std::size_t k = 0; k < 3; ++k) {
        header.put(rev.image.start + (*triples[c])[k].offset, static_cast<float>(xyz[k]));
      }
    }
  }

  const auto putSetting = [&](const Setting& setting, pfile::HeaderWriter&) {
    if (setting.name == "corners") return setting.value == "0";
    if (setting.name == "slices") {
      const auto n = parseSigned(setting.value);
      if (!n || *n < 0) return false;
      putSlices(rev, header, *n);
      return true;
    }
    if (setting.name == "exam" && !setNamed("series_exam", setting.value)) return false;
    return setNamed(setting.name, setting.value);
  };
  const FileKind kind{rev.header_size, kUsage, TextEnd::zero_when_room, putSetting};
  return applyAndWrite(kind, header, settings, path);
}

}  // namespace mkpfile
