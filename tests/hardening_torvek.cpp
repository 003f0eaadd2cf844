// torvek builds on bad input: cut files at every record boundary, an empty
// file, a directory, a missing path, a FIFO without a writer and random bytes.
// A cut file must report exactly what the same file padded with zeros
// reports, plus the short-read messages: nothing undefined is ever printed.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <random>
#include <string>
#include <sys/stat.h>

#include "hardening_checks.hpp"
#include "support/files.hpp"
#include "support/run.hpp"

using hardening::cut;
using hardening::expectCleanEnd;
using testing_support::read_file;
using testing_support::run;
using testing_support::RunOptions;
using testing_support::RunResult;
using testing_support::TempDir;
using testing_support::write_file;

namespace {

constexpr char kSeriesMessage[] = "\n.Error in readSeriesHeader().";
constexpr char kImageMessage[] = "\n.Error in readMRImageHeader().";

struct Build {
  const char* program;
  const char* executable;
  const char* kind;              // mkpfile's name of the layout
  std::size_t full;              // the length from which every read is complete
  std::size_t start_ras_offset;  // file offset of the orientation letter
  const char* layout_report;     // golden file of the layout report, or none
};

// Layout A: series record at 144792, start_ras 1093 into it; header 149808.
// Layout B: series record at 46400, start_ras at 120; header 49568.
// Layout C: series read from 62488, start_ras at 465; image read ends at 66104.
const Build kA{"torvek-a", TORVEK_A, "a", 149808, 144792 + 1093, "layout_report_a.txt"};
const Build kB{"torvek-b", TORVEK_B, "b", 49568, 46400 + 120, "layout_report_b.txt"};
const Build kC{"torvek-c", TORVEK_C, "c", 66104, 62488 + 465, nullptr};

std::string layoutReport(const Build& build) {
  return build.layout_report ? read_file(std::string(GOLDEN_DIR) + "/" + build.layout_report)
                             : "";
}

// The short-read messages of a file of `length` bytes, in the order of the reads.
std::string shortReadMessages(const Build& build, std::size_t length) {
  if (build.kind == std::string("c")) {
    return std::string(length < 62488 + 2104 ? kSeriesMessage : "") +
           (length < 64536 + 1568 ? kImageMessage : "");
  }
  return length < build.full ? kImageMessage : "";
}

std::string validFile(const Build& build, const TempDir& dir) {
  const std::string path = dir / (std::string("valid-") + build.kind);
  const RunResult made = run({MKPFILE, build.kind, path});
  EXPECT_EQ(made.exit_code, 0) << made.err;
  return read_file(path);
}

// Runs the build on `pfile` from `dir`, as a user would from the Pfile's folder.
RunResult torvek(const Build& build, const TempDir& dir, const std::string& pfile,
                 RunOptions options = {}) {
  options.cwd = dir.path().string();
  return run({build.executable, pfile}, options);
}

// The message of an orientation letter that chooses no divisor.
std::string unknownLetter(const Build& build, unsigned char letter) {
  char shown[8];
  if (std::isprint(letter)) {
    std::snprintf(shown, sizeof shown, "'%c'", letter);
  } else {
    std::snprintf(shown, sizeof shown, "0x%02X", letter);
  }
  return std::string(build.program) + ": P.7: start_ras is " + shown +
         ", not one of R, L, A, P, S, I; the slab end is not computed\n";
}

void checkCuts(const Build& build, std::initializer_list<std::size_t> boundaries) {
  TempDir scratch;
  const std::string valid = validFile(build, scratch);
  ASSERT_EQ(valid.size(), build.full);
  for (const std::size_t length : hardening::cutLengths(build.full, 24, boundaries)) {
    const std::string what = std::string(build.program) + ", file cut to " +
                             std::to_string(length) + " bytes";
    TempDir cut_dir, padded_dir;
    write_file(cut_dir / "P.7", cut(valid, length));
    write_file(padded_dir / "P.7", cut(cut(valid, length), build.full));
    const RunResult r = torvek(build, cut_dir, "P.7");
    const RunResult padded = torvek(build, padded_dir, "P.7");
    expectCleanEnd(r, what);
    expectCleanEnd(padded, what + " (padded)");

    const std::string messages = shortReadMessages(build, length);
    const std::size_t first_line = padded.out.find('\n') + 1;
    EXPECT_EQ(r.out, padded.out.substr(0, first_line) + messages + padded.out.substr(first_line))
        << what;
    EXPECT_EQ(r.err, padded.err) << what;
    EXPECT_EQ(r.exit_code, messages.empty() ? padded.exit_code : 1) << what;
    // Cut before its letter, the series record reads as zeros.
    if (length <= build.start_ras_offset) {
      EXPECT_EQ(r.err, unknownLetter(build, 0)) << what;
    }
    if (length == build.full) {
      EXPECT_EQ(r.exit_code, 0) << what << "\n" << r.err;
    }
  }
}

}  // namespace

TEST(TorvekCutFiles, LayoutA) { checkCuts(kA, {0, 142832, 144792, 147352, 149808}); }
TEST(TorvekCutFiles, LayoutB) { checkCuts(kB, {0, 45272, 46400, 47992, 49568}); }
TEST(TorvekCutFiles, LayoutC) { checkCuts(kC, {0, 62488, 64536, 64592, 66104}); }

