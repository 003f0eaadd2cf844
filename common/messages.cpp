// Messages on standard error, escaped names, and the standard descriptors.
#include "common/messages.hpp"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace pfile {
namespace {

// The first stream whose flush failed, and why: a later check of the same
// stream finds only its error flag and must still name the cause.
std::FILE* failed_stream = nullptr;
int failed_errno = 0;

}  // namespace

std::string escapedName(std::string_view name) {
  std::string shown;
  shown.reserve(name.size());
  for (const char c : name) {
    const auto byte = static_cast<unsigned char>(c);
    switch (c) {
      case '\\': shown += "\\\\"; continue;
      case '\n': shown += "\\n"; continue;
      case '\t': shown += "\\t"; continue;
      case '\r': shown += "\\r"; continue;
      default: break;
    }
    if (byte < 0x20 || byte == 0x7F) {
      const char octal[] = {'\\', static_cast<char>('0' + (byte >> 6)),
                            static_cast<char>('0' + ((byte >> 3) & 7)),
                            static_cast<char>('0' + (byte & 7))};
      shown.append(octal, sizeof octal);
    } else {
      shown += c;
    }
  }
  return shown;
}

void report(std::string_view program, std::string_view path, std::string_view message,
            std::FILE* out, std::FILE* err) {
  flushError(out);
  const std::string line =
      std::string(program) + ": " + escapedName(path) + ": " + std::string(message) + "\n";
  std::fwrite(line.data(), 1, line.size(), err);
  std::fflush(err);
}

int flushError(std::FILE* out) {
  errno = 0;
  if (std::fflush(out) != 0) {
    const int err = errno != 0 ? errno : EIO;
    if (failed_stream == nullptr) {
      failed_stream = out;
      failed_errno = err;
    }
    return err;
  }
  if (!std::ferror(out)) return 0;
  return out == failed_stream ? failed_errno : EIO;
}

bool openStandardDescriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) >= 0 || errno != EBADF) continue;
    // The lowest free descriptor is `fd` itself, since the lower ones are
    // open. Read-only, so that writing to a stream that was closed still
    // fails (EBADF) as it did: a report sent nowhere is not a success.
    const int opened = ::open("/dev/null", O_RDONLY);
    if (opened != fd) {
      if (opened >= 0) ::close(opened);
      return false;
    }
  }
  return true;
}

}  // namespace pfile
