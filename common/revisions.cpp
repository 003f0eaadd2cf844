// The revision table: record families, one row per revision, the checks the
// compiler makes of them, and the reading of a header's offset words.
#include "common/revisions.hpp"

#include <algorithm>

#include "common/byte_order.hpp"

namespace pfile {
namespace {

// ---------------------------------------------------------------------------
// Raw-data header record (4096 bytes at offset 0). From 26.002 on, the record
// starts with offset words and every field moved; the slice count widened to
// 16 unsigned bits in 15.001 and to 32 bits (at 3200) in 28.002, and the
// frequency is unsigned from 20.005 (298 MHz at 7 T passes 2^31 tenths of Hz).
constexpr RawFields kRaw7{
    .run_number = s32(4), .scan_date = text(16, 10), .scan_time = text(26, 8),
    .slice_count = s16(68), .echoes = s16(70), .image_size = s16(110),
    .user = {f32(216), f32(220), f32(224), f32(228), f32(232), f32(236)},
    .r1 = s32(412), .r2 = s32(416), .tg = s32(420), .frequency = s32(440)};
constexpr RawFields kRaw15001 = [] {
  RawFields raw = kRaw7;
  raw.slice_count = u16(68);
  return raw;
}();
constexpr RawFields kRaw20 = [] {
  RawFields raw = kRaw15001;
  raw.frequency = u32(440);
  return raw;
}();
constexpr RawFields kRaw26{
    .run_number = s32(80), .scan_date = text(92, 10), .scan_time = text(102, 8),
    .slice_count = u16(144), .echoes = s16(146), .image_size = s16(186),
    .user = {f32(280), f32(284), f32(288), f32(292), f32(296), f32(300)},
    .r1 = s32(476), .r2 = s32(480), .tg = s32(484), .frequency = u32(504)};
constexpr RawFields kRaw28002 = [] {
  RawFields raw = kRaw26;
  raw.slice_count = u32(3200);
  return raw;
}();

// ---------------------------------------------------------------------------
// Exam record. 20.007 keeps patient name, patient id and requisition number
// 8 bytes later than 20.006.
constexpr ExamFields kExam7{
    .exam_number = u16(8), .description = text(286, 23), .history = text(138, 61),
    .referring_physician = text(216, 33), .radiologist = text(249, 33),
    .patient_name = text(101, 25), .patient_id = text(88, 13),
    .requisition_number = text(199, 13)};
constexpr ExamFields kExam11{
    .exam_number = u16(128), .description = text(312, 65), .history = text(168, 61),
    .referring_physician = text(242, 33), .radiologist = text(275, 33),
    .patient_name = text(614, 65), .patient_id = text(679, 65),
    .requisition_number = text(744, 17)};
constexpr ExamFields kExam14_3{
    .exam_number = u16(272), .description = text(472, 65), .history = text(328, 61),
    .referring_physician = text(402, 33), .radiologist = text(435, 33),
    .patient_name = text(774, 65), .patient_id = text(839, 65),
    .requisition_number = text(904, 17)};
constexpr ExamFields kExam20{
    .exam_number = u16(696), .description = text(1252, 65), .history = text(800, 257),
    .referring_physician = text(1057, 65), .radiologist = text(1122, 65),
    .patient_name = text(1516, 65), .patient_id = text(1581, 65),
    .requisition_number = text(1646, 17)};
constexpr ExamFields kExam20_007 = [] {
  ExamFields exam = kExam20;
  exam.patient_name.offset = 1524;
  exam.patient_id.offset = 1589;
  exam.requisition_number.offset = 1654;
  return exam;
}();

// ---------------------------------------------------------------------------
// Series record. From 26.002 the series number is 32 bits wide.
constexpr SeriesFields kSeries7{
    .exam_number = u16(8), .series_number = s16(10), .description = text(20, 30),
    .patient_entry = s32(80), .start_ras = letter(120), .start_loc = f32(124),
    .end_loc = f32(132)};
constexpr SeriesFields kSeries11{
    .exam_number = u16(188), .series_number = s16(222), .description = text(298, 65),
    .patient_entry = s32(156), .start_ras = letter(409), .start_loc = f32(40),
    .end_loc = f32(44)};
constexpr SeriesFields kSeries14_3{
    .exam_number = u16(348), .series_number = s16(382), .description = text(506, 65),
    .patient_entry = s32(252), .start_ras = letter(617), .start_loc = f32(72),
    .end_loc = f32(76)};
constexpr SeriesFields kSeries20{
    .exam_number = u16(808), .series_number = s16(842), .description = text(982, 65),
    .patient_entry = s32(644), .start_ras = letter(1093), .start_loc = f32(272),
    .end_loc = f32(276)};
constexpr SeriesFields kSeries26 = [] {
  SeriesFields series = kSeries20;
  series.series_number = s32(736);
  return series;
}();

// ---------------------------------------------------------------------------
// Image record. 15.001 and 20.005 keep plane and flip angle 4 bytes before
// their neighbours' places.
struct ImageOffsets {
  std::uint32_t fov, thickness, spacing, user5, user10, centre, normal, top_left, top_right,
      bottom_right, tr, te, oblique_plane, plane, flip_angle, psd, internal_name, coil;
};
constexpr ImageFields image(const ImageOffsets& at) {
  return {.field_of_view = f32(at.fov), .slice_thickness = f32(at.thickness),
          .spacing = f32(at.spacing), .user5 = f32(at.user5), .user10 = f32(at.user10),
          .centre = f32x3(at.centre), .normal = f32x3(at.normal),
          .top_left = f32x3(at.top_left), .top_right = f32x3(at.top_right),
          .bottom_right = f32x3(at.bottom_right), .repetition_time = s32(at.tr),
          .echo_time = s32(at.te), .oblique_plane = s32(at.oblique_plane),
          .plane = s16(at.plane), .flip_angle = s16(at.flip_angle),
          .pulse_sequence = text(at.psd, 33), .internal_name = text(at.internal_name, 13),
          .coil = text(at.coil, 17)};
}
constexpr ImageFields kImage7 = image({36, 28, 120, 444, 464, 136, 148, 160, 172, 184, 200, 208,
                                       280, 116, 260, 320, 360, 376});
constexpr ImageFields kImage11 = image({0, 12, 16, 72, 92, 392, 404, 416, 428, 440, 488, 496,
                                        512, 688, 708, 838, 884, 955});
constexpr ImageFields kImage14_3 = image({64, 76, 80, 136, 156, 456, 468, 480, 492, 504, 712, 720,
                                          736, 1048, 1068, 1272, 1318, 1389});
constexpr ImageFields kImage15_001 = [] {
  ImageFields fields = kImage14_3;
  fields.plane = s16(1044);
  fields.flip_angle = s16(1064);
  return fields;
}();
constexpr ImageFields kImage16 = image({112, 124, 128, 184, 204, 504, 516, 528, 540, 552, 760,
                                        768, 784, 1092, 1112, 1320, 1366, 1437});
constexpr ImageFields kImage20 = image({304, 316, 320, 376, 396, 696, 708, 720, 732, 744, 1056,
                                        1064, 1080, 1392, 1412, 1632, 1678, 1749});
constexpr ImageFields kImage20_005 = [] {
  ImageFields fields = kImage20;
  fields.plane = s16(1396);
  fields.flip_angle = s16(1416);
  return fields;
}();

// ---------------------------------------------------------------------------
// One row per revision. Header sizes, record positions and sizes, and the
// slice table as the scanners' software of each revision writes them; the
// slice table's entry size 0 means the words give it.
using P = Positions;
constexpr Revision kRevisions[] = {
    {"7.0", 0x40E00000, 39984, {36872, 1040}, {37912, 1028}, {38940, 1044}, 10240, 512, 40,
     P::fixed, &kRaw7, &kExam7, &kSeries7, &kImage7},
    {"9.0", 0x41100000, 61464, {57352, 1040}, {58392, 1536}, {59928, 1536}, 10240, 1024, 40,
     P::fixed, &kRaw7, &kExam7, &kSeries7, &kImage7},
    {"11.0", 0x41300000, 66072, {61448, 1040}, {62488, 2048}, {64536, 1536}, 10240, 1024, 44,
     P::fixed, &kRaw7, &kExam11, &kSeries11, &kImage11},
    {"14.0", 0x41600000, 135704, {131080, 1040}, {132120, 2048}, {134168, 1536}, 34816, 2048, 44,
     P::words_at_1468, &kRaw7, &kExam11, &kSeries11, &kImage11},
    {"14.3", 0x4164CCCD, 145908, {140772, 1040}, {141812, 2048}, {143860, 2048}, 34816, 2048, 48,
     P::words_at_1468, &kRaw7, &kExam14_3, &kSeries14_3, &kImage14_3},
    {"15.000", 0x41700000, 145908, {140772, 1040}, {141812, 2048}, {143860, 2048}, 34816, 2048,
     48, P::words_at_1468, &kRaw7, &kExam14_3, &kSeries14_3, &kImage14_3},
    {"15.001", 0x41700419, 145908, {140772, 1040}, {141812, 2048}, {143860, 2048}, 34816, 2048,
     48, P::words_at_1468, &kRaw15001, &kExam14_3, &kSeries14_3, &kImage15_001},
    {"16.000", 0x41800000, 145908, {140772, 1040}, {141812, 2048}, {143860, 2048}, 34816, 2048,
     48, P::words_at_1468, &kRaw15001, &kExam14_3, &kSeries14_3, &kImage16},
    {"20.005", 0x41A00A3D, 149788, {142820, 1960}, {144780, 2560}, {147340, 2448}, 36864, 2048,
     48, P::words_at_1468, &kRaw20, &kExam20, &kSeries20, &kImage20_005},
    {"20.006", 0x41A00C4A, 149788, {142820, 1960}, {144780, 2560}, {147340, 2448}, 36864, 2048,
     48, P::words_at_1468, &kRaw20, &kExam20, &kSeries20, &kImage20},
    {"20.007", 0x41A00E56, 149788, {142820, 1960}, {144780, 2560}, {147340, 2448}, 36864, 2048,
     48, P::words_at_1468, &kRaw20, &kExam20_007, &kSeries20, &kImage20},
    // 24.0: a 7488-byte block follows the image record.
    {"24.0", 0x41C00000, 157276, {142820, 1960}, {144780, 2560}, {147340, 2448}, 36864, 2048, 48,
     P::words_at_1468, &kRaw20, &kExam20_007, &kSeries20, &kImage20},
    {"26.002", 0x41D00419, 213684, {193660, 1960}, {195620, 2560}, {198180, 2448}, 36864, 2048,
     72, P::words_at_4, &kRaw26, &kExam20_007, &kSeries26, &kImage20},
    {"27.000", 0x41D80000, 219828, {193660, 1960}, {195620, 2560}, {198180, 2448}, 36864, 2048,
     72, P::words_at_4, &kRaw26, &kExam20_007, &kSeries26, &kImage20},
    {"27.001", 0x41D8020C, 228020, {201852, 1960}, {203812, 2560}, {206372, 2448}, 36864, 2048, 0,
     P::words_at_4, &kRaw26, &kExam20_007, &kSeries26, &kImage20},
    {"28.000", 0x41E00000, 228020, {201852, 1960}, {203812, 2560}, {206372, 2448}, 36864, 2048, 0,
     P::words_at_4, &kRaw26, &kExam20_007, &kSeries26, &kImage20},
    {"28.002", 0x41E00419, 228020, {201852, 1960}, {203812, 2560}, {206372, 2448}, 36864, 2048, 0,
     P::words_at_4, &kRaw28002, &kExam20_007, &kSeries26, &kImage20},
    {"28.003", 0x41E00625, 228020, {201852, 1960}, {203812, 2560}, {206372, 2448}, 36864, 2048, 0,
     P::words_at_4, &kRaw28002, &kExam20_007, &kSeries26, &kImage20},
    {"30.0", 0x41F00000, 228020, {201852, 1960}, {203812, 2560}, {206372, 2448}, 36864, 2048, 0,
     P::words_at_4, &kRaw28002, &kExam20_007, &kSeries26, &kImage20},
    {"30.1", 0x41F0CCCD, 228020, {201852, 1960}, {203812, 2560}, {206372, 2448}, 36864, 2048, 0,
     P::words_at_4, &kRaw28002, &kExam20_007, &kSeries26, &kImage20},
};

// ---------------------------------------------------------------------------
// What the compiler checks of the table.

// An entry holds pass and slice numbers (2 + 2 bytes) and three points of
// three floats each.
constexpr std::size_t kSliceEntryNeeds = 40;
constexpr std::size_t kRawRecordSize = 4096;

template <std::size_t N>
constexpr bool fieldsFit(const std::array<Field, N>& fields, std::size_t record_size) {
  for (const Field& field : fields) {
    if (field.end() > record_size) return false;
    if (field.kind == Kind::text && field.length == 0) return false;
  }
  return true;
}

constexpr bool rawFits(const RawFields& f) {
  return fieldsFit(std::array{f.run_number, f.scan_date, f.scan_time, f.slice_count, f.echoes,
                              f.image_size, f.r1, f.r2, f.tg, f.frequency},
                   kRawRecordSize) &&
         fieldsFit(f.user, kRawRecordSize);
}
constexpr bool examFits(const ExamFields& f, std::size_t size) {
  return fieldsFit(std::array{f.exam_number, f.description, f.history, f.referring_physician,
                              f.radiologist, f.patient_name, f.patient_id, f.requisition_number},
                   size);
}
constexpr bool seriesFits(const SeriesFields& f, std::size_t size) {
  return fieldsFit(std::array{f.exam_number, f.series_number, f.description, f.patient_entry,
                              f.start_ras, f.start_loc, f.end_loc},
                   size);
}
constexpr bool imageFits(const ImageFields& f, std::size_t size) {
  return fieldsFit(std::array{f.field_of_view, f.slice_thickness, f.spacing, f.user5, f.user10,
                              f.repetition_time, f.echo_time, f.oblique_plane, f.plane,
                              f.flip_angle, f.pulse_sequence, f.internal_name, f.coil},
                   size) &&
         fieldsFit(f.centre, size) && fieldsFit(f.normal, size) && fieldsFit(f.top_left, size) &&
         fieldsFit(f.top_right, size) && fieldsFit(f.bottom_right, size);
}

constexpr bool rowFits(const Revision& r) {
  const RevisionWords words = wordsOf(r.positions);
  for (std::size_t word : {words.header_size, words.slice_table, words.after_slice_table,
                           words.exam, words.series, words.image}) {
    if (word + 4 > kRawRecordSize) return false;
  }
  const bool blocks_fit = r.exam.start >= kRawRecordSize && r.exam.end() <= r.series.start &&
                          r.series.end() <= r.image.start && r.image.end() <= r.header_size;
  const std::size_t entry = r.slice_entry_size;
  const bool slices_fit =
      r.slice_table >= kRawRecordSize && r.slice_entries > 0 &&
      (entry == 0 ? r.positions == Positions::words_at_4
                  : entry >= kSliceEntryNeeds &&
                        r.slice_table + entry * r.slice_entries <= r.exam.start);
  return blocks_fit && slices_fit && rawFits(*r.raw) && examFits(*r.exam_fields, r.exam.size) &&
         seriesFits(*r.series_fields, r.series.size) && imageFits(*r.image_fields, r.image.size);
}

// The byte-order test takes a revision for host order when it lies in [5, 100].
constexpr bool tableFits() {
  std::uint32_t previous = 0;
  for (const Revision& row : kRevisions) {
    const float number = std::bit_cast<float>(row.bits);
    if (!(number >= 5.0f && number <= 100.0f) || row.bits <= previous || !rowFits(row)) {
      return false;
    }
    previous = row.bits;
  }
  return true;
}
static_assert(tableFits(), "a revision's fields, records or words do not fit its header");

// Three or more rows of one major number in a row show as "first-last".
int majorOf(const Revision& row) { return static_cast<int>(row.number()); }

}  // namespace

std::span<const Revision> scannerRevisions() { return kRevisions; }

const Revision* findRevision(float revision) {
  const auto bits = std::bit_cast<std::uint32_t>(revision);
  for (const Revision& row : kRevisions) {
    if (row.bits == bits) return &row;
  }
  return nullptr;
}

std::string revisionList(std::span<const Revision> rows) {
  std::string list;
  for (std::size_t i = 0; i < rows.size();) {
    std::size_t last = i;
    while (last + 1 < rows.size() && majorOf(rows[last + 1]) == majorOf(rows[i])) ++last;
    if (!list.empty()) list += ", ";
    if (last - i >= 2) {
      list += std::string(rows[i].name) + "-" + rows[last].name;
    } else {
      for (std::size_t j = i; j <= last; ++j) list += (j == i ? "" : ", ") + std::string(rows[j].name);
    }
    i = last + 1;
  }
  return list;
}

namespace {

std::string number(std::size_t value) { return std::to_string(value); }

// "the word at 36 gives the series record at 9999999, outside the 213684-byte
// header" or "... where revision 26.002 has it at 195620".
std::string wordRefusal(std::size_t word, const char* what, std::uint32_t given,
                        std::size_t expected, const Revision& revision, bool outside) {
  std::string message = "the word at " + number(word) + " gives " + what + " " + number(given);
  if (outside) {
    return message + ", outside the " + number(revision.header_size) + "-byte header";
  }
  return message + " where revision " + revision.name + " has " + number(expected);
}

}  // namespace

LayoutResult headerLayout(const Revision& revision, Bytes header, bool reversed) {
  LayoutResult result;
  HeaderLayout& layout = result.layout;
  layout = {&revision, revision.header_size, revision.exam, revision.series, revision.image,
            revision.slice_table, revision.slice_entry_size, revision.slice_entries};
  if (revision.positions == Positions::fixed) return result;

  const RevisionWords words = wordsOf(revision.positions);
  const auto word = [&](std::size_t at) {
    return inHostOrder(load<std::uint32_t>(header, at), reversed);
  };
  const std::size_t size = revision.header_size;
  struct Check {
    std::size_t at;
    const char* what;
    std::size_t expected;  // 0: any place inside the header
    std::size_t extent;    // the bytes that must lie inside the header from there
  };
  const Check checks[] = {
      {words.header_size, "a header of", size, 0},
      {words.exam, "the exam record at", revision.exam.start, revision.exam.size},
      {words.series, "the series record at", revision.series.start, revision.series.size},
      {words.image, "the image record at", revision.image.start, revision.image.size},
      {words.slice_table, "the slice table at",
       revision.slice_entry_size == 0 ? 0 : revision.slice_table, 0},
  };
  for (const Check& check : checks) {
    const std::uint32_t given = word(check.at);
    const bool outside = check.at != words.header_size &&
                         (given >= size || size - given < std::max<std::size_t>(check.extent, 1));
    if (outside || (check.expected != 0 && given != check.expected)) {
      result.refusal = wordRefusal(check.at, check.what, given, check.expected, revision, outside);
      return result;
    }
  }
  if (revision.slice_entry_size != 0) return result;

  // The table runs from its word to the next block's word, in equal entries.
  const std::uint32_t table = word(words.slice_table);
  const std::uint32_t after = word(words.after_slice_table);
  const std::size_t entry = after > table ? (after - table) / revision.slice_entries : 0;
  if (after > size || entry < kSliceEntryNeeds ||
      (after - table) % revision.slice_entries != 0) {
    result.refusal = "the words at " + number(words.slice_table) + " and " +
                     number(words.after_slice_table) + " give a slice table from " +
                     number(table) + " to " + number(after) + ", not " +
                     number(revision.slice_entries) + " entries of at least " +
                     number(kSliceEntryNeeds) + " bytes inside the " + number(size) +
                     "-byte header";
    return result;
  }
  layout.slice_table = table;
  layout.slice_entry_size = entry;
  return result;
}

}  // namespace pfile
