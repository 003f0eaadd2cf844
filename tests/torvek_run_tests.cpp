// The three torvek builds run for real on synthetic Pfiles: whole standard
// output, standard error and exit status, grouped by kind: the usual
// output, the routes an input can take, cut and unreadable inputs, bad
// values in the header, and standard output that cannot be written.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <random>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "support/bad_input.hpp"
#include "support/builds.hpp"
#include "support/files.hpp"
#include "support/run.hpp"

using namespace testing_support;

namespace {

constexpr char kSeriesMessage[] = "\n.Error in readSeriesHeader().";
constexpr char kImageMessage[] = "\n.Error in readMRImageHeader().";
constexpr char kDashes[] = "---------------------------------\n";

// Where each layout keeps its Rx inputs in the file. Layout A: series record
// at 144792 (start_ras 1093 into it), image record at 147352 (norm_S at 716).
// Layout B: 46400 (120) and 47992 (156). Layout C: 62488 (465) and 64536 (412).
struct RxPlaces {
  std::size_t start_ras;   // file offset of the orientation letter
  std::size_t inputs_end;  // the file length from which every Rx input is read
};
RxPlaces rxPlaces(const Build& build) {
  switch (build.layout) {
    case 'a': return {144792 + 1093, 147352 + 716 + 4};
    case 'b': return {46400 + 120, 47992 + 156 + 4};
    default: return {62488 + 465, 64536 + 412 + 4};
  }
}

// The short-read messages of a file of `length` bytes, in read order.
std::string shortReadMessages(const Build& build, std::size_t length) {
  if (build.layout == 'c') {
    return std::string(length < 62488 + 2104 ? kSeriesMessage : "") +
           (length < 64536 + 1568 ? kImageMessage : "");
  }
  return length < build.full ? kImageMessage : "";
}

// The standard error line of a file of `length` bytes that is too short.
std::string holdsLine(const Build& build, std::size_t length) {
  return std::string(build.program) + ": P.7: the file holds " + std::to_string(length) +
         " bytes; layout " + char(build.layout - 'a' + 'A') + " reads " +
         std::to_string(build.full) + "\n";
}

// Standard output from "norm_R=" up to the layout report.
std::string rxReport(const std::string& out, const Build& build) {
  const auto from = out.find("norm_R=");
  const std::string report = layoutReport(build);
  if (from == std::string::npos || !out.ends_with(report)) return "<no report>";
  return out.substr(from, out.size() - report.size() - from);
}

// Runs the build on `pfile` from `dir`, as a user would from the Pfile's folder.
RunResult torvekIn(const Build& build, const TempDir& dir, const std::string& pfile,
                   RunOptions options = {}) {
  options.cwd = dir.path().string();
  return run({build.executable, pfile}, options);
}

// Runs `script` with sh, $0 being the build's executable and $1... `args`.
RunResult shell(const Build& build, const std::string& script,
                const std::vector<std::string>& args = {}) {
  std::vector<std::string> argv{"sh", "-c", script, build.executable};
  argv.insert(argv.end(), args.begin(), args.end());
  return run(argv);
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> result;
  for (std::size_t at = 0, end; at < text.size(); at = end + 1) {
    end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    result.push_back(text.substr(at, end - at + 1));
  }
  return result;
}

}  // namespace

// ---- The usual output -------------------------------------------------------

TEST(TorvekRun, WholeOutputOfLayoutsBAndC) {
  TempDir dir;
  for (const Build* build : {&kBuildB, &kBuildC}) {
    mkpfile(*build, dir / "P00000.7");
    const RunResult r = torvekIn(*build, dir, "P00000.7");
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.err, "");
    expect_golden(r.out, std::string("torvek_") + build->layout + "_run.txt");
  }
}

