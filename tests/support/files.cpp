// Test support: scratch directories, whole-file reads and golden comparisons.
#include "support/files.hpp"

#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <stdexcept>

namespace testing_support {

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "pfile-test-XXXXXX").string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::map<std::string, std::string> listing(const std::filesystem::path& dir) {
  std::map<std::string, std::string> files;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    files[entry.path().filename().string()] =
        entry.is_regular_file() ? read_file(entry.path()) : "<dir>";
  }
  return files;
}

std::string read_file(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) throw std::runtime_error("cannot read " + path.string());
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

void write_file(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file << bytes;
  if (!file) throw std::runtime_error("cannot write " + path.string());
}

void expect_same_text(const std::string& actual, const std::string& expected) {
  if (actual == expected) return;
  std::istringstream a(actual), e(expected);
  std::string line_a, line_e;
  for (int line = 1;; ++line) {
    bool more_a = static_cast<bool>(std::getline(a, line_a));
    bool more_e = static_cast<bool>(std::getline(e, line_e));
    if (!more_a && !more_e) {
      ADD_FAILURE() << "texts differ only in their final newline";
      return;
    }
    if (!more_a || !more_e || line_a != line_e) {
      ADD_FAILURE() << "first difference at line " << line << "\n  expected: "
                    << (more_e ? "\"" + line_e + "\"" : "<end>") << "\n  actual:   "
                    << (more_a ? "\"" + line_a + "\"" : "<end>");
      return;
    }
  }
}

void expect_golden(const std::string& actual, const std::string& name) {
  const std::filesystem::path path = std::filesystem::path(GOLDEN_DIR) / name;
  const char* update = std::getenv("PFILE_UPDATE_GOLDEN");
  if (update && std::string(update) == "1") {
    write_file(path, actual);
    return;
  }
  expect_same_text(actual, read_file(path));
}

}  // namespace testing_support
