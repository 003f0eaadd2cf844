// Test support: the torvek builds and the mkpfile runner.
#include "support/builds.hpp"

#include <stdexcept>

#include "support/files.hpp"
#include "support/run.hpp"

namespace testing_support {

const Build kBuildA{'a', "torvek-a", TORVEK_A, 149808, "layout_report_a.txt", "a"};
const Build kBuildB{'b', "torvek-b", TORVEK_B, 49568, "layout_report_b.txt", "b"};
const Build kBuildC{'c', "torvek-c", TORVEK_C, 66104, nullptr, "c"};
const Build kBuildRev20{'r', "torvek-rev20", TORVEK_REV20, 149788, nullptr, "rev20"};
const Build kBuildScanner{'t', "torvek", TORVEK, 157276, nullptr, "rev=24.0"};
const Build* const kBuilds[3] = {&kBuildA, &kBuildB, &kBuildC};

std::string layoutReport(const Build& build) {
  if (!build.layout_report) return "";
  return read_file(std::string(GOLDEN_DIR) + "/" + build.layout_report);
}

void mkpfile(const std::string& kind, const std::string& path,
             const std::vector<std::string>& settings) {
  std::vector<std::string> argv{MKPFILE, kind, path};
  argv.insert(argv.end(), settings.begin(), settings.end());
  const RunResult made = run(argv);
  if (made.exit_code != 0) throw std::runtime_error("mkpfile " + kind + " " + path + ": " + made.err);
}

}  // namespace testing_support
