// torvek --json run for real in every build, each run beside the same run
// without it: one line of JSON on standard output whatever the run met (a
// refused revision, a non-finite Rx, a short or missing file, a -brik note
// through a stand-in 3dNotes that prints a line of its own), its values
// those the report shows with letters, and the same status and standard
// error as the report's run.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "support/builds.hpp"
#include "support/files.hpp"
#include "support/run.hpp"

using namespace testing_support;
using nlohmann::json;

namespace {

// The report's coordinate for a RAS+ value: the letter of its sign (zero
// takes L, P and S, as the report prints 0.0) and one decimal.
std::string lettered(const json& value, char positive, char other, bool positive_above_zero) {
  if (value.is_null()) return "null";
  const double v = value.get<double>();
  const bool first = positive_above_zero ? v > 0 : v < 0;
  char shown[64];
  std::snprintf(shown, sizeof shown, "%c%.1f", first ? positive : other, std::fabs(v));
  return shown;
}

// "Start:\tR20.0\tP12.5\tS7.2"-like line for a JSON triple.
std::string asReportLine(const char* label, const json& ras) {
  return std::string(label) + "\t" + lettered(ras[0], 'R', 'L', true) + "\t" +
         lettered(ras[1], 'A', 'P', true) + "\t" + lettered(ras[2], 'I', 'S', false);
}

// The report's line starting with `label`, non-finite values as null.
std::string reportLine(const std::string& out, const std::string& label) {
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);) {
    if (!line.starts_with(label)) continue;
    std::string shown;  // each letter with nan or inf after it as null
    for (std::size_t i = 0; i < line.size(); ++i) {
      const std::string_view rest = std::string_view(line).substr(i + 1);
      if (rest.starts_with("nan") || rest.starts_with("inf")) {
        shown += "null";
        i += 3;
      } else {
        shown += line[i];
      }
    }
    return shown;
  }
  return "<none>";
}

}  // namespace

TEST(TorvekJson, OneLineWithTheReportsValuesInEveryRun) {
  TempDir dir;
  std::filesystem::create_directories(dir / "bin");
  std::filesystem::copy_file(FAKE_3DNOTES, dir / "bin/3dNotes");
  const std::vector<std::string> rx = {"start_ras=S", "ctr_R=-1.2345678", "ctr_A=12.5",
                                       "ctr_S=7.25", "norm_R=0", "norm_A=0.6", "norm_S=0.8"};
  const std::string missing = "missing\xff.7";
  const struct {
    const Build& build;
    std::vector<std::string> settings;  // empty: no Pfile is made
    std::vector<std::string> options;
    const char* revision;   // null: JSON null
    const char* note;       // null: JSON null
    float start_R;          // exactly, when the run is ok
    bool all_null;          // no value: refused, or its bytes did not come
  } cases[] = {
      {kBuildA, rx, {}, nullptr, nullptr, -1.2345678f, false},
      {kBuildB, rx, {}, nullptr, nullptr, -1.2345678f, false},
      {kBuildC, rx, {"-brik", "anat"}, nullptr, "anat+orig", -1.2345678f, false},
      {kBuildRev20, {"rev=20.007", "order=be"}, {}, "20.007", nullptr, -120.0f, false},
      {kBuildRev20, {"rev=11"}, {}, "11.000", nullptr, NAN, true},
      {kBuildRev20, {"ctr_R=nan"}, {"-brik", "anat"}, "20.006", nullptr, NAN, false},
      {kBuildB, {"start_ras=S", "norm_S=0"}, {}, nullptr, nullptr, NAN, false},
      {kBuildA, {"norm_R=1.1"}, {}, nullptr, nullptr, NAN, true},
      {kBuildB, {"size=40000"}, {}, nullptr, nullptr, NAN, true},
      {kBuildRev20, {}, {}, nullptr, nullptr, NAN, true},
  };
  for (const auto& c : cases) {
    const std::string pfile = c.settings.empty() ? missing : "P.7";
    SCOPED_TRACE(std::string(c.build.program) + " " +
                 (c.settings.empty() ? "missing" : c.settings.back()));
    if (!c.settings.empty()) mkpfile(c.build, dir / pfile, c.settings);
    RunOptions options{.cwd = dir.path().string(),
                       .env = {{"PATH", dir / "bin" + ":" + std::getenv("PATH")}}};
    std::vector<std::string> argv{c.build.executable};
    argv.insert(argv.end(), c.options.begin(), c.options.end());
    argv.push_back(pfile);
    const RunResult report = run(argv, options);
    argv.insert(argv.begin() + 1, "--json");
    const RunResult r = run(argv, options);

    EXPECT_EQ(r.exit_code, report.exit_code);
    EXPECT_EQ(r.err, report.err);
    ASSERT_TRUE(r.out.ends_with("\n") && r.out.find('\n') == r.out.size() - 1) << r.out;
    const json line = json::parse(r.out);
    // nlohmann::json sorts its keys: their order is read from the text.
    std::size_t at = 0;
    for (const char* key : {"pfile", "program", "revision", "start_ras_mm", "end_ras_mm",
                            "normal", "note", "error"}) {
      const std::size_t found = r.out.find(std::string(key) + "\":", at);
      EXPECT_NE(found, std::string::npos) << key;
      at = found;
    }
    EXPECT_EQ(line.size(), 8u);

    EXPECT_EQ(line["pfile"], c.settings.empty() ? "missing\xEF\xBF\xBD.7" : pfile);
    EXPECT_EQ(line["program"], c.build.program);
    EXPECT_EQ(line["revision"], c.revision ? json(c.revision) : json(nullptr));
    EXPECT_EQ(line["note"], c.note ? json(c.note) : json(nullptr));
    std::string errors;  // the lines joined with "; ", the byte 0xFF as U+FFFD
    for (const char byte : report.err.substr(0, report.err.size() - !report.err.empty())) {
      errors += byte == '\n' ? std::string("; ") : byte == '\xff' ? "\xEF\xBF\xBD" : std::string(1, byte);
    }
    EXPECT_EQ(line["error"], report.err.empty() ? json(nullptr) : json(errors));

    // The values are the report's, as letters, wherever a check let it stand.
    for (const char* key : {"start_ras_mm", "end_ras_mm", "normal"}) {
      ASSERT_TRUE(line[key].is_array() && line[key].size() == 3) << key;
      for (const json& value : line[key]) {
        EXPECT_TRUE(value.is_number_float() || value.is_null()) << key;
        if (c.all_null) {
          EXPECT_TRUE(value.is_null()) << key;
        }
      }
    }
    if (c.all_null) continue;
    EXPECT_EQ(asReportLine("Start:", line["start_ras_mm"]), reportLine(report.out, "Start:"));
    EXPECT_EQ(asReportLine("End:", line["end_ras_mm"]), reportLine(report.out, "End:"));
    char normal[128];
    std::snprintf(normal, sizeof normal, "norm_R= %5.4f, norm_A=%5.4f, norm_S=%5.4f",
                  line["normal"][0].get<double>(), line["normal"][1].get<double>(),
                  line["normal"][2].get<double>());
    EXPECT_EQ(normal, reportLine(report.out, "norm_R="));
    if (report.exit_code == 0) {
      EXPECT_EQ(static_cast<float>(line["start_ras_mm"][0].get<double>()), c.start_R);
    }
  }
}
