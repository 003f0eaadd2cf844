// torvek -brik: the decisions of the annotation step without a child process,
// then real runs of the builds, against the real nifti_tool and against a
// stand-in 3dNotes (tests/fake_3dNotes) that records its argument vector;
// and which runs write a note (a wrong build or revision does not).
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>
#include <filesystem>
#include <map>
#include <pthread.h>
#include <string>
#include <thread>
#include <vector>

#include "common/messages.hpp"
#include "annotate/annotate.hpp"
#include "support/builds.hpp"
#include "support/capture.hpp"
#include "support/files.hpp"
#include "support/run.hpp"

using namespace torvek;
using namespace testing_support;
namespace fs = std::filesystem;

namespace {

// Start R20.0 P12.5 S7.2, end L20.0 P12.5 S7.2: the Rx of kPfileSettings.
const RxRecord kRx{-20.0f, 20.0f, 12.5f, 12.5f, 7.25f, 7.25f};
const std::string kNote = "Rx info:\nStart:\tR20.0\tP12.5\tS7.2\nEnd:\tL20.0\tP12.5\tS7.2\n";
// The Rx report of kPfileSettings: its Start and End lines are the note's.
const std::string kRxReport =
    "norm_R= 1.0000, norm_A=0.0000, norm_S=0.0000\n"
    "---------------------------------\n"
    " \tR/L\tA/P\tS/I\n"
    "Start:\tR20.0\tP12.5\tS7.2\n"
    "End:\tL20.0\tP12.5\tS7.2\n"
    "---------------------------------\n";
const std::vector<std::string> kPfileSettings{
    "start_ras=R", "start_loc=20", "end_loc=-20", "ctr_R=20", "ctr_A=-12.5",
    "ctr_S=7.25",  "norm_R=1",     "norm_A=0",    "norm_S=0"};

// Runs annotate() with a runner that records its calls and succeeds.
struct Annotation {
  int status;
  std::string out, err;
  std::vector<std::vector<std::string>> calls;
};
Annotation annotateWith(RxOutcome outcome, const char* prefix) {
  Annotation a;
  Capture out, err;
  a.status = annotate(layoutB, outcome, kRx, prefix, out.file(), err.file(),
                      [&](const std::vector<std::string>& argv) {
                        a.calls.push_back(argv);
                        return ToolEnd{};
                      });
  a.out = out.text();
  a.err = err.text();
  return a;
}

}  // namespace

TEST(AnnotateDecisions, KindAndArgumentVectors) {
  EXPECT_EQ(targetKind("anat"), TargetKind::afni);
  EXPECT_EQ(targetKind("func.nii.gz"), TargetKind::nifti);
  EXPECT_EQ(targetKind("run.NII"), TargetKind::afni);
  EXPECT_EQ(targetKind("dir.nii/anat"), TargetKind::nifti);
  EXPECT_EQ(targetKind("x.ni"), TargetKind::afni);

  EXPECT_EQ(afniCommand("a b;$(touch x)", kRx),
            (std::vector<std::string>{"3dNotes", "-a", kNote, "a b;$(touch x)+orig"}));
}

// An undefined Rx starting no tool is checked on real runs below.
TEST(AnnotateDecisions, NothingStartsForAPrefixLikeAnOption) {
  for (const char* prefix : {"-x", "-out.nii", "-", "-\033[2J"}) {
    const Annotation a = annotateWith(RxOutcome::ok, prefix);
    EXPECT_EQ(a.status, 1);
    EXPECT_TRUE(a.calls.empty());
    EXPECT_EQ(a.out, "");
    const std::string shown = pfile::escapedName(prefix);
    EXPECT_NE(a.err.find("write ./" + shown + " instead"), std::string::npos) << a.err;
    EXPECT_EQ(a.err.find('\033'), std::string::npos) << a.err;
  }
}

// ---- Real runs of the builds -------------------------------------------

namespace {

// A scratch directory holding a Pfile "P" of the build's layout, a bin/ with
// the stand-in 3dNotes, and a record file for its argument vectors. Runs
// happen in work/, which starts empty, so anything a run creates there shows.
struct Scene {
  TempDir dir;
  std::string work = dir / "work";
  std::string record = dir / "args";

