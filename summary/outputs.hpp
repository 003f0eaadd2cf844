// melvane's two output files, each put in place whole or not at all: the
// header copy beside the input and the summary in the current directory.
// Both return the run's exit status and print the run's messages.
#pragma once

#include <string>

#include "summary/header_input.hpp"

namespace melvane {

// Writes `header` unchanged as the file `name`. Returns 0; or 1 after
// ".hdr file won't open= NAME" (cannot be created or put in place) or after
// "melvane: NAME: error" (a write or the close failed).
int writeHeaderCopy(const std::string& name, Bytes header);

// Writes the summary of `header` into the current directory and closes
// `input` after the last line, before the summary is closed. Returns 0; 1
// after "out file won't open= NAME"; or 255 after "melvane: NAME: error"
// when a write or the close failed.
int writeSummaryFile(HeaderBytes header, int input);

}  // namespace melvane
