// Synthetic Pfiles of torvek's layouts A, B and C: a header of the layout's
// size, zero but for the Rx fields, record texts (in layout A: every field its
// dump prints), and any values the caller sets. Numbers are little-endian, as
// x86 hosts store them, or big-endian with order=be.
#include <array>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <utility>

#include "tools/settings.hpp"
#include "tools/writers.hpp"

namespace mkpfile {
namespace {

struct RxPlaces {
  std::size_t file_size;  // bytes written by default: the whole header the build reads
  std::size_t exam, series, image;  // file offsets of the records (exam: 0 = none)
  std::size_t start_ras, start_loc, end_loc;                // from the series record
  std::size_t ctr_R, ctr_A, ctr_S, norm_R, norm_A, norm_S;  // from the image record
};

// Layout C's file is long enough for its image record (64536 + 1568).
constexpr RxPlaces kLayoutA{149808, 142832, 144792, 147352, 1093, 272, 276,
                            696, 700, 704, 708, 712, 716};
constexpr RxPlaces kLayoutB{49568, 45272, 46400, 47992, 120, 124, 132,
                            136, 140, 144, 148, 152, 156};
constexpr RxPlaces kLayoutC{66104, 0, 62488, 64536, 465, 64, 68,
                            392, 396, 400, 404, 408, 412};

const char* const kHelp =
    "usage: mkpfile a|b|c OUT [name=value ...]\n"
    "  Rx fields:  start_ras=LETTER start_loc=F end_loc=F ctr_R=F ctr_A=F ctr_S=F\n"
    "              norm_R=F norm_A=F norm_S=F   (defaults: an oblique axial slab)\n"
    "  raw bytes:  f32@OFF=F s16@OFF=N u16@OFF=N s32@OFF=N u32@OFF=N s64@OFF=N\n"
    "              u64@OFF=N u8@OFF=N text@OFF=STRING fill@OFF+COUNT=BYTE\n"
    "              (OFF: file offset, decimal or 0x hex; a text gets no zero byte)\n"
    "  order=le|be byte order of every number (default le)\n"
    "  size=N      file length in bytes (shorter: truncated header; longer: zeros)\n"
    "  plain=1     leave out the default record texts (and layout A's record numbers)\n";

enum class Record { exam, series, image };

// A text or a char (a one-letter text) at an offset from its record's first byte.
struct RecordText {
  Record record;
  std::size_t offset;
  std::string_view text;
};

// Texts of every layout, at the dump's field offsets: hospname, patid,
// patname, ex_desc; se_desc; psdname, psd_iname, cname.
constexpr std::array<RecordText, 8> kTexts{{
    {Record::exam, 487, "NEURO RESEARCH MR"},
    {Record::exam, 520, "SUBJ0042"},
    {Record::exam, 533, "DOE^JANE"},
    {Record::exam, 396, "BRAIN FMRI"},
    {Record::series, 354, "EPI RUN 1"},
    {Record::image, 870, "epi2"},
    {Record::image, 916, "epi2_rt"},
    {Record::image, 987, "8HRBRAIN"},
}};

// Layout A's file, whose build dumps its records, also fills every other text
// and char field that the dump prints, so that its output shows each one. No
// text is empty: read a byte late, a field loses its first letter; read a
// byte early, it starts with the byte before it, a zero byte or a letter.
// Many end in the field's last byte, either with their zero byte there
// (reqnum, op, ex_typ, image_uid, ...) or with their last letter there (the
// two-letter version fields, which run on into the field after them).
constexpr std::array<RecordText, 46> kLayoutATexts{{
    {Record::exam, 252, "HEADACHES SINCE MARCH, RULE OUT LESION"},  // hist, 61 bytes
    {Record::exam, 313, "REQ000005521"},                            // reqnum, 13
    {Record::exam, 326, "DR ALICE SMITH"},                          // refphy, 33
    {Record::exam, 359, "DR BOB JONES, NEURORADIOLOGY"},            // diagrad, 33
    {Record::exam, 392, "KLM"},                                     // op, 4
    {Record::exam, 461, "MR"},                                      // ex_typ, 3
    {Record::exam, 464, "SIGNA-HD"},                                // ex_sysid, 9
    {Record::exam, 473, "EXAM0042"},                                // ex_alloc_key, 13
    {Record::exam, 486, "D"},                                       // ex_diskid, char
    {Record::exam, 558, "EX1"},                                     // ex_suid, 4
    {Record::exam, 562, "27"},                                      // ex_verscre, 2
    {Record::exam, 564, "28"},                                      // ex_verscur, 2
    {Record::exam, 566, "SYS0042SIGNAHDX"},                         // uniq_sys_id, 16
    {Record::exam, 582, "555123MR1"},                               // service_id, 16
    {Record::exam, 598, "VAN"},                                     // mobile_loc, 4
    {Record::exam, 602, "1.2.840.113619.2.55.3.4242"},              // study_uid
    {Record::series, 332, "25"},                                    // se_verscre, 2
    {Record::series, 334, "26"},                                    // se_verscur, 2
    {Record::series, 336, "SE1"},                                   // se_suid, 4
    {Record::series, 340, "SER0042005"},                            // se_alloc_key, 13
    {Record::series, 353, "B"},                                     // se_diskid, char
    {Record::series, 419, "SIGNA-HD"},                              // pr_sysid, 9
    {Record::series, 428, "PANSYS01"},                              // pansysid, 9
    {Record::series, 437, "NA"},                                    // anref, 3
    {Record::series, 440, "RESTING STATE FMRI"},                    // prtcl, 25
    {Record::series, 465, "S"},                                     // start_ras, char
    {Record::series, 466, "I"},                                     // end_ras, char
    {Record::series, 467, "1.2.840.113619.2.55.3.4242.5"},          // series_uid, 32
    {Record::series, 499, "1.2.840.113619.2.55.3.4242.5.9"},        // landmark_uid, 32
    {Record::series, 531, "1.2.840.113619.1.12.99"},                // equipmnt_uid
    {Record::image, 903, "PROJECTION01"},                           // proj_name, 13
    {Record::image, 929, "F"},                                      // im_diskid, char
    {Record::image, 930, "PDID0042"},                               // pdid, 14
    {Record::image, 944, "IM1"},                                    // im_suid, 4
    {Record::image, 948, "GADOLINIUM 10 ML"},                       // contrastIV, 17
    {Record::image, 965, "NONE"},                                   // contrastOral, 17
    {Record::image, 982, "L"},                                      // loc_ras, char
    {Record::image, 983, "REV"},                                    // forimgrev, 4
    {Record::image, 1004, "23"},                                    // im_verscre, 2
    {Record::image, 1006, "24"},                                    // im_verscur, 2
    {Record::image, 1008, "IMG00420005"},                           // im_alloc_key, 13
    {Record::image, 1021, "Y"},                                     // ref_img, char
    {Record::image, 1022, "N"},                                     // sum_img, char
    {Record::image, 1039, "SLOP STRING TWO"},                       // slop_str_2, 16
    {Record::image, 1055, "1.2.840.113619.2.55.3.4242.5.11"},       // image_uid, 32
    {Record::image, 1087, "1.2.840.10008.5.1.4.1.1.4"},             // sop_uid
}};

// Where layout A's file puts a number into every numeric field that its dump
// prints: the records' areas of floats and of 64-, 32- and 16-bit integers,
// by offset from the record's first byte, `end` excluded.
enum class Slot { f32, i64, i32, i16 };
struct NumberArea {
  Record record;
  std::size_t first, end;
  Slot slot;
};
constexpr std::array<NumberArea, 17> kLayoutANumbers{{
    {Record::exam, 88, 104, Slot::f32},    {Record::exam, 104, 192, Slot::i64},
    {Record::exam, 192, 212, Slot::i32},   {Record::exam, 212, 246, Slot::i16},
    {Record::series, 48, 136, Slot::f32},  {Record::series, 136, 200, Slot::i64},
    {Record::series, 200, 224, Slot::i32}, {Record::series, 244, 306, Slot::i16},
    {Record::image, 0, 144, Slot::f32},    {Record::image, 152, 172, Slot::f32},
    {Record::image, 192, 316, Slot::f32},  {Record::image, 376, 452, Slot::f32},
    {Record::image, 456, 512, Slot::i64},  {Record::image, 512, 612, Slot::i32},
    {Record::image, 632, 640, Slot::i32},  {Record::image, 692, 834, Slot::i16},
    {Record::image, 836, 858, Slot::i16},
}};

std::size_t recordStart(const RxPlaces& at, Record record) {
  switch (record) {
    case Record::exam: return at.exam;
    case Record::series: return at.series;
    case Record::image: return at.image;
  }
  return 0;
}

template <std::size_t N>
void putTexts(pfile::HeaderWriter& header, const RxPlaces& at,
              const std::array<RecordText, N>& texts) {
  for (const RecordText& t : texts) {
    if (t.record == Record::exam && at.exam == 0) continue;  // layout C: no exam record
    header.text(recordStart(at, t.record) + t.offset, t.text);
  }
}

// Each integer holds minus its offset and each float its offset and a half,
// so that the dump's line shows which bytes it read and how: a field read at
// another offset shows another number, a signed one prints -offset and an
// unsigned one 2^bits - offset, and a float read as an integer (or the
// reverse) prints a number of another form altogether.
void putLayoutANumbers(pfile::HeaderWriter& header, const RxPlaces& at) {
  for (const NumberArea& area : kLayoutANumbers) {
    const std::size_t start = recordStart(at, area.record);
    const std::size_t width = area.slot == Slot::i64 ? 8 : area.slot == Slot::i16 ? 2 : 4;
    for (std::size_t offset = area.first; offset < area.end; offset += width) {
      const auto minus = -static_cast<std::int64_t>(offset);
      switch (area.slot) {
        case Slot::f32: header.put(start + offset, static_cast<float>(offset) + 0.5f); break;
        case Slot::i64: header.put(start + offset, minus); break;
        case Slot::i32: header.put(start + offset, static_cast<std::int32_t>(minus)); break;
        case Slot::i16: header.put(start + offset, static_cast<std::int16_t>(minus)); break;
      }
    }
  }
}

// The record texts and the exam and series numbers; in layout A also every
// other text and char field, and a number in each numeric field (written
// first, so that ex_no and se_no keep their values).
void putRecordDefaults(pfile::HeaderWriter& header, const RxPlaces& at, char layout) {
  if (layout == 'a') {
    putLayoutANumbers(header, at);
    putTexts(header, at, kLayoutATexts);
  }
  putTexts(header, at, kTexts);
  if (at.exam != 0) header.put<std::uint16_t>(at.exam + 212, 1234);  // ex_no
  header.put<std::int16_t>(at.series + 278, 5);                      // se_no
}

// The Rx of an oblique axial slab, 100 mm thick, tilted 10 degrees.
void putDefaultRx(pfile::HeaderWriter& header, const RxPlaces& at) {
  header.put<std::uint8_t>(at.series + at.start_ras, 'S');
  header.put(at.series + at.start_loc, -40.0f);
  header.put(at.series + at.end_loc, 60.0f);
  header.put(at.image + at.ctr_R, 1.5f);
  header.put(at.image + at.ctr_A, -12.25f);
  header.put(at.image + at.ctr_S, 10.0f);
  header.put(at.image + at.norm_R, 0.0f);
  header.put(at.image + at.norm_A, 0.173648f);
  header.put(at.image + at.norm_S, 0.984808f);
}

// plain=, start_ras= and the eight Rx floats by name.
bool putNamed(const Setting& setting, pfile::HeaderWriter& header, const RxPlaces& at) {
  if (setting.name == "plain") return true;  // read before the defaults were written
  if (setting.name == "start_ras") {
    if (setting.value.size() != 1) return false;
    header.put(at.series + at.start_ras, static_cast<std::uint8_t>(setting.value[0]));
    return true;
  }
  const std::pair<std::string_view, std::size_t> floats[] = {
      {"start_loc", at.series + at.start_loc}, {"end_loc", at.series + at.end_loc},
      {"ctr_R", at.image + at.ctr_R},   {"ctr_A", at.image + at.ctr_A},
      {"ctr_S", at.image + at.ctr_S},   {"norm_R", at.image + at.norm_R},
      {"norm_A", at.image + at.norm_A}, {"norm_S", at.image + at.norm_S},
  };
  for (const auto& [name, offset] : floats) {
    if (setting.name != name) continue;
    const auto value = parseFloat(setting.value);
    if (value) header.put(offset, *value);
    return value.has_value();
  }
  return false;
}

}  // namespace

int writeRxPfile(char layout, const std::string& path, std::span<const std::string> settings) {
  const RxPlaces& at = layout == 'a' ? kLayoutA : layout == 'b' ? kLayoutB : kLayoutC;
  if (path == "--help") {
    std::fputs(kHelp, stdout);
    return 0;
  }
  pfile::HeaderWriter header(at.file_size, byteOrder(settings));
  bool plain = false;
  for (const std::string& setting : settings) plain = plain || setting == "plain=1";
  if (!plain) putRecordDefaults(header, at, layout);
  putDefaultRx(header, at);
  const auto named = [&at](const Setting& s, pfile::HeaderWriter& h) { return putNamed(s, h, at); };
  const FileKind kind{at.file_size, kHelp, TextEnd::bare, named};
  return applyAndWrite(kind, header, settings, path);
}

}  // namespace mkpfile