// An empty file, a directory and a FIFO nobody writes to all read as nothing:
// the same report as an empty file, status 1, and no wait for a writer.
TEST(TorvekBadInputs, EmptyFileDirectoryAndFifoReadAsNothing) {
  for (const Build* build : {&kA, &kB, &kC}) {
    TempDir empty_dir, directory_dir, fifo_dir;
    write_file(empty_dir / "P.7", "");
    const RunResult empty = torvek(*build, empty_dir, "P.7");
    expectCleanEnd(empty, build->program);
    EXPECT_EQ(empty.exit_code, 1);
    EXPECT_EQ(empty.err, unknownLetter(*build, 0));
    EXPECT_EQ(empty.out.rfind("Retrieving Rx info from pfile P.7!\n" +
                                  shortReadMessages(*build, 0), 0), 0u) << empty.out;

    std::filesystem::create_directory(directory_dir / "P.7");
    const RunResult directory = torvek(*build, directory_dir, "P.7");
    expectCleanEnd(directory, build->program);
    EXPECT_EQ(directory.exit_code, 1);
    EXPECT_EQ(directory.out, empty.out);
    EXPECT_EQ(directory.err, empty.err);

    ASSERT_EQ(mkfifo((fifo_dir / "P.7").c_str(), 0600), 0);
    const RunResult fifo = torvek(*build, fifo_dir, "P.7", {.timeout = std::chrono::seconds(10)});
    expectCleanEnd(fifo, build->program);
    EXPECT_EQ(fifo.exit_code, 1);
    EXPECT_EQ(fifo.out, empty.out);
    EXPECT_EQ(fifo.err, empty.err);
  }
}

// A path that does not exist, or that runs through a regular file: the open
// message, no report, the layout report, status 1.
TEST(TorvekBadInputs, UnopenablePathsPrintTheOpenMessage) {
  for (const Build* build : {&kA, &kB, &kC}) {
    TempDir dir;
    write_file(dir / "file", "not a directory\n");
    for (const std::string path : {"missing/P.7", "P.7", "file/sub"}) {
      const RunResult r = torvek(*build, dir, path);
      expectCleanEnd(r, build->program + std::string(" ") + path);
      EXPECT_EQ(r.exit_code, 1);
      EXPECT_EQ(r.out, "Can't open pfile " + path + "!\n" + layoutReport(*build));
      EXPECT_EQ(r.err, "");
    }
  }
}

// Random bytes of random lengths (fixed seed), half of them with a valid
// orientation letter so that the slab end is computed from random floats
// (NaN, infinities, the largest magnitudes). The status and the message on
// standard error follow from the length and the letter alone.
TEST(TorvekBadInputs, RandomBytes) {
  std::mt19937 random(20260108);
  for (const Build* build : {&kA, &kB, &kC}) {
    for (int i = 0; i < 8; ++i) {
      std::size_t length = i % 4 == 0 ? build->full
                                       : std::uniform_int_distribution<std::size_t>(
                                             0, build->full + 64)(random);
      std::string bytes(length, '\0');
      for (char& c : bytes) c = static_cast<char>(random() & 0xFF);
      if (i % 2 == 1 && length > build->start_ras_offset) bytes[build->start_ras_offset] = 'P';
      const unsigned char letter =
          length > build->start_ras_offset
              ? static_cast<unsigned char>(bytes[build->start_ras_offset]) : 0;
      const bool known = std::string_view("RLAPSI").find(static_cast<char>(letter)) !=
                         std::string_view::npos && letter != 0;

      TempDir dir;
      write_file(dir / "P.7", bytes);
      const RunResult r = torvek(*build, dir, "P.7");
      const std::string what = std::string(build->program) + ", random file " +
                               std::to_string(i) + " of " + std::to_string(length) + " bytes";
      expectCleanEnd(r, what);
      const bool complete = shortReadMessages(*build, length).empty();
      EXPECT_EQ(r.exit_code, complete && known ? 0 : 1) << what;
      EXPECT_EQ(r.err, known ? "" : unknownLetter(*build, letter)) << what;
      EXPECT_EQ(r.out.rfind("Retrieving Rx info from pfile P.7!\n" +
                                shortReadMessages(*build, length), 0), 0u) << what;
      EXPECT_EQ(r.out.find("\nEnd:\t") != std::string::npos, known) << what;
      const std::string tail = "---------------------------------\n" + layoutReport(*build);
      EXPECT_TRUE(r.out.ends_with(tail)) << what;
    }
  }
}

// The note's tool is started without a shell: a prefix full of shell syntax
// runs nothing of its own, whether the tool is missing (3dNotes) or present
// and failing on the odd name (nifti_tool, when installed).
TEST(TorvekBadInputs, ShellSyntaxInAPrefixRunsNothing) {
  TempDir dir;
  const std::string valid = validFile(kA, dir);
  write_file(dir / "P.7", valid);
  const std::string prefixes[] = {
      "x;touch INJECTED;#", "x$(touch INJECTED)", "x`touch INJECTED`", "x|touch INJECTED",
      "x.nii;touch INJECTED;#", "x.nii$(touch INJECTED)", "x.nii\ntouch INJECTED"};
  for (const std::string& prefix : prefixes) {
    const RunResult r = run({kA.executable, "-brik", prefix, "P.7"},
                            {.cwd = dir.path().string(), .env = {{"PATH", "/usr/bin:/bin"}}});
    expectCleanEnd(r, prefix);
    EXPECT_EQ(r.exit_code, 1) << prefix;  // no 3dNotes here; nifti_tool finds no such file
    EXPECT_NE(r.err.find("torvek-a: "), std::string::npos) << prefix << "\n" << r.err;
    EXPECT_FALSE(std::filesystem::exists(dir / "INJECTED")) << prefix;
  }
}
