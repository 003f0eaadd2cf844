// The note in a NIfTI dataset, written so that the dataset is never damaged:
// nifti_tool writes a new file in a private hidden directory beside the
// dataset, the new file is compared with the dataset (it must be the dataset
// plus the note), given the dataset's owner, group and attributes, and only
// then renamed over the dataset. A dataset that carries the note already is
// left as it is. Runs on one dataset take turns (an exclusive lock on it for
// the whole step). A signal that ends the run before the rename ends it only
// after the tool has ended and the new file is gone (common/cleanup.hpp); one
// that comes later waits until the confirmation is out and then ends nothing.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "annotate/tool_run.hpp"

namespace torvek {

// The file that `-brik prefix` names: `prefix` itself when it exists, else,
// for a prefix ending in ".nii", `prefix.gz` when that exists (the file
// nifti_tool itself would pick). Empty when neither exists.
std::string niftiDataset(const std::string& prefix);

// nifti_tool's argument vector: `note` added to `dataset`, the result written
// to the new file `new_file`.
std::vector<std::string> niftiCommand(const std::string& note, const std::string& new_file,
                                      const std::string& dataset);

// Adds `note` to the dataset named by `prefix` as an AFNI extension (unless
// the dataset carries it already) and prints the confirmation on `out`,
// naming the file written. Every failure leaves the dataset as it was,
// removes the new file, says on `err` what failed, and returns 1. A signal
// that ends the run before the rename does so after the cleanup and a
// message; one held from the rename on is said ("signal N arrived after the
// note was written") after the confirmation.
int annotateNifti(const char* program, const std::string& prefix, const std::string& note,
                  std::FILE* out, std::FILE* err, const ToolRunner& runner);

}  // namespace torvek