  explicit Scene(const Build& build, const std::vector<std::string>& settings = kPfileSettings) {
    fs::create_directories(dir / "bin");
    fs::create_directories(work);
    fs::copy_file(FAKE_3DNOTES, dir / "bin/3dNotes");
    fs::permissions(dir / "bin/3dNotes", fs::perms::owner_all);
    mkpfile(build, work + "/P", settings);
  }

  // Runs the build in work/ with bin/ first on PATH (or PATH replaced).
  RunResult torvek(const Build& build, const std::vector<std::string>& args,
                   const std::map<std::string, std::string>& env = {}) const {
    std::vector<std::string> argv{build.executable};
    argv.insert(argv.end(), args.begin(), args.end());
    return inScene(argv, env);
  }

  // Runs `script` with sh in the same setting, $0 being the build's executable.
  RunResult shell(const Build& build, const std::string& script) const {
    return inScene({"sh", "-c", script, build.executable}, {});
  }

  RunResult inScene(const std::vector<std::string>& argv,
                    const std::map<std::string, std::string>& env) const {
    RunOptions options;
    options.cwd = work;
    options.env = {{"PATH", dir / "bin" + ":" + std::getenv("PATH")},
                   {"FAKE_TOOL_ARGS", record}};
    for (auto& [name, value] : env) options.env[name] = value;
    return run(argv, options);
  }

  // The argument vectors the stand-in received, one per call.
  std::vector<std::vector<std::string>> calls() const {
    std::vector<std::vector<std::string>> result;
    if (!fs::exists(record)) return result;
    const std::string bytes = read_file(record);
    std::vector<std::string> fields;
    for (std::size_t at = 0, end; at < bytes.size(); at = end + 1) {
      end = bytes.find('\0', at);
      fields.push_back(bytes.substr(at, end - at));
    }
    for (std::size_t i = 0; i < fields.size();) {
      const std::size_t count = std::stoul(fields[i++]);
      result.emplace_back(fields.begin() + i, fields.begin() + i + count);
      i += count;
    }
    return result;
  }
};

// Standard output from the Rx report on (the layout A record dumps precede it).
std::string fromRxReport(const std::string& out) {
  const auto at = out.rfind("norm_R= ");
  return at == std::string::npos ? "<no Rx report>" : out.substr(at);
}

}  // namespace

TEST(AnnotateAfni, HostilePrefixesReachTheToolAsOneLiteralArgument) {
  // The confirmation shows a name with control bytes escaped, any other byte
  // for byte (backslashes too).
  const std::pair<std::string, std::string> hostile[] = {
      {"my anat", "my anat"}, {"it's", "it's"}, {"a;touch semi", "a;touch semi"},
      {"$(touch dollar)", "$(touch dollar)"}, {"`touch tick`", "`touch tick`"},
      {"two\nlines", "two\\nlines"}, {"a\\b\033[2J", "a\\\\b\\033[2J"},
      {"back\\slash", "back\\slash"}, {"\"quoted\" *", "\"quoted\" *"},
      {std::string(5000, 'p'), std::string(5000, 'p')}};
  for (const auto& [prefix, shown] : hostile) {
    SCOPED_TRACE(prefix.substr(0, 40));
    const Scene scene(kBuildB);
    const RunResult r = scene.torvek(kBuildB, {"-brik", prefix, "P"});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(scene.calls(),
              (std::vector<std::vector<std::string>>{{"-a", kNote, prefix + "+orig"}}));
    EXPECT_NE(r.out.find("Rx info is written to " + shown + "+orig.BRIK header.\n"),
              std::string::npos);
    EXPECT_EQ(listing(scene.work).size(), 1u);  // P alone
  }
}

