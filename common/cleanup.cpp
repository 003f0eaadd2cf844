// The registry of what a signal removes, and the one handler that stops the
// tool, removes it and ends the run by the signal. Everything the handler
// touches is fixed-size and static, and it calls only async-signal-safe
// functions; the normal path removes through the same code.
#include "common/cleanup.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <span>
#include <string>

#include "common/messages.hpp"

namespace pfile::cleanup {
namespace {

// "program: shown" as messages start, cut to fit.
using Label = std::array<char, PATH_MAX + 256>;

// A registered entry. The handler reads a slot only while `armed`, which is
// set after the other fields and cleared before them, with signals held.
struct Slot {
  volatile sig_atomic_t armed = 0;
  int dir = -1;
  Kind kind = Kind::file;
  char name[NAME_MAX + 1] = {};
  Label label = {};
};

// melvane writes one output at a time; torvek's step has one directory.
std::array<Slot, 4> slots;
volatile pid_t child = 0;
volatile sig_atomic_t first_signal = 0;  // the signal being handled
volatile sig_atomic_t removal_failed = 0;
volatile sig_atomic_t message_set = 0;
Label message_label = {};
std::array<char, 256> message_after = {};

// Whether the default action of `s` ends the process: all but those that stop,
// continue or do nothing, and SIGKILL and SIGSTOP, which cannot be caught.
bool endsTheProcess(int s) {
  switch (s) {
    case SIGKILL: case SIGSTOP: case SIGTSTP: case SIGTTIN: case SIGTTOU:
    case SIGCONT: case SIGCHLD: case SIGURG: case SIGWINCH:
      return false;
    default:
      return true;
  }
}

// Every signal whose default action ends the process, real-time ones included.
const sigset_t& terminating() {
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

// Signals the processor or the kernel raise at a faulting instruction.
bool isFault(int s) {
  return s == SIGSEGV || s == SIGBUS || s == SIGFPE || s == SIGILL || s == SIGTRAP || s == SIGSYS;
}

void copyCut(std::span<char> to, std::string_view from) {
  const std::size_t n = std::min(from.size(), to.size() - 1);
  std::memcpy(to.data(), from.data(), n);
  to[n] = '\0';
}

void setLabel(Label& label, std::string_view program, std::string_view shown) {
  copyCut(label, std::string(program) + ": " + escapedName(shown));
}

// A line built without the heap and written in one write(2).
class Line {
 public:
  Line& add(const char* text) {
    for (; *text && used_ < sizeof text_; ++text) text_[used_++] = *text;
    return *this;
  }
  Line& add(int number) {
    char digits[12];
    int n = 0;
    unsigned value = number < 0 ? 0u : static_cast<unsigned>(number);
    do digits[n++] = static_cast<char>('0' + value % 10); while ((value /= 10) != 0);
    while (n > 0 && used_ < sizeof text_) text_[used_++] = digits[--n];
    return *this;
  }
  void write() const {
    if (::write(STDERR_FILENO, text_, used_) < 0) return;  // nowhere left to say it
  }

 private:
  char text_[sizeof(Label) + 512];
  std::size_t used_ = 0;
};

// Empties the directory open on `fd` of everything but "." and "..". Reads
// its entries with getdents64, which needs no heap, again until a pass finds
// none (removing while reading may skip some).
bool emptyDirectory(int fd) {
  alignas(8) char buffer[4096];
  for (int pass = 0; pass < 8; ++pass) {
    if (::lseek(fd, 0, SEEK_SET) < 0) return false;
    bool found = false;
    ssize_t got;
    while ((got = ::getdents64(fd, buffer, sizeof buffer)) > 0) {
      for (ssize_t at = 0; at < got;) {
        unsigned short length = 0;
        std::memcpy(&length, buffer + at + offsetof(struct dirent64, d_reclen), sizeof length);
        const char* const entry = buffer + at + offsetof(struct dirent64, d_name);
        if (std::strcmp(entry, ".") != 0 && std::strcmp(entry, "..") != 0) {
          found = true;
          if (::unlinkat(fd, entry, 0) != 0 && errno != ENOENT) return false;
        }
        at += length;
      }
    }
    if (got < 0) return false;
    if (!found) return true;
  }
  return true;
}

// Removes the slot's entry; false with errno set when it cannot.
bool removeEntry(const Slot& slot) {
  if (slot.kind == Kind::file) return ::unlinkat(slot.dir, slot.name, 0) == 0;
  const int fd = ::openat(slot.dir, slot.name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return false;
  const bool emptied = emptyDirectory(fd);
  const int error = errno;
  ::close(fd);
  if (!emptied) {
    errno = error;
    return false;
  }
  return ::unlinkat(slot.dir, slot.name, AT_REMOVEDIR) == 0;
}

// Removes every armed slot, the last registered first, saying each failure.
void removeAll() {
  for (auto slot = slots.rbegin(); slot != slots.rend(); ++slot) {
    if (!slot->armed) continue;
    if (!removeEntry(*slot)) {
      Line().add(slot->label.data()).add(": cannot be removed: ").add(strerrordesc_np(errno))
          .add("\n").write();
      removal_failed = 1;
    }
    slot->armed = 0;
  }
}

void onSignal(int s, siginfo_t* info, void*) {
  const int saved_errno = errno;
  if (first_signal != 0) {
    // A second signal while the first is handled: on to the tool, so that a
    // tool that ignores the first still ends; the run dies of the first.
    if (child > 0) ::kill(child, s);
    errno = saved_errno;
    return;
  }
  first_signal = s;
  const bool fault = isFault(s) && info != nullptr && info->si_code > 0;
  if (child > 0) {
    sigset_t others = terminating();
    sigdelset(&others, s);
    ::sigprocmask(SIG_UNBLOCK, &others, nullptr);
    ::kill(child, fault ? SIGTERM : s);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    child = 0;
    ::sigprocmask(SIG_BLOCK, &terminating(), nullptr);
  }
  removeAll();
  if (message_set) {
    Line().add(message_label.data()).add(": interrupted by signal ").add(s)
        .add(message_after.data()).add("\n").write();
  }
  struct sigaction default_action {};
  default_action.sa_handler = SIG_DFL;
  ::sigaction(s, &default_action, nullptr);
  // A fault comes back at its instruction once the handler returns.
  if (fault) return;
  sigset_t own;
  sigemptyset(&own);
  sigaddset(&own, s);
  ::sigprocmask(SIG_UNBLOCK, &own, nullptr);
  ::raise(s);
  ::_exit(128 + s);  // not reached: the default action ends the run
}

// Installs the handler, once per run, for each terminating signal that still
// has its default action.
void install() {
  static bool installed = false;
  if (installed) return;
  installed = true;
  struct sigaction action {};
  action.sa_sigaction = onSignal;
  action.sa_mask = terminating();
  action.sa_flags = SA_SIGINFO | SA_RESTART;
  for (int s = 1; s <= SIGRTMAX; ++s) {
    if (sigismember(&terminating(), s) != 1) continue;
    struct sigaction previous {};
    if (::sigaction(s, nullptr, &previous) == 0 && !(previous.sa_flags & SA_SIGINFO) &&
        previous.sa_handler == SIG_DFL) {
      ::sigaction(s, &action, nullptr);
    }
  }
}

}  // namespace

int add(int dir, std::string_view name, Kind kind, std::string_view program,
        std::string_view shown) {
  install();
  for (std::size_t i = 0; i < slots.size(); ++i) {
    Slot& slot = slots[i];
    if (slot.armed || name.size() >= sizeof slot.name) continue;
    slot.dir = dir;
    slot.kind = kind;
    copyCut(slot.name, name);
    setLabel(slot.label, program, shown);
    slot.armed = 1;
    return static_cast<int>(i);
  }
  return -1;
}

void forget(int slot) {
  if (slot >= 0) slots[static_cast<std::size_t>(slot)].armed = 0;
}

bool remove(int slot) {
  if (slot < 0 || !slots[static_cast<std::size_t>(slot)].armed) return true;
  const Held held;
  const int error = errno;
  Slot& s = slots[static_cast<std::size_t>(slot)];
  const bool removed = removeEntry(s);
  const int why = errno;
  if (!removed) {
    std::fflush(stdout);  // the message follows the output it concerns
    Line().add(s.label.data()).add(": cannot be removed: ").add(strerrordesc_np(why))
        .add("\n").write();
    removal_failed = 1;
  }
  s.armed = 0;
  errno = error;
  return removed;
}

void setChild(pid_t pid) {
  install();
  child = pid;
}

void setSignalMessage(std::string_view program, std::string_view shown, std::string_view after) {
  install();
  const Held held;
  message_set = 0;
  if (program.empty()) return;
  setLabel(message_label, program, shown);
  copyCut(message_after, after);
  message_set = 1;
}

int exitStatus(int status) { return status == 0 && removal_failed ? 1 : status; }

int heldSignal() {
  sigset_t pending;
  if (::sigpending(&pending) != 0) return 0;
  for (int s = 1; s <= SIGRTMAX; ++s) {
    if (sigismember(&pending, s) == 1 && sigismember(&terminating(), s) == 1) return s;
  }
  return 0;
}

Held::Held() { ::sigprocmask(SIG_BLOCK, &terminating(), &saved_); }

Held::~Held() {
  if (!kept_) ::sigprocmask(SIG_SETMASK, &saved_, nullptr);
}

}  // namespace pfile::cleanup
