// Every executable under valgrind's memcheck on its demo input (mkpfile's
// defaults): no invalid read or write, no use of uninitialised bytes, no
// leak. MEMCHECK_DIR holds the executables, linked with libc shared. Skipped
// without valgrind and in the sanitizer build, whose runtime valgrind cannot
// run (there AddressSanitizer and UBSan check the same runs).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/builds.hpp"
#include "support/files.hpp"
#include "support/run.hpp"

using namespace testing_support;

namespace {

void expectNoMemcheckErrors(const std::string& executable, const std::string& kind) {
  if (MEMCHECK_SANITIZED) GTEST_SKIP() << "valgrind does not run sanitizer builds";
  if (std::string(VALGRIND).empty()) GTEST_SKIP() << "valgrind is not installed";
  TempDir dir;
  mkpfile(kind, dir / "P12345.7");
  const RunResult r =
      run({VALGRIND, "--error-exitcode=1", "--leak-check=full", executable, "P12345.7"},
          {.cwd = dir.path().string(), .timeout = std::chrono::seconds(120)});
  EXPECT_EQ(r.signal, 0);
  EXPECT_FALSE(r.timed_out);
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_NE(r.err.find("ERROR SUMMARY: 0 errors"), std::string::npos) << r.err;
}

}  // namespace

TEST(Memcheck, TorvekBuildsOnTheirDemoInputs) {
  for (const auto* build : {kBuilds[0], kBuilds[1], kBuilds[2], &kBuildRev20, &kBuildScanner}) {
    SCOPED_TRACE(build->program);
    expectNoMemcheckErrors(std::string(MEMCHECK_DIR "/") + build->program, build->kind);
  }
}

TEST(Memcheck, MelvaneOnItsDemoInput) {
  expectNoMemcheckErrors(MEMCHECK_DIR "/melvane", "rev20");
}
