// Messages on standard error, escaped names, and the standard descriptors.
#include "common/messages.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace pfile {
namespace {

// The first stream whose flush failed, and why: a later check of the same
// stream finds only its error flag and must still name the cause.
std::FILE* failed_stream = nullptr;
int failed_errno = 0;

// Writes the form in which `c` is shown at `to`; returns its length (1 to 4).
std::size_t escapeByte(char c, char* to) {
  const auto byte = static_cast<unsigned char>(c);
  switch (c) {
    case '\\': to[0] = '\\'; to[1] = '\\'; return 2;
    case '\n': to[0] = '\\'; to[1] = 'n'; return 2;
    case '\t': to[0] = '\\'; to[1] = 't'; return 2;
    case '\r': to[0] = '\\'; to[1] = 'r'; return 2;
    default: break;
  }
  if (byte < 0x20 || byte == 0x7F) {
    to[0] = '\\';
    to[1] = static_cast<char>('0' + (byte >> 6));
    to[2] = static_cast<char>('0' + ((byte >> 3) & 7));
    to[3] = static_cast<char>('0' + (byte & 7));
    return 4;
  }
  to[0] = c;
  return 1;
}

// Collects a line in a fixed buffer and writes it with as few writes as it
// can, one for any line that fits: a report must not need the heap, since
// "out of memory" is one of the things it says.
class LineWriter {
 public:
  explicit LineWriter(std::FILE* err) : err_(err) {}
  void put(std::string_view text) {
    for (const char c : text) putRaw(&c, 1);
  }
  void putEscaped(std::string_view text) {
    char escaped[4];
    for (const char c : text) putRaw(escaped, escapeByte(c, escaped));
  }
  void finish() {
    put("\n");
    flush();
    std::fflush(err_);
  }

 private:
  void putRaw(const char* bytes, std::size_t count) {
    if (sizeof buffer_ - used_ < count) flush();
    std::memcpy(buffer_ + used_, bytes, count);
    used_ += count;
  }
  void flush() {
    std::fwrite(buffer_, 1, used_, err_);
    used_ = 0;
  }

  std::FILE* err_;
  char buffer_[1024];
  std::size_t used_ = 0;
};

}  // namespace

std::string escapedName(std::string_view name) {
  std::string shown;
  shown.reserve(name.size());
  char escaped[4];
  for (const char c : name) shown.append(escaped, escapeByte(c, escaped));
  return shown;
}

std::string shownName(std::string_view name) {
  const bool plain = std::none_of(name.begin(), name.end(), [](char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte < 0x20 || byte == 0x7F;
  });
  return plain ? std::string(name) : escapedName(name);
}

void report(std::string_view program, std::string_view path, std::string_view message,
            std::FILE* out, std::FILE* err) {
  flushError(out);
  LineWriter line(err);
  line.put(program);
  line.put(": ");
  line.putEscaped(path);
  line.put(": ");
  line.put(message);
  line.finish();
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
