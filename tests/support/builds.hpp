// Test support: the three torvek builds as the tests drive them, and the
// synthetic Pfile writer every test makes its inputs with.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace testing_support {

struct Build {
  char layout;                   // 'a', 'b' or 'c', as mkpfile names it
  const char* program;           // the name messages start with
  const char* executable;        // path of the built executable
  std::size_t full;              // file length from which on every read is complete
  const char* layout_report;     // golden file of the layout report; null: none
};

// Layout A: header of 149808 bytes, one read from 0.
// Layout B: header of 49568 bytes, one read from 0.
// Layout C: series record read from 62488, image record read ending at 66104.
extern const Build kBuildA, kBuildB, kBuildC;
extern const Build* const kBuilds[3];

// The layout report that ends every run of a layout A or B build ("" for C).
std::string layoutReport(const Build& build);

// Runs mkpfile KIND PATH SETTINGS... and throws when it fails. KIND is a
// layout letter or "rev20".
void mkpfile(const std::string& kind, const std::string& path,
             const std::vector<std::string>& settings = {});
inline void mkpfile(const Build& build, const std::string& path,
                    const std::vector<std::string>& settings = {}) {
  mkpfile(std::string(1, build.layout), path, settings);
}

}  // namespace testing_support
