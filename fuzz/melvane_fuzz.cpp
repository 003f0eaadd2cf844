// Fuzz target: melvane's byte-order detection, revision check and summary on
// arbitrary bytes of arbitrary length. The bytes are read as the run reads
// its input, through the common Pfile input into a zero-filled header buffer,
// and an accepted header is then named and summarised as the run does.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "common/pfile_input.hpp"
#include "fuzz/memfd_input.hpp"
#include "summary/header_input.hpp"
#include "summary/summary.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static std::array<std::byte, melvane::kHeaderSize> header;
  std::fill(header.begin(), header.end(), std::byte{0});
  std::FILE* const out = fuzzing::discard();
  melvane::BigEndian = 0;

  const pfile::ReadResult read = pfile::readFully(fuzzing::inputFile(data, size), header);
  if (read.error != 0 || read.got != std::min(size, melvane::kHeaderSize)) __builtin_trap();

  melvane::SwapEndian = melvane::detectSwapEndian(header);
  if (!melvane::revisionAccepted(header)) {
    // The refusal message formats the revision as the run does.
    std::fprintf(out, "Oops!  Wrong rev recon: file rev = %f\n",
                 static_cast<double>(melvane::revisionOf(header)));
    return 0;
  }
  // The name is a file in the current directory: no directory part, and
  // nothing the format does not produce.
  const std::string name = melvane::summaryName(header);
  if (name.empty() || name.front() != 'E' || name.find('/') != std::string::npos ||
      !name.ends_with(".7")) {
    __builtin_trap();
  }
  // Writes to /dev/null cannot fail; a reported failure is a fault.
  if (melvane::writeSummary(header, out) != 0) __builtin_trap();
  return 0;
}
