// Dataset annotation: with -brik, torvek stores the Rx as a note in the scan's
// AFNI dataset (through AFNI's 3dNotes) or NIfTI file (through nifti_tool,
// as an AFNI extension). The tool is started without a shell, from an
// argument vector, and how it ended decides whether the run confirms. Every
// message names the dataset through pfile::report.
#pragma once

#include <cstdio>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "rx/layout.hpp"
#include "rx/rx.hpp"

namespace torvek {

enum class TargetKind { afni, nifti };

// NIfTI when the prefix holds ".nii" anywhere (case-sensitive), else AFNI.
TargetKind targetKind(std::string_view prefix);

// The dataset as the tool is given it: the NIfTI file `prefix`, or the AFNI
// dataset `prefix+orig`.
std::string datasetName(TargetKind kind, std::string_view prefix);

// The note stored in the dataset: "Rx info:", a newline, then the report's
// Start and End lines, each with its newline.
std::string noteText(const RxRecord& rx);

// 3dNotes's argument vector, argv[0] first. The prefix is one element, byte
// for byte, with "+orig" appended: nothing in it is interpreted.
std::vector<std::string> afniCommand(std::string_view prefix, const RxRecord& rx);

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
// until the tool and whatever it started close it, or a signal arrives. The
// child starts with every signal at its default disposition and
// none blocked. SIGCHLD is set back to its default first, since an inherited
// "ignore" would reap the child before it could be awaited. Waits for it
// (retrying after interruptions); a signal caught by StepSignals meanwhile is
// passed on to it. Never throws for a tool that fails; the
// result says how it ended.
ToolEnd runTool(const std::vector<std::string>& argv);

// Empty when the tool succeeded (exit status 0); otherwise what happened, for
// a message such as "3dNotes: not found on PATH" or "nifti_tool exited with
// status 1".
std::string describeToolEnd(const std::string& tool, const ToolEnd& end);

using ToolRunner = std::function<ToolEnd(const std::vector<std::string>&)>;

// Passes each line of the tool's standard error on as "PROGRAM: DATASET:
// TOOL: LINE", control bytes escaped, so that no line of another program
// reaches standard error unmarked. nifti_tool's "+d added 1 extension(s) to
// 1 files" says only that it succeeded, and is dropped when it did.
void passOnToolLines(const char* program, const std::string& dataset, const std::string& tool,
                     const ToolEnd& end, std::FILE* out, std::FILE* err);

// Writes the note for `rx` into the dataset named by `prefix` (a NIfTI one
// through annotateNifti), then prints the confirmation line on `out`. Nothing is started, and the run is reported as
// failed, when the Rx is not fully defined and finite (any outcome but ok),
// when the prefix begins with '-' (either tool would read it as an option),
// or when the report did not reach `out`: a rerun after a lost report must not
// add a second note. Every message goes to `err`, after `out` is flushed, and
// starts with the program's name. `out` is flushed before the tool starts so
// the tool's own output follows the Rx report. Returns 0 on success, 1 on any
// failure; the confirmation line is printed only after the tool succeeded.
int annotate(const Layout& layout, RxOutcome outcome, const RxRecord& rx, const char* prefix,
             std::FILE* out, std::FILE* err, const ToolRunner& runner = runTool);

}  // namespace torvek
