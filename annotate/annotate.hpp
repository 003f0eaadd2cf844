// Dataset annotation: with -brik, torvek stores the Rx as a note in the scan's
// AFNI dataset (through AFNI's 3dNotes) or NIfTI file (through nifti_tool,
// as an AFNI extension). The tool is started without a shell, from an
// argument vector (annotate/tool_run.hpp), and how it ended decides whether
// the run confirms. Every message names the dataset through pfile::report.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "annotate/tool_run.hpp"
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
