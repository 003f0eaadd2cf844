// torvek's pieces: command-line parsing, coordinate formatting, the Rx
// arithmetic and its diagnosis, and the record reads, called directly.
#include <cmath>
#include <cstdio>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <limits>
#include <memory>
#include <unistd.h>
#include <vector>

#include "rx/args.hpp"
#include "rx/header_read.hpp"
#include "rx/rx.hpp"
#include "support/capture.hpp"
#include "support/files.hpp"
#include "support/header_builder.hpp"

using namespace torvek;
using testing_support::Capture;
using testing_support::HeaderBuilder;
using testing_support::TempDir;

namespace {

struct Parsed {
  std::shared_ptr<std::vector<std::string>> words;  // the settings point into these
  std::optional<Settings> settings;
  std::string output;
};

Parsed parse(std::vector<std::string> words) {
  Parsed parsed{std::make_shared<std::vector<std::string>>(std::move(words)), {}, ""};
  std::vector<char*> argv;
  for (auto& word : *parsed.words) argv.push_back(word.data());
  argv.push_back(nullptr);
  Capture out;
  parsed.settings = parsearg(static_cast<int>(parsed.words->size()), argv.data(), out.file());
  parsed.output = out.text();
  return parsed;
}

// The usage text of a program invoked as torvek-b; its tail after the
// program's name is the golden file the run tests also check.
const std::string kUsage =
    "\nReading Rx info from GE Pfile header.\nUsage: torvek-b" +
    testing_support::read_file(std::string(GOLDEN_DIR) + "/torvek_usage_tail.txt");

}  // namespace

TEST(CommandLine, AcceptsOptionsInAnyOrderAndTakesTheLastArgumentAsPfile) {
  auto plain = parse({"torvek-b", "file"});
  ASSERT_TRUE(plain.settings);
  EXPECT_STREQ(plain.settings->pfile, "file");
  EXPECT_EQ(plain.settings->briknote, 0);
  EXPECT_EQ(plain.settings->debug, 0);
  EXPECT_EQ(plain.output, "");

  auto lone_debug = parse({"torvek-b", "-debug"});  // a single argument is the Pfile
  ASSERT_TRUE(lone_debug.settings);
  EXPECT_STREQ(lone_debug.settings->pfile, "-debug");
  EXPECT_EQ(lone_debug.settings->debug, 0);

  auto both = parse({"torvek-b", "-brik", "pre", "-debugXYZ", "file"});
  ASSERT_TRUE(both.settings);
  EXPECT_STREQ(both.settings->prefix, "pre");
  EXPECT_EQ(both.settings->briknote, 1);
  EXPECT_EQ(both.settings->debug, 1);
  EXPECT_STREQ(both.settings->pfile, "file");

  auto twice = parse({"torvek-b", "-brik", "a", "-brik", "b", "file"});
  ASSERT_TRUE(twice.settings);
  EXPECT_STREQ(twice.settings->prefix, "b");
}

TEST(CommandLine, PrintsUsageWhenNothingIsLeftForThePfile) {
  auto none = parse({"torvek-b"});
  EXPECT_FALSE(none.settings);
  EXPECT_EQ(none.output, kUsage);
  auto prefix_last = parse({"torvek-b", "-brik", "pre"});
  EXPECT_FALSE(prefix_last.settings);
  EXPECT_EQ(prefix_last.output, kUsage);
  EXPECT_FALSE(parse({"torvek-b", "-debug", "-brik", "pre"}).settings);
}

TEST(CommandLine, NamesAnUnrecognizedOptionBeforeTheUsage) {
  auto unknown = parse({"torvek-b", "-x", "file"});
  EXPECT_FALSE(unknown.settings);
  EXPECT_EQ(unknown.output, "Option -x is not recognized\n" + kUsage);
  // A second positional argument is an unrecognized option too.
  EXPECT_EQ(parse({"torvek-b", "one", "two"}).output, "Option one is not recognized\n" + kUsage);
  // "-debu" is not "-debug"; "-brikx" is not "-brik".
  EXPECT_FALSE(parse({"torvek-b", "-debu", "file"}).settings);
  EXPECT_FALSE(parse({"torvek-b", "-brikx", "p", "file"}).settings);
}

