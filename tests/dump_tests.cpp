// Tests of the header dump: what each record dump prints for bytes put at
// offsets stated here, the slice table printer, the byte-swap helpers, and a
// whole torvek-a run against its golden output.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "dump/PrintImageHeader.hpp"
#include "support/builds.hpp"
#include "support/capture.hpp"
#include "support/files.hpp"
#include "support/header_builder.hpp"
#include "support/run.hpp"

using testing_support::HeaderBuilder;

namespace {

constexpr std::size_t kExam = 1128, kSeries = 2104, kImage = 1568;  // record sizes
const std::string kExamBanner = "\n################### EXAM HEADER #########################\n";
const std::string kSeriesBanner = "\n################### SERIES HEADER #########################\n";
const std::string kImageBanner = "\n################### IMAGE HEADER #########################\n";
const std::string kZeroByte(1, '\0');
const std::string kMax64 = "18446744073709551615";

// What `print` writes, zero bytes included.
template <class Print>
std::string capture(Print print) {
  const testing_support::Capture out;
  print(out.file());
  return out.text();
}

using Dump = void (*)(pfile::Bytes, std::FILE*);
std::string dumpOf(Dump dump, pfile::Bytes record) {
  return capture([&](std::FILE* out) { dump(record, out); });
}

// The lines after the empty line and the banner line.
std::vector<std::string> fieldLines(const std::string& dump) {
  std::vector<std::string> lines;
  for (std::size_t at = 0, end; at < dump.size(); at = end + 1) {
    end = std::min(dump.find('\n', at), dump.size());
    lines.push_back(dump.substr(at, end - at));
  }
  lines.erase(lines.begin(), lines.begin() + std::min<std::ptrdiff_t>(2, std::ssize(lines)));
  return lines;
}

// The value on the first line labelled `label`.
std::string value(const std::string& dump, const std::string& label) {
  for (const std::string& line : fieldLines(dump)) {
    if (line.rfind(label + ":", 0) == 0) return line.substr(label.size() + 1);
  }
  return "<no line " + label + ">";
}

// How many lines show each value.
std::map<std::string, int> tally(const std::string& dump) {
  std::map<std::string, int> count;
  for (const std::string& line : fieldLines(dump)) ++count[line.substr(line.find(':') + 1)];
  return count;
}

// Zero records: the line counts, and what each kind shows for zero bytes. The
// counts by kind follow the records' layouts: exam 4 floats, 33 integers, 19
// texts plus "firstaxtime:", 1 char; series 22, 45, 12, 3; image 91, 116, 15
// texts with psd_iname printed twice, 4 chars.
TEST(RecordDump, ZeroRecords) {
  const struct { Dump dump; std::size_t size; const std::string& banner;
                 int lines, floats, integers, empty, chars; } cases[] = {
      {dump::printExamHeader, kExam, kExamBanner, 58, 4, 33, 20, 1},
      {dump::printSeriesHeader, kSeries, kSeriesBanner, 82, 22, 45, 12, 3},
      {dump::printMRImageHeader, kImage, kImageBanner, 227, 91, 116, 16, 4},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.banner);
    const std::string out = dumpOf(c.dump, HeaderBuilder(c.size).bytes());
    EXPECT_EQ(out.substr(0, c.banner.size()), c.banner);
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), c.lines + 2);
    EXPECT_EQ(out.back(), '\n');
    auto count = tally(out);
    EXPECT_EQ(count["0.000000"], c.floats);
    EXPECT_EQ(count["0"], c.integers);
    EXPECT_EQ(count[""], c.empty);
    EXPECT_EQ(count[kZeroByte], c.chars);
    EXPECT_EQ(count.size(), 4u);
  }
  // A zero char writes its zero byte between the colon and the newline.
  const auto exam = fieldLines(dumpOf(dump::printExamHeader, HeaderBuilder(kExam).bytes()));
  EXPECT_EQ(exam[2], "ex_diskid:" + kZeroByte);
}

