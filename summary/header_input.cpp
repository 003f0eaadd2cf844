// Byte order and revision check of melvane's header.
#include "summary/header_input.hpp"

#include "common/bytes.hpp"

namespace melvane {

int SwapEndian = 0;
int BigEndian = 0;

std::int16_t swaps(std::int16_t value) { return SwapEndian ? pfile::byteReversed(value) : value; }
std::int32_t swapl(std::int32_t value) { return SwapEndian ? pfile::byteReversed(value) : value; }
float swapf(float value) { return SwapEndian ? pfile::byteReversed(value) : value; }

int detectSwapEndian(HeaderBytes header) {
  const float first = pfile::load<float>(header, 0);
  // A NaN fails both comparisons and so selects the reversed order.
  return (first >= 5.0f && first <= 100.0f) ? 0 : 1;
}

float revisionOf(HeaderBytes header) { return numberAt<float>(header, 0); }

bool revisionAccepted(HeaderBytes header) { return revisionOf(header) == kRevision; }

}  // namespace melvane