// An axial, a sagittal and an oblique slab (a normal with all three
// components, norm_S the divisor) in every build, torvek-rev20 included.
TEST(TorvekRun, AxialSagittalAndObliqueSlabsInEveryBuild) {
  TempDir dir;
  const auto report = [](const std::string& normal, const std::string& start,
                         const std::string& end) {
    return normal + "\n" + kDashes + " \tR/L\tA/P\tS/I\nStart:\t" + start + "\nEnd:\t" + end +
           "\n" + kDashes;
  };
  const struct {
    const char* name;
    std::vector<std::string> settings;
    std::string report;
  } slabs[] = {
      {"axial",
       {"start_ras=S", "start_loc=10", "end_loc=50", "ctr_R=0", "ctr_A=0", "ctr_S=10", "norm_R=0",
        "norm_A=0", "norm_S=1"},
       report("norm_R= 0.0000, norm_A=0.0000, norm_S=1.0000", "L0.0\tP0.0\tS10.0",
              "L0.0\tP0.0\tS50.0")},
      {"sagittal",
       {"start_ras=R", "start_loc=20", "end_loc=-20", "ctr_R=20", "ctr_A=0", "ctr_S=0", "norm_R=1",
        "norm_A=0", "norm_S=0"},
       report("norm_R= 1.0000, norm_A=0.0000, norm_S=0.0000", "R20.0\tP0.0\tS0.0",
              "L20.0\tP0.0\tS0.0")},
      // End: R = -(40 * 0.6 / 0.64 + 5), A = -(40 * 0.48 / 0.64 - 5), S = 40 + 10.
      {"oblique",
       {"start_ras=S", "start_loc=10", "end_loc=50", "ctr_R=5", "ctr_A=-5", "ctr_S=10",
        "norm_R=0.6", "norm_A=0.48", "norm_S=0.64"},
       report("norm_R= 0.6000, norm_A=0.4800, norm_S=0.6400", "R5.0\tP5.0\tS10.0",
              "R42.5\tA25.0\tS50.0")},
  };
  for (const Build* build : {kBuilds[0], kBuilds[1], kBuilds[2], &kBuildRev20}) {
    for (const auto& slab : slabs) {
      SCOPED_TRACE(std::string(build->program) + " " + slab.name);
      mkpfile(*build, dir / slab.name, slab.settings);
      const RunResult r = run({build->executable, dir / slab.name});
      EXPECT_EQ(r.exit_code, 0);
      EXPECT_EQ(rxReport(r.out, *build), slab.report);
      EXPECT_TRUE(r.out.starts_with("Retrieving Rx info from pfile " + (dir / slab.name) + "!\n"));
    }
  }
}

// --help and --version, alone on the command line, answer with status 0 in
// every executable of the package; beside other arguments "--help" is a Pfile
// path like any other. A torvek build run without arguments shows the same
// usage as --help, naming itself as invoked, but as a usage error: status 2,
// as for an unknown option.
TEST(StandardOptions, HelpVersionAndUsageErrors) {
  const std::string usage_tail = read_file(std::string(GOLDEN_DIR) + "/torvek_usage_tail.txt");
  const struct {
    const char* executable;
    const char* name;
  } programs[] = {{TORVEK_A, "torvek-a"}, {TORVEK_B, "torvek-b"}, {TORVEK_C, "torvek-c"},
                  {TORVEK_REV20, "torvek-rev20"}, {TORVEK, "torvek"}, {MELVANE, "melvane"}};
  // torvek's --help also names the revisions it reads.
  const std::string revisions =
      "Reads the Pfiles of scanner software revisions 7.0 to 30.1, in either byte order:\n"
      "7.0, 9.0, 11.0, 14.0, 14.3, 15.000, 15.001, 16.000, 20.005-20.007, 24.0, 26.002, "
      "27.000, 27.001, 28.000-28.003, 30.0, 30.1.\n";
  for (const auto& program : programs) {
    SCOPED_TRACE(program.name);
    const RunResult version = run({program.executable, "--version"});
    EXPECT_EQ(version.exit_code, 0);
    EXPECT_EQ(version.out, std::string(program.name) +
                               " (torvek-melvane) 1.0\n"
                               "Copyright (C) 2026 The torvek-melvane developers.\n"
                               "License MIT: <https://opensource.org/license/mit>.\n"
                               "This is free software: you are free to change and redistribute it.\n"
                               "There is NO WARRANTY, to the extent permitted by law.\n");
    EXPECT_EQ(version.err, "");
    const RunResult help = run({program.executable, "--help"});
    EXPECT_EQ(help.exit_code, 0);
    EXPECT_EQ(help.err, "");
    if (program.name == std::string("melvane")) {
      EXPECT_TRUE(help.out.starts_with("usage: melvane pfile\n")) << help.out;
      continue;
    }
    const std::string usage =
        "\nReading Rx info from GE Pfile header.\nUsage: " + std::string(program.executable) +
        usage_tail;
    EXPECT_EQ(help.out, usage + (program.name == std::string("torvek") ? revisions : ""));
    const RunResult none = run({program.executable});
    EXPECT_EQ(none.exit_code, 2);
    EXPECT_EQ(none.err, "");
    EXPECT_EQ(none.out, usage);
  }
  const RunResult unknown = run({kBuildA.executable, "-x", "file"});
  EXPECT_EQ(unknown.exit_code, 2);
  EXPECT_EQ(unknown.out.find("RDB_HEADER"), std::string::npos);  // the run never started
  EXPECT_EQ(run({kBuildC.executable, "-brick", "x", "P.7"}).exit_code, 2);
  const RunResult pfile = run({kBuildB.executable, "-debug", "--help"});
  EXPECT_EQ(pfile.exit_code, 1);
  EXPECT_TRUE(pfile.out.starts_with("Can't open pfile --help!")) << pfile.out;
}

