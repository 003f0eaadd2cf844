// --help and --version as the whole command line.
#include "common/standard_options.hpp"

#include <cstring>

namespace pfile {

StandardOption standardOption(int argc, char* const* argv) {
  if (argc != 2 || argv[1] == nullptr) return StandardOption::none;
  if (std::strcmp(argv[1], "--help") == 0) return StandardOption::help;
  if (std::strcmp(argv[1], "--version") == 0) return StandardOption::version;
  return StandardOption::none;
}

void printVersion(const char* program, std::FILE* out) {
  std::fprintf(out, "%s (%s) %s\n", program, PFILE_PACKAGE, PFILE_VERSION);
  // The copyright and licence lines, as GNU tools print them.
  std::fputs("Copyright (C) 2026 The torvek-melvane developers.\n"
             "License MIT: <https://opensource.org/license/mit>.\n"
             "This is free software: you are free to change and redistribute it.\n"
             "There is NO WARRANTY, to the extent permitted by law.\n",
             out);
}

}  // namespace pfile
