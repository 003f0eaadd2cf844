// torvek's command line: [-brik prefix] [--json] [-debug] pfile.
#pragma once

#include <cstdio>
#include <optional>

namespace torvek {

struct Settings {
  const char* pfile = nullptr;   // always the last argument
  const char* prefix = nullptr;  // dataset prefix given with -brik
  int briknote = 0;              // 1: write the Rx note into the dataset
  int debug = 0;                 // 1: -debug given; no output depends on it
  bool json = false;             // --json: one line of JSON instead of the report
};

// Parses the argument vector. When the command line is not acceptable it
// prints the reason (if any) and the usage text on `out` and returns nothing;
// the caller then ends the run with status 2, a usage error.
std::optional<Settings> parsearg(int argc, char* const* argv, std::FILE* out);

// The usage text, naming the program as it was invoked.
void instructions(const char* program, std::FILE* out);

}  // namespace torvek