// Each message on standard error follows the standard output it explains,
// also when both go to one file: an unopenable Pfile, a short one, and a
// refused note after a whole report.
TEST(TorvekRun, MessagesFollowTheOutputTheyExplain) {
  TempDir dir;
  write_file(dir / "empty", "");
  mkpfile(kBuildB, dir / "P.7");
  const std::string report = layoutReport(kBuildB);
  for (const std::vector<std::string>& args : {std::vector<std::string>{dir / "missing"},
                                               {dir / "empty"},
                                               {"-brik", "-x", dir / "P.7"}}) {
    SCOPED_TRACE(args.back());
    const RunResult apart = shell(kBuildB, "exec \"$0\" \"$@\"", args);
    const RunResult merged = shell(kBuildB, "exec \"$0\" \"$@\" 2>&1", args);
    ASSERT_NE(apart.err, "");
    EXPECT_EQ(merged.out, apart.out.substr(0, apart.out.size() - report.size()) + apart.err + report);
  }
}

// ---- Input routes: the same bytes give the same run -------------------------

// A Pfile longer than its header read as a regular file, through a pipe that
// hands it over in pieces of 997 bytes (a pipe holds at most 64 KiB, less
// than layouts A and C read, so reads come back partial), through a FIFO, and
// through /dev/stdin on each: the same output and status.
TEST(TorvekInputRoutes, FilePipeAndFifoGiveTheSameRun) {
  for (const Build* build : kBuilds) {
    SCOPED_TRACE(build->program);
    TempDir dir;
    mkpfile(*build, dir / "P.7", {"size=" + std::to_string(build->full + 5000)});
    const std::vector<std::string> args{dir / "P.7", dir / "fifo"};
    const RunResult file = shell(*build, "exec \"$0\" /dev/stdin < \"$1\"", args);
    EXPECT_EQ(file.exit_code, 0);
    EXPECT_EQ(file.err, "");
    EXPECT_NE(file.out.find("Start:\tR1.5\tP12.2\tS10.0\nEnd:\tR1.5\tA5.4\tS110.0\n"),
              std::string::npos) << file.out;

    const RunResult pipe =
        shell(*build, "dd if=\"$1\" bs=997 2>/dev/null | \"$0\" /dev/stdin", args);
    const RunResult fifo = shell(
        *build, "mkfifo \"$2\" && { cat \"$1\" > \"$2\" & } && exec \"$0\" /dev/stdin < \"$2\"",
        args);
    for (const RunResult* other : {&pipe, &fifo}) {
      EXPECT_EQ(other->out, file.out);
      EXPECT_EQ(other->err, file.err);
      EXPECT_EQ(other->exit_code, file.exit_code);
    }
  }
}

// Character devices: /dev/null reads as an empty file, /dev/zero as a file
// of zeros longer than the header.
TEST(TorvekInputRoutes, CharacterDevicesReadLikeFilesOfTheSameBytes) {
  for (const Build* build : kBuilds) {
    SCOPED_TRACE(build->program);
    TempDir dir;
    write_file(dir / "empty", "");
    write_file(dir / "zeros", std::string(build->full + 10, '\0'));
    const std::string via_stdin = "exec \"$0\" /dev/stdin < \"$1\"";
    const RunResult null_device = shell(*build, via_stdin, {"/dev/null"});
    const RunResult empty = shell(*build, via_stdin, {dir / "empty"});
    EXPECT_EQ(null_device.out, empty.out);
    EXPECT_EQ(null_device.err, empty.err);
    EXPECT_EQ(null_device.exit_code, 1);
    const RunResult zero_device = shell(*build, via_stdin, {"/dev/zero"});
    const RunResult zeros = shell(*build, via_stdin, {dir / "zeros"});
    EXPECT_EQ(zero_device.out, zeros.out);
    EXPECT_EQ(zero_device.err, zeros.err);
    EXPECT_EQ(zero_device.exit_code, zeros.exit_code);
  }
}

// ---- Cut, empty, unreadable and unopenable inputs ---------------------------

