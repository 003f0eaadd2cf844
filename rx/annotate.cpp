// Dataset annotation: the note, the tool's argument vector, starting the tool
// without a shell, and the confirmation that follows only its success.
#include "rx/annotate.hpp"

#include "common/messages.hpp"
#include "rx/nifti_note.hpp"
#include "rx/step_signals.hpp"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <csignal>
#include <cstring>
#include <optional>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace torvek {

TargetKind targetKind(std::string_view prefix) {
  return prefix.find(".nii") != std::string_view::npos ? TargetKind::nifti : TargetKind::afni;
}

std::string datasetName(TargetKind kind, std::string_view prefix) {
  return kind == TargetKind::afni ? std::string(prefix) + "+orig" : std::string(prefix);
}

std::string noteText(const RxRecord& rx) {
  return "Rx info:\n" + startLine(rx) + endLine(rx);
}

std::vector<std::string> afniCommand(std::string_view prefix, const RxRecord& rx) {
  return {"3dNotes", "-a", noteText(rx), datasetName(TargetKind::afni, prefix)};
}

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

  // Everything written until the end, the first kKept bytes kept. Stops
  // early when a signal arrives for the run: a tool's child that holds the
  // pipe must not keep the run from cleaning up.
  std::string readAll() const {
    constexpr std::size_t kKept = 64 * 1024;
    std::string text;
    char chunk[4096];
    for (;;) {
      const ssize_t n = ::read(fds_[0], chunk, sizeof chunk);
      if (n > 0) {
        text.append(chunk, std::min(static_cast<std::size_t>(n), kKept - text.size()));
      } else if (n == 0 || errno != EINTR || StepSignals::pending()) {
        return text;
      }
    }
  }

 private:
  posix_spawn_file_actions_t actions_;
  mutable int fds_[2] = {-1, -1};
};

}  // namespace

void passOnToolLines(const char* program, const std::string& dataset, const std::string& tool,
                     const ToolEnd& end, std::FILE* out, std::FILE* err) {
  const bool succeeded = end.how == ToolEnd::How::exited && end.value == 0;
  std::string_view rest = end.errors;
  while (!rest.empty()) {
    const std::size_t newline = rest.find('\n');
    const std::string_view line = rest.substr(0, newline);
    rest = newline == std::string_view::npos ? std::string_view() : rest.substr(newline + 1);
    if (succeeded && tool == "nifti_tool" && line == "+d added 1 extension(s) to 1 files") {
      continue;
    }
    pfile::report(program, dataset, tool + ": " + pfile::escapedName(line), out, err);
  }
}

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
  const int error =
      ::posix_spawnp(&pid, args[0], pipe.actions(), attributes.get(), args.data(), environ);
  pipe.closeWriteEnd();
  if (error != 0) return {ToolEnd::How::not_started, error, {}};

  // A signal that would end the run reaches the tool too, and the run waits
  // for the tool's end before it cleans up after it.
  toolRunning(pid);
  std::string errors = pipe.readAll();
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) {
      toolRunning(0);
      return {ToolEnd::How::wait_failed, errno, std::move(errors)};
    }
  }
  toolRunning(0);
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

namespace {

// Why the Rx record must not reach a dataset, or nothing when it may.
std::optional<const char*> undefinedRx(RxOutcome outcome) {
  switch (outcome) {
    case RxOutcome::ok: return std::nullopt;
    case RxOutcome::cant_open: return "the Pfile could not be opened";
    case RxOutcome::read_error: return "the Pfile could not be read";
    case RxOutcome::short_read: return "the Pfile header was read short";
    case RxOutcome::wrong_revision: return "the Pfile's revision is not one this build reads";
    case RxOutcome::unknown_letter:
      return "start_ras is not a known letter, so the slab end is unknown";
    case RxOutcome::not_finite: return "the Rx is not finite";
    case RxOutcome::not_unit_normal: return "the slab normal is not of unit length";
  }
  return "the Rx could not be computed";
}

void fail(const Layout& layout, const std::string& dataset, std::FILE* out, std::FILE* err,
          const std::string& message) {
  pfile::report(layout.program, dataset, message, out, err);
}

}  // namespace

int annotate(const Layout& layout, RxOutcome outcome, const RxRecord& rx, const char* prefix,
             std::FILE* out, std::FILE* err, const ToolRunner& runner) {
  const std::string_view name(prefix);
  const TargetKind kind = targetKind(name);
  const std::string dataset = datasetName(kind, name);
  if (const auto why = undefinedRx(outcome)) {
    fail(layout, dataset, out, err, std::string("the Rx is not written: ") + *why);
    return 1;
  }
  const std::string tool = kind == TargetKind::nifti ? "nifti_tool" : "3dNotes";
  if (name.starts_with('-')) {
    fail(layout, dataset, out, err,
         "the Rx is not written: " + tool +
             " would read a prefix beginning with '-' as an option; write ./" +
             pfile::escapedName(name) + " instead");
    return 1;
  }

  // The tool writes to the same terminal: the report must be out before it.
  // A report that did not reach its file is lost; a note written now would
  // be written again by the rerun that recovers the report.
  if (pfile::flushError(out) != 0) {
    fail(layout, dataset, out, err,
         "the Rx is not written: its report did not reach standard output");
    return 1;
  }
  if (kind == TargetKind::nifti) {
    return annotateNifti(layout.program, dataset, noteText(rx), out, err, runner);
  }
  std::fflush(err);
  const ToolEnd end = runner(afniCommand(name, rx));
  passOnToolLines(layout.program, dataset, tool, end, out, err);
  const std::string failure = describeToolEnd(tool, end);
  if (!failure.empty()) {
    fail(layout, dataset, out, err, failure + "; the Rx is not written");
    return 1;
  }
  std::fprintf(out, "Rx info is written to %s.BRIK header.\n", pfile::shownName(dataset).c_str());
  return 0;
}

}  // namespace torvek
