// Where torvek --json writes: while the run goes on, descriptor 1 points at
// /dev/null, so that nothing but the JSON line reaches standard output (the
// report, the dumps, the confirmation, a started tool's own output), and
// standard error is copied line by line for the line's "error" key.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace torvek {

class JsonOutput {
 public:
  JsonOutput() = default;
  JsonOutput(const JsonOutput&) = delete;
  JsonOutput& operator=(const JsonOutput&) = delete;
  ~JsonOutput();

  // Sets standard output aside and points descriptor 1 at /dev/null. 0 on
  // success, otherwise the errno of the call that failed (nothing changed).
  int divert();

  // Standard error as a stream that also keeps what is written to it; plain
  // stderr when no such stream can be made.
  std::FILE* errors();

  // The complete lines written to errors(), without their newlines.
  std::vector<std::string> lines() const;

  // Flushes what the run left on stdout into /dev/null and points descriptor 1
  // back at the standard output set aside.
  void restore();

 private:
  int saved_ = -1;
  std::FILE* tee_ = nullptr;
  std::string copied_;
};

}  // namespace torvek
