// torvek --json: the run as one line of JSON, for pipelines that read
// numbers rather than the report's text. Coordinates are millimetres in
// RAS+ (right, anterior and superior positive), which the report says with
// letters: R5.0 is 5, L5.0 is -5, A/P and S/I alike.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "rx/layout.hpp"
#include "rx/rx.hpp"

namespace torvek {

// Everything one line describes.
struct JsonRun {
  const char* pfile;                 // as given on the command line
  RxRecord rx;                       // as readrx left it
  RxSeen seen;                       // as readrx filled it
  std::optional<std::string> note;   // the dataset the note was written to
  std::vector<std::string> errors;   // the lines written to standard error
};

// The object, with a newline:
//   {"pfile", "program", "revision", "start_ras_mm", "end_ras_mm", "normal",
//    "note", "error"}
// in that order. A value is null when its bytes did not come, when it is not
// finite, when the slab end cannot be computed (an unknown start_ras letter),
// or when a check refused the header as a whole (a revision the build does
// not read, a slab normal not of unit length). The revision is "%.3f" for a
// build that checks revisions, otherwise null. Floats are printed with the
// fewest digits that read back as the same float. "error" joins the
// standard error lines with "; ". Bytes of a name that are not UTF-8 become
// U+FFFD.
std::string jsonLine(const Layout& layout, const JsonRun& run);

}  // namespace torvek