TEST(AnnotateFailure, AMissingFailingOrKilledToolIsAFailedRun) {
  const Scene scene(kBuildB);
  const std::string report = layoutReport(kBuildB);
  struct Case {
    std::map<std::string, std::string> env;
    std::string prefix, err;
  } cases[] = {
      {{{"PATH", scene.dir / "work"}}, "anat",
       "torvek-b: anat+orig: 3dNotes: not found on PATH; the Rx is not written\n"},
      {{{"FAKE_TOOL_EXIT", "1"}}, "anat",
       "torvek-b: anat+orig: 3dNotes exited with status 1; the Rx is not written\n"},
      {{{"FAKE_TOOL_SIGNAL", "KILL"}}, "anat",
       "torvek-b: anat+orig: 3dNotes killed by signal 9; the Rx is not written\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.err);
    const RunResult r = scene.torvek(kBuildB, {"-brik", c.prefix, "P"}, c.env);
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_TRUE(r.err.ends_with(c.err)) << r.err;
    EXPECT_EQ(r.out.find("Rx info is written"), std::string::npos);
    EXPECT_TRUE(r.out.ends_with(report)) << r.out;
  }
}

TEST(AnnotateFailure, AnUndefinedRxStartsNoTool) {
  for (const Build* each : kBuilds) {
    const Build& build = *each;
    SCOPED_TRACE(build.program);
    const std::string report = layoutReport(build);
    const Scene shortHeader(build, {"size=100"});
    const Scene badLetter(build, {"start_ras=x"});
    const Scene zeroDivisor(build, {"start_ras=S", "norm_S=0"});
    const Scene directory(build);
    fs::create_directory(directory.work + "/dir");
    struct Case {
      const Scene& scene;
      const char* pfile;
      const char* why;
    } cases[] = {{shortHeader, "missing", "the Pfile could not be opened"},
                 {directory, "dir", "the Pfile could not be read"},
                 {shortHeader, "P", "the Pfile header was read short"},
                 {badLetter, "P", "start_ras is not a known letter"},
                 {zeroDivisor, "P", "the Rx is not finite"}};
    for (const Case& c : cases) {
      const RunResult r = c.scene.torvek(build, {"-brik", "anat", c.pfile});
      EXPECT_EQ(r.exit_code, 1);
      EXPECT_TRUE(c.scene.calls().empty());
      EXPECT_NE(r.err.find(std::string("torvek-") + build.layout +
                           ": anat+orig: the Rx is not written: " + c.why),
                std::string::npos)
          << r.err;
      EXPECT_EQ(r.out.find("Rx info is written"), std::string::npos);
      EXPECT_TRUE(r.out.ends_with(report));
    }
  }
}

TEST(AnnotateNifti, RoundTripThroughTheRealNiftiTool) {
  ASSERT_NE(niftiTool(), "") << "nifti_tool is not on PATH: install Debian's nifti-bin package";
  for (const Build* each : {kBuilds[0], kBuilds[1], kBuilds[2], &kBuildRev20}) {
    const Build& build = *each;
    for (const std::string file : {"func.nii", "func.nii.gz"}) {
      SCOPED_TRACE(std::string(build.program) + " " + file);
      const Scene scene(build);
      const std::string path = scene.work + "/" + file;
      ASSERT_EQ(run({"nifti_tool", "-make_im", "-prefix", path}).exit_code, 0);
      const RunResult first = scene.torvek(build, {"-brik", file, "P"});
      EXPECT_EQ(first.exit_code, 0) << first.err;
      expect_same_text(fromRxReport(first.out),
                       kRxReport + "Rx info is written to " + file +
                           " as an AFNI extension (ecode=4).\n" + layoutReport(build));
      // A rerun finds its note there, adds none and confirms as the first did.
      const RunResult second = scene.torvek(build, {"-brik", file, "P"});
      EXPECT_EQ(second.exit_code, 0) << second.err;
      EXPECT_EQ(fromRxReport(second.out), fromRxReport(first.out));

      const RunResult shown = run({"nifti_tool", "-disp_exts", "-infiles", path});
      EXPECT_NE(shown.out.find("num_ext = 1\n"), std::string::npos) << shown.out;
      EXPECT_NE(shown.out.find("ext #0 : ecode = 4, esize = 64, edata = " + kNote),
                std::string::npos) << shown.out;
    }
  }
}

// A report that did not reach standard output (a full disk, a closed
// descriptor) is lost; a note written now would be written again by the rerun
// that recovers it. So no tool starts.
TEST(AnnotateFailure, ALostReportStartsNoTool) {
  const Scene scene(kBuildB);
  for (const char* redirect : {"> /dev/full", ">&-"}) {
    SCOPED_TRACE(redirect);
    const RunResult r = scene.shell(kBuildB, std::string("exec \"$0\" -brik anat P ") + redirect);
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_TRUE(scene.calls().empty());
    EXPECT_TRUE(r.err.starts_with("torvek-b: anat+orig: the Rx is not written: its report did "
                                  "not reach standard output\ntorvek-b: standard output: "))
        << r.err;
  }
  const RunResult written = scene.shell(kBuildB, "exec \"$0\" -brik anat P > /dev/null");
  EXPECT_EQ(written.exit_code, 0) << written.err;
  EXPECT_EQ(scene.calls().size(), 1u);
}

// ---- Which runs write a note ----------------------------------------------

// Every build hands the note to the tool, then confirms, then reports (the
// stand-in's line falls between the report and the confirmation); torvek-rev20
// reads both of its revisions in either byte order, also from a pipe, and
// gives them the Rx the file holds; another revision gets neither a report
// nor a note, a file of 4 bytes (its revision and nothing else) the report of
// zeros and no note. In every build a slab normal of length 1.1 leaves the
// report as it is, fails the run and writes no note.
TEST(AnnotateRuns, TheBuildTheRevisionAndTheNormalsLengthDecideWhetherANoteIsWritten) {
  const std::string by_file = "exec \"$0\" -brik anat P";
  const std::string by_pipe = "cat P | \"$0\" -brik anat /dev/stdin";
  const std::string written = kRxReport + "[test double 3dNotes: 3 arguments]\n" +
                              "Rx info is written to anat+orig.BRIK header.\n";
  const std::string long_normal = "norm_R= 1.1000" + kRxReport.substr(kRxReport.find(','));
  const std::string refused = "revision 11.000000; this build reads revisions 20.006 and 20.007";
  const std::string too_long =
      "the slab normal has length 1.1000, not 1: is this the build for this file's revision?";
  const std::string zeros =
      "norm_R= 0.0000, norm_A=0.0000, norm_S=0.0000\n---------------------------------\n"
      " \tR/L\tA/P\tS/I\nStart:\tL0.0\tP0.0\tS0.0\n---------------------------------\n";
  const std::string cut = "the file holds 4 bytes; revision 20.x reads 149788";
  struct Case {
    const Build& build;
    std::vector<std::string> settings;  // after kPfileSettings
    const std::string& command;
    std::string report;  // standard output from the Rx report on, without the layout report
    std::string why;     // what standard error says about the Pfile ("": nothing)
  } cases[] = {
      {kBuildA, {}, by_file, written, ""},
      {kBuildB, {}, by_file, written, ""},
      {kBuildC, {}, by_file, written, ""},
      {kBuildRev20, {}, by_file, written, ""},
      {kBuildRev20, {"order=be"}, by_file, written, ""},
      {kBuildRev20, {"rev=20.007"}, by_pipe, written, ""},
      {kBuildRev20, {"rev=20.007", "order=be"}, by_pipe, written, ""},
      {kBuildRev20, {"rev=11"}, by_file, "<no Rx report>", refused},
      {kBuildRev20, {"rev=11", "order=be"}, by_file, "<no Rx report>", refused},
      {kBuildRev20, {"size=4"}, by_file, zeros, cut},
      {kBuildA, {"norm_R=1.1"}, by_file, long_normal, too_long},
      {kBuildB, {"norm_R=1.1"}, by_file, long_normal, too_long},
      {kBuildC, {"norm_R=1.1"}, by_file, long_normal, too_long},
      {kBuildRev20, {"norm_R=1.1", "order=be"}, by_pipe, long_normal, too_long},
  };
  for (const Case& c : cases) {
    std::vector<std::string> settings = kPfileSettings;
    settings.insert(settings.end(), c.settings.begin(), c.settings.end());
    SCOPED_TRACE(std::string(c.build.program) + " " + settings.back() + " " + c.command);
    const Scene scene(c.build, settings);
    const RunResult r = scene.shell(c.build, c.command);
    expect_same_text(fromRxReport(r.out), c.report == "<no Rx report>"
                                              ? c.report
                                              : c.report + layoutReport(c.build));
    if (c.why.empty()) {
      EXPECT_EQ(r.exit_code, 0);
      EXPECT_EQ(r.err, "");
      EXPECT_EQ(scene.calls(), (std::vector<std::vector<std::string>>{{"-a", kNote, "anat+orig"}}));
      continue;
    }
    const std::string pfile = c.command == by_file ? "P" : "/dev/stdin";
    const std::string note = c.why == refused ? "the Pfile's revision is not one this build reads"
                             : c.why == cut   ? "the Pfile header was read short"
                                              : "the slab normal is not of unit length";
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.err, std::string(c.build.program) + ": " + pfile + ": " + c.why + "\n" +
                         c.build.program + ": anat+orig: the Rx is not written: " + note + "\n");
    EXPECT_TRUE(scene.calls().empty());
  }
}