TEST(CommandLine, AnEmptyArgumentVectorGetsTheUsage) {
  char* argv[] = {nullptr};
  Capture out;
  EXPECT_FALSE(parsearg(0, argv, out.file()));
  EXPECT_NE(out.text().find("\nUsage: torvek [Options] pfile\n"), std::string::npos);
}

TEST(Coordinates, LetterBySignAndOneDecimalOfTheMagnitude) {
  RxRecord rx;
  rx.start_rl = -12.5f; rx.start_ap = -0.04f; rx.start_si = -3.25f;
  rx.end_rl = 7.0f; rx.end_ap = 100.06f; rx.end_si = 0.0f;
  EXPECT_EQ(startLine(rx), "Start:\tR12.5\tA0.0\tI3.2\n");
  EXPECT_EQ(endLine(rx), "End:\tL7.0\tP100.1\tS0.0\n");
}

TEST(Coordinates, ZeroNegativeZeroAndNaNTakeThePositiveLetter) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  RxRecord rx;
  rx.start_rl = -0.0f; rx.start_ap = -0.0f; rx.start_si = -0.0f;
  rx.end_rl = nan; rx.end_ap = -nan; rx.end_si = std::numeric_limits<float>::infinity();
  EXPECT_EQ(startLine(rx), "Start:\tL0.0\tP0.0\tS0.0\n");
  EXPECT_EQ(endLine(rx), "End:\tLnan\tPnan\tSinf\n");
}

TEST(RxArithmetic, EachLetterChoosesItsAxisNormalAsDivisor) {
  // Normal (0.5, 0.25, 2) and a 10 mm slab: R and L divide by 0.5, A and P by
  // 0.25, S and I by 2.
  const struct { unsigned char letter; float end_rl, end_ap, end_si; } cases[] = {
      {'R', -10, -5, 40},   {'L', -10, -5, 40},   {'A', -20, -10, 80},
      {'P', -20, -10, 80},  {'S', -2.5f, -1.25f, 10}, {'I', -2.5f, -1.25f, 10}};
  for (const auto& c : cases) {
    RxRecord rx;
    ASSERT_TRUE(computeRx({c.letter, 0, 10, 0, 0, 0, 0.5f, 0.25f, 2.0f}, rx)) << c.letter;
    EXPECT_EQ(rx.end_rl, c.end_rl) << c.letter;
    EXPECT_EQ(rx.end_ap, c.end_ap) << c.letter;
    EXPECT_EQ(rx.end_si, c.end_si) << c.letter;
  }
}

TEST(RxArithmetic, AnUnknownLetterComputesNoEnd) {
  for (unsigned char letter : {'s', 'r', 'X', '\0', '\x01', '\xff'}) {
    RxRecord rx;
    rx.end_rl = rx.end_ap = rx.end_si = 77.0f;
    EXPECT_FALSE(computeRx({letter, 0, 10, 1, 2, 3, 1, 1, 1}, rx)) << int(letter);
    EXPECT_EQ(startLine(rx), "Start:\tR1.0\tA2.0\tS3.0\n");
    EXPECT_EQ(rx.end_rl, 77.0f);  // left as it was
  }
}

TEST(RxDiagnosis, NamesTheValuesThatAreNotFiniteAndWhy) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  const std::string all_ends = "the Rx is not finite (End R/L, End A/P, End S/I): ";
  const struct {
    RxInputs in;
    std::string expected;
  } cases[] = {
      {{'S', 10, 110, 0, 0, 0, 0, 0.5f, 0}, all_ends + "the divisor norm_S is 0"},
      {{'I', 10, 10, 0, 0, 0, 0, 0, 0}, all_ends + "the divisor norm_S is 0"},  // 0 / 0
      {{'A', 0, 10, 1, nan, 3, 0, 1, 0}, "the Rx is not finite (Start A/P, End A/P): ctr_A is nan"},
      {{'R', 0, 10, -inf, 0, 0, 1, 0, 0},
       "the Rx is not finite (Start R/L, End R/L): ctr_R is -inf"},
      {{'P', inf, 0, 0, 0, 0, 0, 1, 0}, all_ends + "start_loc is inf"},
      {{'L', 0, 10, 0, 0, 0, nan, 0, 0}, all_ends + "norm_R is nan"},
      {{'S', 0, 10, 0, 0, 0, 0, 0, nan}, all_ends + "norm_S is nan"},
      {{'A', 0, 10, 0, nan, 0, 0, 0, 0},
       "the Rx is not finite (Start A/P, End R/L, End A/P, End S/I): ctr_A is nan; "
       "the divisor norm_A is 0"},
      // The inputs are finite, but end_loc - start_loc is not.
      {{'S', -3e38f, 3e38f, 0, 0, 0, 0, 0, 1},
       all_ends + "the slab end lies beyond the range of a float"},
  };
  for (const auto& c : cases) {
    RxRecord rx;
    ASSERT_TRUE(computeRx(c.in, rx));
    EXPECT_EQ(nonFiniteRx(c.in, rx, true), c.expected);
  }
}

