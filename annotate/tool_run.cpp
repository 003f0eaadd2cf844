// Starting a tool without a shell, with clean signal dispositions, reading
// its standard error, and awaiting its end.
#include "annotate/tool_run.hpp"

#include "common/cleanup.hpp"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace torvek {

namespace {

// Spawn attributes for a child that starts with every signal at its default
// disposition and an empty signal mask, whatever this process inherited.
class CleanSignals {
 public:
  CleanSignals() {
    ::posix_spawnattr_init(&attr_);
    sigset_t all, none;
    sigfillset(&all);
    sigdelset(&all, SIGKILL);  // neither can be caught or ignored
    sigdelset(&all, SIGSTOP);
    sigemptyset(&none);
    ::posix_spawnattr_setsigdefault(&attr_, &all);
    ::posix_spawnattr_setsigmask(&attr_, &none);
    ::posix_spawnattr_setflags(&attr_, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
  }
  ~CleanSignals() { ::posix_spawnattr_destroy(&attr_); }
  CleanSignals(const CleanSignals&) = delete;
  CleanSignals& operator=(const CleanSignals&) = delete;
  const posix_spawnattr_t* get() const { return &attr_; }

 private:
  posix_spawnattr_t attr_;
};

// A pipe that becomes the child's standard error. Its read end is this
// process's alone (close-on-exec); the write end is closed here once the
// child holds it, so that the read ends when the child and its own children do.
class ErrorPipe {
 public:
  ErrorPipe() {
    ::posix_spawn_file_actions_init(&actions_);
    if (::pipe2(fds_, O_CLOEXEC) != 0) return;
    ::posix_spawn_file_actions_adddup2(&actions_, fds_[1], STDERR_FILENO);
  }
  ~ErrorPipe() {
    closeWriteEnd();
    if (fds_[0] >= 0) ::close(fds_[0]);
    ::posix_spawn_file_actions_destroy(&actions_);
  }
  ErrorPipe(const ErrorPipe&) = delete;
  ErrorPipe& operator=(const ErrorPipe&) = delete;

  bool ready() const { return fds_[0] >= 0; }
  const posix_spawn_file_actions_t* actions() const { return &actions_; }
  void closeWriteEnd() const {
    if (fds_[1] >= 0) ::close(fds_[1]);
    fds_[1] = -1;
  }

  // Everything written until the end, the first kKept bytes kept. A signal
  // that ends the run does not come back here: pfile::cleanup's handler stops
  // the tool, cleans up and ends the run, whoever still holds the pipe.
  std::string readAll() const {
    constexpr std::size_t kKept = 64 * 1024;
    std::string text;
    char chunk[4096];
    for (;;) {
      const ssize_t n = ::read(fds_[0], chunk, sizeof chunk);
      if (n > 0) {
        text.append(chunk, std::min(static_cast<std::size_t>(n), kKept - text.size()));
      } else if (n == 0 || errno != EINTR) {
        return text;
      }
    }
  }

 private:
  posix_spawn_file_actions_t actions_;
  mutable int fds_[2] = {-1, -1};
};

}  // namespace

ToolEnd runTool(const std::vector<std::string>& argv) {
  std::vector<char*> args;
  args.reserve(argv.size() + 1);
  // posix_spawnp takes non-const pointers but does not write through them.
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);

  // With SIGCHLD ignored the child is reaped at its end and cannot be awaited.
  struct sigaction default_action {};
  default_action.sa_handler = SIG_DFL;
  ::sigaction(SIGCHLD, &default_action, nullptr);

  const CleanSignals attributes;
  const ErrorPipe pipe;
  if (!pipe.ready()) return {ToolEnd::How::not_started, errno, {}};
  pid_t pid = 0;
  {
    // The tool is registered as it starts: a signal that ends the run
    // reaches it too, and the run waits for its end before cleaning up.
    const pfile::cleanup::Held held;
    const int error =
        ::posix_spawnp(&pid, args[0], pipe.actions(), attributes.get(), args.data(), environ);
    pipe.closeWriteEnd();
    if (error != 0) return {ToolEnd::How::not_started, error, {}};
    pfile::cleanup::setChild(pid);
  }
  std::string errors = pipe.readAll();
  // Awaited without being reaped, so that its number stays its own until it
  // is no longer registered.
  siginfo_t info {};
  while (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT) != 0) {
    if (errno != EINTR) {
      const int error = errno;
      const pfile::cleanup::Held held;
      pfile::cleanup::setChild(0);
      return {ToolEnd::How::wait_failed, error, std::move(errors)};
    }
  }
  int status = 0;
  {
    const pfile::cleanup::Held held;
    pfile::cleanup::setChild(0);
    ::waitpid(pid, &status, 0);
  }
  if (WIFSIGNALED(status)) return {ToolEnd::How::signaled, WTERMSIG(status), std::move(errors)};
  return {ToolEnd::How::exited, WEXITSTATUS(status), std::move(errors)};
}

std::string describeToolEnd(const std::string& tool, const ToolEnd& end) {
  switch (end.how) {
    case ToolEnd::How::exited:
      if (end.value == 0) return {};
      return tool + " exited with status " + std::to_string(end.value);
    case ToolEnd::How::signaled:
      return tool + " killed by signal " + std::to_string(end.value);
    case ToolEnd::How::not_started:
      if (end.value == ENOENT) return tool + ": not found on PATH";
      return tool + ": cannot be started: " + std::strerror(end.value);
    case ToolEnd::How::wait_failed:
      return tool + ": its end could not be awaited: " + std::strerror(end.value);
  }
  return tool + ": ended in an unknown way";
}

}  // namespace torvek
