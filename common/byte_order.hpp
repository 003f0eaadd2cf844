// The byte order of a Pfile header's numbers, told by its first value, the
// software revision (a float): a value from 5.0 to 100.0 (both included) read
// in the host's order means host order; any other, a NaN included, means the
// reverse. A revision such as 20.006 is plainly inside that range in its own
// order and far outside it in the other (2304016.25, or a tiny number). Both
// tools decide the order here, once per header, before any other value.
#pragma once

#include "common/bytes.hpp"

namespace pfile {

// True when the header's numbers have their bytes in the reverse of host
// order. Throws std::out_of_range when `header` is shorter than 4 bytes.
inline bool storedReversed(Bytes header) {
  const float first = load<float>(header, 0);
  // A NaN fails both comparisons and so selects the reversed order.
  return !(first >= 5.0f && first <= 100.0f);
}

// A number as read from a header whose order storedReversed gave.
template <class T>
T inHostOrder(T stored, bool reversed) {
  return reversed ? byteReversed(stored) : stored;
}

}  // namespace pfile
