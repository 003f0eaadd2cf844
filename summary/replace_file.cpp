// Temporary file, checked writes and rename into place.
#include "summary/replace_file.hpp"

#include <cerrno>
#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>

namespace melvane {
namespace {

// A new file ".melvane-XXXXXX" in `dir`, created exclusively, with a random
// suffix as mkstemp(3) makes it; the fixed short prefix keeps the name within
// NAME_MAX whatever the target's name. Mode 0666 under the umask, as an
// ordinary create would give the final file. Returns the descriptor or -1.
int createUnique(int dir, std::string& name) {
  static constexpr char kLetters[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  for (int attempt = 0; attempt < 100; ++attempt) {
    unsigned char random[6] = {};
    if (getrandom(random, sizeof random, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof random)) {
      // Without the kernel's randomness, the process id and the attempt
      // still make the names differ.
      unsigned long mix = static_cast<unsigned long>(getpid()) * 2654435761UL + 40503UL * static_cast<unsigned long>(attempt);
      for (unsigned char& r : random) {
        r = static_cast<unsigned char>(mix);
        mix = mix / 61 + mix * 31;
      }
    }
    name = ".melvane-";
    for (unsigned char r : random) name += kLetters[r % (sizeof kLetters - 1)];
    const int fd = openat(dir, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

}  // namespace

ReplaceFile::~ReplaceFile() {
  if (stream_) std::fclose(stream_);
  stream_ = nullptr;
  removeTemporary();
}

bool ReplaceFile::create(int dir, std::string name) {
  dir_ = dir;
  name_ = std::move(name);
  const int fd = createUnique(dir_, temporary_);
  if (fd < 0) {
    temporary_.clear();
    return false;
  }
  if (!(stream_ = fdopen(fd, "w"))) {
    const int err = errno;
    close(fd);
    removeTemporary();
    errno = err;
    return false;
  }
  return true;
}

ReplaceFile::Outcome ReplaceFile::commit() {
  // fflush reports a write error of the buffered tail; the stream's error
  // flag one of an earlier write that the caller may not have checked.
  bool written = std::fflush(stream_) == 0 && !std::ferror(stream_);
  int err = errno;
  if (!written && err == 0) err = EIO;
  if (std::fclose(stream_) != 0 && written) {
    written = false;
    err = errno;
  }
  stream_ = nullptr;
  if (!written) {
    removeTemporary();
    errno = err;
    return Outcome::write_failed;
  }
  if (renameat(dir_, temporary_.c_str(), dir_, name_.c_str()) != 0) {
    err = errno;
    removeTemporary();
    errno = err;
    return Outcome::not_placed;
  }
  temporary_.clear();
  return Outcome::placed;
}

void ReplaceFile::removeTemporary() {
  if (temporary_.empty()) return;
  const int err = errno;
  unlinkat(dir_, temporary_.c_str(), 0);
  errno = err;
  temporary_.clear();
}

}  // namespace melvane