// The length is taken in double, so that a stored unit normal passes; a
// thousandth either way is allowed, a little more is not, and NaN never is.
TEST(RxDiagnosis, TheNormalMayMissUnitLengthByAThousandth) {
  const auto normal = [](float r, float a, float s) {
    return nonUnitNormal({'S', 0, 10, 0, 0, 0, r, a, s});
  };
  EXPECT_EQ(normal(0, 0.173648f, 0.984808f), "");
  EXPECT_EQ(normal(0.5f, -0.5f, -0.7071f), "");
  EXPECT_EQ(normal(0, 0, 1.0009f), "");
  EXPECT_EQ(normal(0, 0, 0.9989f),
            "the slab normal has length 0.9989, not 1: is this the build for this file's "
            "revision?");
  EXPECT_NE(normal(0, 1.0011f, 0), "");
  EXPECT_NE(normal(0, 0, std::numeric_limits<float>::quiet_NaN()), "");
}

TEST(RxDiagnosis, WithoutAnEndOnlyTheCentreCounts) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  RxRecord rx;
  const RxInputs unknown_letter{'x', nan, 0, 0, 0, std::numeric_limits<float>::infinity(),
                                nan, 0, 0};
  ASSERT_FALSE(computeRx(unknown_letter, rx));
  EXPECT_EQ(nonFiniteRx(unknown_letter, rx, false),
            "the Rx is not finite (Start S/I): ctr_S is inf");
}

// ---- Reading records from a file ----

namespace {

struct HeaderRead {
  pfile::ReadResult read;
  std::string messages;
  std::vector<std::byte> header;
};

HeaderRead readHeaderOf(const Layout& layout, const HeaderBuilder& file) {
  TempDir dir;
  file.write(dir / "P");
  const int fd = ::open((dir / "P").c_str(), O_RDONLY);
  HeaderRead result{{}, "", std::vector<std::byte>(layout.header_size, std::byte{0xAA})};
  Capture out;
  result.read = readPFileHeader(layout, result.header, fd, out.file());
  result.messages = out.text();
  ::close(fd);
  return result;
}

}  // namespace

TEST(HeaderRead, AWholeHeaderReadsWithoutAMessage) {
  auto a = readHeaderOf(layoutA, HeaderBuilder(149808).put<float>(149804, 2.5f));
  EXPECT_EQ(a.read.got, 149808u);
  EXPECT_EQ(a.messages, "");
  EXPECT_EQ(pfile::load<float>(a.header, 149804), 2.5f);
}

TEST(HeaderRead, OneByteShortPrintsTheImageMessageOnceAndZeroFills) {
  auto a = readHeaderOf(layoutA, HeaderBuilder(149807).fill(0, 149807, std::byte{1}));
  EXPECT_EQ(a.read.got, 149807u);
  EXPECT_EQ(a.read.error, 0);
  EXPECT_EQ(a.messages, "\n.Error in readMRImageHeader().");
  EXPECT_EQ(a.header[149806], std::byte{1});
  EXPECT_EQ(a.header[149807], std::byte{0});  // not the 0xAA that stood there
}

