// Byte order and revision check of melvane's header.
#include "summary/header_input.hpp"

#include "common/byte_order.hpp"

namespace melvane {

int SwapEndian = 0;
int BigEndian = 0;

std::int16_t swaps(std::int16_t value) { return pfile::inHostOrder(value, SwapEndian != 0); }
std::int32_t swapl(std::int32_t value) { return pfile::inHostOrder(value, SwapEndian != 0); }
float swapf(float value) { return pfile::inHostOrder(value, SwapEndian != 0); }
std::uint16_t swapus(std::uint16_t value) { return pfile::inHostOrder(value, SwapEndian != 0); }
std::uint32_t swapul(std::uint32_t value) { return pfile::inHostOrder(value, SwapEndian != 0); }

int detectSwapEndian(HeaderBytes header) { return pfile::storedReversed(header) ? 1 : 0; }

float revisionOf(HeaderBytes header) { return numberAt<float>(header, 0); }

std::optional<Revision> acceptedRevision(HeaderBytes header) {
  const float revision = revisionOf(header);
  if (revision == 20.006f) return Revision::r20_006;
  if (revision == 20.007f) return Revision::r20_007;
  return std::nullopt;
}

bool revisionAccepted(HeaderBytes header) { return acceptedRevision(header).has_value(); }

}  // namespace melvane
