// What a run leaves behind when a signal ends it: nothing. Both tools register
// here the hidden files and directories they create beside the files they
// replace, and the one tool they may be running; one handler, installed for
// every signal whose default action ends the process, stops that tool, removes
// what is registered and ends the run by the same signal, so that whoever
// started it sees the signal (a shell prints "Interrupted", a scheduler
// records it). Only SIGKILL can leave a registered name behind.
//
// The handler is installed on first use, for each such signal that still has
// its default action: one the run inherited as ignored (SIGHUP under nohup,
// SIGXFSZ that melvane ignores so that a size limit is reported from EFBIG)
// stays ignored, and one that has a handler already (a sanitizer's) keeps it.
// A fault (SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGSYS raised by the
// processor or the kernel, not sent) also cleans up, then returns to the
// faulting instruction, which ends the run with the signal's default action
// and a core dump of the fault itself. When a second signal arrives while the
// first is handled, it goes on to the tool only: the run dies of the first.
#pragma once

#include <signal.h>
#include <sys/types.h>

#include <string_view>

namespace pfile::cleanup {

enum class Kind { file, directory };

// Registers the entry `name` of the directory open on `dir` (a directory with
// the files in it) for removal when a signal ends the run. `program` and
// `shown`, the entry's path as the user would name it, start the message
// that says a removal failed. Call it with terminating signals held, between
// the creation of the entry and the first moment a signal could find it.
// Returns the entry's slot, or -1 when the registry is full.
int add(int dir, std::string_view name, Kind kind, std::string_view program,
        std::string_view shown);

// Forgets the slot without removing anything: its entry was renamed into
// place. Call it with terminating signals held, together with the rename.
void forget(int slot);

// Removes the slot's entry now and forgets it. A removal that fails is said on
// standard error ("program: shown: cannot be removed: reason") and makes
// exitStatus give 1; it returns false then.
bool remove(int slot);

// The tool the run waits for (0: none). A signal that ends the run is passed
// on to it, and its end is awaited, before anything is removed. Set it with
// terminating signals held and clear it before the tool is reaped, so that no
// signal goes to a process that reused its number.
void setChild(pid_t pid);

// While it is set, a signal that ends the run says
// "program: shown: interrupted by signal N" followed by `after`; empty
// `program` clears it.
void setSignalMessage(std::string_view program, std::string_view shown, std::string_view after);

// `status`, or 1 when it is 0 and a removal failed: the status a run ends with.
int exitStatus(int status);

// The lowest-numbered terminating signal that arrived while held, 0 when none.
int heldSignal();

// Holds (blocks) every signal whose default action ends the process, for its
// lifetime or, after keep(), for the rest of the run: a signal that arrives
// meanwhile waits, and a change such as a rename and the registry's record of
// it cannot be cut apart.
class Held {
 public:
  Held();
  ~Held();
  Held(const Held&) = delete;
  Held& operator=(const Held&) = delete;
  void keep() { kept_ = true; }

 private:
  sigset_t saved_;
  bool kept_ = false;
};

}  // namespace pfile::cleanup
