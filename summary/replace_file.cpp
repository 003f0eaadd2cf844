// Temporary file (unnamed where the file system allows), checked writes,
// extended attributes, owner and permission bits of the file it replaces,
// rename into place, and the signal handler that removes a named temporary.
#include "summary/replace_file.hpp"

#include <array>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string_view>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <vector>

namespace melvane {
namespace {

// The named temporary that a cleanup signal removes (the run writes one output
// at a time, so there is at most one); "armed" only while it exists. Changed
// only with the cleanup signals blocked, so the handler never sees it half-set.
int cleanup_dir = -1;
char cleanup_name[16];
volatile std::sig_atomic_t cleanup_armed = 0;

// The extended attribute in which Linux keeps a file's access ACL.
constexpr char kAccessAcl[] = "system.posix_acl_access";

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
  std::signal(signal_number, SIG_DFL);
  sigset_t own;
  sigemptyset(&own);
  sigaddset(&own, signal_number);
  sigprocmask(SIG_UNBLOCK, &own, nullptr);
  std::raise(signal_number);
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

void arm(int dir, const std::string& name) {
  installCleanupHandlers();
  cleanup_dir = dir;
  std::memcpy(cleanup_name, name.c_str(), name.size() + 1);
  cleanup_armed = 1;
}

// Calls `attempt` with fresh names ".melvane-XXXXXX" until it succeeds or
// fails for another reason than a name already taken (EEXIST). The fixed
// short prefix keeps the name within NAME_MAX whatever the target's name.
// Returns false with errno set when no name worked or `random` failed.
template <class Attempt>
bool withUniqueName(ReplaceFile::RandomSource random, std::string& name, Attempt attempt) {
  static constexpr char kLetters[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  for (int tries = 0; tries < 100; ++tries) {
    std::array<unsigned char, 6> drawn;
    if (!random(drawn)) return false;
    name = ".melvane-";
    for (const unsigned char r : drawn) name += kLetters[r % (sizeof kLetters - 1)];
    static_assert(sizeof ".melvane-XXXXXX" <= sizeof cleanup_name);
    if (attempt(name.c_str())) return true;
    if (errno != EEXIST) return false;
  }
  return false;
}

// An extended attribute that the kernel keeps for privileged callers or
// security modules (trusted.*, security.*, such as an SELinux label): the new
// file may keep the one the system gave it, as it may keep its own owner.
bool mayStayAsCreated(const char* name, int err) {
  const std::string_view n(name);
  return (n.starts_with("trusted.") || n.starts_with("security.")) &&
         (err == EPERM || err == EACCES || err == ENOTSUP);
}

// Calls `get` (a listxattr or getxattr of the old file) with a buffer that
// grows until the value fits. False with errno set when it fails.
template <class Get>
bool readGrowing(std::vector<char>& into, Get get) {
  for (;;) {
    const ssize_t size = get(nullptr, 0);
    if (size < 0) return false;
    into.resize(static_cast<std::size_t>(size));
    const ssize_t got = get(into.data(), into.size());
    // A size of 0 only asks again; ERANGE: the value grew in between.
    if (got >= 0 && static_cast<std::size_t>(got) <= into.size()) {
      into.resize(static_cast<std::size_t>(got));
      return true;
    }
    if (got < 0 && errno != ERANGE) return false;
  }
}

// Gives `fd` every extended attribute of the file at `from`, its access ACL
// (system.posix_acl_access) among them, and drops an access ACL that `fd`
// took from its directory's default ACL when `from` had none. False with
// errno set when an attribute cannot be read or given.
bool copyAttributes(const char* from, int fd) {
  std::vector<char> names;
  const auto list = [&](char* to, std::size_t size) { return llistxattr(from, to, size); };
  if (!readGrowing(names, list)) return errno == ENOTSUP;  // a file system without them
  bool had_acl = false;
  std::vector<char> value;
  for (std::size_t at = 0; at < names.size(); at += std::strlen(&names[at]) + 1) {
    const char* const name = &names[at];
    had_acl = had_acl || std::strcmp(name, kAccessAcl) == 0;
    const auto get = [&](char* to, std::size_t size) { return lgetxattr(from, name, to, size); };
    if (!readGrowing(value, get)) {
      if (errno == ENODATA) continue;  // removed since it was listed
      return false;
    }
    if (fsetxattr(fd, name, value.data(), value.size(), 0) != 0 && !mayStayAsCreated(name, errno)) {
      return false;
    }
  }
  return had_acl || fremovexattr(fd, kAccessAcl) == 0 || errno == ENODATA || errno == ENOTSUP;
}

}  // namespace

bool ReplaceFile::kernelRandom(std::span<unsigned char> bytes) {
  const ssize_t got = getrandom(bytes.data(), bytes.size(), 0);
  if (got == static_cast<ssize_t>(bytes.size())) return true;
  if (got >= 0) errno = EIO;
  return false;
}

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
      mode_ = target.st_mode & 0777;
      owner_ = target.st_uid;
      group_ = target.st_gid;
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
  if (!passOnAttributes(fd, path) || !(stream_ = fdopen(fd, "w"))) {
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
  if (!withUniqueName(random_, temporary_, [&](const char* name) {
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
  if (!withUniqueName(random_, temporary_, [&](const char* name) {
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

// The replaced file's extended attributes, permission bits, and its owner and
// group as far as the caller may give them: as root both; otherwise the
// group, when the caller belongs to it. The attributes come first, while the
// caller owns the new file and may write it; the bits before the owner, since
// a caller without CAP_FOWNER may no longer change them once the file is
// another's. A file system that keeps no modes (EPERM or ENOTSUP, as vfat
// and some FUSE file systems give) is no reason to fail, nor is an owner the
// caller may not give.
bool ReplaceFile::passOnAttributes(int fd, const std::string& path) const {
  if (!existing_) return true;
  if (!copyAttributes(path.c_str(), fd)) return false;
  if (fchmod(fd, mode_) != 0 && errno != EPERM && errno != ENOTSUP) return false;
  if (fchown(fd, owner_, group_) != 0) (void)!fchown(fd, static_cast<uid_t>(-1), group_);
  return true;
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
