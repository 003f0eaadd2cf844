// The revision guard of the builds whose layout names the software revisions
// it reads: the header's first float, in the byte order it tells, must be one
// of them, and the Rx is then read in that order.
#pragma once

#include <cstddef>
#include <string>

#include "rx/layout.hpp"

namespace torvek {

// True when the layout's header holds its numbers in the reverse of host
// order; never for a layout that checks no revision. `header` holds at least
// the layout's header_size bytes.
bool readsReversed(const Layout& layout, Bytes header);

// Empty when the layout checks no revision or `header` starts with one it
// reads; otherwise why not, for standard error, e.g. "revision 11.000000;
// this build reads revisions 20.006 and 20.007". `got` is how many of the
// header's bytes the input held: a revision it did not hold is not read.
std::string revisionRefusal(const Layout& layout, Bytes header, std::size_t got);

}  // namespace torvek
