// The signals that end a run by default from a terminal, a `timeout` or a
// batch scheduler (SIGINT, SIGTERM, SIGHUP), held back while torvek replaces
// a dataset: the first one that arrives is recorded and passed on to the tool
// that is running, and the step, once it has cleaned up, ends the run with it.
#pragma once

#include <signal.h>
#include <sys/types.h>

namespace torvek {

class StepSignals {
 public:
  // Catches each of the three signals that is not ignored (a run started with
  // SIGHUP ignored keeps ignoring it). Interrupted system calls fail with
  // EINTR instead of restarting, so that a wait for a lock ends.
  StepSignals();
  ~StepSignals();  // puts the previous handlers back
  StepSignals(const StepSignals&) = delete;
  StepSignals& operator=(const StepSignals&) = delete;

  // The signal that arrived, 0 when none.
  static int pending();

  // Ends the run with the pending signal, as if it had not been caught.
  [[noreturn]] void dieOfPending();
};

// A tool was started (or ended: pid 0). A caught signal goes on to it, also
// one that came before it was started.
void toolRunning(pid_t pid);

// Blocks the three signals for its lifetime: a step that is checked for a
// pending signal and then done cannot be cut in between.
class StepSignalsHeld {
 public:
  StepSignalsHeld();
  ~StepSignalsHeld();
  StepSignalsHeld(const StepSignalsHeld&) = delete;
  StepSignalsHeld& operator=(const StepSignalsHeld&) = delete;

 private:
  sigset_t saved_;
};

}  // namespace torvek