namespace {

// A file cut to any length reports what the same file padded with zeros
// reports, plus the short-read messages on standard output and, on
// standard error, how many bytes it holds. Values it does not hold are never
// blamed: not the orientation letter of a file cut before it, not a divisor
// it did not read. Cuts fall around the record boundaries, the orientation
// letter and the end of the last Rx input.
void checkCuts(const Build& build, std::initializer_list<std::size_t> boundaries,
               const std::vector<std::string>& settings = {}) {
  TempDir scratch;
  mkpfile(build, scratch / "valid", settings);
  const std::string valid = read_file(scratch / "valid");
  ASSERT_EQ(valid.size(), build.full);
  const RxPlaces places = rxPlaces(build);
  std::vector<std::size_t> lengths = testing_support::cutLengths(build.full, 24, boundaries);
  for (const std::size_t length :
       testing_support::cutLengths(build.full, 1, {places.start_ras, places.inputs_end})) {
    lengths.push_back(length);
  }
  for (const std::size_t length : lengths) {
    const std::string what = std::string(build.program) + ", file cut to " +
                             std::to_string(length) + " bytes";
    TempDir cut_dir, padded_dir;
    write_file(cut_dir / "P.7", cut(valid, length));
    write_file(padded_dir / "P.7", cut(cut(valid, length), build.full));
    const RunResult r = torvekIn(build, cut_dir, "P.7");
    const RunResult padded = torvekIn(build, padded_dir, "P.7");
    expectCleanEnd(r, what);
    expectCleanEnd(padded, what + " (padded)");

    const std::string messages = shortReadMessages(build, length);
    const std::size_t first_line = padded.out.find('\n') + 1;
    EXPECT_EQ(r.out, padded.out.substr(0, first_line) + messages + padded.out.substr(first_line))
        << what;
    if (length >= build.full) {
      EXPECT_EQ(r.err, padded.err) << what;
      EXPECT_EQ(r.exit_code, padded.exit_code) << what;
      continue;
    }
    EXPECT_EQ(r.exit_code, 1) << what;
    std::string expected_err = holdsLine(build, length);
    for (const std::string& line : lines(padded.err)) {
      const bool about_letter = line.find(": start_ras is ") != std::string::npos;
      if (about_letter ? length > places.start_ras : length >= places.inputs_end) {
        expected_err += line;
      }
    }
    EXPECT_EQ(r.err, expected_err) << what;
    if (length <= places.start_ras) {
      EXPECT_EQ(r.out.find("End:"), std::string::npos) << what;
    }
  }
}

}  // namespace

TEST(TorvekCutInputs, LayoutAReadsLikeTheZeroPaddedFile) {
  checkCuts(kBuildA, {0, 142832, 144792, 147352, 149808});
}
TEST(TorvekCutInputs, LayoutBReadsLikeTheZeroPaddedFile) {
  checkCuts(kBuildB, {0, 45272, 46400, 47992, 49568});
}
TEST(TorvekCutInputs, LayoutCReadsLikeTheZeroPaddedFile) {
  checkCuts(kBuildC, {0, 62488, 64536, 64592, 66104});
}
// A zero divisor is blamed from the length at which norm_S, the last Rx
// input, has been read whole.
TEST(TorvekCutInputs, AZeroDivisorIsBlamedOnlyOnceItIsRead) {
  checkCuts(kBuildB, {}, {"start_ras=S", "norm_S=0"});
}

// A directory and a FIFO nobody writes to read as nothing: the same standard
// output as an empty file, status 1, and no wait for a writer. The directory's read error is named on standard error.
TEST(TorvekBadInputs, EmptyFileDirectoryAndFifoReadAsNothing) {
  for (const Build* build : kBuilds) {
    TempDir empty_dir, directory_dir, fifo_dir;
    write_file(empty_dir / "P.7", "");
    const RunResult empty = torvekIn(*build, empty_dir, "P.7");  // checked with the cuts

    std::filesystem::create_directory(directory_dir / "P.7");
    const RunResult directory = torvekIn(*build, directory_dir, "P.7");
    expectCleanEnd(directory, build->program);
    EXPECT_EQ(directory.exit_code, 1);
    EXPECT_EQ(directory.out, empty.out);
    EXPECT_EQ(directory.err, std::string(build->program) + ": P.7: Is a directory\n");

    ASSERT_EQ(mkfifo((fifo_dir / "P.7").c_str(), 0600), 0);
    const RunResult fifo =
        torvekIn(*build, fifo_dir, "P.7", {.timeout = std::chrono::seconds(10)});
    expectCleanEnd(fifo, build->program);
    EXPECT_EQ(fifo.exit_code, 1);
    EXPECT_EQ(fifo.out, empty.out);
    EXPECT_EQ(fifo.err, empty.err);
  }
}

// A path that does not exist, or that runs through a regular file: the open
// message and the layout report on standard output, the path and the system
// error on standard error, status 1.
TEST(TorvekBadInputs, UnopenablePathsAreNamedWithTheSystemError) {
  for (const Build* build : kBuilds) {
    TempDir dir;
    write_file(dir / "file", "not a directory\n");
    for (const auto& [path, error] :
         {std::pair{"missing/P.7", "No such file or directory"},
          std::pair{"file/sub", "Not a directory"}}) {
      const RunResult r = torvekIn(*build, dir, path);
      expectCleanEnd(r, build->program + std::string(" ") + path);
      EXPECT_EQ(r.exit_code, 1);
      EXPECT_EQ(r.out, "Can't open pfile " + std::string(path) + "!\n" + layoutReport(*build));
      EXPECT_EQ(r.err, std::string(build->program) + ": " + path + ": " + error + "\n");
    }
  }
}

// ---- Bad values in the header ------------------------------------------------

