// Fuzz target: melvane's byte-order detection, revision check and summary on
// arbitrary bytes of arbitrary length. The bytes go through the executable's
// own header read into a zero-filled header buffer; an accepted header is then
// summarised as the run does, and the summary functions also get the input
// itself as a span, which may be shorter than a header.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string>

#include "fuzz/memfd_input.hpp"
#include "summary/header_input.hpp"
#include "summary/summary.hpp"

namespace {

void summarise(pfile::Bytes header, std::FILE* out) {
  melvane::SwapEndian = melvane::detectSwapEndian(header);
  if (!melvane::revisionAccepted(header)) {
    // The refusal message formats the revision as the run does.
    std::fprintf(out, "Oops!  Wrong rev recon: file rev = %f\n",
                 static_cast<double>(melvane::revisionOf(header)));
    return;
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
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static std::array<std::byte, melvane::kHeaderSize> header;
  std::fill(header.begin(), header.end(), std::byte{0});
  std::FILE* const out = fuzzing::discard();
  melvane::BigEndian = 0;

  const int fd = fuzzing::inputFile(data, size);
  const std::size_t got = melvane::readHeader(fd, header);
  if (got != std::min(size, melvane::kHeaderSize)) __builtin_trap();
  summarise(header, out);

  if (size < melvane::kHeaderSize) {
    summarise(pfile::Bytes(reinterpret_cast<const std::byte*>(data), size), out);
  }
  return 0;
}
