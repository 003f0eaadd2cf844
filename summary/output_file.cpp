// Temporary file (unnamed where the file system allows), checked writes,
// extended attributes, owner and permission bits of the file it replaces,
// rename into place; a named temporary is registered with pfile::cleanup.
#include "summary/output_file.hpp"

#include "common/cleanup.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace melvane {

OutputFile::~OutputFile() {
  if (stream_) std::fclose(stream_);  // an unnamed temporary goes with it
  removeTemporary();
  if (dir_ >= 0) close(dir_);
}

bool OutputFile::create(const std::string& path, Existing existing) {
  const std::size_t slash = path.rfind('/');
  const std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  name_ = slash == std::string::npos ? path : path.substr(slash + 1);
  directory_ = slash == std::string::npos ? "" : path.substr(0, slash + 1);
  keep_ = existing == Existing::keep;
  dir_ = open(dir.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (dir_ < 0) return false;

  // Only the entry itself counts: a symbolic link is replaced, not followed.
  struct stat target {};
  if (fstatat(dir_, name_.c_str(), &target, AT_SYMLINK_NOFOLLOW) == 0) {
    if (keep_) {
      refusal_ = Refusal::exists;
      errno = EEXIST;
      return false;
    }
    if (S_ISDIR(target.st_mode)) {
      errno = EISDIR;
      return false;
    }
    if (S_ISREG(target.st_mode)) {
      // A file that an open for writing would refuse is not replaced.
      if (faccessat(dir_, name_.c_str(), W_OK, AT_EACCESS) != 0) return false;
      existing_ = true;
      old_ = target;
    } else if (!S_ISLNK(target.st_mode)) {
      // Renaming over a FIFO or a device would cut off whatever reads it.
      refusal_ = Refusal::not_regular;
      errno = EEXIST;
      return false;
    }
  } else if (errno != ENOENT) {
    return false;
  }

  const int fd = openTemporary();
  if (fd < 0) return false;
  if (!passOnAttributes(fd) || !(stream_ = fdopen(fd, "w"))) {
    const int err = errno;
    close(fd);
    removeTemporary();
    errno = err;
    return false;
  }
  return true;
}

int OutputFile::openTemporary() {
  if (kind_ == Temporary::unnamed_where_possible) {
    const int fd = openat(dir_, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
    // EOPNOTSUPP: the file system has no unnamed files; EISDIR: the kernel
    // does not know O_TMPFILE.
    if (fd >= 0 || (errno != EOPNOTSUPP && errno != EISDIR)) return fd;
  }
  const pfile::cleanup::Held held;
  int fd = -1;
  if (!pfile::withUniqueName(".melvane-", random_, temporary_, [&](const char* name) {
        fd = openat(dir_, name, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        return fd >= 0;
      })) {
    temporary_.clear();
    return -1;
  }
  if (!registerTemporary()) {
    close(fd);
    return -1;
  }
  return fd;
}

// Gives an unnamed temporary its hidden name in the target's directory.
bool OutputFile::nameTemporary(int fd) {
  const std::string self = "/proc/self/fd/" + std::to_string(fd);
  const pfile::cleanup::Held held;
  if (!pfile::withUniqueName(".melvane-", random_, temporary_, [&](const char* name) {
        if (linkat(AT_FDCWD, self.c_str(), dir_, name, AT_SYMLINK_FOLLOW) == 0) return true;
        // Without /proc, the descriptor itself (needs CAP_DAC_READ_SEARCH).
        return errno == ENOENT && linkat(fd, "", dir_, name, AT_EMPTY_PATH) == 0;
      })) {
    temporary_.clear();
    return false;
  }
  return registerTemporary();
}

// Registers the temporary just named, with signals held: a signal that ends
// the run removes it from now on. When it cannot be, it is removed at once.
bool OutputFile::registerTemporary() {
  slot_ = pfile::cleanup::add(dir_, temporary_, pfile::cleanup::Kind::file, "melvane",
                              directory_ + temporary_);
  if (slot_ >= 0) return true;
  unlinkat(dir_, temporary_.c_str(), 0);
  temporary_.clear();
  errno = ENFILE;
  return false;
}

// What the replaced file carries, given to the new one.
// The old file is opened only to read them: for reading, or, when its mode
// allows only writing, for writing (create() found it writable).
bool OutputFile::passOnAttributes(int fd) const {
  if (!existing_) return true;
  constexpr int kFlags = O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
  int from = openat(dir_, name_.c_str(), O_RDONLY | kFlags);
  if (from < 0 && errno == EACCES) from = openat(dir_, name_.c_str(), O_WRONLY | kFlags);
  if (from < 0) return false;
  const bool done =
      pfile::passOnAttributes(from, old_, fd, pfile::OwnerRule::as_far_as_allowed) ==
      pfile::HandOver::done;
  const int err = errno;
  close(from);
  errno = err;
  return done;
}

// Renames the named temporary over the target, or, when the target is kept,
// to the target's name only while no file has it.
bool OutputFile::placeTemporary() {
  if (keep_) {
    if (renameat2(dir_, temporary_.c_str(), dir_, name_.c_str(), RENAME_NOREPLACE) == 0) {
      return true;
    }
    if (errno == EEXIST) refusal_ = Refusal::exists;
    // A file system without the flag: create() saw no file of the name.
    if (errno != EINVAL) return false;
  }
  return renameat(dir_, temporary_.c_str(), dir_, name_.c_str()) == 0;
}

OutputFile::Outcome OutputFile::commit() {
  // fflush reports a write error of the buffered tail; the stream's error
  // flag one of an earlier write that the caller may not have checked.
  Outcome outcome = Outcome::placed;
  int err = 0;
  if (std::fflush(stream_) != 0 || std::ferror(stream_)) {
    outcome = Outcome::write_failed;
    err = errno != 0 ? errno : EIO;
  } else if (temporary_.empty() && !nameTemporary(fileno(stream_))) {
    outcome = Outcome::not_placed;
    err = errno;
  }
  if (std::fclose(stream_) != 0 && outcome == Outcome::placed) {
    outcome = Outcome::write_failed;
    err = errno;
  }
  stream_ = nullptr;
  if (outcome == Outcome::placed) {
    const pfile::cleanup::Held held;
    if (placeTemporary()) {
      pfile::cleanup::forget(slot_);
      slot_ = -1;
      temporary_.clear();
      return outcome;
    }
    outcome = Outcome::not_placed;
    err = errno;
  }
  removeTemporary();
  errno = err;
  return outcome;
}

void OutputFile::removeTemporary() {
  if (temporary_.empty()) return;
  const int err = errno;
  pfile::cleanup::remove(slot_);
  slot_ = -1;
  temporary_.clear();
  errno = err;
}

}  // namespace melvane