TEST(TorvekBadValues, AnUnknownStartLetterLeavesOutTheEndLine) {
  TempDir dir;
  for (const Build* build : kBuilds) {
    for (const auto& [setting, shown] : {std::pair{"start_ras=s", "'s'"},
                                         std::pair{"start_ras=\x01", "0x01"}}) {
      mkpfile(*build, dir / "P.7", {setting});
      const RunResult r = torvekIn(*build, dir, "P.7");
      EXPECT_EQ(r.exit_code, 1);
      EXPECT_EQ(rxReport(r.out, *build),
                "norm_R= 0.0000, norm_A=0.1736, norm_S=0.9848\n"
                "---------------------------------\n"
                " \tR/L\tA/P\tS/I\n"
                "Start:\tR1.5\tP12.2\tS10.0\n"
                "---------------------------------\n");
      EXPECT_EQ(r.err, std::string(build->program) + ": P.7: start_ras is " + shown +
                           ", not one of R, L, A, P, S, I; the slab end is not computed\n");
    }
  }
}

// A zero divisor in the header: the report as usual, then on standard
// error which values are not finite and why; status 1.
TEST(TorvekBadValues, ANonFiniteRxIsAFailureThatSaysWhy) {
  TempDir dir;
  for (const Build* build : kBuilds) {
    SCOPED_TRACE(build->program);
    mkpfile(*build, dir / "P.7", {"start_ras=S", "norm_S=0"});
    const RunResult zero = torvekIn(*build, dir, "P.7");
    EXPECT_EQ(zero.exit_code, 1);
    EXPECT_NE(zero.out.find("Start:\tR1.5\tP12.2\tS10.0\nEnd:\tLnan\tAinf\tSnan\n" +
                            std::string(kDashes)),
              std::string::npos) << zero.out;
    EXPECT_EQ(zero.err, std::string(build->program) +
                            ": P.7: the Rx is not finite (End R/L, End A/P, End S/I): "
                            "the divisor norm_S is 0\n");
  }
}

// Random bytes of random lengths (fixed seed), half of them with the letter
// P so that the slab end is computed from random floats (NaN, infinities,
// the largest magnitudes), the other half with the unknown letter 0x7F. No
// run crashes; the status and standard error agree with what was read.
TEST(TorvekBadValues, RandomBytesEndCleanlyWithTheStatusOfWhatWasRead) {
  std::mt19937 random(20260108);
  for (const Build* build : kBuilds) {
    const std::size_t letter_at = rxPlaces(*build).start_ras;
    for (int i = 0; i < 8; ++i) {
      const std::size_t length =
          i % 4 == 0 ? build->full
                     : std::uniform_int_distribution<std::size_t>(0, build->full + 64)(random);
      std::string bytes(length, '\0');
      for (char& c : bytes) c = static_cast<char>(random() & 0xFF);
      const bool known = i % 2 == 1;
      if (length > letter_at) bytes[letter_at] = known ? 'P' : '\x7f';

      TempDir dir;
      write_file(dir / "P.7", bytes);
      const RunResult r = torvekIn(*build, dir, "P.7");
      const std::string what = std::string(build->program) + ", random file " +
                               std::to_string(i) + " of " + std::to_string(length) + " bytes";
      expectCleanEnd(r, what);
      const bool complete = length >= build->full;
      const std::string letter_line = std::string(build->program) +
                                      ": P.7: start_ras is 0x7F, not one of R, L, A, P, S, I; "
                                      "the slab end is not computed\n";
      EXPECT_TRUE(r.out.starts_with("Retrieving Rx info from pfile P.7!\n" +
                                    shortReadMessages(*build, length))) << what;
      EXPECT_TRUE(r.out.ends_with(kDashes + layoutReport(*build))) << what;
      if (!complete) {
        EXPECT_EQ(r.exit_code, 1) << what;
        EXPECT_TRUE(r.err.starts_with(holdsLine(*build, length))) << what;
      } else if (!known) {
        EXPECT_EQ(r.exit_code, 1) << what;
        EXPECT_TRUE(r.err.starts_with(letter_line)) << what;
      } else {
        EXPECT_EQ(r.exit_code, r.err.empty() ? 0 : 1) << what;
        EXPECT_TRUE(r.err.empty() ||
                    r.err.find(": P.7: the Rx is not finite (") != std::string::npos ||
                    r.err.find(": P.7: the slab normal has length ") != std::string::npos)
            << what << "\n" << r.err;
      }
      EXPECT_EQ(r.out.find("\nEnd:\t") != std::string::npos, known && length > letter_at) << what;
    }
  }
}

// ---- Standard output that cannot be written ---------------------------------

TEST(TorvekUnwritableOutput, AFullOrClosedStandardOutputIsAFailure) {
  TempDir dir;
  mkpfile(kBuildB, dir / "P.7");
  const RunResult full = shell(kBuildB, "exec \"$0\" \"$1\" > /dev/full", {dir / "P.7"});
  EXPECT_EQ(full.exit_code, 1);
  EXPECT_EQ(full.err, "torvek-b: standard output: No space left on device\n");
  const RunResult closed = shell(kBuildB, "exec \"$0\" \"$1\" >&-", {dir / "P.7"});
  EXPECT_EQ(closed.exit_code, 1);
  EXPECT_TRUE(closed.err.starts_with("torvek-b: standard output: ")) << closed.err;
}

