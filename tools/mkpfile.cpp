// mkpfile: writes synthetic Pfiles with chosen values.
//   mkpfile a|b|c OUT [name=value ...]   a header of torvek's layout A, B or C
//   mkpfile rev20 OUT [name=value ...]   a revision 20.x header for melvane and torvek-rev20
//   mkpfile rev=R OUT [name=value ...]   a header of any revision R of the revision table
// Each writer's settings are listed by `mkpfile KIND --help`.
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "tools/writers.hpp"

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr,
                 "usage: mkpfile a|b|c OUT [name=value ...]\n"
                 "       mkpfile rev20 OUT [name=value ...]\n"
                 "       mkpfile rev=REVISION OUT [name=value ...]\n");
    return 2;
  }
  const std::string_view kind = argv[1];
  const std::string path = argv[2];
  const std::vector<std::string> settings(argv + 3, argv + argc);
  if (kind == "a" || kind == "b" || kind == "c") {
    return mkpfile::writeRxPfile(kind[0], path, settings);
  }
  if (kind.starts_with("rev=")) {
    return mkpfile::writeRevisionHeader(kind.substr(4), path, settings);
  }
  if (kind == "rev20") return mkpfile::writeRev20Header(path, settings);
  std::fprintf(stderr, "mkpfile: unknown kind '%s'\n", argv[1]);
  return 2;
}
