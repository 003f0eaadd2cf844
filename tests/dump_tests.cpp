// Tests of the header dump: what each record dump prints for chosen bytes at
// offsets stated here, the slice table printer, the byte-swap helpers, and a
// whole torvek-a run against its golden output.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "dump/PrintImageHeader.hpp"
#include "support/files.hpp"
#include "support/header_builder.hpp"
#include "support/run.hpp"

using testing_support::HeaderBuilder;

namespace {

constexpr std::size_t kExam = 1128, kSeries = 2104, kImage = 1568;  // record sizes
const std::string kExamBanner = "\n################### EXAM HEADER #########################\n";
const std::string kSeriesBanner = "\n################### SERIES HEADER #########################\n";
const std::string kImageBanner = "\n################### IMAGE HEADER #########################\n";

// What `print` writes to a memory stream (zero bytes included).
template <class Print>
std::string capture(Print print) {
  char* data = nullptr;
  std::size_t size = 0;
  std::FILE* out = open_memstream(&data, &size);
  if (!out) throw std::runtime_error("open_memstream failed");
  print(out);
  std::fclose(out);
  std::string text(data, size);
  std::free(data);
  return text;
}

using Dump = void (*)(pfile::Bytes, std::FILE*);

std::string dumpOf(Dump dump, const HeaderBuilder& record) {
  return capture([&](std::FILE* out) { dump(record.bytes(), out); });
}

// The lines of a dump after its empty line and banner line.
std::vector<std::string> fieldLines(const std::string& dump) {
  std::vector<std::string> lines;
  std::size_t at = 0;
  while (at < dump.size()) {
    const std::size_t end = dump.find('\n', at);
    if (end == std::string::npos) {
      lines.push_back(dump.substr(at) + "<no newline>");
      break;
    }
    lines.push_back(dump.substr(at, end - at));
    at = end + 1;
  }
  return {lines.begin() + std::min<std::size_t>(2, lines.size()), lines.end()};
}

// The value printed after "label:" (first line with that label).
std::string value(const std::string& dump, const std::string& label) {
  for (const std::string& line : fieldLines(dump)) {
    if (line.rfind(label + ":", 0) == 0) return line.substr(label.size() + 1);
  }
  return "<no line " + label + ">";
}

// How many field lines show each value.
std::map<std::string, int> tally(const std::string& dump) {
  std::map<std::string, int> count;
  for (const std::string& line : fieldLines(dump)) ++count[line.substr(line.find(':') + 1)];
  return count;
}

const std::string kZeroByte(1, '\0');

// ---------------------------------------------------------------------------
// Records of zero bytes: banner, line count, and what each kind shows.

TEST(RecordDump, ZeroRecordsShowEveryKindAsZero) {
  struct Case { Dump dump; std::size_t size; const std::string& banner;
                int lines, floats, integers, texts, chars; };
  // Counts by kind as the records are laid out: exam 4 floats, 33 integers,
  // 19 texts, 1 char and "firstaxtime:"; series 22, 45, 12, 3; image 91, 116,
  // 15 texts of which psd_iname is printed twice, 4 chars.
  const Case cases[] = {
      {dump::printExamHeader, kExam, kExamBanner, 58, 4, 33, 19 + 1, 1},
      {dump::printSeriesHeader, kSeries, kSeriesBanner, 82, 22, 45, 12, 3},
      {dump::printMRImageHeader, kImage, kImageBanner, 227, 91, 116, 16, 4},
  };
  for (const Case& c : cases) {
    const std::string out = dumpOf(c.dump, HeaderBuilder(c.size));
    SCOPED_TRACE(c.banner);
    EXPECT_EQ(out.substr(0, c.banner.size()), c.banner);
    EXPECT_EQ(fieldLines(out).size(), static_cast<std::size_t>(c.lines));
    EXPECT_EQ(out.back(), '\n');
    auto count = tally(out);
    EXPECT_EQ(count["0.000000"], c.floats);
    EXPECT_EQ(count["0"], c.integers);
    EXPECT_EQ(count[""], c.texts);  // texts and "firstaxtime:" show nothing
    EXPECT_EQ(count[kZeroByte], c.chars);
    EXPECT_EQ(count.size(), 4u) << "a line shows something other than a zero value";
  }
}

TEST(RecordDump, ExamLinesInPlace) {
  const auto lines = fieldLines(dumpOf(dump::printExamHeader, HeaderBuilder(kExam)));
  ASSERT_EQ(lines.size(), 58u);
  EXPECT_EQ(lines[0], "ex_suid:");
  EXPECT_EQ(lines[2], "ex_diskid:" + kZeroByte);
  EXPECT_EQ(lines[34], "ex_format:0");
  EXPECT_EQ(lines[35], "firstaxtime:");
  EXPECT_EQ(lines[36], "ex_sysid:");
  EXPECT_EQ(lines[57], "study_status:0");
}

TEST(RecordDump, SeriesLabelsKeepTheirBlanks) {
  const auto lines = fieldLines(dumpOf(dump::printSeriesHeader, HeaderBuilder(kSeries)));
  ASSERT_EQ(lines.size(), 82u);
  for (int line : {5, 11, 12, 13, 14, 20, 25, 26, 28, 29}) {
    const std::string& text = lines[static_cast<std::size_t>(line - 1)];
    EXPECT_NE(text.find(" :"), std::string::npos) << "line " << line << ": " << text;
  }
  EXPECT_EQ(lines[4], "se_no :0");
  EXPECT_EQ(lines[81], "equipmnt_uid:");
}

TEST(RecordDump, ImagePrintsPsdInameTwice) {
  const auto out = dumpOf(dump::printMRImageHeader,
                          HeaderBuilder(kImage).put_text(916, "epiRT").put_text(903, "mip"));
  const auto lines = fieldLines(out);
  ASSERT_EQ(lines.size(), 227u);
  EXPECT_EQ(lines[0], "psd_iname:epiRT");
  EXPECT_EQ(lines[89], "psd_iname:epiRT");
  // proj_name at 903 has no zero byte before psd_iname at 916: zeros between.
  EXPECT_EQ(value(out, "proj_name"), "mip");
  EXPECT_EQ(lines[226], "user48:0.000000");
}

// ---------------------------------------------------------------------------
// All bits set: signed kinds print -1, unsigned ones their maximum, and no
// u32 is ever negative.

TEST(RecordDump, AllOnesByKind) {
  const std::byte ff{0xFF};
  const std::string max64 = "18446744073709551615";
  {
    // Numeric area 88-245 all ones; texts from 252 stay empty.
    const auto out = dumpOf(dump::printExamHeader, HeaderBuilder(kExam).fill(88, 158, ff));
    EXPECT_EQ(value(out, "ex_no"), "65535");
    EXPECT_EQ(value(out, "ex_uniq"), "-1");
    EXPECT_EQ(value(out, "patweight"), "-1");
    EXPECT_EQ(value(out, "ex_datetime"), "4294967295");
    EXPECT_EQ(value(out, "ex_checksum"), max64);
    EXPECT_EQ(value(out, "ex_delta_cnt"), "-1");
    EXPECT_EQ(value(out, "ex_modelcnt"), "-1");
    auto count = tally(out);
    EXPECT_EQ(count["4294967295"], 4);  // numcells, magstrength, ex_datetime, ex_lastmod
    EXPECT_EQ(count["65535"], 1);
    EXPECT_EQ(count[max64], 1);
    EXPECT_EQ(count["-1"], 10 + 1 + 16);  // s64, s32, s16
  }
  {
    const auto out = dumpOf(dump::printSeriesHeader, HeaderBuilder(kSeries).fill(48, 258, ff));
    EXPECT_EQ(value(out, "se_exno"), "65535");
    EXPECT_EQ(value(out, "echo8_window"), "65535");
    EXPECT_EQ(value(out, "se_checksum"), max64);
    EXPECT_EQ(value(out, "se_complete"), "-1");
    auto count = tally(out);
    EXPECT_EQ(count["4294967295"], 6);
    EXPECT_EQ(count["65535"], 9);
    EXPECT_EQ(count[max64], 1);
    EXPECT_EQ(count["-1"], 7 + 22);
  }
  {
    const auto out = dumpOf(dump::printMRImageHeader, HeaderBuilder(kImage).fill(0, 858, ff));
    EXPECT_EQ(value(out, "im_checksum"), "-1");
    EXPECT_EQ(value(out, "cal_fldstr"), max64);
    EXPECT_EQ(value(out, "user_fill_mapLSW"), max64);
    EXPECT_EQ(value(out, "offsetfreq"), "4294967295");
    EXPECT_EQ(value(out, "im_exno"), "65535");
    EXPECT_EQ(value(out, "img_window"), "65535");
    EXPECT_EQ(value(out, "img_level"), "-1");
    auto count = tally(out);
    EXPECT_EQ(count["4294967295"], 27);
    EXPECT_EQ(count["65535"], 2);
    EXPECT_EQ(count[max64], 4);
    EXPECT_EQ(count["-1"], 3 + 80);  // s64, s16
    EXPECT_EQ(count["-nan"], 91);    // every float is a NaN with its sign bit set
  }
}

TEST(RecordDump, SignExtensionAndFloatsAsPrintf) {
  const auto out = dumpOf(dump::printMRImageHeader,
                          HeaderBuilder(kImage)
                              .put<std::int16_t>(692, -2)             // imatrix_X
                              .put<std::uint16_t>(698, 0xFFFE)        // img_window
                              .put<std::uint32_t>(512, 0x80000000u)   // im_datetime
                              .put<float>(0, -0.0f)                   // dfov
                              .put<float>(4, 1.5f)                    // dfov_rect
                              .put<float>(8, 1e30f)                   // sctime
                              .put<std::uint32_t>(12, 0x7F800000u)    // slthick: +inf
                              .put<std::uint32_t>(16, 0x7FC00000u));  // scanspacing: NaN
  EXPECT_EQ(value(out, "imatrix_X"), "-2");
  EXPECT_EQ(value(out, "img_window"), "65534");
  EXPECT_EQ(value(out, "im_datetime"), "2147483648");
  EXPECT_EQ(value(out, "dfov"), "-0.000000");
  EXPECT_EQ(value(out, "dfov_rect"), "1.500000");
  EXPECT_EQ(value(out, "sctime"), "1000000015047466219876688855040.000000");
  EXPECT_EQ(value(out, "slthick"), "inf");
  EXPECT_EQ(value(out, "scanspacing"), "nan");
}

TEST(RecordDump, CharLinesWriteTheRawByte) {
  const auto out = dumpOf(dump::printSeriesHeader, HeaderBuilder(kSeries)
                                                       .put<unsigned char>(465, 'S')    // start_ras
                                                       .put<unsigned char>(466, 0xFF)   // end_ras
                                                       .put<unsigned char>(353, 'x'));  // se_diskid
  EXPECT_EQ(value(out, "start_ras"), "S");
  EXPECT_EQ(value(out, "end_ras"), "\xFF");
  EXPECT_EQ(value(out, "se_diskid"), "x");
}

// ---------------------------------------------------------------------------
// Texts run to their first zero byte, across later fields, but never past the
// bytes the dump was handed.

TEST(RecordDump, TextRunsIntoTheFollowingFields) {
  const auto stopped = dumpOf(dump::printSeriesHeader, HeaderBuilder(kSeries).put_text(332, "ab"));
  EXPECT_EQ(value(stopped, "se_verscre"), "ab");
  EXPECT_EQ(value(stopped, "se_verscur"), "");

  const auto runOn = dumpOf(dump::printSeriesHeader,
                            HeaderBuilder(kSeries).put_text(332, "ab").put_text(334, "cdEFG"));
  EXPECT_EQ(value(runOn, "se_verscre"), "abcdEFG");
  EXPECT_EQ(value(runOn, "se_verscur"), "cdEFG");
  EXPECT_EQ(value(runOn, "se_suid"), "EFG");  // se_suid at 336 sits inside the run
}

TEST(RecordDump, TextStopsAtTheEndOfTheBuffer) {
  // The bytes after the handed record are not zero either: the text must stop
  // at the record's end, not at the next zero byte in memory.
  HeaderBuilder memory(1200);
  memory.fill(1087, 113, std::byte{'u'});
  const std::vector<std::byte>& bytes = memory.bytes();
  const auto out = capture([&](std::FILE* f) {
    dump::printMRImageHeader(pfile::Bytes(bytes).first(1090), f);
  });
  EXPECT_EQ(value(out, "sop_uid"), "uuu");
  EXPECT_NE(out.find("\nsop_uid:uuu\npscopts:0\n"), std::string::npos);

  // The shortest exam record the dump takes ends right after study_uid's first byte.
  HeaderBuilder exam(700);
  exam.fill(598, 102, std::byte{'m'});
  const auto shortest = capture([&](std::FILE* f) {
    dump::printExamHeader(pfile::Bytes(exam.bytes()).first(603), f);
  });
  EXPECT_EQ(value(shortest, "mobile_loc"), "mmmmm");
  EXPECT_EQ(value(shortest, "study_uid"), "m");
}

TEST(RecordDump, TooShortRecordIsRefusedBeforeWriting) {
  const struct { Dump dump; std::size_t reach; } cases[] = {
      {dump::printExamHeader, 603}, {dump::printSeriesHeader, 532}, {dump::printMRImageHeader, 1088}};
  for (const auto& c : cases) {
    HeaderBuilder record(c.reach - 1);
    const auto out = capture([&](std::FILE* f) {
      EXPECT_THROW(c.dump(record.bytes(), f), std::out_of_range);
    });
    EXPECT_EQ(out, "");
  }
}

// ---------------------------------------------------------------------------
// Fields whose place in the record is easy to get wrong.

TEST(RecordDump, EchoLevelsRunBackwards) {
  HeaderBuilder record(kSeries);
  for (int echo = 1; echo <= 8; ++echo) {
    const auto n = static_cast<std::size_t>(echo);
    record.put<std::uint16_t>(244 + 2 * n, static_cast<std::uint16_t>(100 + echo));  // window
    record.put<std::int16_t>(278 - 2 * n, static_cast<std::int16_t>(-echo));          // level
    record.put<float>(64 + 8 * n, static_cast<float>(echo) + 0.25f);                  // alpha
    record.put<float>(68 + 8 * n, static_cast<float>(echo) + 0.5f);                   // beta
  }
  const auto out = dumpOf(dump::printSeriesHeader, record);
  EXPECT_EQ(value(out, "echo1_level"), "-1");  // at 276
  EXPECT_EQ(value(out, "echo8_level"), "-8");  // at 262, right after echo8_window at 260
  EXPECT_EQ(value(out, "echo1_window"), "101");
  EXPECT_EQ(value(out, "echo8_window"), "108");
  EXPECT_EQ(value(out, "echo1_alpha"), "1.250000");
  EXPECT_EQ(value(out, "echo8_beta"), "8.500000");
  const auto lines = fieldLines(out);
  EXPECT_EQ(lines[70], "echo6_level:-6");
  EXPECT_EQ(lines[71], "echo7_alpha:7.250000");
}

TEST(RecordDump, UserFieldsSkipTheGapAfterUser22) {
  HeaderBuilder record(kImage);
  record.put<float>(140, 22.0f).put<float>(144, 99.0f).put<float>(148, 99.0f)
        .put<float>(152, 23.0f).put<float>(156, 24.0f).put<float>(220, 25.0f)
        .put<float>(312, 48.0f);
  const auto out = dumpOf(dump::printMRImageHeader, record);
  EXPECT_EQ(value(out, "user22"), "22.000000");
  EXPECT_EQ(value(out, "user23"), "23.000000");
  EXPECT_EQ(value(out, "user24"), "24.000000");
  EXPECT_EQ(value(out, "user25"), "25.000000");
  EXPECT_EQ(value(out, "user48"), "48.000000");
  EXPECT_EQ(out.find("99.000000"), std::string::npos);
}

TEST(RecordDump, DumpsInARowAreSeparatedByAnEmptyLine) {
  HeaderBuilder exam(kExam), series(kSeries), image(kImage);
  exam.put<std::int16_t>(244, 7);      // study_status, the exam's last line
  series.put_text(531, "1.2.840");     // equipmnt_uid, the series' last line
  const auto out = capture([&](std::FILE* f) {
    dump::printExamHeader(exam.bytes(), f);
    dump::printSeriesHeader(series.bytes(), f);
    dump::printMRImageHeader(image.bytes(), f);
  });
  EXPECT_EQ(out.substr(0, kExamBanner.size()), kExamBanner);
  EXPECT_NE(out.find("study_status:7\n" + kSeriesBanner), std::string::npos);
  EXPECT_NE(out.find("equipmnt_uid:1.2.840\n" + kImageBanner), std::string::npos);
  EXPECT_EQ(out.substr(out.size() - 32), "user47:0.000000\nuser48:0.000000\n");
}

// ---------------------------------------------------------------------------
// Slice acquisition table.

const std::string kAcqBanner =
    "\n################### SLICE ACQ TABLE  #########################\n";

std::string acqOf(const std::vector<std::byte>& table, std::size_t entries = 512) {
  return capture([&](std::FILE* f) { dump::printACQTable(table, f, entries); });
}

TEST(SliceTable, PrintsFiveHundredTwelveEntries) {
  HeaderBuilder table(1024 * 44);
  table.put<std::int16_t>(44, -2).put<std::int16_t>(46, 3)           // entry 1
       .put<float>(48, 1.5f).put<float>(52, -2.0f).put<float>(56, 3.25f)
       .put<float>(64, 4.0f).put<float>(80, 9.0f)
       .put<std::uint32_t>(84, 0x41200000u)                          // 10.0 in bytes 40-43
       .put<std::int16_t>(44 * 511, 511).put<float>(44 * 511 + 36, 7.0f)
       .put<std::int16_t>(44 * 512, 512);                            // entry 512: not printed
  const auto out = acqOf(table.bytes());
  const std::string zero = "0.000000\t0.000000\t0.000000";
  const std::string first =
      "count:0\tpass_number:0\tslice in pass:0\n"
      "gw_point1:" + zero + "\ngw_point2:" + zero + "\ngw_point3:" + zero + "\n\n";
  const std::string second =
      "count:1\tpass_number:-2\tslice in pass:3\n"
      "gw_point1:1.500000\t-2.000000\t3.250000\n"
      "gw_point2:0.000000\t4.000000\t0.000000\n"
      "gw_point3:0.000000\t0.000000\t9.000000\n\n";
  const std::string last =
      "count:511\tpass_number:511\tslice in pass:0\n"
      "gw_point1:" + zero + "\ngw_point2:" + zero +
      "\ngw_point3:0.000000\t0.000000\t7.000000\n\n";
  EXPECT_EQ(out.substr(0, kAcqBanner.size() + first.size() + second.size()),
            kAcqBanner + first + second);
  ASSERT_GE(out.size(), last.size());
  EXPECT_EQ(out.substr(out.size() - last.size()), last);
  EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 2 + 512 * 5);
  EXPECT_EQ(out.find("10.000000"), std::string::npos);
  EXPECT_EQ(out.find("count:512"), std::string::npos);
}

