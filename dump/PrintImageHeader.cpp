// The header dump: the exam, series and image records as tables of
// {format, offset, kind} rows printed by one loop, the slice acquisition table
// printer, and the byte-swap helpers.
#include "dump/PrintImageHeader.hpp"

#include <algorithm>
#include <array>
#include <cstdint>
#include <stdexcept>
#include <string_view>
#include <utility>

#include "common/format_check.hpp"

namespace dump {
namespace {

// How a field's bytes become the one value its format prints.
enum class Kind : unsigned char {
  f32,    // 4-byte IEEE-754 float, widened to double, "%f"
  s16,    // sign-extended to int, "%i"
  u16,    // zero-extended to int, "%i"
  s32,    // int, "%i"
  u32,    // zero-extended to long, "%ld": never negative
  s64,    // long, "%ld"
  u64,    // unsigned long, "%lu"
  chr,    // the raw byte, "%c" (a zero byte writes a zero byte)
  text,   // the bytes up to the first zero byte, "%s"
  label,  // a fixed line that reads no field
};

static_assert(sizeof(long) == 8, "u32, s64 and u64 fields are printed through long");

// Bytes a field occupies in its record; a text takes at least its first byte.
constexpr std::size_t width(Kind kind) {
  switch (kind) {
    case Kind::f32: case Kind::s32: case Kind::u32: return 4;
    case Kind::s16: case Kind::u16: return 2;
    case Kind::s64: case Kind::u64: return 8;
    case Kind::chr: case Kind::text: return 1;
    case Kind::label: return 0;
  }
  return 0;
}

// The one conversion a format must carry for a field of this kind, named by
// its length modifier and letter.
constexpr std::string_view conversion(Kind kind) {
  switch (kind) {
    case Kind::f32: return "f";
    case Kind::s16: case Kind::u16: case Kind::s32: return "i";
    case Kind::u32: case Kind::s64: return "ld";
    case Kind::u64: return "lu";
    case Kind::chr: return "c";
    case Kind::text: return "s";
    case Kind::label: return "";
  }
  return "";
}

// One printed line: the format applied to the value at `offset` (bytes from
// the record's first byte) read as `kind` says. The constructor refuses, at
// compile time, a format that is not "label:" + the kind's conversion + "\n".
struct Field {
  const char* format;
  std::size_t offset;
  Kind kind;
  std::size_t label_length;  // bytes of the format before its conversion

