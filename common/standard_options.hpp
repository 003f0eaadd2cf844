// --help and --version, which every program of the package answers the same
// way. Each counts only as the whole command line: a Pfile that is really
// named "--help" stays reachable as "./--help".
#pragma once

#include <cstdio>

namespace pfile {

enum class StandardOption { none, help, version };

// Which of the two the command line asks for; none unless it is the only
// argument.
StandardOption standardOption(int argc, char* const* argv);

// "torvek-b (torvek-melvane) 1.0" and a newline on `out`, the package's name
// and version as the build was configured, then the copyright line and the
// MIT licence's lines.
void printVersion(const char* program, std::FILE* out);

}  // namespace pfile
