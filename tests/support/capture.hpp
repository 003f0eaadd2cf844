// Test support: an anonymous file to hand to functions that print on a
// FILE*, and what they printed as a string.
#pragma once

#include <cstdio>
#include <stdexcept>
#include <string>

namespace testing_support {

class Capture {
 public:
  Capture() : file_(std::tmpfile()) {
    if (!file_) throw std::runtime_error("tmpfile failed");
  }
  ~Capture() { std::fclose(file_); }
  Capture(const Capture&) = delete;
  Capture& operator=(const Capture&) = delete;

  std::FILE* file() const { return file_; }
  // Everything printed so far.
  std::string text() const {
    std::fflush(file_);
    std::rewind(file_);
    std::string all;
    char chunk[4096];
    for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, file_)) > 0;) all.append(chunk, n);
    return all;
  }

 private:
  std::FILE* file_;
};

}  // namespace testing_support