// All bits set: signed kinds print -1, unsigned ones their maximum; a u32 is
// never negative. Only the numeric areas are filled, so texts stay empty.
TEST(RecordDump, AllOnesByKind) {
  const std::byte ff{0xFF};
  auto out = dumpOf(dump::printExamHeader, HeaderBuilder(kExam).fill(88, 158, ff).bytes());
  EXPECT_EQ(value(out, "patweight") + " " + value(out, "ex_datetime"), "-1 4294967295");
  EXPECT_EQ(value(out, "ex_no") + " " + value(out, "ex_uniq"), "65535 -1");
  EXPECT_EQ(value(out, "ex_checksum") + " " + value(out, "ex_modelcnt"), kMax64 + " -1");
  auto count = tally(out);
  EXPECT_EQ(count["4294967295"], 4);
  EXPECT_EQ(count["65535"], 1);
  EXPECT_EQ(count[kMax64], 1);
  EXPECT_EQ(count["-1"], 10 + 1 + 16);  // s64, s32, s16

  out = dumpOf(dump::printSeriesHeader, HeaderBuilder(kSeries).fill(48, 258, ff).bytes());
  EXPECT_EQ(value(out, "se_checksum") + " " + value(out, "se_complete"), kMax64 + " -1");
  count = tally(out);
  EXPECT_EQ(count["4294967295"], 6);
  EXPECT_EQ(count["65535"], 9);  // se_exno and the eight echo windows
  EXPECT_EQ(count[kMax64], 1);
  EXPECT_EQ(count["-1"], 7 + 22);

  out = dumpOf(dump::printMRImageHeader, HeaderBuilder(kImage).fill(0, 858, ff).bytes());
  EXPECT_EQ(value(out, "im_checksum") + " " + value(out, "cal_fldstr"), "-1 " + kMax64);
  EXPECT_EQ(value(out, "offsetfreq") + " " + value(out, "img_window"), "4294967295 65535");
  count = tally(out);
  EXPECT_EQ(count["4294967295"], 27);
  EXPECT_EQ(count["65535"], 2);
  EXPECT_EQ(count[kMax64], 4);
  EXPECT_EQ(count["-1"], 3 + 80);
  EXPECT_EQ(count["-nan"], 91);
}

// A 64-bit counter keeps the bytes above its low 32 bits.
TEST(RecordDump, SixtyFourBitCountersUseAllEightBytes) {
  const auto out = dumpOf(dump::printExamHeader,
                          HeaderBuilder(kExam).put<std::int64_t>(120, -(std::int64_t{1} << 32)).bytes());
  EXPECT_EQ(value(out, "ex_seriesct"), "-4294967296");
}

// Each dump reads up to the first byte of its last text field and no further:
// handed exactly that many bytes, it prints that text as the one byte there,
// which has no zero byte after it, and leaves the bytes beyond alone; handed
// one byte less, it writes nothing and throws; handed more, the text runs on
// to the first zero byte or the end of the bytes, however far that is.
TEST(RecordDump, ARecordEndsAtItsLastTextsFirstByte) {
  const struct { Dump dump; std::size_t reach; std::string last; } cases[] = {
      {dump::printExamHeader, 603, "study_uid"},
      {dump::printSeriesHeader, 532, "equipmnt_uid"},
      {dump::printMRImageHeader, 1088, "sop_uid"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.last);
    const HeaderBuilder memory = HeaderBuilder(c.reach + 99).fill(c.reach - 1, 100, std::byte{'u'});
    const pfile::Bytes bytes = memory.bytes();
    EXPECT_EQ(value(dumpOf(c.dump, bytes.first(c.reach)), c.last), "u");
    EXPECT_EQ(value(dumpOf(c.dump, bytes), c.last), std::string(100, 'u'));
    EXPECT_EQ(capture([&](std::FILE* f) {
                EXPECT_THROW(c.dump(bytes.first(c.reach - 1), f), std::out_of_range);
              }), "");
  }
}

const std::string kAcqBanner = "\n################### SLICE ACQ TABLE  #########################\n";
std::string acqOf(pfile::Bytes table, std::size_t entries = 512) {
  return capture([&](std::FILE* f) { dump::printACQTable(table, f, entries); });
}

