// Byte order, revision check and header read of melvane's input.
#include "summary/header_input.hpp"

#include <bit>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

#include "summary/path_at.hpp"

namespace melvane {

int SwapEndian = 0;
int BigEndian = 0;

namespace {

constexpr std::uint16_t reversed(std::uint16_t v) {
  return static_cast<std::uint16_t>((v >> 8) | (v << 8));
}
constexpr std::uint32_t reversed(std::uint32_t v) {
  return (v >> 24) | ((v >> 8) & 0xFF00u) | ((v << 8) & 0xFF0000u) | (v << 24);
}

}  // namespace

std::int16_t swaps(std::int16_t value) {
  return SwapEndian ? static_cast<std::int16_t>(reversed(static_cast<std::uint16_t>(value)))
                    : value;
}

std::int32_t swapl(std::int32_t value) {
  return SwapEndian ? static_cast<std::int32_t>(reversed(static_cast<std::uint32_t>(value)))
                    : value;
}

float swapf(float value) {
  return SwapEndian ? std::bit_cast<float>(reversed(std::bit_cast<std::uint32_t>(value))) : value;
}

int detectSwapEndian(Bytes header) {
  if (header.size() < sizeof(float)) return 1;
  const float first = pfile::load<float>(header, 0);
  // A NaN fails both comparisons and so selects the reversed order.
  return (first >= 5.0f && first <= 100.0f) ? 0 : 1;
}

float revisionOf(Bytes header) {
  if (header.size() < sizeof(float)) return 0.0f;
  return swapf(pfile::load<float>(header, 0));
}

bool revisionAccepted(Bytes header) { return revisionOf(header) == kRevision; }

int openInput(std::string_view path) {
  const PathAt at(path);
  if (!at.ok()) {
    errno = at.error();
    return -1;
  }
  const int fd = openat(at.dir(), at.name(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) return -1;
  const int flags = fcntl(fd, F_GETFL);
  if (flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
    const int err = errno;
    close(fd);
    errno = err;
    return -1;
  }
  return fd;
}

std::size_t readHeader(int fd, std::span<std::byte> buffer) {
  std::size_t got = 0;
  while (got < buffer.size()) {
    const ssize_t n = read(fd, buffer.data() + got, buffer.size() - got);
    if (n > 0) {
      got += static_cast<std::size_t>(n);
    } else if (n == 0 || errno != EINTR) {
      break;
    }
  }
  return got;
}

}  // namespace melvane
