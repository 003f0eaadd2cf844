// Revision 20.x as scanners write it: revisions 20.006 and 20.007, whose
// header size, record positions and Rx fields come from their rows of the
// revision table. The header starts with its revision, in either byte
// order; the build reads no other revision, and reads the Rx in the
// revision's order.
#include <array>
#include <string_view>

#include "rx/layout.hpp"

namespace torvek {
namespace {

constexpr std::array<std::string_view, 2> kRows{"20.006", "20.007"};

}  // namespace

constexpr Layout layoutRev20 = tableLayout("torvek-rev20", "revision 20.x", kRows, false);

}  // namespace torvek