TEST(SliceTable, PrintsEntriesZeroTo511) {
  HeaderBuilder table(1024 * 44);
  table.put<std::int16_t>(44, -2).put<std::int16_t>(46, 3)  // entry 1
       .put<float>(48, 1.5f).put<float>(52, -2.0f).put<float>(64, 4.0f).put<float>(80, 9.0f)
       .put<float>(84, 10.0f)                               // bytes 40-43: never printed
       .put<std::int16_t>(44 * 511, 511).put<float>(44 * 511 + 36, 7.0f)
       .put<std::int16_t>(44 * 512, 512);
  const auto out = acqOf(table.bytes());
  const std::string zeros = "0.000000\t0.000000\t0.000000\n";
  const std::string first =
      kAcqBanner + "count:0\tpass_number:0\tslice in pass:0\ngw_point1:" + zeros +
      "gw_point2:" + zeros + "gw_point3:" + zeros + "\n" +
      "count:1\tpass_number:-2\tslice in pass:3\n"
      "gw_point1:1.500000\t-2.000000\t0.000000\n"
      "gw_point2:0.000000\t4.000000\t0.000000\n"
      "gw_point3:0.000000\t0.000000\t9.000000\n\n";
  EXPECT_EQ(out.substr(0, first.size()), first);
  const std::string last = "count:511\tpass_number:511\tslice in pass:0\ngw_point1:" + zeros +
                           "gw_point2:" + zeros + "gw_point3:0.000000\t0.000000\t7.000000\n\n";
  EXPECT_EQ(out.substr(out.size() - last.size()), last);
  EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 2 + 512 * 5);
  EXPECT_EQ(out.find("10.000000"), std::string::npos);
}

TEST(SliceTable, ShortTablesAndOtherCounts) {
  const HeaderBuilder table(100 * 44);
  const pfile::Bytes bytes = table.bytes();
  auto out = acqOf(bytes.first(3 * 44 + 43));  // three whole entries and most of a fourth
  EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 2 + 3 * 5);
  EXPECT_EQ(out.substr(out.rfind("count:"), 8), "count:2\t");
  out = acqOf(bytes, 2);
  EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 2 + 2 * 5);
  EXPECT_EQ(acqOf({}), kAcqBanner);
}

std::vector<std::byte> bytesOf(std::initializer_list<int> values) {
  std::vector<std::byte> bytes;
  for (int v : values) bytes.push_back(static_cast<std::byte>(v));
  return bytes;
}

TEST(ByteSwap, WholeUnitsInsideTheRange) {
  auto b = bytesOf({1, 2, 3, 4});
  dump::swap_2(b, 4);
  EXPECT_EQ(b, bytesOf({2, 1, 4, 3}));
  dump::swap_2(b, 2);
  EXPECT_EQ(b, bytesOf({1, 2, 4, 3}));
  b = bytesOf({1, 2, 3, 4, 5, 6, 7, 8});
  dump::swap_4(b, 8);
  EXPECT_EQ(b, bytesOf({4, 3, 2, 1, 8, 7, 6, 5}));
  for (std::int32_t length : {0, -4, INT32_MIN}) {
    dump::swap_4(b, length);
    dump::swap_2(b, length);
    EXPECT_EQ(b, bytesOf({4, 3, 2, 1, 8, 7, 6, 5})) << length;
  }
}

TEST(ByteSwap, PartialUnitsAndLengthsBeyondTheRange) {
  auto b = bytesOf({1, 2, 3, 4, 5, 6, 7, 8, 9, 10});
  dump::swap_2(b, 3);  // the odd trailing byte stays
  EXPECT_EQ(b, bytesOf({2, 1, 3, 4, 5, 6, 7, 8, 9, 10}));
  dump::swap_4(b, 6);
  EXPECT_EQ(b, bytesOf({4, 3, 1, 2, 5, 6, 7, 8, 9, 10}));
  dump::swap_4(std::span(b).subspan(4, 6), INT32_MAX);  // cut to the range: one unit
  EXPECT_EQ(b, bytesOf({4, 3, 1, 2, 8, 7, 6, 5, 9, 10}));
}

// A whole torvek-a run: the three dumps in a row, the Rx report and the layout
// report. mkpfile's layout A file fills every field the dumps print (each
// integer holds minus its offset, each float its offset and a half), so each
// line shows the offset and the kind its field is read at: the echo levels
// running backwards from 276, the user fields skipping 144-151, psd_iname
// twice, texts that run on past the version fields.
TEST(TorvekAGolden, FullRunOnARealisticPfile) {
  testing_support::TempDir dir;
  testing_support::mkpfile(testing_support::kBuildA, dir / "P00042.7");
  const auto result = testing_support::run({TORVEK_A, "P00042.7"}, {.cwd = dir.path().string()});
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(result.err, "");
  testing_support::expect_golden(result.out, "torvek_a_full.txt");
}

}  // namespace
