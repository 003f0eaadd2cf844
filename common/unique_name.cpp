// Random bytes for hidden names, from the kernel.
#include "common/unique_name.hpp"

#include <sys/random.h>

namespace pfile {

bool kernelRandom(std::span<unsigned char> bytes) {
  const ssize_t got = getrandom(bytes.data(), bytes.size(), 0);
  if (got == static_cast<ssize_t>(bytes.size())) return true;
  if (got >= 0) errno = EIO;
  return false;
}

}  // namespace pfile
