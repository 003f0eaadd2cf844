// Dataset annotation: the note, the tool's argument vector, starting the tool
// without a shell, and the confirmation that follows only its success.
#include "rx/annotate.hpp"

#include <cerrno>
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

std::string noteText(const RxRecord& rx) {
  return "Rx info:\n" + startLine(rx) + endLine(rx);
}

std::vector<std::string> noteCommand(TargetKind kind, std::string_view prefix,
                                     const RxRecord& rx) {
  if (kind == TargetKind::nifti) {
    return {"nifti_tool", "-add_afni_ext", noteText(rx), "-overwrite", "-infile",
            std::string(prefix)};
  }
  return {"3dNotes", "-a", noteText(rx), std::string(prefix) + "+orig"};
}

ToolEnd runTool(const std::vector<std::string>& argv) {
  std::vector<char*> args;
  args.reserve(argv.size() + 1);
  // posix_spawnp takes non-const pointers but does not write through them.
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);

  pid_t pid = 0;
  const int error = ::posix_spawnp(&pid, args[0], nullptr, nullptr, args.data(), environ);
  if (error != 0) return {ToolEnd::How::not_started, error};

  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return {ToolEnd::How::wait_failed, errno};
  }
  if (WIFSIGNALED(status)) return {ToolEnd::How::signaled, WTERMSIG(status)};
  return {ToolEnd::How::exited, WEXITSTATUS(status)};
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
    case RxOutcome::short_read: return "the Pfile header was read short";
    case RxOutcome::unknown_letter: return "start_ras is not a known letter, so the slab end is unknown";
  }
  return "the Rx could not be computed";
}

void fail(const Layout& layout, std::FILE* out, std::FILE* err, const std::string& message) {
  std::fflush(out);
  std::fprintf(err, "%s: %s\n", layout.program, message.c_str());
}

}  // namespace

int annotate(const Layout& layout, RxOutcome outcome, const RxRecord& rx, const char* prefix,
             std::FILE* out, std::FILE* err, const ToolRunner& runner) {
  const std::string_view name(prefix);
  const TargetKind kind = targetKind(name);
  const std::string dataset = kind == TargetKind::afni ? std::string(name) + "+orig"
                                                       : std::string(name);
  if (const auto why = undefinedRx(outcome)) {
    fail(layout, out, err, "the Rx is not written to " + dataset + ": " + *why);
    return 1;
  }
  const std::vector<std::string> argv = noteCommand(kind, name, rx);
  if (name.starts_with('-')) {
    fail(layout, out, err,
         "the Rx is not written to " + dataset + ": " + argv[0] +
             " would read a prefix beginning with '-' as an option; write ./" +
             std::string(name) + " instead");
    return 1;
  }

  // The tool writes to the same terminal: the report must be out before it.
  std::fflush(out);
  std::fflush(err);
  const std::string failure = describeToolEnd(argv[0], runner(argv));
  if (!failure.empty()) {
    fail(layout, out, err, failure + "; the Rx is not written to " + dataset);
    return 1;
  }
  if (kind == TargetKind::nifti) {
    std::fprintf(out, "Rx info is written to %s as an AFNI extension (ecode=4).\n", prefix);
  } else {
    std::fprintf(out, "Rx info is written to %s+orig.BRIK header.\n", prefix);
  }
  return 0;
}

}  // namespace torvek
