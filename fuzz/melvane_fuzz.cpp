// Fuzz target: melvane's byte-order detection, revision check, reading of the
// revision table and summary on arbitrary bytes of arbitrary length. The
// bytes are read as the run reads its input, and a header the table fits is
// then named and summarised as the run does.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "fuzz/memfd_input.hpp"
#include "summary/header_input.hpp"
#include "summary/summary.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::FILE* const out = fuzzing::discard();
  const melvane::HeaderRead read = melvane::readHeader(fuzzing::inputFile(data, size));
  if (read.row == nullptr) {
    // The refusal message formats the revision as the run does.
    std::fprintf(out, "Oops!  Wrong rev recon: file rev = %f\n", static_cast<double>(read.revision));
    return 0;
  }
  if (read.size != read.row->header_size) __builtin_trap();
  const melvane::Reading reading = melvane::readingOf(read.bytes(), read.reversed, *read.row);
  if (!reading.header) return 0;
  // The name is a file in the current directory: no directory part, and
  // nothing the format does not produce.
  const std::string name = melvane::summaryName(*reading.header);
  if (name.empty() || name.front() != 'E' || name.find('/') != std::string::npos ||
      !name.ends_with(".7")) {
    __builtin_trap();
  }
  // Writes to /dev/null cannot fail; a reported failure is a fault.
  if (melvane::writeSummary(*reading.header, out) != 0) __builtin_trap();
  return 0;
}
