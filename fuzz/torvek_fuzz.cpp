// Fuzz target: a torvek build's whole read-and-report path on arbitrary bytes
// of arbitrary length, through the functions the executable calls after its
// open: the header read, the record dumps (layout A), the Rx computation and
// report, and the layout report. FUZZ_LAYOUT names the layout, FUZZ_FULL_SIZE
// the file length from which on every read of that layout is complete (for
// torvek, of every revision).
#include <cstddef>
#include <cstdint>

#include "fuzz/memfd_input.hpp"
#include "rx/rx.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const torvek::Layout& layout = torvek::FUZZ_LAYOUT;
  const int fd = fuzzing::inputFile(data, size);
  std::FILE* const out = fuzzing::discard();

  torvek::RxRecord rx;
  const torvek::RxOutcome outcome = torvek::reportRx(layout, rx, fd, "fuzz", out, out);
  torvek::printLayoutReport(layout, out);

  // The outcome must say short read exactly when the file is too short for
  // one of the layout's reads; anything else means bytes were missed or
  // invented. A memory file never fails to read.
  // A build of revision-table rows reads its revision's own header size, at
  // most FUZZ_FULL_SIZE: there only a complete input is never short.
  const bool complete = size >= FUZZ_FULL_SIZE;
  const bool short_read = outcome == torvek::RxOutcome::short_read;
  if (torvek::readsRevisions(layout) ? complete && short_read : complete == short_read) {
    __builtin_trap();
  }
  if (outcome == torvek::RxOutcome::cant_open || outcome == torvek::RxOutcome::read_error) {
    __builtin_trap();
  }
  return 0;
}
