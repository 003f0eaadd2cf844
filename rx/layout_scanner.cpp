// Every revision of the revision table (common/revisions.hpp): the build
// recommended for any scanner-written Pfile. It reads the revision at
// offset 0 (in either byte order), then the rest of that revision's header
// in one read, and takes every position from the revision's row.
#include "rx/layout.hpp"

namespace torvek {

constexpr Layout layoutScanner = tableLayout("torvek", "revision", {}, true);

}  // namespace torvek
