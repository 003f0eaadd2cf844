// Opening a Pfile and reading its first bytes.
#include "common/pfile_input.hpp"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace pfile {

int openInput(const char* path) {
  const int fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return -1;
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
    const int err = errno;
    ::close(fd);
    errno = err;
    return -1;
  }
  return fd;
}

ReadResult readFully(int fd, std::span<std::byte> into) {
  ReadResult result;
  while (result.got < into.size()) {
    const ssize_t n = ::read(fd, into.data() + result.got, into.size() - result.got);
    if (n > 0) {
      result.got += static_cast<std::size_t>(n);
    } else if (n == 0) {
      break;  // end of input
    } else if (errno != EINTR) {
      result.error = errno;
      break;
    }
  }
  return result;
}

}  // namespace pfile