TEST(TorvekUnwritableOutput, AUsageTextThatCannotBeWrittenIsAFailure) {
  const RunResult full = shell(kBuildB, "exec \"$0\" > /dev/full");
  EXPECT_EQ(full.exit_code, 2);  // still a usage error first
  EXPECT_EQ(full.err, "torvek-b: standard output: No space left on device\n");
  const RunResult unknown = shell(kBuildB, "exec \"$0\" -x file > /dev/full");
  EXPECT_EQ(unknown.exit_code, 2);
  EXPECT_EQ(shell(kBuildB, "exec \"$0\" > /dev/null").exit_code, 2);
  for (const char* option : {"--help", "--version"}) {
    const RunResult answer = shell(kBuildB, "exec \"$0\" \"$1\" > /dev/full", {option});
    EXPECT_EQ(answer.exit_code, 1) << option;
    EXPECT_EQ(answer.err, "torvek-b: standard output: No space left on device\n") << option;
  }
}

// ---- torvek: every revision of the revision table ----------------------------

namespace {

// Where a revision keeps what this test writes, from the facts of the
// revisions: the header size, the exam, series and image records, and in
// them the exam number (exam record; its copy in the series record), the
// start_ras letter, start_loc and end_loc (series record), the field of view,
// the centre and the normal (image record), the three corners following the
// normal as nine floats.
struct Places {
  const char* revision;
  std::size_t header, exam, series, image;
  std::size_t exam_number, series_exam, start_ras, start_loc, end_loc;
  std::size_t fov, centre, normal;
};
constexpr std::size_t kExam7 = 8, kExam11 = 128, kExam14_3 = 272, kExam20 = 696;
struct SeriesAt { std::size_t exam, start_ras, start_loc, end_loc; };
constexpr SeriesAt kSeries7{8, 120, 124, 132}, kSeries11{188, 409, 40, 44},
    kSeries14_3{348, 617, 72, 76}, kSeries20{808, 1093, 272, 276};
struct ImageAt { std::size_t fov, centre, normal; };
constexpr ImageAt kImage7{36, 136, 148}, kImage11{0, 392, 404}, kImage14_3{64, 456, 468},
    kImage16{112, 504, 516}, kImage20{304, 696, 708};

constexpr Places places(const char* revision, std::size_t header, std::size_t exam,
                        std::size_t series, std::size_t image, std::size_t exam_number,
                        SeriesAt s, ImageAt i) {
  return {revision, header, exam, series, image, exam_number, s.exam, s.start_ras,
          s.start_loc, s.end_loc, i.fov, i.centre, i.normal};
}

constexpr Places kEveryRevision[] = {
    places("7.0", 39984, 36872, 37912, 38940, kExam7, kSeries7, kImage7),
    places("9.0", 61464, 57352, 58392, 59928, kExam7, kSeries7, kImage7),
    places("11.0", 66072, 61448, 62488, 64536, kExam11, kSeries11, kImage11),
    places("14.0", 135704, 131080, 132120, 134168, kExam11, kSeries11, kImage11),
    places("14.3", 145908, 140772, 141812, 143860, kExam14_3, kSeries14_3, kImage14_3),
    places("15.000", 145908, 140772, 141812, 143860, kExam14_3, kSeries14_3, kImage14_3),
    places("15.001", 145908, 140772, 141812, 143860, kExam14_3, kSeries14_3, kImage14_3),
    places("16.000", 145908, 140772, 141812, 143860, kExam14_3, kSeries14_3, kImage16),
    places("20.005", 149788, 142820, 144780, 147340, kExam20, kSeries20, kImage20),
    places("20.006", 149788, 142820, 144780, 147340, kExam20, kSeries20, kImage20),
    places("20.007", 149788, 142820, 144780, 147340, kExam20, kSeries20, kImage20),
    places("24.0", 157276, 142820, 144780, 147340, kExam20, kSeries20, kImage20),
    places("26.002", 213684, 193660, 195620, 198180, kExam20, kSeries20, kImage20),
    places("27.000", 219828, 193660, 195620, 198180, kExam20, kSeries20, kImage20),
    places("27.001", 228020, 201852, 203812, 206372, kExam20, kSeries20, kImage20),
    places("28.000", 228020, 201852, 203812, 206372, kExam20, kSeries20, kImage20),
    places("28.002", 228020, 201852, 203812, 206372, kExam20, kSeries20, kImage20),
    places("28.003", 228020, 201852, 203812, 206372, kExam20, kSeries20, kImage20),
    places("30.0", 228020, 201852, 203812, 206372, kExam20, kSeries20, kImage20),
    places("30.1", 228020, 201852, 203812, 206372, kExam20, kSeries20, kImage20),
};

// mkpfile settings that write `value` at absolute offset `at`.
std::string f32At(std::size_t at, float value) {
  return "f32@" + std::to_string(at) + "=" + std::to_string(value);
}

// The slab this test writes into every revision: a unit normal with no zero
// component, start_ras A, and the corners of a 220 mm square around the
// centre in the plane of that normal.
constexpr float kNormal[3] = {0.48f, 0.6f, 0.64f}, kCentre[3] = {-7.5f, 21, 33}, kFov = 220;

std::vector<std::string> slabSettings(const Places& p) {
  const std::size_t image = p.image, series = p.series;
  std::vector<std::string> settings = {
      "u8@" + std::to_string(series + p.start_ras) + "=65",  // 'A'
      f32At(series + p.start_loc, -12), f32At(series + p.end_loc, 18),
      f32At(image + p.fov, kFov),
      "u16@" + std::to_string(p.exam + p.exam_number) + "=777",
      "u16@" + std::to_string(series + p.series_exam) + "=777"};
  // Across: the unit vector (0.8, -0.64, 0) / |.|, in the plane; down: across x normal.
  const double norm = std::sqrt(0.8 * 0.8 + 0.64 * 0.64);
  const double u[3] = {0.8 / norm, -0.64 / norm, 0};
  const double n[3] = {kNormal[0], kNormal[1], kNormal[2]};
  const double v[3] = {n[1] * u[2] - n[2] * u[1], n[2] * u[0] - n[0] * u[2],
                       n[0] * u[1] - n[1] * u[0]};
  const double half = kFov / 2;
  const double corner_steps[3][2] = {{-half, half}, {half, half}, {half, -half}};
  for (std::size_t k = 0; k < 3; ++k) {
    settings.push_back(f32At(image + p.centre + 4 * k, kCentre[k]));
    settings.push_back(f32At(image + p.normal + 4 * k, kNormal[k]));
  }
  for (std::size_t c = 0; c < 3; ++c) {
    for (std::size_t k = 0; k < 3; ++k) {
      const double at = kCentre[k] + corner_steps[c][0] * u[k] + corner_steps[c][1] * v[k];
      settings.push_back(f32At(image + p.normal + 12 + 12 * c + 4 * k, static_cast<float>(at)));
    }
  }
  return settings;
}

}  // namespace

