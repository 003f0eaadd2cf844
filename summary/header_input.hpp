// melvane's reading of a Pfile header: the byte order of its numbers, the
// revision at offset 0, that revision's whole header (its size and layout
// from the revision table), and whether the table fits the file.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>

#include "common/bytes.hpp"
#include "common/revisions.hpp"
#include "common/scan_header.hpp"

namespace melvane {

using pfile::Bytes;

// A header as it came from the input.
struct HeaderRead {
  // The revision's whole header, zeros where the input ended; for a revision
  // outside the table, only its first 4 bytes.
  std::unique_ptr<std::byte[]> storage;
  std::size_t size = 0;
  Bytes bytes() const { return {storage.get(), size}; }
  bool reversed = false;                 // numbers stored in the reverse of host order
  float revision = 0;                    // the number at offset 0, in that order
  const pfile::Revision* row = nullptr;  // its row of the table, or null
  std::string shortfall;                 // why the header did not arrive whole, or ""
};

// Reads the first 4 bytes of `input`, which give the byte order and the
// revision, then the rest of that revision's header. Never fails: a read
// error or an early end is told in `shortfall`.
HeaderRead readHeader(int input);

// The revision at offset 0 of `header`, in the order `reversed` says.
float revisionOf(Bytes header, bool reversed);

// Revisions 20.006 and 20.007 are read at the table's own positions with no
// check of words or geometry, as melvane has always read them; any other
// revision only where its words and its own geometry agree with the table.
bool checkedAgainstItself(const pfile::Revision& revision);

// A whole header of a table revision, ready to summarise; or, when the
// table does not fit it, why not (a message for standard error).
struct Reading {
  std::optional<pfile::ScanHeader> header;
  std::string misfit;
};
// `header` holds at least revision.header_size bytes.
Reading readingOf(Bytes header, bool reversed, const pfile::Revision& revision);

}  // namespace melvane
