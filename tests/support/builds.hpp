// Test support: the torvek builds as the tests drive them, and the synthetic
// Pfile writer every test makes its inputs with.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace testing_support {

struct Build {
  char layout;                   // 'a', 'b' or 'c'; 'r' for revision 20.x; 't' for torvek
  const char* program;           // the name messages start with
  const char* executable;        // path of the built executable
  std::size_t full;              // file length from which on every read is complete
  const char* layout_report;     // golden file of the layout report; null: none
  const char* kind;              // mkpfile's name of the kind of file the build reads
};

// Layout A: header of 149808 bytes, one read from 0.
// Layout B: header of 49568 bytes, one read from 0.
// Layout C: series record read from 62488, image record read ending at 66104.
// kBuilds holds these three. Revision 20.x: header of 149788 bytes, one read
// from 0; it has tests of its own rather than a copy of every layout test.
// torvek, every revision of the revision table: its demo input is a
// revision 24.0 header (157276 bytes).
extern const Build kBuildA, kBuildB, kBuildC, kBuildRev20, kBuildScanner;
extern const Build* const kBuilds[3];

// The layout report that ends every run of a layout A or B build ("" for C).
std::string layoutReport(const Build& build);

// Runs mkpfile KIND PATH SETTINGS... and throws when it fails. KIND is a
// layout letter, "rev20" or "rev=REVISION".
void mkpfile(const std::string& kind, const std::string& path,
             const std::vector<std::string>& settings = {});
inline void mkpfile(const Build& build, const std::string& path,
                    const std::vector<std::string>& settings = {}) {
  mkpfile(build.kind, path, settings);
}

}  // namespace testing_support
