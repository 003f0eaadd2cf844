// Opening a Pfile and reading it at an offset by seeking or by reading forward.
#include "common/pfile_input.hpp"

#include <array>
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

namespace {

// Reads and drops `count` bytes; error 0 with fewer dropped means the input
// ended first.
ReadResult skipForward(int fd, std::uint64_t count) {
  std::array<std::byte, 16384> scratch;
  ReadResult skipped;
  while (skipped.got < count) {
    const std::uint64_t left = count - skipped.got;
    const std::size_t chunk = left < scratch.size() ? static_cast<std::size_t>(left) : scratch.size();
    const ReadResult r = readFully(fd, std::span(scratch).first(chunk));
    skipped.got += r.got;
    if (r.error != 0 || r.got < chunk) {
      skipped.error = r.error;
      break;
    }
  }
  return skipped;
}

}  // namespace

ReadResult readAt(int fd, std::uint64_t offset, std::span<std::byte> into) {
  if (offset > static_cast<std::uint64_t>(INT64_MAX)) return {0, EOVERFLOW};
  if (::lseek(fd, static_cast<off_t>(offset), SEEK_SET) < 0) {
    if (errno != ESPIPE) return {0, errno};
    const ReadResult skipped = skipForward(fd, offset);
    if (skipped.error != 0 || skipped.got < offset) return {0, skipped.error};
  }
  return readFully(fd, into);
}

}  // namespace pfile
