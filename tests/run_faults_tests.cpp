// Faults that any run of either program can meet, whatever its input: the
// standard descriptors closed at start, a Pfile name made to look like a
// line of its own, and memory running out. Each kind is one table over the
// programs.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <set>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "support/builds.hpp"
#include "support/files.hpp"
#include "support/run.hpp"

using testing_support::kBuildA;
using testing_support::kBuildB;
using testing_support::listing;
using testing_support::mkpfile;
using testing_support::read_file;
using testing_support::run;
using testing_support::RunResult;
using testing_support::TempDir;
using testing_support::write_file;

namespace {

struct Program {
  const char* name;        // the name its messages start with
  const char* executable;
  const char* kind;        // mkpfile's kind of a Pfile it reads whole
};
const Program kMelvane{"melvane", MELVANE, "rev20"};
const Program kTorvekA{"torvek-a", TORVEK_A, "a"};
const Program kTorvekB{"torvek-b", TORVEK_B, "b"};

// The descriptor of process `pid` that has `path` open, -1 when none has
// (yet).
int descriptorOf(pid_t pid, const std::string& path) {
  const std::string fds = "/proc/" + std::to_string(pid) + "/fd";
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(fds, error)) {
    if (std::filesystem::read_symlink(entry.path(), error) == path) {
      return std::stoi(entry.path().filename().string());
    }
  }
  return -1;
}

}  // namespace

// ---- Standard descriptors closed at start -----------------------------------

// The Pfile is a FIFO, so that each run can be watched while it holds it
// open: with any of descriptors 0, 1 and 2 closed at start, the Pfile must
// not take its place, or a message meant for standard error would be written
// into whatever the run opened. A report that cannot be written still fails
// the run.
TEST(ClosedStandardDescriptors, NothingTheRunOpensBecomesAStandardStream) {
  // A run that stops reading early must not end the test with SIGPIPE.
  const auto previous = std::signal(SIGPIPE, SIG_IGN);
  struct Case {
    const Program& program;
    std::vector<int> closed;
    int status;
  } cases[] = {
      {kMelvane, {0}, 0}, {kMelvane, {1}, 0}, {kMelvane, {2}, 0}, {kMelvane, {0, 1, 2}, 0},
      {kTorvekB, {0}, 0}, {kTorvekB, {2}, 0}, {kTorvekB, {1}, 1}, {kTorvekB, {0, 1, 2}, 1},
  };
  for (const Case& c : cases) {
    std::string what = std::string(c.program.name) + " with closed";
    for (const int fd : c.closed) what += std::string(" ") += std::to_string(fd);
    SCOPED_TRACE(what);
    TempDir dir;
    mkpfile(c.program.kind, dir / "whole");
    const std::string fifo = dir / "P.7";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const pid_t pid = fork();
    if (pid == 0) {
      const int null_fd = open("/dev/null", O_RDWR);
      for (int fd = 0; fd <= 2; ++fd) dup2(null_fd, fd);
      for (const int fd : c.closed) close(fd);
      if (chdir(dir.path().c_str()) != 0) _exit(126);
      execl(c.program.executable, c.program.executable, "P.7", static_cast<char*>(nullptr));
      _exit(127);
    }
    const int writer = open(fifo.c_str(), O_WRONLY);  // returns once the run opens it
    ASSERT_GE(writer, 0);
    int held = -1;
    for (int tries = 0; tries < 2000 && held < 0; ++tries) {
      held = descriptorOf(pid, fifo);
      if (held < 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_GT(held, 2);
    const std::string bytes = read_file(dir / "whole");
    EXPECT_EQ(write(writer, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    close(writer);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status)) << status;
    EXPECT_EQ(WEXITSTATUS(status), c.status);
  }
  std::signal(SIGPIPE, previous);
}

// The dataset tool that -brik starts inherits torvek's descriptors: it must
// find 0, 1 and 2 open, or the dataset it opens becomes one of them and its
// own messages land inside the dataset.
TEST(ClosedStandardDescriptors, TheDatasetToolFindsThemOpen) {
  TempDir dir;
  mkpfile(kBuildB, dir / "P.7");
  write_file(dir / "3dNotes",
             "#!/bin/sh\nfor fd in 0 1 2; do [ -e /proc/$$/fd/$fd ] && printf '%s ' $fd; done"
             " > \"$0.log\"\n");
  std::filesystem::permissions(dir / "3dNotes", std::filesystem::perms::owner_all);
  for (const char* closing : {"<&-", "2>&-", "<&- 2>&-"}) {
    SCOPED_TRACE(closing);
    const RunResult r = run({"sh", "-c", std::string("exec \"$0\" -brik ds P.7 ") + closing,
                             kBuildB.executable},
                            {.cwd = dir.path().string(),
                             .env = {{"PATH", dir.path().string() + ":/usr/bin:/bin"}}});
    EXPECT_EQ(read_file(dir / "3dNotes.log"), "0 1 2 ") << r.err;
  }
}

// ---- Names that would forge a line ------------------------------------------

// Control bytes and backslashes in a Pfile's name are shown escaped in every
// line the programs add on standard error, in the path that starts the line
// and in output names inside it: a newline cannot start a line of its own,
// and an escape sequence never reaches the terminal.
TEST(ForgedNames, ControlBytesInNamesAreEscapedInEveryLine) {
  const std::pair<std::string, std::string> names[] = {
      {"P\nmelvane: P99999.7: header copy P99999.7.hdr: No space left on device",
       "P\\nmelvane: P99999.7: header copy P99999.7.hdr: No space left on device"},
      {"P\033[31m.7", "P\\033[31m.7"},
      {"P\\n\t.7", "P\\\\n\\t.7"},
  };
  enum Setup { missing, short_with_copy, directory_at_copy, extra_argument };
  struct Case {
    const Program& program;
    Setup setup;
    std::string expected;  // with $ for the name as shown
  } cases[] = {
      {kMelvane, missing, "U Turkey...: No such file or directory\nmelvane: $: No such file or directory\n"},
      {kMelvane, short_with_copy, "melvane: $: the header is 1000 bytes, shorter than 149788; "
                                  "$.hdr exists and is kept; the missing bytes read as zeros\n"},
      {kMelvane, directory_at_copy, "melvane: $: header copy $.hdr: Is a directory\n"},
      {kMelvane, extra_argument, "melvane: $: 1 further argument ignored; melvane reads one Pfile per run\n"},
      {kTorvekB, missing, "torvek-b: $: No such file or directory\n"},
      {kTorvekB, short_with_copy, "torvek-b: $: the file holds 1000 bytes; layout B reads 49568\n"},
  };
  for (const auto& [name, shown] : names) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.program.name) + " setup " + std::to_string(c.setup) + " " + shown);
      TempDir dir;
      std::vector<std::string> argv{c.program.executable, name};
      if (c.setup != missing) mkpfile(c.program.kind, dir / name);
      if (c.setup == short_with_copy) {
        std::filesystem::resize_file(dir / name, 1000);
        write_file(dir / (name + ".hdr"), "kept");
      }
      if (c.setup == directory_at_copy) std::filesystem::create_directory(dir / (name + ".hdr"));
      if (c.setup == extra_argument) argv.push_back("more");
      const RunResult r = run(argv, {.cwd = dir.path().string()});
      std::string expected;
      for (const char ch : c.expected) expected += ch == '$' ? shown : std::string(1, ch);
      EXPECT_EQ(r.err, expected);
    }
  }
}

