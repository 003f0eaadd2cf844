// Temporary file (unnamed where the file system allows), checked writes,
// extended attributes, owner and permission bits of the file it replaces,
// rename into place, and the signal handler that removes a named temporary.
#include "summary/replace_file.hpp"

#include "common/die_of_signal.hpp"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace melvane {
namespace {

// The named temporary that a cleanup signal removes (the run writes one output
// at a time, so there is at most one); "armed" only while it exists. Changed
// only with the cleanup signals blocked, so the handler never sees it half-set.
int cleanup_dir = -1;
char cleanup_name[16];
volatile std::sig_atomic_t cleanup_armed = 0;

// Whether the default action of `signal_number` ends the process. Those that
// stop, continue or do nothing are left out; so are SIGKILL and SIGSTOP,
// which cannot be caught.
bool endsTheProcess(int signal_number) {
  switch (signal_number) {
    case SIGKILL: case SIGSTOP: case SIGTSTP: case SIGTTIN: case SIGTTOU:
    case SIGCONT: case SIGCHLD: case SIGURG: case SIGWINCH:
      return false;
    default:
      return true;
  }
}

// Every signal whose default action ends the process, real-time ones
// included: the signals that the handler catches and that are held while a
// temporary and the handler's record of it change.
const sigset_t& cleanupSignals() {
  static const sigset_t set = [] {
    sigset_t all;
    sigemptyset(&all);
    for (int s = 1; s <= SIGRTMAX; ++s) {
      if (endsTheProcess(s)) sigaddset(&all, s);  // fails harmlessly for reserved numbers
    }
    return all;
  }();
  return set;
}

void removeTemporaryAndDie(int signal_number) {
  if (cleanup_armed) unlinkat(cleanup_dir, cleanup_name, 0);
  pfile::dieOfSignal(signal_number);
}

// Installs the handler once per run for each cleanup signal that still has
// its default action: one the run ignores (SIGHUP under nohup, SIGXFSZ in
// melvane) stays ignored, and one that has a handler already (a sanitizer's,
// a debugger's) keeps it.
void installCleanupHandlers() {
  static bool installed = false;
  if (installed) return;
  installed = true;
  struct sigaction action {};
  action.sa_handler = removeTemporaryAndDie;
  action.sa_mask = cleanupSignals();
  for (int s = 1; s <= SIGRTMAX; ++s) {
    if (sigismember(&cleanupSignals(), s) != 1) continue;
    struct sigaction previous {};
    if (sigaction(s, nullptr, &previous) == 0 && !(previous.sa_flags & SA_SIGINFO) &&
        previous.sa_handler == SIG_DFL) {
      sigaction(s, &action, nullptr);
    }
  }
}

// Blocks the cleanup signals for its lifetime: a named temporary and the
// handler's record of it come and go together.
class CleanupSignalsHeld {
 public:
  CleanupSignalsHeld() { sigprocmask(SIG_BLOCK, &cleanupSignals(), &saved_); }
  ~CleanupSignalsHeld() { sigprocmask(SIG_SETMASK, &saved_, nullptr); }
  CleanupSignalsHeld(const CleanupSignalsHeld&) = delete;
  CleanupSignalsHeld& operator=(const CleanupSignalsHeld&) = delete;

 private:
  sigset_t saved_;
};

static_assert(sizeof ".melvane-XXXXXX" <= sizeof cleanup_name);

void arm(int dir, const std::string& name) {
  installCleanupHandlers();
  cleanup_dir = dir;
  std::memcpy(cleanup_name, name.c_str(), name.size() + 1);
  cleanup_armed = 1;
}

}  // namespace

ReplaceFile::~ReplaceFile() {
  if (stream_) std::fclose(stream_);  // an unnamed temporary goes with it
  removeTemporary();
  if (dir_ >= 0) close(dir_);
}

bool ReplaceFile::create(const std::string& path, Existing existing) {
  const std::size_t slash = path.rfind('/');
  const std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  name_ = slash == std::string::npos ? path : path.substr(slash + 1);
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

int ReplaceFile::openTemporary() {
  if (kind_ == Temporary::unnamed_where_possible) {
    const int fd = openat(dir_, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
    // EOPNOTSUPP: the file system has no unnamed files; EISDIR: the kernel
    // does not know O_TMPFILE.
    if (fd >= 0 || (errno != EOPNOTSUPP && errno != EISDIR)) return fd;
  }
  const CleanupSignalsHeld held;
  int fd = -1;
  if (!pfile::withUniqueName(".melvane-", random_, temporary_, [&](const char* name) {
        fd = openat(dir_, name, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        return fd >= 0;
      })) {
    temporary_.clear();
    return -1;
  }
  arm(dir_, temporary_);
  return fd;
}

// Gives an unnamed temporary its hidden name in the target's directory.
bool ReplaceFile::nameTemporary(int fd) {
  const std::string self = "/proc/self/fd/" + std::to_string(fd);
  const CleanupSignalsHeld held;
  if (!pfile::withUniqueName(".melvane-", random_, temporary_, [&](const char* name) {
        if (linkat(AT_FDCWD, self.c_str(), dir_, name, AT_SYMLINK_FOLLOW) == 0) return true;
        // Without /proc, the descriptor itself (needs CAP_DAC_READ_SEARCH).
        return errno == ENOENT && linkat(fd, "", dir_, name, AT_EMPTY_PATH) == 0;
      })) {
    temporary_.clear();
    return false;
  }
  arm(dir_, temporary_);
  return true;
}

// What the replaced file carries, given to the new one.
// The old file is opened only to read them: for reading, or, when its mode
// allows only writing, for writing (create() found it writable).
bool ReplaceFile::passOnAttributes(int fd) const {
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
bool ReplaceFile::placeTemporary() {
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

ReplaceFile::Outcome ReplaceFile::commit() {
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
    const CleanupSignalsHeld held;
    if (placeTemporary()) {
      cleanup_armed = 0;
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

void ReplaceFile::removeTemporary() {
  if (temporary_.empty()) return;
  const int err = errno;
  const CleanupSignalsHeld held;
  unlinkat(dir_, temporary_.c_str(), 0);
  cleanup_armed = 0;
  temporary_.clear();
  errno = err;
}

}  // namespace melvane
