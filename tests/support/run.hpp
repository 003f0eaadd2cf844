// Test support: runs a real executable as a child process and captures what
// it wrote and how it ended, so tests can compare whole outputs byte for byte.
#pragma once

#include <chrono>
#include <map>
#include <string>
#include <vector>

namespace testing_support {

struct RunOptions {
  std::string cwd;                               // empty: the test's own
  std::map<std::string, std::string> env;        // set (or, with value "\x01unset", removed)
  std::chrono::milliseconds timeout{20000};      // the child is killed after this
  long file_size_limit = -1;                     // RLIMIT_FSIZE in bytes, -1: unchanged
  bool ignore_sigxfsz = false;                   // a write past the limit then fails with EFBIG
  long address_space_limit = -1;                 // RLIMIT_AS in bytes (`ulimit -v`), -1: unchanged
};

struct RunResult {
  int exit_code = -1;   // exit status, or -1 when ended by a signal
  int signal = 0;       // the signal that ended the child, 0 if none
  bool timed_out = false;
  std::string out;
  std::string err;
};

// Runs argv[0] (looked up on PATH when it has no slash) with the arguments
// argv[1..]. Standard input is /dev/null. Never throws for a child that fails.
RunResult run(const std::vector<std::string>& argv, const RunOptions& options = {});

// The path of the nifti_tool on PATH; "" when there is none.
std::string niftiTool();

// The twin of `program` ("melvane", "torvek-c", ...) built with libc shared,
// which LD_PRELOAD reaches where the fully static tool does not.
std::string sharedLibcTwin(const std::string& program);

// The environment in which calls fail as `faults` says (PFILE_FAIL's syntax,
// tests/support/fail_call.c); no change for "".
std::map<std::string, std::string> failingCalls(const std::string& faults);

}  // namespace testing_support
