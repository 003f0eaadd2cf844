// torvek's pieces: command-line parsing, coordinate formatting, the Rx
// arithmetic and the record reads, called directly.
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
#include "support/files.hpp"
#include "support/header_builder.hpp"

using namespace torvek;
using testing_support::HeaderBuilder;
using testing_support::TempDir;

namespace {

// Captures what a function writes to a FILE*.
class Capture {
 public:
  Capture() : file_(open_memstream(&data_, &size_)) {}
  ~Capture() {
    if (file_) std::fclose(file_);
    std::free(data_);
  }
  std::FILE* file() { return file_; }
  std::string text() {
    std::fflush(file_);
    return {data_, size_};
  }

 private:
  char* data_ = nullptr;
  std::size_t size_ = 0;
  std::FILE* file_;
};

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

const std::string kUsage =
    "\nReading Rx info from GE Pfile header."
    "\nUsage: torvek-b [Options] pfile\n"
    "\nOptions: \n"
    "         -brik prefix  prefix of the dataset to whose header the Rx will be written.\n"
    "         (Assumes NIFTI if prefix contains '.nii', default AFNI briks!)\n"
    "This is version 1.0 <maintainers@torvek-melvane.invalid>.\n";

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
  EXPECT_EQ(parse({"torvek-b"}).output, kUsage);
  EXPECT_FALSE(parse({"torvek-b"}).settings);
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

TEST(RxArithmetic, TheDesignedExamples) {
  RxRecord rx;
  // Axial: start S10 on a normal (0, 0, 1), 40 mm on.
  ASSERT_TRUE(computeRx({'S', 10, 50, 0, 0, 10, 0, 0, 1}, rx));
  EXPECT_EQ(startLine(rx), "Start:\tL0.0\tP0.0\tS10.0\n");
  EXPECT_EQ(endLine(rx), "End:\tL0.0\tP0.0\tS50.0\n");
  // Sagittal from the right.
  ASSERT_TRUE(computeRx({'R', 20, -20, 20, 0, 0, 1, 0, 0}, rx));
  EXPECT_EQ(startLine(rx), "Start:\tR20.0\tP0.0\tS0.0\n");
  EXPECT_EQ(endLine(rx), "End:\tL20.0\tP0.0\tS0.0\n");
}

TEST(RxArithmetic, EachLetterChoosesItsAxisNormalAsDivisor) {
  // Normal (0.5, 0.25, 2): the end moves by 10 * n / d along each axis.
  const struct { unsigned char letter; float divisor; } cases[] = {
      {'R', 0.5f}, {'L', 0.5f}, {'A', 0.25f}, {'P', 0.25f}, {'S', 2.0f}, {'I', 2.0f}};
  for (const auto& c : cases) {
    RxRecord rx;
    ASSERT_TRUE(computeRx({c.letter, 0, 10, 0, 0, 0, 0.5f, 0.25f, 2.0f}, rx)) << c.letter;
    EXPECT_FLOAT_EQ(rx.end_rl, -(10 * 0.5f / c.divisor)) << c.letter;
    EXPECT_FLOAT_EQ(rx.end_ap, -(10 * 0.25f / c.divisor)) << c.letter;
    EXPECT_FLOAT_EQ(rx.end_si, 10 * 2.0f / c.divisor) << c.letter;
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

// ---- Reading records from a file ----

namespace {

int openFile(const std::string& path) { return ::open(path.c_str(), O_RDONLY); }

struct ReadResult {
  int status;
  std::string messages;
  std::vector<std::byte> header;
};

ReadResult readHeaderOf(const Layout& layout, const HeaderBuilder& file) {
  TempDir dir;
  file.write(dir / "P");
  int fd = openFile(dir / "P");
  ReadResult result{0, "", std::vector<std::byte>(layout.header_buffer_size, std::byte{0xAA})};
  Capture out;
  result.status = readPFileHeader(layout, result.header, fd, out.file());
  result.messages = out.text();
  ::close(fd);
  return result;
}

}  // namespace

TEST(HeaderRead, AWholeHeaderReadsWithoutAMessage) {
  auto a = readHeaderOf(layoutA, HeaderBuilder(149808).put<float>(149804, 2.5f));
  EXPECT_EQ(a.status, 0);
  EXPECT_EQ(a.messages, "");
  EXPECT_EQ(pfile::load<float>(a.header, 149804), 2.5f);

  auto b = readHeaderOf(layoutB, HeaderBuilder(49568 + 100));  // longer files are fine
  EXPECT_EQ(b.status, 0);
  EXPECT_EQ(b.messages, "");
}

TEST(HeaderRead, OneByteShortPrintsTheImageMessageOnceAndZeroFills) {
  auto a = readHeaderOf(layoutA, HeaderBuilder(149807).fill(0, 149807, std::byte{1}));
  EXPECT_EQ(a.status, 1);
  EXPECT_EQ(a.messages, "\n.Error in readMRImageHeader().");
  EXPECT_EQ(a.header[149806], std::byte{1});
  EXPECT_EQ(a.header[149807], std::byte{0});  // not the 0xAA that stood there

  auto b = readHeaderOf(layoutB, HeaderBuilder(0));
  EXPECT_EQ(b.messages, "\n.Error in readMRImageHeader().");
  EXPECT_EQ(b.header[0], std::byte{0});
}

TEST(HeaderRead, LayoutCReadsTwoOverlappingRecords) {
  // The series read (62488, 2104 bytes) runs 56 bytes into the image record.
  HeaderBuilder file(64536 + 1568);
  file.put<float>(62488 + 64, 1.25f).put<float>(64536 + 392, -7.5f).put<float>(64536, 9.0f);
  auto whole = readHeaderOf(layoutC, file);
  EXPECT_EQ(whole.messages, "");
  EXPECT_EQ(pfile::load<float>(whole.header, 64), 1.25f);
  EXPECT_EQ(pfile::load<float>(whole.header, 2104 + 392), -7.5f);
  EXPECT_EQ(pfile::load<float>(whole.header, 2048), 9.0f);  // image byte 0 seen from the series
  EXPECT_EQ(pfile::load<float>(whole.header, 2104), 9.0f);

  auto after_series = readHeaderOf(layoutC, HeaderBuilder(62488 + 2104));
  EXPECT_EQ(after_series.status, 1);
  EXPECT_EQ(after_series.messages, "\n.Error in readMRImageHeader().");

  auto tiny = readHeaderOf(layoutC, HeaderBuilder(10));
  EXPECT_EQ(tiny.messages, "\n.Error in readSeriesHeader().\n.Error in readMRImageHeader().");
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
      HeaderBuilder(7 + size).put<std::uint8_t>(7, 0x5A).write(dir / "whole");
      HeaderBuilder(7 + size - 1).write(dir / "short");
      std::vector<std::byte> record(size + 1, std::byte{0xAA});
      Capture out;

      int fd = openFile(dir / "whole");
      ASSERT_EQ(::lseek(fd, 7, SEEK_SET), 7);
      EXPECT_EQ(r.reader(*layouts[l], fd, record, out.file()), 0);
      EXPECT_EQ(record[0], std::byte{0x5A});
      EXPECT_EQ(record[size], std::byte{0});  // beyond the record: zero, never stale
      ::close(fd);
      EXPECT_EQ(out.text(), "");

      fd = openFile(dir / "short");
      ASSERT_EQ(::lseek(fd, 7, SEEK_SET), 7);
      EXPECT_NE(r.reader(*layouts[l], fd, record, out.file()), 0);
      ::close(fd);
      EXPECT_EQ(out.text(), r.message);

      // A buffer too small for the record is refused, not overrun.
      Capture refused;
      std::vector<std::byte> small(size - 1);
      fd = openFile(dir / "whole");
      EXPECT_NE(r.reader(*layouts[l], fd, small, refused.file()), 0);
      ::close(fd);
      EXPECT_EQ(refused.text(), r.message);
    }
  }
}
