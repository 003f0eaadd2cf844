// Faults that any run of either program can meet, one table over the
// programs per kind: standard descriptors closed at start, a Pfile name made
// to look like a line of its own, memory running out.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "support/builds.hpp"
#include "support/files.hpp"
#include "support/run.hpp"

using namespace testing_support;

namespace {

// melvane described like a torvek build: its name, executable and kind of Pfile.
const Build kMelvane{'r', "melvane", MELVANE, 149788, nullptr, "rev20"};

// The descriptor through which process `pid`, once it runs `executable`,
// holds `path` open; -1: none (yet).
int descriptorOf(pid_t pid, const std::string& executable, const std::string& path) {
  std::error_code error;
  const std::string proc = "/proc/" + std::to_string(pid);
  // Between fork and exec the child still holds the test's own descriptors.
  if (std::filesystem::read_symlink(proc + "/exe", error) !=
      std::filesystem::canonical(executable, error)) {
    return -1;
  }
  const std::string fds = proc + "/fd";
  for (const auto& fd : std::filesystem::directory_iterator(fds, error)) {
    if (std::filesystem::read_symlink(fd.path(), error) == path) {
      return std::stoi(fd.path().filename());
    }
  }
  return -1;
}

}  // namespace

// The Pfile is a FIFO, so each run can be watched holding it open: with any
// of descriptors 0, 1 and 2 closed at start, the Pfile must not take one of
// their places (a message for standard error, or a tool started later, would
// write into it). A report that cannot be written still fails the run.
TEST(ClosedStandardDescriptors, NothingTheRunOpensBecomesAStandardStream) {
  const struct Case {
    const Build& tool;
    std::vector<int> closed;
    int status;
  } cases[] = {{kMelvane, {0}, 0}, {kMelvane, {1}, 0}, {kMelvane, {2}, 0},
               {kMelvane, {0, 1, 2}, 0}, {kBuildB, {0}, 0}, {kBuildB, {2}, 0},
               {kBuildB, {1}, 1}, {kBuildB, {0, 1, 2}, 1}};
  const auto previous = std::signal(SIGPIPE, SIG_IGN);  // a run may stop reading early
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.tool.program) + " without " + testing::PrintToString(c.closed));
    TempDir dir;
    mkpfile(c.tool, dir / "whole");
    ASSERT_EQ(mkfifo((dir / "P.7").c_str(), 0600), 0);
    // Opened read-write, the FIFO has a writer from the start without this
    // open blocking, so the run's reads wait for the bytes written below.
    const int writer = open((dir / "P.7").c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(writer, 0);
    const pid_t pid = fork();
    if (pid == 0) {
      const int null_fd = open("/dev/null", O_RDWR | O_CLOEXEC);
      for (int fd = 0; fd <= 2; ++fd) dup2(null_fd, fd);
      for (const int fd : c.closed) close(fd);
      if (chdir(dir.path().c_str()) != 0) _exit(126);
      execl(c.tool.executable, c.tool.executable, "P.7", static_cast<char*>(nullptr));
      _exit(127);
    }
    int held = -1;
    for (int tries = 0; tries < 2000 && held < 0; ++tries) {
      held = descriptorOf(pid, c.tool.executable, dir / "P.7");
      if (held < 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (held < 0) {  // a run that never opened its Pfile would never read it
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
      close(writer);
      FAIL() << "the run never opened its Pfile";
    }
    EXPECT_GT(held, 2);
    // Written through a write-only descriptor, so that a run that ends early
    // leaves a broken pipe, not a write that waits for ever.
    const int write_only = open((dir / "P.7").c_str(), O_WRONLY | O_CLOEXEC);
    close(writer);
    const std::string bytes = read_file(dir / "whole");
    EXPECT_EQ(write(write_only, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    close(write_only);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_EQ(status, c.status << 8);
  }
  std::signal(SIGPIPE, previous);
}

// Control bytes and backslashes in a Pfile's name are escaped in every line
// the programs add on standard error, in the path that starts the line and in
// output names inside it, and in the lines of standard output that name it:
// a newline cannot start a forged line, an escape sequence never reaches the
// terminal.
TEST(ForgedNames, ControlBytesInNamesAreEscapedInEveryLine) {
  const std::pair<std::string, std::string> names[] = {
      {"P\nmelvane: P99999.7: header copy P99999.7.hdr: No space left on device",
       "P\\nmelvane: P99999.7: header copy P99999.7.hdr: No space left on device"},
      {"P\033[31m\\\t.7", "P\\033[31m\\\\\\t.7"},
      {"P\x1f\x7f.7", "P\\037\\177.7"}};  // the last control byte, and DEL
  enum Setup { missing, short_beside_copy, directory_at_copy };
  const struct Case {
    const Build& tool;
    Setup setup;
    std::string err;  // $ stands for the name as shown
    std::string out;  // a line of standard output that names it
  } cases[] = {
      {kMelvane, missing,
       "U Turkey...: No such file or directory\nmelvane: $: No such file or directory\n",
       "input file= $\n"},
      {kMelvane, short_beside_copy,
       "melvane: $: the header is 1000 bytes, shorter than 149788; "
       "$.hdr exists and is kept; the missing bytes read as zeros\n",
       ""},
      {kMelvane, directory_at_copy, "melvane: $: header copy $.hdr: Is a directory\n",
       ".hdr file won't open= $.hdr\n"},
      {kBuildB, short_beside_copy, "torvek-b: $: the file holds 1000 bytes; layout B reads 49568\n",
       "Retrieving Rx info from pfile $!\n"},
      {kBuildB, missing, "torvek-b: $: No such file or directory\n", "Can't open pfile $!\n"}};
  for (const auto& [name, shown] : names) {
    for (const Case& c : cases) {
      SCOPED_TRACE(c.err + " with " + shown);
      TempDir dir;
      if (c.setup != missing) mkpfile(c.tool, dir / name);
      if (c.setup == short_beside_copy) std::filesystem::resize_file(dir / name, 1000);
      if (c.setup == short_beside_copy) write_file(dir / (name + ".hdr"), "kept");
      if (c.setup == directory_at_copy) std::filesystem::create_directory(dir / (name + ".hdr"));
      const auto expected = [&](const std::string& text) {
        std::string with_name;
        for (const char ch : text) with_name += ch == '$' ? shown : std::string(1, ch);
        return with_name;
      };
      const RunResult r = run({c.tool.executable, name}, {.cwd = dir.path().string()});
      EXPECT_EQ(r.err, expected(c.err));
      EXPECT_NE(r.out.find(expected(c.out)), std::string::npos) << r.out;
    }
  }
}

// Each program runs under address space limits (`ulimit -v`) from too small
// to start it up to the first that lets it finish. Every run in between ends
// with a line saying memory ran out, naming the Pfile also when options
// precede it (or, for -brik, the dataset whose tool found no memory to
// start), and status 1, having replaced nothing and left no temporary,
// instead of the runtime aborting it because the exception that reports the
// failure needs memory itself.
TEST(OutOfMemory, EveryLimitBelowTheNeedEndsWithAMessage) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "AddressSanitizer maps terabytes of shadow memory: "
                  "nothing starts under a small limit";
#endif
  TempDir bin;  // a 3dNotes that succeeds, for the runs that get that far
  write_file(bin / "3dNotes", "#!/bin/sh\nexit 0\n");
  std::filesystem::permissions(bin / "3dNotes", std::filesystem::perms::owner_all);
  const std::pair<const Build*, std::vector<std::string>> cases[] = {
      {&kMelvane, {"P.7"}}, {&kBuildA, {"P.7"}}, {&kBuildB, {"-brik", "x", "P.7"}}};
  for (const auto& [tool, args] : cases) {
    SCOPED_TRACE(tool->program + (" " + args.front()));
    TempDir dir;
    mkpfile(*tool, dir / "P.7");
    for (const char* name : {"P.7.hdr", "E01234S005P23456.7"}) write_file(dir / name, "earlier");
    const auto before = listing(dir.path());
    int out_of_memory = 0;
    for (long limit = 1024 * 1024;; limit += 8 * 1024) {
      ASSERT_LT(limit, 64L * 1024 * 1024) << "no limit let the run finish";
      // A fully static build's C runtime cannot even start under the smallest
      // limits; its twin with libc shared runs the same code after start-up.
      std::vector<std::string> argv{sharedLibcTwin(tool->program)};
      argv.insert(argv.end(), args.begin(), args.end());
      const RunResult r = run(argv, {.cwd = dir.path().string(),
                                     .env = {{"PATH", bin.path().string() + ":/usr/bin:/bin"}},
                                     .address_space_limit = limit});
      if (r.exit_code == 0) break;
      if (r.exit_code == 127) continue;  // the loader found no room to start it
      SCOPED_TRACE(std::to_string(limit / 1024) + " KiB: " + r.err);
      EXPECT_EQ(r.exit_code, 1);
      const std::string program = tool->program;
      if (r.err != program + ": x+orig: 3dNotes: cannot be started: Cannot allocate memory; "
                             "the Rx is not written\n") {
        EXPECT_EQ(r.err, program + ": P.7: out of memory\n");
      }
      EXPECT_EQ(listing(dir.path()), before);
      ++out_of_memory;
    }
    EXPECT_GT(out_of_memory, 0) << "every limit either kept the run from starting or let it finish";
  }
}
