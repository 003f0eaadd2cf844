// Revision 20.006 headers for melvane and torvek-rev20: 149788 bytes, with
// the offset words 20.x writes at 1468-1504, describing a plausible EPI scan
// (texts, exam 1234 in the exam and series records / series 5 / run 23456,
// three slices, TR 2 s, TE 30 ms, FOV 240, 64x64, an axial slab tilted 10
// degrees), with any value changed by a setting; rev=20.007 also moves the
// three exam texts that revision keeps 8 bytes later. Numbers are written
// little-endian, or big-endian with order=be; texts have no order.
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "tools/settings.hpp"
#include "tools/writers.hpp"

namespace mkpfile {
namespace {

constexpr std::size_t kSize = 149788;
constexpr std::size_t kSliceTable = 36864, kSliceEntry = 48, kSliceEntries = 2048;

const char* const kUsage =
    "usage: mkpfile rev20 OUT [order=le|be] [rev=F] [rev_bits=0xHEX] [size=N] [slices=N]"
    " [exam|series|slquant|imgsize=N] [run|tr|te=N] [nshot|fov=F] [start_ras=LETTER]"
    " [start_loc|end_loc|ctr_R|ctr_A|ctr_S|norm_R|norm_A|norm_S=F]"
    " [KIND@OFF=VALUE] [fill@OFF+COUNT=BYTE]  (KIND: u8 s16 u16 s32 u32 s64 u64 f32 text;"
    " OFF: header offset; a text is followed by a zero byte when there is room;"
    " rev=20.007 puts patient name, id and requisition number at their 20.007 places)\n";

// The slice count at raw 68 and entries 0..n-1 (at most the table's 2048):
// slice number i+1 and three corners of a 240 mm square at z = -30 + 5i.
void putSlices(pfile::HeaderWriter& header, long long n) {
  header.put(68, static_cast<std::int16_t>(n));
  for (long long i = 0; i < n && i < static_cast<long long>(kSliceEntries); ++i) {
    const std::size_t entry = kSliceTable + kSliceEntry * static_cast<std::size_t>(i);
    const float z = -30.0f + 5.0f * static_cast<float>(i);
    const float corners[9] = {-120, 120, z, 120, 120, z, -120, -120, z};
    header.put(entry + 2, static_cast<std::int16_t>(i + 1));
    for (std::size_t k = 0; k < 9; ++k) header.put(entry + 4 + 4 * k, corners[k]);
  }
}

// Patient name, patient id and requisition number of the exam record, which
// revision 20.007 keeps `later` = 8 bytes after 20.006's places; the other
// revision's places are cleared.
void putMovedTexts(pfile::HeaderWriter& h, std::size_t later) {
  h.fill(144336, 144474 + 16 - 144336, std::byte{0});
  h.text(144336 + later, "DOE^JANE").text(144401 + later, "PT0042").text(144466 + later, "REQ5521");
}

void putDefaults(pfile::HeaderWriter& h) {
  // The offset words scanners write: header size, slice table, and the exam,
  // series and image records.
  h.put<std::int32_t>(1468, 149788).put<std::int32_t>(1480, kSliceTable);
  h.put<std::int32_t>(1496, 142820).put<std::int32_t>(1500, 144780).put<std::int32_t>(1504, 147340);
  h.put(0, 20.006f).put<std::int32_t>(4, 23456).text(16, "03/14/12").text(26, "14:05");
  h.put<std::int16_t>(70, 1).put<std::int16_t>(110, 64);
  h.put(220, 120.0f).put(228, 64.0f).put(232, 1.0f).put(236, 1.0f);
  h.put<std::int32_t>(412, 13).put<std::int32_t>(416, 30).put<std::int32_t>(420, 150);
  h.put<std::int32_t>(440, 1277346000);
  // exam record (142820)
  h.text(143620, "headache, r/o lesion").text(143877, "DR SMITH").text(143942, "DR JONES");
  h.text(144072, "BRAIN FMRI");
  putMovedTexts(h, 0);
  // series record (144780)
  h.put<std::int16_t>(143516, 1234);  // exam number, and its copy in the series record
  h.put<std::int32_t>(145424, 1).put<std::int16_t>(145588, 1234).put<std::int16_t>(145622, 5);
  h.text(145762, "EPI RESTING STATE");
  // The Rx: start_ras, start_loc and end_loc (series 1093, 272, 276): the
  // three slices' span; the image record's ctr_R/A/S (696-704, written below:
  // the first slice's corner) and a unit slab normal tilted 10 degrees from S
  // towards A (708-716).
  h.put<std::uint8_t>(145873, 'S').put(145052, -30.0f).put(145056, -20.0f);
  h.put(148048, 0.0f).put(148052, 0.173648f).put(148056, 0.984808f);
  // image record (147340)
  h.put(147644, 240.0f).put(147656, 4.0f).put(147660, 1.0f).put(147716, 4.0f);
  h.put(147736, 0.0f).put(148036, -120.0f).put(148040, 120.0f).put(148044, -30.0f);
  h.put<std::int32_t>(148396, 2000000).put<std::int32_t>(148404, 30000);
  h.put<std::int32_t>(148420, 2).put<std::int16_t>(148732, 2).put<std::int16_t>(148752, 90);
  h.text(148972, "epi2").text(149018, "EPI").text(149089, "8HRBRAIN");
  putSlices(h, 3);
}

// slices= and the named values: 's' a 16-bit and 'l' a 32-bit integer, 'f' a
// float, 'c' one letter.
bool putNamed(const Setting& setting, pfile::HeaderWriter& header) {
  struct Named { std::string_view name; std::size_t offset; char kind; };
  static constexpr Named kNamed[] = {
      {"rev", 0, 'f'},          {"rev_bits", 0, 'l'},     {"run", 4, 'l'},
      {"slquant", 68, 's'},     {"imgsize", 110, 's'},    {"nshot", 232, 'f'},
      {"start_loc", 145052, 'f'}, {"end_loc", 145056, 'f'}, {"exam", 145588, 's'},
      {"series", 145622, 's'},  {"start_ras", 145873, 'c'}, {"fov", 147644, 'f'},
      {"ctr_R", 148036, 'f'},   {"ctr_A", 148040, 'f'},   {"ctr_S", 148044, 'f'},
      {"norm_R", 148048, 'f'},  {"norm_A", 148052, 'f'},  {"norm_S", 148056, 'f'},
      {"tr", 148396, 'l'},      {"te", 148404, 'l'},
  };
  if (setting.name == "slices") {
    const auto n = parseSigned(setting.value);
    if (!n || *n < 0) return false;
    putSlices(header, *n);
    return true;
  }
  // The exam number is kept in the exam record and copied into the series record.
  if (setting.name == "exam") {
    const auto value = parseSigned(setting.value);
    if (value) header.put(143516, static_cast<std::uint16_t>(*value));
  }
  if (setting.name == "rev" && parseFloat(setting.value) == 20.007f) putMovedTexts(header, 8);
  for (const Named& named : kNamed) {
    if (named.name != setting.name) continue;
    if (named.kind == 'f') {
      const auto value = parseFloat(setting.value);
      if (value) header.put(named.offset, *value);
      return value.has_value();
    }
    if (named.kind == 'c') {
      if (setting.value.size() != 1) return false;
      header.put(named.offset, static_cast<std::uint8_t>(setting.value[0]));
      return true;
    }
    const auto value = parseSigned(setting.value);
    if (!value) return false;
    if (named.kind == 's') header.put(named.offset, static_cast<std::uint16_t>(*value));
    if (named.kind == 'l') header.put(named.offset, static_cast<std::uint32_t>(*value));
    return true;
  }
  return false;
}

}  // namespace

int writeRev20Header(const std::string& path, std::span<const std::string> settings) {
  if (path == "--help") {
    std::fputs(kUsage, stdout);
    return 0;
  }
  pfile::HeaderWriter header(kSize, byteOrder(settings));
  putDefaults(header);
  const FileKind kind{kSize, kUsage, TextEnd::zero_when_room, putNamed};
  return applyAndWrite(kind, header, settings, path);
}

}  // namespace mkpfile
