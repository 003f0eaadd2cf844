// melvane's output files, each put in place whole or not at all: the
// header copy beside the input, the summary and its JSON sidecar in the
// current directory.
// Each failure prints its message on standard output, then one line on
// standard error that names the Pfile and says what failed.
#pragma once

#include <optional>
#include <string>

#include "summary/header_input.hpp"
#include "summary/sidecar.hpp"

namespace melvane {

// "melvane: PFILE: WHAT" on standard error, after what standard output holds
// so far.
void reportProblem(const std::string& pfile, const std::string& what);

// Writes the header copy PFILE.hdr of `header`, read from the open Pfile
// `input`, and then the summary of `reading`; all in `output_dir` when there
// is one (see summary/options.hpp for the names). Neither is written when either
// would replace the input file itself. When the revision table does not fit
// the header (`reading` holds no header), only the header copy is written,
// its bytes exact whatever the table says, and the run fails with the
// misfit's message. With `sidecar`, the JSON sidecar follows the summary,
// written as the summary is. `shortfall` says why the header did not arrive
// whole ("" when it did): each output is then written only where no file of
// its name exists, since the zeros that stand for the missing bytes must not
// replace good results, and one line on standard error starts with it and
// names the outputs kept. Returns the run's exit status: 0; 1 when nothing
// or only the header copy could be written, or the header is short; 255 when
// the summary could not be written or closed.
int writeOutputs(const std::string& pfile, int input, Bytes header, const Reading& reading,
                 const std::string& shortfall = "", Sidecar sidecar = Sidecar::none,
                 const std::optional<std::string>& output_dir = std::nullopt);

}  // namespace melvane