// ---- Signals around the tool ----------------------------------------------

// Whatever this process ignores or blocks, the tool starts with every signal
// at its default and none blocked, and its end is awaited.
TEST(AnnotateSignals, TheToolStartsWithDefaultSignalsAndAnEmptyMask) {
  TempDir dir;
  struct sigaction ignore {}, old_int {}, old_chld {};
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGINT, &ignore, &old_int);
  sigaction(SIGCHLD, &ignore, &old_chld);
  sigset_t usr1, old_mask;
  sigemptyset(&usr1);
  sigaddset(&usr1, SIGUSR1);
  sigprocmask(SIG_BLOCK, &usr1, &old_mask);

  // grep reads the tool's own status; its output lands in a file.
  std::fflush(stdout);
  const int saved_stdout = dup(1);
  const int masks_file = open((dir / "signals").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  dup2(masks_file, 1);
  const ToolEnd end = runTool({"grep", "-E", "^Sig(Blk|Ign)", "/proc/self/status"});
  dup2(saved_stdout, 1);
  close(saved_stdout);
  close(masks_file);

  sigprocmask(SIG_SETMASK, &old_mask, nullptr);
  sigaction(SIGCHLD, &old_chld, nullptr);
  sigaction(SIGINT, &old_int, nullptr);
  EXPECT_EQ(end.how, ToolEnd::How::exited);
  EXPECT_EQ(end.value, 0);
  const std::string masks = read_file(dir / "signals");  // "SigBlk:\t<hex>\nSigIgn:\t<hex>\n"
  ASSERT_TRUE(masks.starts_with("SigBlk:\t") && masks.find("\nSigIgn:\t") == 24) << masks;
  EXPECT_EQ(std::stoull(masks.substr(8, 16), nullptr, 16), 0u) << masks;
  // Bit n-1 stands for signal n. The C library keeps signals 32 and 33 for
  // itself and its spawn always leaves them ignored; no program sees them.
  const unsigned long long library_signals = 3ull << 31;
  EXPECT_EQ(std::stoull(masks.substr(33, 16), nullptr, 16) & ~library_signals, 0u) << masks;
}

// A signal caught while the run waits for the tool does not end the wait.
TEST(AnnotateSignals, ASignalDuringTheWaitIsNotTheToolsEnd) {
  struct sigaction on_usr1 {}, old_usr1 {};
  on_usr1.sa_handler = +[](int) {};  // without SA_RESTART the waiting call fails with EINTR
  sigaction(SIGUSR1, &on_usr1, &old_usr1);
  const pthread_t waiter = pthread_self();
  std::thread interrupter([waiter] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    pthread_kill(waiter, SIGUSR1);
  });
  const ToolEnd end = runTool({"sleep", "0.3"});
  interrupter.join();
  sigaction(SIGUSR1, &old_usr1, nullptr);
  EXPECT_EQ(end.how, ToolEnd::How::exited);
  EXPECT_EQ(end.value, 0);
}
