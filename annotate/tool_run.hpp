// Running an annotation tool (3dNotes, nifti_tool): started without a shell
// from an argument vector, its standard error collected, awaited, and how it
// ended said in words.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace torvek {

// How a started tool ended, or why it could not be started, and what it
// wrote on its standard error.
struct ToolEnd {
  enum class How { exited, signaled, not_started, wait_failed };
  How how = How::exited;
  int value = 0;       // exit status, signal number, or errno of the failed call
  std::string errors;  // its standard error (the first 64 KiB)
};

// Starts argv[0], looked up on PATH, with the given arguments and this
// process's environment; standard input and output are shared with the
// child; its standard error is read through a pipe into ToolEnd::errors
// until the tool and whatever it started close it. The child starts with
// every signal at its default disposition and none blocked. SIGCHLD is set
// back to its default first, since an inherited "ignore" would reap the
// child before it could be awaited. Waits for it (retrying after
// interruptions), registered with pfile::cleanup, so that a signal that ends
// the run meanwhile is passed on to it and its end awaited.
// Never throws for a tool that fails; the result says how it ended.
ToolEnd runTool(const std::vector<std::string>& argv);

// Empty when the tool succeeded (exit status 0); otherwise what happened, for
// a message such as "3dNotes: not found on PATH" or "nifti_tool exited with
// status 1".
std::string describeToolEnd(const std::string& tool, const ToolEnd& end);

using ToolRunner = std::function<ToolEnd(const std::vector<std::string>&)>;

}  // namespace torvek
