// Recording, passing on and finally dying of SIGINT, SIGTERM and SIGHUP.
#include "annotate/step_signals.hpp"

#include "common/die_of_signal.hpp"

#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <iterator>

namespace torvek {
namespace {

constexpr int kStepSignals[] = {SIGINT, SIGTERM, SIGHUP};

volatile std::sig_atomic_t caught = 0;
volatile std::sig_atomic_t tool = 0;  // pid of the running tool, 0 when none
struct sigaction previous[std::size(kStepSignals)];
bool installed[std::size(kStepSignals)];

void record(int signal_number) {
  if (caught == 0) caught = signal_number;
  if (tool > 0) kill(tool, signal_number);
}

sigset_t stepSet() {
  sigset_t set;
  sigemptyset(&set);
  for (const int s : kStepSignals) sigaddset(&set, s);
  return set;
}

}  // namespace

StepSignals::StepSignals() {
  struct sigaction action {};
  action.sa_handler = record;
  action.sa_mask = stepSet();
  action.sa_flags = 0;  // no SA_RESTART
  for (std::size_t i = 0; i < std::size(kStepSignals); ++i) {
    installed[i] = sigaction(kStepSignals[i], nullptr, &previous[i]) == 0 &&
                   previous[i].sa_handler != SIG_IGN &&
                   sigaction(kStepSignals[i], &action, nullptr) == 0;
  }
}

StepSignals::~StepSignals() {
  for (std::size_t i = 0; i < std::size(kStepSignals); ++i) {
    if (installed[i]) sigaction(kStepSignals[i], &previous[i], nullptr);
  }
}

int StepSignals::pending() { return caught; }

void StepSignals::dieOfPending() {
  const int s = caught;
  pfile::dieOfSignal(s);
  std::_Exit(128 + s);  // not reached: the signal's default action ends the run
}

void toolRunning(pid_t pid) {
  tool = pid;
  if (pid > 0 && caught != 0) kill(pid, caught);
}

StepSignalsHeld::StepSignalsHeld() {
  const sigset_t set = stepSet();
  sigprocmask(SIG_BLOCK, &set, &saved_);
}

StepSignalsHeld::~StepSignalsHeld() { sigprocmask(SIG_SETMASK, &saved_, nullptr); }

}  // namespace torvek
