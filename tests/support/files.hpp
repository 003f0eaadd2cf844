// Test support: scratch directories, whole-file reads and golden comparisons.
#pragma once

#include <filesystem>
#include <map>
#include <string>

namespace testing_support {

// A fresh directory under the system's temporary directory, removed with
// everything in it when the object goes away.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::string operator/(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

std::string read_file(const std::filesystem::path& path);
void write_file(const std::filesystem::path& path, const std::string& bytes);

// Compares `actual` with tests/golden/<name>. A mismatch fails the test and
// names the first differing line. With PFILE_UPDATE_GOLDEN=1 in the
// environment the golden file is rewritten instead (read the diff before
// committing it).
void expect_golden(const std::string& actual, const std::string& name);

// Every entry of `dir` with its contents ("<dir>" for a subdirectory), by name.
std::map<std::string, std::string> listing(const std::filesystem::path& dir);

// Fails the test with the first differing line when the texts differ.
void expect_same_text(const std::string& actual, const std::string& expected);

}  // namespace testing_support
