// Ending the run by a signal it caught, so that whoever started it sees the
// signal (a shell prints "Interrupted", a scheduler records it), not an exit.
#pragma once

#include <csignal>

namespace pfile {

// Sets `signal_number` back to its default action, unblocks it and raises
// it. Async-signal-safe: a handler may call it once its cleanup is done.
// Returns only when the default action does not end the process.
inline void dieOfSignal(int signal_number) {
  std::signal(signal_number, SIG_DFL);
  sigset_t own;
  sigemptyset(&own);
  sigaddset(&own, signal_number);
  sigprocmask(SIG_UNBLOCK, &own, nullptr);
  std::raise(signal_number);
}

}  // namespace pfile
