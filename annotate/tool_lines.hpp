// What an annotation tool wrote on its standard error, passed on line by line
// under the run's own marks, so that no line of another program reaches
// standard error without saying whose it is.
#pragma once

#include <cstdio>
#include <string>

#include "annotate/tool_run.hpp"

namespace torvek {

// Passes each line of the tool's standard error on as "PROGRAM: DATASET:
// TOOL: LINE", control bytes escaped. nifti_tool's "+d added 1 extension(s)
// to 1 files" says only that it succeeded, and is dropped when it did.
void passOnToolLines(const char* program, const std::string& dataset, const std::string& tool,
                     const ToolEnd& end, std::FILE* out, std::FILE* err);

}  // namespace torvek
