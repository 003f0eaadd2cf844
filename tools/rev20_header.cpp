// Revision 20.006 headers for melvane (not yet written).
#include <cstdio>

#include "tools/writers.hpp"

namespace mkpfile {

int writeRev20Header(const std::string&, std::span<const std::string>) {
  std::fprintf(stderr, "mkpfile: rev20 headers are not supported yet\n");
  return 2;
}

}  // namespace mkpfile