TEST(SliceTable, ShortTablesAndOtherCounts) {
  // Three whole entries and 43 bytes of a fourth: three entries are printed.
  auto out = acqOf(HeaderBuilder(3 * 44 + 43).bytes());
  EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 2 + 3 * 5);
  EXPECT_NE(out.find("count:2\t"), std::string::npos);
  EXPECT_EQ(out.find("count:3\t"), std::string::npos);

  out = acqOf(HeaderBuilder(100 * 44).bytes(), 2);
  EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 2 + 2 * 5);

  EXPECT_EQ(acqOf({}), kAcqBanner);
  EXPECT_EQ(acqOf(HeaderBuilder(44).bytes(), 0), kAcqBanner);
}

// ---------------------------------------------------------------------------
// Byte swaps.

std::vector<std::byte> bytesOf(std::initializer_list<int> values) {
  std::vector<std::byte> bytes;
  for (int v : values) bytes.push_back(static_cast<std::byte>(v));
  return bytes;
}

TEST(ByteSwap, WholeUnitsInsideTheRange) {
  auto b = bytesOf({1, 2, 3, 4});
  dump::swap_2(b, 4);
  EXPECT_EQ(b, bytesOf({2, 1, 4, 3}));
  dump::swap_2(b, 4);
  EXPECT_EQ(b, bytesOf({1, 2, 3, 4}));

  b = bytesOf({1, 2, 3, 4, 5, 6, 7, 8});
  dump::swap_4(b, 8);
  EXPECT_EQ(b, bytesOf({4, 3, 2, 1, 8, 7, 6, 5}));

  b = bytesOf({1, 2, 3, 4});
  dump::swap_2(b, 2);
  EXPECT_EQ(b, bytesOf({2, 1, 3, 4}));

  for (std::int32_t length : {0, -4, -1, INT32_MIN}) {
    b = bytesOf({1, 2, 3, 4, 5, 6, 7, 8});
    dump::swap_4(b, length);
    dump::swap_2(b, length);
    EXPECT_EQ(b, bytesOf({1, 2, 3, 4, 5, 6, 7, 8})) << length;
  }
}

