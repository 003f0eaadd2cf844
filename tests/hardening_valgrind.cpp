// melvane under valgrind's memcheck on its demo input (mkpfile's defaults):
// no invalid read or write, no use of uninitialised bytes, no leak. Skipped
// without valgrind and in the sanitizer build, whose runtime valgrind cannot
// run.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/builds.hpp"
#include "support/files.hpp"
#include "support/run.hpp"

using testing_support::run;
using testing_support::RunOptions;
using testing_support::RunResult;
using testing_support::TempDir;

namespace {

void expectNoMemcheckErrors(const std::vector<std::string>& command, const TempDir& dir) {
  if (HARDENING_SANITIZED) GTEST_SKIP() << "valgrind does not run sanitizer builds";
  if (std::string(VALGRIND).empty()) GTEST_SKIP() << "valgrind is not installed";
  std::vector<std::string> argv{VALGRIND, "--error-exitcode=1", "--leak-check=full"};
  argv.insert(argv.end(), command.begin(), command.end());
  const RunResult r = run(argv, {.cwd = dir.path().string(),
                                 .timeout = std::chrono::seconds(120)});
  EXPECT_EQ(r.signal, 0);
  EXPECT_FALSE(r.timed_out);
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_NE(r.err.find("ERROR SUMMARY: 0 errors"), std::string::npos) << r.err;
}

}  // namespace

TEST(Valgrind, MelvaneOnItsDemoInput) {
  TempDir dir;
  testing_support::mkpfile("rev20", dir / "P12345.7");
  expectNoMemcheckErrors({MELVANE, "P12345.7"}, dir);
}
