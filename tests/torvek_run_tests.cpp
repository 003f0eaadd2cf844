// Golden tests of the three torvek builds: whole standard output, standard
// error and exit status of real runs on synthetic Pfiles.
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "support/files.hpp"
#include "support/run.hpp"

using testing_support::expect_golden;
using testing_support::read_file;
using testing_support::run;
using testing_support::RunResult;
using testing_support::TempDir;

namespace {

struct Build {
  char layout;  // as mkpfile names it
  const char* exe;
};
const Build kBuilds[] = {{'a', TORVEK_A}, {'b', TORVEK_B}, {'c', TORVEK_C}};

void mkpfile(const Build& build, const std::string& path, std::vector<std::string> settings = {}) {
  std::vector<std::string> argv{MKPFILE, std::string(1, build.layout), path};
  argv.insert(argv.end(), settings.begin(), settings.end());
  const RunResult made = run(argv);
  ASSERT_EQ(made.exit_code, 0) << made.err;
}

// The layout report of a build, which ends every layout A and B run.
std::string layoutReport(const Build& build) {
  if (build.layout == 'c') return "";
  return read_file(std::string(GOLDEN_DIR) + "/layout_report_" + build.layout + ".txt");
}

// Standard output from "norm_R=" up to the layout report.
std::string rxReport(const std::string& out, const Build& build) {
  const auto from = out.find("norm_R=");
  const std::string report = layoutReport(build);
  if (from == std::string::npos || out.size() < report.size()) return "<no report>";
  return out.substr(from, out.size() - report.size() - from);
}

}  // namespace

TEST(TorvekRun, WholeOutputOfLayoutsBAndC) {
  TempDir dir;
  for (const Build& build : {kBuilds[1], kBuilds[2]}) {
    mkpfile(build, dir / "P00000.7");
    const RunResult r = run({build.exe, "P00000.7"}, {.cwd = dir.path().string()});
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.err, "");
    expect_golden(r.out, std::string("torvek_") + build.layout + "_run.txt");
  }
}

TEST(TorvekRun, TheDesignedRxExamplesInEveryBuild) {
  TempDir dir;
  const std::string axial =
      "norm_R= 0.0000, norm_A=0.0000, norm_S=1.0000\n"
      "---------------------------------\n"
      " \tR/L\tA/P\tS/I\n"
      "Start:\tL0.0\tP0.0\tS10.0\n"
      "End:\tL0.0\tP0.0\tS50.0\n"
      "---------------------------------\n";
  const std::string sagittal =
      "norm_R= 1.0000, norm_A=0.0000, norm_S=0.0000\n"
      "---------------------------------\n"
      " \tR/L\tA/P\tS/I\n"
      "Start:\tR20.0\tP0.0\tS0.0\n"
      "End:\tL20.0\tP0.0\tS0.0\n"
      "---------------------------------\n";
  for (const Build& build : kBuilds) {
    SCOPED_TRACE(build.exe);
    mkpfile(build, dir / "axial", {"start_ras=S", "start_loc=10", "end_loc=50", "ctr_R=0",
                                   "ctr_A=0", "ctr_S=10", "norm_R=0", "norm_A=0", "norm_S=1"});
    mkpfile(build, dir / "sagittal", {"start_ras=R", "start_loc=20", "end_loc=-20", "ctr_R=20",
                                      "ctr_A=0", "ctr_S=0", "norm_R=1", "norm_A=0", "norm_S=0"});
    const RunResult a = run({build.exe, dir / "axial"});
    EXPECT_EQ(a.exit_code, 0);
    EXPECT_EQ(rxReport(a.out, build), axial);
    const RunResult s = run({build.exe, dir / "sagittal"});
    EXPECT_EQ(rxReport(s.out, build), sagittal);
    EXPECT_TRUE(s.out.starts_with("Retrieving Rx info from pfile " + (dir / "sagittal") + "!\n"));
  }
}

TEST(TorvekRun, NegativeZeroAndNaNPrintWithThePositiveLetter) {
  TempDir dir;
  const Build& b = kBuilds[1];
  mkpfile(b, dir / "P", {"start_ras=A", "start_loc=0", "end_loc=0", "ctr_R=-0", "ctr_A=nan",
                         "ctr_S=-0", "norm_R=-0.5", "norm_A=1", "norm_S=0.123456"});
  const RunResult r = run({b.exe, dir / "P"});
  EXPECT_EQ(rxReport(r.out, b),
            "norm_R= -0.5000, norm_A=1.0000, norm_S=0.1235\n"
            "---------------------------------\n"
            " \tR/L\tA/P\tS/I\n"
            "Start:\tL0.0\tPnan\tS0.0\n"
            "End:\tL0.0\tPnan\tS0.0\n"
            "---------------------------------\n");
}