TEST(ByteSwap, PartialUnitsAndLengthsBeyondTheRange) {
  auto b = bytesOf({1, 2, 3, 4, 5, 6, 7, 8});
  dump::swap_2(b, 3);  // the odd trailing byte stays
  EXPECT_EQ(b, bytesOf({2, 1, 3, 4, 5, 6, 7, 8}));

  b = bytesOf({1, 2, 3, 4, 5, 6, 7, 8});
  dump::swap_4(b, 6);
  EXPECT_EQ(b, bytesOf({4, 3, 2, 1, 5, 6, 7, 8}));

  b = bytesOf({1, 2, 3, 4, 5, 6, 7, 8, 9, 10});
  dump::swap_4(std::span(b).first(6), 1000);  // cut to the 6-byte range
  EXPECT_EQ(b, bytesOf({4, 3, 2, 1, 5, 6, 7, 8, 9, 10}));
  dump::swap_2(std::span(b).subspan(5, 3), INT32_MAX);
  EXPECT_EQ(b, bytesOf({4, 3, 2, 1, 5, 7, 6, 8, 9, 10}));
}

// ---------------------------------------------------------------------------
// A whole torvek-a run: the three dumps, the Rx report and the layout report.

TEST(TorvekAGolden, FullRunOnARealisticPfile) {
  testing_support::TempDir dir;
  const auto made = testing_support::run({MKPFILE, "a", dir / "P00042.7"});
  ASSERT_EQ(made.exit_code, 0) << made.err;
  testing_support::RunOptions options;
  options.cwd = dir.path().string();
  const auto result = testing_support::run({TORVEK_A, "P00042.7"}, options);
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(result.err, "");
  testing_support::expect_golden(result.out, "torvek_a_full.txt");
}

}  // namespace
