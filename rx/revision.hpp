// The revision guard of the builds that read rows of the revision table
// (common/revisions.hpp): the header's first float, in the byte order it
// tells, must name one of the build's rows; that row then gives the
// header's size, its record positions and the Rx fields' places.
#pragma once

#include <array>
#include <cstddef>
#include <cstdio>
#include <string>

#include "common/revisions.hpp"
#include "rx/layout.hpp"

namespace torvek {

// True when the header holds its numbers in the reverse of host order; never
// for a layout that checks no revision. `header` holds at least 4 bytes.
bool readsReversed(const Layout& layout, Bytes header);

// The row of the build's revisions that `header` (at least its first 4
// bytes) starts with, or null.
const pfile::Revision* revisionRead(const Layout& layout, Bytes header);

// How many bytes the build's first read takes: the header of its revisions
// when they all have one size (torvek-rev20), otherwise just the revision,
// so that the rest of the header is read once its size is known.
std::size_t firstReadSize(const Layout& layout);

// Why `header` is refused, for standard error, when it does not start with a
// revision the build reads; `got` is how many of its bytes the input held.
// torvek-rev20: "revision 11.000000; this build reads revisions 20.006 and
// 20.007"; torvek: "revision 26.003000 is not one this program reads (it
// reads 7.0, 9.0, ...)".
std::string revisionRefusal(const Layout& layout, Bytes header, std::size_t got);

// The line of torvek's --help that names the revisions it reads.
void printRevisionsRead(std::FILE* out);

// The build's layout for one header of a revision it reads: the header size,
// record positions and Rx field offsets of the revision's row, as its words
// (if any) place them; one read of the whole header, whose short-read
// message is the image record's.
class HeaderPlan {
 public:
  HeaderPlan(const Layout& build, const pfile::HeaderLayout& table);
  HeaderPlan(const HeaderPlan&) = delete;
  HeaderPlan& operator=(const HeaderPlan&) = delete;

  const Layout& layout() const { return layout_; }
  const pfile::HeaderLayout& table() const { return table_; }

 private:
  std::string name_;  // "revision 24.0" for torvek; the build's name otherwise
  std::array<ShortRead, 1> read_;
  pfile::HeaderLayout table_;
  Layout layout_;
};

}  // namespace torvek