TEST(TorvekRun, UsageAndUnrecognizedOptionsEndWithStatusZero) {
  const RunResult none = run({TORVEK_C});
  EXPECT_EQ(none.exit_code, 0);
  expect_golden(none.out.substr(none.out.find(" [Options]")), "torvek_usage_tail.txt");
  EXPECT_EQ(none.out, "\nReading Rx info from GE Pfile header.\nUsage: " + std::string(TORVEK_C) +
                          none.out.substr(none.out.find(" [Options]")));

  const RunResult unknown = run({TORVEK_A, "-x", "file"});
  EXPECT_EQ(unknown.exit_code, 0);
  EXPECT_TRUE(unknown.out.starts_with("Option -x is not recognized\n\nReading Rx info"));
  EXPECT_EQ(unknown.out.find("RDB_HEADER"), std::string::npos);  // the run never started
}

TEST(TorvekRun, AnUnopenablePfileStillEndsWithTheLayoutReport) {
  for (const Build& build : kBuilds) {
    const RunResult r = run({build.exe, "/nonexistent/P12345.7"});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.out, "Can't open pfile /nonexistent/P12345.7!\n" + layoutReport(build));
    EXPECT_EQ(r.err, "");
  }
}

TEST(TorvekRun, ShortHeadersPrintTheReadMessageAndFail) {
  TempDir dir;
  const Build& a = kBuilds[0];
  mkpfile(a, dir / "full", {"size=149808"});
  EXPECT_EQ(run({a.exe, dir / "full"}).out.find("Error in"), std::string::npos);

  mkpfile(a, dir / "short", {"size=149807"});
  const RunResult one_short = run({a.exe, dir / "short"});
  EXPECT_EQ(one_short.exit_code, 1);
  const std::string message = "\n.Error in readMRImageHeader().";
  const auto at = one_short.out.find(message);
  ASSERT_NE(at, std::string::npos);
  EXPECT_EQ(one_short.out.find(message, at + 1), std::string::npos);  // once
  EXPECT_TRUE(one_short.out.ends_with(layoutReport(a)));

  const Build& c = kBuilds[2];
  mkpfile(c, dir / "series_only", {"size=64592"});
  const RunResult series_only = run({c.exe, dir / "series_only"});
  EXPECT_EQ(series_only.exit_code, 1);
  EXPECT_EQ(series_only.out.find("readSeriesHeader"), std::string::npos);
  EXPECT_NE(series_only.out.find(message + "norm_R= "), std::string::npos);  // no newline after
}

TEST(TorvekRun, AnUnknownStartLetterLeavesOutTheEndLine) {
  TempDir dir;
  for (const Build& build : kBuilds) {
    for (const auto& [setting, shown] : {std::pair{"start_ras=s", "'s'"},
                                         std::pair{"start_ras=\x01", "0x01"}}) {
      mkpfile(build, dir / "P", {setting});
      const RunResult r = run({build.exe, dir / "P"});
      EXPECT_EQ(r.exit_code, 1);
      EXPECT_EQ(rxReport(r.out, build),
                "norm_R= 0.0000, norm_A=0.1736, norm_S=0.9848\n"
                "---------------------------------\n"
                " \tR/L\tA/P\tS/I\n"
                "Start:\tR1.5\tP12.2\tS10.0\n"
                "---------------------------------\n");
      EXPECT_NE(r.err.find(std::string("start_ras is ") + shown), std::string::npos) << r.err;
      EXPECT_TRUE(r.err.starts_with(std::string("torvek-") + build.layout + ": ")) << r.err;
    }
  }
}

TEST(TorvekRun, ADirectoryAsPfileReadsShort) {
  TempDir dir;
  const RunResult r = run({TORVEK_B, dir.path().string()});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.out.find("\n.Error in readMRImageHeader()."), std::string::npos);
  EXPECT_TRUE(r.out.ends_with(layoutReport(kBuilds[1])));
}

TEST(TorvekRun, AFifoWithoutAWriterDoesNotHang) {
  TempDir dir;
  ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
  const RunResult r = run({TORVEK_C, dir / "fifo"}, {.timeout = std::chrono::seconds(10)});
  EXPECT_FALSE(r.timed_out);
  EXPECT_EQ(r.exit_code, 1);
}

TEST(TorvekRun, AFullStandardOutputIsAFailure) {
  TempDir dir;
  mkpfile(kBuilds[1], dir / "P");
  const RunResult r = run({"sh", "-c", std::string("exec \"$0\" \"$1\" > /dev/full"), TORVEK_B,
                           dir / "P"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.err.find("torvek-b: "), std::string::npos) << r.err;
}