  consteval Field(const char* f, std::size_t o, Kind k)
      : format(f), offset(o), kind(k), label_length(0) {
    const std::string_view text = f;
    const std::size_t colon = text.find(':');
    if (colon == std::string_view::npos || colon == 0) throw "a line starts with a label and a colon";
    const std::size_t percent = text.find('%');
    const std::string_view want = conversion(k);
    if (k == Kind::label) {
      if (o != 0 || text.substr(colon + 1) != "\n") throw "a fixed line is a label, a colon and a newline";
      return;
    }
    if (percent != colon + 1) throw "the conversion follows the colon";
    if (!pfile::conversionsFit(text, {want})) throw "format does not fit the field's kind";
    // Nothing between the conversion and the newline: texts are printed by
    // position, the label, then the text, then the newline.
    if (text.size() != percent + 1 + want.size() + 1 || !text.ends_with('\n')) {
      throw "the line ends right after its conversion";
    }
    if (o % (k == Kind::chr || k == Kind::text ? 1 : width(k)) != 0) throw "numeric fields are naturally aligned";
    label_length = percent;
  }
};

// Bytes a record must hold for every row of `table` to be read.
template <std::size_t N>
constexpr std::size_t reach(const std::array<Field, N>& table) {
  std::size_t end = 0;
  for (const Field& field : table) end = std::max(end, field.offset + width(field.kind));
  return end;
}

// Prints one row. The only place a table's format reaches printf: each format
// was checked against its row's kind when the table was compiled (Field's
// constructor), and each case hands exactly the promoted type of that kind's
// conversion. Texts are written with fwrite because one that meets the end of
// the record has no zero byte after it.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
void printField(const Field& field, pfile::Bytes record, std::FILE* out) {
  using pfile::load;
  switch (field.kind) {
    case Kind::f32:
      std::fprintf(out, field.format, static_cast<double>(load<float>(record, field.offset)));
      return;
    case Kind::s16:
      std::fprintf(out, field.format, static_cast<int>(load<std::int16_t>(record, field.offset)));
      return;
    case Kind::u16:
      std::fprintf(out, field.format, static_cast<int>(load<std::uint16_t>(record, field.offset)));
      return;
    case Kind::s32:
      std::fprintf(out, field.format, static_cast<int>(load<std::int32_t>(record, field.offset)));
      return;
    case Kind::u32:
      std::fprintf(out, field.format, static_cast<long>(load<std::uint32_t>(record, field.offset)));
      return;
    case Kind::s64:
      std::fprintf(out, field.format, static_cast<long>(load<std::int64_t>(record, field.offset)));
      return;
    case Kind::u64:
      std::fprintf(out, field.format,
                   static_cast<unsigned long>(load<std::uint64_t>(record, field.offset)));
      return;
    case Kind::chr:
      std::fprintf(out, field.format, static_cast<int>(load<unsigned char>(record, field.offset)));
      return;
    case Kind::text: {
      const std::string_view value = pfile::text(record, field.offset);
      std::fwrite(field.format, 1, field.label_length, out);
      std::fwrite(value.data(), 1, value.size(), out);
      std::fputs(field.format + field.label_length + 2, out);  // after "%s"
      return;
    }
    case Kind::label:
      std::fputs(field.format, out);
      return;
  }
}
#pragma GCC diagnostic pop

// Writes the banner (an empty line, then `banner`) and every row of `table`.
// Refuses a record too short for the table before writing anything.
template <std::size_t N>
void printRecord(const std::array<Field, N>& table, std::size_t table_reach,
                 const char* banner, pfile::Bytes record, std::FILE* out) {
  if (record.size() < table_reach) {
    throw std::out_of_range("record too short for its dump");
  }
  std::fputs(banner, out);
  for (const Field& field : table) printField(field, record, out);
}

using enum Kind;

// Exam record (EXAMDATATYPE) as the dump reads it, offsets from the record's
// first byte, host byte order. 1128 bytes in the layout these offsets come
// from: 64-bit counters at 104-191, 32-bit values at 192-211, 16-bit values at
// 212-245 and texts from 252 (hist) to 602 (study_uid). "firstaxtime:" is a
// line of its own and reads nothing.
constexpr std::size_t kExamRecordSize = 1128;
constexpr std::array<Field, 58> kExamFields{{
    {"ex_suid:%s\n", 558, text},
    {"ex_uniq:%i\n", 214, s16},
    {"ex_diskid:%c\n", 486, chr},
    {"ex_no:%i\n", 212, u16},
    {"hospname:%s\n", 487, text},
    {"detect:%i\n", 216, s16},
    {"numcells:%ld\n", 192, u32},
    {"zerocell:%f\n", 88, f32},
    {"cellspace:%f\n", 92, f32},
    {"srctodet:%f\n", 96, f32},
    {"srctoiso:%f\n", 100, f32},
    {"tubetyp:%i\n", 218, s16},
    {"dastyp:%i\n", 220, s16},
    {"num_dcnk:%i\n", 222, s16},
    {"dcn_len:%i\n", 224, s16},
    {"dcn_density:%i\n", 226, s16},
    {"dcn_stepsize:%i\n", 228, s16},
    {"dcn_shiftcnt:%i\n", 230, s16},
    {"magstrength:%ld\n", 196, u32},
    {"patid:%s\n", 520, text},
    {"patname:%s\n", 533, text},
    {"patage:%i\n", 232, s16},
    {"patian:%i\n", 234, s16},
    {"patsex:%i\n", 236, s16},
    {"patweight:%i\n", 200, s32},
    {"trauma:%i\n", 240, s16},
    {"hist:%s\n", 252, text},
    {"reqnum:%s\n", 313, text},
    {"ex_datetime:%ld\n", 204, u32},
    {"refphy:%s\n", 326, text},
    {"diagrad:%s\n", 359, text},
    {"op:%s\n", 392, text},
    {"ex_desc:%s\n", 396, text},
    {"ex_typ:%s\n", 461, text},
    {"ex_format:%i\n", 238, s16},
    {"firstaxtime:\n", 0, label},
    {"ex_sysid:%s\n", 464, text},
    {"ex_lastmod:%ld\n", 208, u32},
    {"protocolflag:%i\n", 242, s16},
    {"ex_alloc_key:%s\n", 473, text},
    {"ex_delta_cnt:%ld\n", 104, s64},
    {"ex_verscre:%s\n", 562, text},
    {"ex_verscur:%s\n", 564, text},
    {"ex_checksum:%lu\n", 184, u64},
    {"ex_complete:%ld\n", 112, s64},
    {"ex_seriesct:%ld\n", 120, s64},
    {"ex_numarch:%ld\n", 128, s64},
    {"ex_numseries:%ld\n", 136, s64},
    {"ex_numunser:%ld\n", 144, s64},
    {"ex_toarchcnt:%ld\n", 152, s64},
    {"ex_prospcnt:%ld\n", 160, s64},
    {"ex_modelnum:%ld\n", 168, s64},
    {"ex_modelcnt:%ld\n", 176, s64},
    {"uniq_sys_id:%s\n", 566, text},
    {"service_id:%s\n", 582, text},
    {"mobile_loc:%s\n", 598, text},
    {"study_uid:%s\n", 602, text},
    {"study_status:%i\n", 244, s16},
}};

// Series record (SERIESDATATYPE), 2104 bytes, host byte order: floats at
// 48-135, 64-bit counters at 136-199, u32 values at 200-223, 16-bit values at
// 244-305 and texts from 332 (se_verscre) to 531 (equipmnt_uid). The echo
// level fields run backwards: echo1_level at 276 down to echo8_level at 262.
// Ten labels carry a blank before their colon ("se_no :"); the blank is part
// of the printed line, so the formats keep it.
constexpr std::size_t kSeriesRecordSize = 2104;
constexpr std::array<Field, 82> kSeriesFields{{
    {"se_suid:%s\n", 336, text},
    {"se_uniq:%i\n", 288, s16},
    {"se_diskid:%c\n", 353, chr},
    {"se_exno:%i\n", 244, u16},
    {"se_no :%i\n", 278, s16},
    {"se_datetime:%ld\n", 200, u32},
    {"se_actual_dt:%ld\n", 204, u32},
    {"se_desc:%s\n", 354, text},
    {"pr_sysid:%s\n", 419, text},
    {"pansysid:%s\n", 428, text},
    {"se_typ :%i\n", 280, s16},
    {"se_source :%i\n", 282, s16},
    {"se_plane :%i\n", 284, s16},
    {"scan_type :%i\n", 286, s16},
    {"position:%ld\n", 208, u32},
    {"entry:%ld\n", 212, u32},
    {"anref:%s\n", 437, text},
    {"lmhor:%f\n", 60, f32},
    {"prtcl:%s\n", 440, text},
    {"se_contrast :%i\n", 290, s16},
    {"start_ras:%c\n", 465, chr},
    {"start_loc:%f\n", 64, f32},
    {"end_ras:%c\n", 466, chr},
    {"end_loc:%f\n", 68, f32},
    {"se_pseq :%i\n", 292, s16},
    {"se_sortorder :%i\n", 294, s16},
    {"se_lndmrkcnt:%ld\n", 216, u32},
    {"se_nacq :%i\n", 296, s16},
    {"xbasest :%i\n", 298, s16},
    {"xbaseend:%i\n", 300, s16},
    {"xenhst:%i\n", 302, s16},
    {"xenhend:%i\n", 304, s16},
    {"se_lastmod:%ld\n", 220, u32},
    {"se_alloc_key:%s\n", 340, text},
    {"se_delta_cnt:%ld\n", 176, s64},
    {"se_verscre:%s\n", 332, text},
    {"se_verscur:%s\n", 334, text},
    {"se_pds_a:%f\n", 48, f32},
    {"se_pds_c:%f\n", 52, f32},
    {"se_pds_u:%f\n", 56, f32},
    {"se_checksum:%lu\n", 136, u64},
    {"se_complete:%ld\n", 144, s64},
    {"se_numarch:%ld\n", 152, s64},
    {"se_imagect:%ld\n", 160, s64},
    {"se_numimages:%ld\n", 168, s64},
    {"se_numunimg:%ld\n", 184, s64},
    {"se_toarchcnt:%ld\n", 192, s64},
    {"echo1_alpha:%f\n", 72, f32},
    {"echo1_beta:%f\n", 76, f32},
    {"echo1_window:%i\n", 246, u16},
    {"echo1_level:%i\n", 276, s16},
    {"echo2_alpha:%f\n", 80, f32},
    {"echo2_beta:%f\n", 84, f32},
    {"echo2_window:%i\n", 248, u16},
    {"echo2_level:%i\n", 274, s16},
    {"echo3_alpha:%f\n", 88, f32},
    {"echo3_beta:%f\n", 92, f32},
    {"echo3_window:%i\n", 250, u16},
    {"echo3_level:%i\n", 272, s16},
    {"echo4_alpha:%f\n", 96, f32},
    {"echo4_beta:%f\n", 100, f32},
    {"echo4_window:%i\n", 252, u16},
    {"echo4_level:%i\n", 270, s16},
    {"echo5_alpha:%f\n", 104, f32},
    {"echo5_beta:%f\n", 108, f32},
    {"echo5_window:%i\n", 254, u16},
    {"echo5_level:%i\n", 268, s16},
    {"echo6_alpha:%f\n", 112, f32},
    {"echo6_beta:%f\n", 116, f32},
    {"echo6_window:%i\n", 256, u16},
    {"echo6_level:%i\n", 266, s16},
    {"echo7_alpha:%f\n", 120, f32},
    {"echo7_beta:%f\n", 124, f32},
    {"echo7_window:%i\n", 258, u16},
    {"echo7_level:%i\n", 264, s16},
    {"echo8_alpha:%f\n", 128, f32},
    {"echo8_beta:%f\n", 132, f32},
    {"echo8_window:%i\n", 260, u16},
    {"echo8_level:%i\n", 262, s16},
    {"series_uid:%s\n", 467, text},
    {"landmark_uid:%s\n", 499, text},
    {"equipmnt_uid:%s\n", 531, text},
}};

// Image record (MRIMAGEDATATYPE), 1568 bytes, host byte order: floats at
// 0-143, 152-171, 192-315 and 376-451 (144-151 is skipped, between user22 and
// user23), 64-bit values at 456-511, u32 values at 512-611 and 632-639,
// 16-bit values at 692-857 (im_exno and img_window unsigned) and texts from
// 870 (psdname) to 1087 (sop_uid). psd_iname is printed twice, first and 90th.
constexpr std::size_t kImageRecordSize = 1568;
constexpr std::array<Field, 227> kImageFields{{
    {"psd_iname:%s\n", 916, text},
    {"im_suid:%s\n", 944, text},
    {"im_uniq:%i\n", 706, s16},
    {"im_diskid:%c\n", 929, chr},
    {"im_exno:%i\n", 696, u16},
    {"im_seno:%i\n", 708, s16},
    {"im_no:%i\n", 710, s16},
    {"im_datetime:%ld\n", 512, u32},
    {"im_actual_dt:%ld\n", 516, u32},
    {"sctime:%f\n", 8, f32},
    {"slthick:%f\n", 12, f32},
    {"imatrix_X:%i\n", 692, s16},
    {"imatrix_Y:%i\n", 694, s16},
    {"dfov:%f\n", 0, f32},
    {"dfov_rect:%f\n", 4, f32},
    {"dim_X:%f\n", 376, f32},
    {"dim_Y:%f\n", 380, f32},
    {"pixsize_X:%f\n", 384, f32},
    {"pixsize_Y:%f\n", 388, f32},
    {"pdid:%s\n", 930, text},
    {"contrastIV:%s\n", 948, text},
    {"contrastOral:%s\n", 965, text},
    {"contmode:%i\n", 712, s16},
    {"serrx:%i\n", 714, s16},
    {"imgrx:%i\n", 716, s16},
    {"screenformat:%i\n", 718, s16},
    {"plane:%i\n", 720, s16},
    {"scanspacing:%f\n", 16, f32},
    {"im_compress:%i\n", 722, s16},
    {"im_scouttype:%i\n", 724, s16},
    {"loc_ras:%c\n", 982, chr},
    {"loc:%f\n", 20, f32},
    {"ctr_R:%f\n", 392, f32},
    {"ctr_A:%f\n", 396, f32},
    {"ctr_S:%f\n", 400, f32},
    {"norm_R:%f\n", 404, f32},
    {"norm_A:%f\n", 408, f32},
    {"norm_S:%f\n", 412, f32},
    {"tlhc_R:%f\n", 416, f32},
    {"tlhc_A:%f\n", 420, f32},
    {"tlhc_S:%f\n", 424, f32},
    {"trhc_R:%f\n", 428, f32},
    {"trhc_A:%f\n", 432, f32},
    {"trhc_S:%f\n", 436, f32},
    {"brhc_R:%f\n", 440, f32},
    {"brhc_A:%f\n", 444, f32},
    {"brhc_S:%f\n", 448, f32},
    {"forimgrev:%s\n", 983, text},
    {"tr:%ld\n", 520, u32},
    {"ti:%ld\n", 524, u32},
    {"te:%ld\n", 528, u32},
    {"te2:%ld\n", 532, u32},
    {"numecho:%i\n", 702, s16},
    {"echonum:%i\n", 704, s16},
    {"tbldlta:%f\n", 24, f32},
    {"nex:%f\n", 28, f32},
    {"contig:%i\n", 726, s16},
    {"hrtrate:%i\n", 728, s16},
    {"tdel:%ld\n", 536, u32},
    {"saravg:%f\n", 36, f32},
    {"sarpeak:%f\n", 40, f32},
    {"monsar:%i\n", 762, s16},
    {"trgwindow:%i\n", 730, s16},
    {"reptime:%f\n", 32, f32},
    {"imgpcyc:%i\n", 732, s16},
    {"xmtgain:%i\n", 734, s16},
    {"rcvgain1:%i\n", 736, s16},
    {"rcvgain2:%i\n", 738, s16},
    {"mr_flip:%i\n", 740, s16},
    {"mindat:%ld\n", 540, u32},
    {"cphase:%i\n", 742, s16},
    {"swappf:%i\n", 744, s16},
    {"pauseint:%i\n", 746, s16},
    {"pausetime:%f\n", 44, f32},
    {"obplane:%ld\n", 544, u32},
    {"slocfov:%ld\n", 548, u32},
    {"xmtfreq:%ld\n", 552, u32},
    {"autoxmtfreq:%ld\n", 556, u32},
    {"autoxmtgain:%i\n", 748, s16},
    {"prescan_r1:%i\n", 750, s16},
    {"prescan_r2:%i\n", 752, s16},
    {"user_bitmap:%ld\n", 560, u32},
    {"cenfreq:%i\n", 754, s16},
    {"imode:%i\n", 756, s16},
    {"iopt:%ld\n", 564, u32},
    {"pseq:%i\n", 758, s16},
    {"pseqmode:%i\n", 760, s16},
    {"psdname:%s\n", 870, text},
    {"psd_datetime:%ld\n", 568, u32},
    {"psd_iname:%s\n", 916, text},
    {"ctyp:%i\n", 764, s16},
    {"cname:%s\n", 987, text},
    {"surfctyp:%i\n", 766, s16},
    {"surfcext:%i\n", 768, s16},
    {"rawrunnum:%ld\n", 572, u32},
    {"cal_fldstr:%lu\n", 456, u64},
    {"supp_tech:%i\n", 770, s16},
    {"vbw:%f\n", 48, f32},
    {"slquant:%i\n", 772, s16},
    {"gpre:%i\n", 774, s16},
    {"intr_del:%ld\n", 576, u32},
    {"user0:%f\n", 52, f32},
    {"user1:%f\n", 56, f32},
    {"user2:%f\n", 60, f32},
    {"user3:%f\n", 64, f32},
    {"user4:%f\n", 68, f32},
    {"user5:%f\n", 72, f32},
    {"user6:%f\n", 76, f32},
    {"user7:%f\n", 80, f32},
    {"user8:%f\n", 84, f32},
    {"user9:%f\n", 88, f32},
    {"user10:%f\n", 92, f32},
    {"user11:%f\n", 96, f32},
    {"user12:%f\n", 100, f32},
    {"user13:%f\n", 104, f32},
    {"user14:%f\n", 108, f32},
    {"user15:%f\n", 112, f32},
    {"user16:%f\n", 116, f32},
    {"user17:%f\n", 120, f32},
    {"user18:%f\n", 124, f32},
    {"user19:%f\n", 128, f32},
    {"user20:%f\n", 132, f32},
    {"user21:%f\n", 136, f32},
    {"user22:%f\n", 140, f32},
    {"user23:%f\n", 152, f32},
    {"user24:%f\n", 156, f32},
    {"im_alloc_key:%s\n", 1008, text},
    {"im_lastmod:%ld\n", 580, u32},
    {"im_verscre:%s\n", 1004, text},
    {"im_verscur:%s\n", 1006, text},
    {"im_pds_a:%ld\n", 584, u32},
    {"im_pds_c:%ld\n", 588, u32},
    {"im_pds_u:%ld\n", 592, u32},
    {"im_checksum:%ld\n", 464, s64},
    {"im_archived:%ld\n", 496, s64},
    {"im_complete:%ld\n", 504, s64},
    {"satbits:%i\n", 776, s16},
    {"scic:%i\n", 778, s16},
    {"satxloc1:%i\n", 780, s16},
    {"satxloc2:%i\n", 782, s16},
    {"satyloc1:%i\n", 784, s16},
    {"satyloc2:%i\n", 786, s16},
    {"satzloc1:%i\n", 788, s16},
    {"satzloc2:%i\n", 790, s16},
    {"satxthick:%i\n", 792, s16},
    {"satythick:%i\n", 794, s16},
    {"satzthick:%i\n", 796, s16},
    {"flax:%i\n", 798, s16},
    {"venc:%i\n", 800, s16},
    {"thk_disclmr:%i\n", 802, s16},
    {"ps_flag:%i\n", 804, s16},
    {"ps_status:%i\n", 806, s16},
    {"image_type:%i\n", 808, s16},
    {"vas_collapse:%i\n", 810, s16},
    {"proj_alg:%i\n", 812, s16},
    {"proj_name:%s\n", 903, text},
    {"x_axis_rot:%f\n", 160, f32},
    {"y_axis_rot:%f\n", 164, f32},
    {"z_axis_rot:%f\n", 168, f32},
    {"thresh_min1:%ld\n", 596, u32},
    {"thresh_max1:%ld\n", 600, u32},
    {"thresh_min2:%ld\n", 604, u32},
    {"thresh_max2:%ld\n", 608, u32},
    {"echo_trn_len:%i\n", 814, s16},
    {"frac_echo:%i\n", 816, s16},
    {"prep_pulse:%i\n", 818, s16},
    {"cphasenum:%i\n", 820, s16},
    {"var_echo:%i\n", 822, s16},
    {"ref_img:%c\n", 1021, chr},
    {"sum_img:%c\n", 1022, chr},
    {"img_window:%i\n", 698, u16},
    {"img_level:%i\n", 700, s16},
    {"slop_str_2:%s\n", 1039, text},
    {"scanactno:%i\n", 824, s16},
    {"vasflags:%i\n", 826, s16},
    {"vencscale:%f\n", 192, f32},
    {"integrity:%i\n", 828, s16},
    {"fphase:%ld\n", 632, u32},
    {"freq_dir:%i\n", 830, s16},
    {"vas_mode:%i\n", 832, s16},
    {"image_uid:%s\n", 1055, text},
    {"sop_uid:%s\n", 1087, text},
    {"pscopts:%i\n", 836, s16},
    {"asoffsetx:%i\n", 838, s16},
    {"asoffsety:%i\n", 840, s16},
    {"asoffsetz:%i\n", 842, s16},
    {"unoriginal:%i\n", 844, s16},
    {"interleaves:%i\n", 846, s16},
    {"effechospace:%i\n", 848, s16},
    {"viewsperseg:%i\n", 850, s16},
    {"rbpm:%i\n", 852, s16},
    {"rtpoint:%i\n", 854, s16},
    {"rcvrtype:%i\n", 856, s16},
    {"dbdt:%f\n", 196, f32},
    {"dbdtper:%f\n", 200, f32},
    {"estdbdtper:%f\n", 204, f32},
    {"estdbdtts:%f\n", 208, f32},
    {"saravghead:%f\n", 212, f32},
    {"neg_scanspacing:%f\n", 216, f32},
    {"offsetfreq:%ld\n", 636, u32},
    {"user_usage_tag:%lu\n", 472, u64},
    {"user_fill_mapMSW:%lu\n", 480, u64},
    {"user_fill_mapLSW:%lu\n", 488, u64},
    {"user25:%f\n", 220, f32},
    {"user26:%f\n", 224, f32},
    {"user27:%f\n", 228, f32},
    {"user28:%f\n", 232, f32},
    {"user29:%f\n", 236, f32},
    {"user30:%f\n", 240, f32},
    {"user31:%f\n", 244, f32},
    {"user32:%f\n", 248, f32},
    {"user33:%f\n", 252, f32},
    {"user34:%f\n", 256, f32},
    {"user35:%f\n", 260, f32},
    {"user36:%f\n", 264, f32},
    {"user37:%f\n", 268, f32},
    {"user38:%f\n", 272, f32},
    {"user39:%f\n", 276, f32},
    {"user40:%f\n", 280, f32},
    {"user41:%f\n", 284, f32},
    {"user42:%f\n", 288, f32},
    {"user43:%f\n", 292, f32},
    {"user44:%f\n", 296, f32},
    {"user45:%f\n", 300, f32},
    {"user46:%f\n", 304, f32},
    {"user47:%f\n", 308, f32},
    {"user48:%f\n", 312, f32},
}};

constexpr std::size_t kExamReach = reach(kExamFields);
constexpr std::size_t kSeriesReach = reach(kSeriesFields);
constexpr std::size_t kImageReach = reach(kImageFields);
static_assert(kExamReach == 603 && kExamReach <= kExamRecordSize);
static_assert(kSeriesReach == 532 && kSeriesReach <= kSeriesRecordSize);
static_assert(kImageReach == 1088 && kImageReach <= kImageRecordSize);

// Slice acquisition table entry, 44 bytes, host byte order: pass number (s16)
// at 0, slice in pass (s16) at 2, three points of three f32 coordinates at
// 4-39; bytes 40-43 belong to the entry but are not printed.
constexpr std::size_t kPassNumber = 0;
constexpr std::size_t kSliceInPass = 2;
constexpr std::size_t kPoint1 = 4;
constexpr std::size_t kPoint2 = 16;
constexpr std::size_t kPoint3 = 28;
static_assert(kPoint3 + 12 <= kSliceEntrySize);

// The three f32 coordinates of a point, widened for "%f".
std::array<double, 3> point(pfile::Bytes entry, std::size_t offset) {
  return {static_cast<double>(pfile::load<float>(entry, offset)),
          static_cast<double>(pfile::load<float>(entry, offset + 4)),
          static_cast<double>(pfile::load<float>(entry, offset + 8))};
}

// Reverses the bytes of each whole `unit`-byte unit among the first `length`
// bytes of `range`; the range bounds every write.
void swapUnits(std::span<std::byte> range, std::int32_t length, std::size_t unit) {
  if (length <= 0) return;
  const std::size_t end = std::min(range.size(), static_cast<std::size_t>(length));
  for (std::size_t at = 0; end - at >= unit; at += unit) {
    std::reverse(range.begin() + static_cast<std::ptrdiff_t>(at),
                 range.begin() + static_cast<std::ptrdiff_t>(at + unit));
  }
}

}  // namespace

void printExamHeader(pfile::Bytes record, std::FILE* out) {
  printRecord(kExamFields, kExamReach,
              "\n################### EXAM HEADER #########################\n", record, out);
}

void printSeriesHeader(pfile::Bytes record, std::FILE* out) {
  printRecord(kSeriesFields, kSeriesReach,
              "\n################### SERIES HEADER #########################\n", record, out);
}

void printMRImageHeader(pfile::Bytes record, std::FILE* out) {
  printRecord(kImageFields, kImageReach,
              "\n################### IMAGE HEADER #########################\n", record, out);
}

// The caller chooses the entry count (512 by default: the table's first 512
// entries, whatever they hold); entries that do not lie wholly inside `table`
// are not printed, so a short table ends the dump early rather than being
// read past its end.
void printACQTable(pfile::Bytes table, std::FILE* out, std::size_t entries) {
  std::fputs("\n################### SLICE ACQ TABLE  #########################\n", out);
  const std::size_t count = std::min(entries, table.size() / kSliceEntrySize);
  for (std::size_t index = 0; index < count; ++index) {
    const pfile::Bytes entry = table.subspan(index * kSliceEntrySize, kSliceEntrySize);
    const auto [x1, y1, z1] = point(entry, kPoint1);
    const auto [x2, y2, z2] = point(entry, kPoint2);
    const auto [x3, y3, z3] = point(entry, kPoint3);
    std::fprintf(out, "count:%d\tpass_number:%i\tslice in pass:%i\n", static_cast<int>(index),
                 static_cast<int>(pfile::load<std::int16_t>(entry, kPassNumber)),
                 static_cast<int>(pfile::load<std::int16_t>(entry, kSliceInPass)));
    std::fprintf(out, "gw_point1:%f\t%f\t%f\n", x1, y1, z1);
    std::fprintf(out, "gw_point2:%f\t%f\t%f\n", x2, y2, z2);
    std::fprintf(out, "gw_point3:%f\t%f\t%f\n\n", x3, y3, z3);
  }
}

void swap_2(std::span<std::byte> range, std::int32_t length) { swapUnits(range, length, 2); }

void swap_4(std::span<std::byte> range, std::int32_t length) { swapUnits(range, length, 4); }

}  // namespace dump