// ---- Memory running out -------------------------------------------------------

// Each program runs under address space limits (as `ulimit -v` sets) from
// one too small to start it up to the first that lets it finish: every run
// in between ends with one line that says memory ran out, status 1, and each
// output as it was before or whole, with no temporary file left. Without
// care, the C++ runtime aborts the run, since the exception that reports the
// failure needs memory itself.
TEST(OutOfMemory, EveryLimitBelowTheNeedEndsWithAMessage) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "AddressSanitizer maps terabytes of shadow memory: no run starts under "
                  "a small address space limit";
#endif
  for (const Program* program : {&kMelvane, &kTorvekA, &kTorvekB}) {
    SCOPED_TRACE(program->name);
    TempDir dir;
    mkpfile(program->kind, dir / "P.7");
    const std::string summary = "E01234S005P23456.7", earlier = "an earlier file\n";
    write_file(dir / "P.7.hdr", earlier);
    write_file(dir / summary, earlier);
    std::set<std::string> copies, summaries;  // as each run left them
    int out_of_memory = 0;
    long limit = 1024 * 1024;
    for (;; limit += 8 * 1024) {
      ASSERT_LT(limit, 64L * 1024 * 1024) << "no limit let the run finish";
      const RunResult r = run({program->executable, "P.7"},
                              {.cwd = dir.path().string(), .address_space_limit = limit});
      const std::string what = std::to_string(limit / 1024) + " KiB: " + r.err;
      if (r.exit_code == 0) break;
      const auto files = listing(dir.path());
      EXPECT_EQ(files.size(), 3u) << what;  // no temporary left
      copies.insert(files.at("P.7.hdr"));
      summaries.insert(files.at(summary));
      if (r.exit_code == 127) continue;  // the loader found no room to start it
      EXPECT_EQ(r.signal, 0) << what;
      EXPECT_EQ(r.exit_code, 1) << what;
      EXPECT_EQ(r.err, std::string(program->name) + ": P.7: out of memory\n") << what;
      ++out_of_memory;
    }
    EXPECT_GT(out_of_memory, 0) << "every limit either kept the run from starting or let it finish";
    // Each output as it was, or as the run that finished wrote it.
    const auto finished = listing(dir.path());
    copies.erase(earlier);
    summaries.erase(earlier);
    EXPECT_TRUE(copies.empty() || copies == std::set{finished.at("P.7.hdr")});
    EXPECT_TRUE(summaries.empty() || summaries == std::set{finished.at(summary)});
  }
}