// Each revision in both byte orders, its slab written at the places stated
// above (not the table's): torvek reads the whole header, and its report is
// the slab's. Start: (-ctr_R, -ctr_A, ctr_S) = L7.5 A21.0 S33.0; the end
// moves by (end_loc - start_loc) / norm_A = 50 along the normal from
// the centre: (-(-7.5 + 24), -(21 + 30), 33 + 32) = R16.5 A51.0 S65.0.
TEST(TorvekEveryRevision, ReadsTheSlabAtItsRevisionsPlacesInEitherByteOrder) {
  const std::string report =
      "norm_R= 0.4800, norm_A=0.6000, norm_S=0.6400\n" + std::string(kDashes) +
      " \tR/L\tA/P\tS/I\n"
      "Start:\tL7.5\tA21.0\tS33.0\n"
      "End:\tR16.5\tA51.0\tS65.0\n" + kDashes;
  TempDir dir;
  for (const Places& p : kEveryRevision) {
    for (const char* order : {"order=le", "order=be"}) {
      SCOPED_TRACE(std::string(p.revision) + " " + order);
      std::vector<std::string> settings = slabSettings(p);
      settings.push_back(order);
      mkpfile(std::string("rev=") + p.revision, dir / "P.7", settings);
      EXPECT_EQ(std::filesystem::file_size(dir / "P.7"), p.header);
      const RunResult r = torvekIn(kBuildScanner, dir, "P.7");
      EXPECT_EQ(r.err, "");
      EXPECT_EQ(r.exit_code, 0);
      EXPECT_EQ(r.out, "Retrieving Rx info from pfile P.7!\n" + report);
    }
  }
}

