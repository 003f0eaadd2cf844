// Test support for the bad-input tests: how a run of a real executable must
// end whatever its input, and the input files cut from one valid file.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <initializer_list>
#include <set>
#include <string>
#include <vector>

#include "support/files.hpp"
#include "support/run.hpp"

namespace testing_support {

// A run that died of a signal, ran into its timeout or made a sanitizer
// speak failed, whatever its output says.
inline void expectCleanEnd(const RunResult& r, const std::string& what) {
  EXPECT_EQ(r.signal, 0) << what;
  EXPECT_FALSE(r.timed_out) << what;
  EXPECT_EQ(r.err.find("Sanitizer"), std::string::npos) << what << "\n" << r.err;
  EXPECT_EQ(r.err.find("runtime error"), std::string::npos) << what << "\n" << r.err;
}

// The lengths a valid file is cut to: a coarse grid over [0, full], and every
// length within 8 bytes of each boundary (also past the end of the file).
inline std::vector<std::size_t> cutLengths(std::size_t full, std::size_t grid_points,
                                           std::initializer_list<std::size_t> boundaries) {
  std::set<std::size_t> lengths;
  for (std::size_t i = 0; i <= grid_points; ++i) lengths.insert(full * i / grid_points);
  for (const std::size_t b : boundaries) {
    for (std::size_t n = b >= 8 ? b - 8 : 0; n <= b + 8; ++n) lengths.insert(n);
  }
  return {lengths.begin(), lengths.end()};
}

// The first `length` bytes of `bytes`, with zeros after its end.
inline std::string cut(const std::string& bytes, std::size_t length) {
  std::string out = bytes.substr(0, length);
  out.resize(length, '\0');
  return out;
}

}  // namespace testing_support