TEST(HeaderRead, LayoutCTakesTwoOverlappingRecordsFromOneRead) {
  // The series record (62488, 2104 bytes) runs 56 bytes into the image record.
  HeaderBuilder file(64536 + 1568);
  file.put<float>(62488 + 64, 1.25f).put<float>(64536 + 392, -7.5f).put<float>(64536, 9.0f);
  auto whole = readHeaderOf(layoutC, file);
  EXPECT_EQ(whole.messages, "");
  const RxInputs in = loadRxInputs(layoutC, whole.header);
  EXPECT_EQ(in.start_loc, 1.25f);
  EXPECT_EQ(in.ctr_R, -7.5f);
  EXPECT_EQ(pfile::load<float>(whole.header, 62488 + 2048), 9.0f);  // image byte 0, seen
                                                                     // from the series
}

TEST(HeaderRead, ReadrxLeavesNoDescriptorOpen) {
  TempDir dir;
  HeaderBuilder(100).write(dir / "P");
  Capture out, err;
  RxRecord rx;
  const int lowest_free = ::open("/dev/null", O_RDONLY);
  ::close(lowest_free);
  readrx(layoutB, rx, (dir / "P").c_str(), out.file(), err.file());
  const int after = ::open("/dev/null", O_RDONLY);
  ::close(after);
  EXPECT_EQ(after, lowest_free);
}

TEST(RecordReaders, ReadTheirLayoutsSizeFromTheCurrentPosition) {
  using Reader = int (*)(const Layout&, int, std::span<std::byte>, std::FILE*);
  const struct {
    const char* name;
    Reader reader;
    std::size_t sizes[3];  // layouts A, B, C
    const char* message;
  } readers[] = {
      {"exam", readExamHeader, {1960, 1128, 1128}, "\n. Error in readExamHeader()."},
      {"series", readSeriesHeader, {2560, 1592, 2104}, "\n.Error in readSeriesHeader()."},
      {"image", readMRImageHeader, {2456, 1576, 1568}, "\n.Error in readMRImageHeader()."},
      {"acq", readDataAcqTable, {98304, 20480, 45056}, "Error in readDataAcqTable().\n"},
  };
  const Layout* layouts[] = {&layoutA, &layoutB, &layoutC};
  TempDir dir;
  for (const auto& r : readers) {
    for (int l = 0; l < 3; ++l) {
      const std::size_t size = r.sizes[l];
      SCOPED_TRACE(std::string(r.name) + " layout " + char('A' + l));
      // 7 bytes of something else first: the reader must not seek back to 0.
      // One byte of the next record after it: the reader must not take it.
      HeaderBuilder(7 + size + 1).put<std::uint8_t>(7, 0x5A).put<std::uint8_t>(6 + size, 0xA5)
          .put<std::uint8_t>(7 + size, 0x77).write(dir / "whole");
      HeaderBuilder(7 + size - 1).write(dir / "short");
      const auto readAfterSeven = [&](const std::string& path, std::span<std::byte> record,
                                      std::string& messages) {
        Capture out;
        const int fd = ::open(path.c_str(), O_RDONLY);
        EXPECT_EQ(::lseek(fd, 7, SEEK_SET), 7);
        const int status = r.reader(*layouts[l], fd, record, out.file());
        ::close(fd);
        messages = out.text();
        return status;
      };
      std::string messages;

      // A buffer of exactly the record's size: its first and last byte.
      std::vector<std::byte> exact(size, std::byte{0xAA});
      EXPECT_EQ(readAfterSeven(dir / "whole", exact, messages), 0);
      EXPECT_EQ(messages, "");
      EXPECT_EQ(exact.front(), std::byte{0x5A});
      EXPECT_EQ(exact.back(), std::byte{0xA5});

      std::vector<std::byte> roomy(size + 1, std::byte{0xAA});
      EXPECT_EQ(readAfterSeven(dir / "whole", roomy, messages), 0);
      EXPECT_EQ(roomy[size], std::byte{0});  // beyond the record: zero, never stale

      EXPECT_NE(readAfterSeven(dir / "short", roomy, messages), 0);
      EXPECT_EQ(messages, r.message);

      // A buffer too small for the record is refused, not overrun.
      std::vector<std::byte> small(size - 1);
      EXPECT_NE(readAfterSeven(dir / "whole", small, messages), 0);
      EXPECT_EQ(messages, r.message);
    }
  }
}