// A header that disagrees with itself: the report as usual, status 1, and a
// message naming the revision and the check. Corners all zero are not
// checked. torvek-rev20 checks its revisions the same way.
TEST(TorvekEveryRevision, AHeaderThatDisagreesWithItselfFailsTheRun) {
  const std::string question = "'s table right for this file?\n";
  const struct {
    const Build& build;
    std::string kind;
    std::vector<std::string> settings;
    std::string err;  // after "PROGRAM: P.7: "; empty: status 0
  } cases[] = {
      {kBuildScanner, "rev=24.0", {"tlhc_R=50"},
       "the normal disagrees with the image corners: is revision 24.0" + question},
      // An axial slab whose top left corner (S at 147340 + 728) lies 24 mm
      // above the plane, 5.7 degrees off; 2 mm, 0.5 degrees, passes.
      {kBuildScanner, "rev=24.0", {"norm_R=0", "norm_A=0", "norm_S=1", "f32@148068=39"},
       "the normal disagrees with the image corners: is revision 24.0" + question},
      {kBuildScanner, "rev=24.0", {"norm_R=0", "norm_A=0", "norm_S=1", "f32@148068=17"}, ""},
      // A named corner leaves the others zero: the corners lie on one line.
      {kBuildScanner, "rev=9.0", {"order=be", "brhc_R=1"},
       "the normal disagrees with the image corners: is revision 9.0" + question},
      // The field of view of 16.000's image record, at 143860 + 112.
      {kBuildScanner, "rev=16.000", {"f32@143972=200"},
       "the image corners span 240.0 mm where the field of view is 200.0 mm: is revision "
       "16.000" + question},
      {kBuildScanner, "rev=14.3", {"series_exam=7", "order=be"},
       "the exam number is 4321 in the exam record and 7 in the series record: is revision "
       "14.3" + question},
      {kBuildScanner, "rev=28.002", {"norm_R=1.1", "corners=0"},
       "the slab normal has length 1.4833, not 1: is revision 28.002" + question},
      {kBuildScanner, "rev=30.1",
       {"corners=0", "norm_R=0.6", "norm_A=0.8", "norm_S=0", "start_ras=A"}, ""},
      {kBuildScanner, "rev20", {"norm_R=1", "norm_A=0", "norm_S=1e-30", "start_ras=S"},
       "End R/L lies at -1e+31 mm, beyond any bore (10000 mm): is revision 20.006" + question},
      {kBuildRev20, "rev20", {"norm_R=1", "norm_A=0", "norm_S=1e-30", "start_ras=S"},
       "End R/L lies at -1e+31 mm, beyond any bore (10000 mm): is revision 20.006" + question},
      {kBuildRev20, "rev20", {"rev=20.007", "exam=12", "u16@145588=13"},
       "the exam number is 12 in the exam record and 13 in the series record: is revision "
       "20.007" + question},
  };
  TempDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.kind + " " + c.settings.front());
    mkpfile(c.kind, dir / "P.7", c.settings);
    const RunResult r = torvekIn(c.build, dir, "P.7");
    EXPECT_EQ(r.exit_code, c.err.empty() ? 0 : 1);
    EXPECT_EQ(r.err, c.err.empty() ? "" : std::string(c.build.program) + ": P.7: " + c.err);
    EXPECT_TRUE(r.out.ends_with(kDashes) && r.out.find("\nEnd:\t") != std::string::npos) << r.out;
  }
}

// A revision outside the table, or offset words that do not hold: no report,
// no note, status 1; standard output only the first line.
TEST(TorvekEveryRevision, AnUnknownRevisionOrAWordThatDoesNotHoldIsRefused) {
  const std::string every =
      "7.0, 9.0, 11.0, 14.0, 14.3, 15.000, 15.001, 16.000, 20.005-20.007, 24.0, 26.002, "
      "27.000, 27.001, 28.000-28.003, 30.0, 30.1";
  const struct {
    std::string kind;
    std::vector<std::string> settings;
    std::string err;
  } cases[] = {
      // 26.003, 0x41D00625, in either order.
      {"rev=26.002", {"u32@0=0x41D00625"},
       "revision 26.003000 is not one this program reads (it reads " + every + ")"},
      {"rev=26.002", {"u32@0=0x41D00625", "order=be"},
       "revision 26.003000 is not one this program reads (it reads " + every + ")"},
      {"rev=26.002", {"s32@36=9999999"},
       "the word at 36 gives the series record at 9999999, outside the 213684-byte header"},
      {"rev=27.000", {"s32@40=219000", "order=be"},
       "the word at 40 gives the image record at 219000, outside the 219828-byte header"},
      {"rev=14.3", {"s32@1496=140776"},
       "the word at 1496 gives the exam record at 140776 where revision 14.3 has 140772"},
      {"rev=24.0", {"s32@1468=149788"},
       "the word at 1468 gives a header of 149788 where revision 24.0 has 157276"},
      // 27.001's slice table: 2048 entries from the word at 16 to the one at 20.
      {"rev=30.1", {"s32@20=36864"},
       "the words at 16 and 20 give a slice table from 36864 to 36864, not 2048 entries of "
       "at least 40 bytes inside the 228020-byte header"},
      {"rev=9.0", {"size=3"},
       "the file ends before its revision (its first 4 bytes); this program reads revisions " +
           every},
  };
  TempDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.kind + " " + c.settings.front());
    mkpfile(c.kind, dir / "P.7", c.settings);
    const RunResult r = run({kBuildScanner.executable, "-brik", "anat", "P.7"},
                            {.cwd = dir.path().string()});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.out, "Retrieving Rx info from pfile P.7!\n");
    EXPECT_TRUE(r.err.starts_with("torvek: P.7: " + c.err +
                                  "\ntorvek: anat+orig: the Rx is not written"))
        << r.err;
  }
}
