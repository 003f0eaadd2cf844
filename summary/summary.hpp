// The scan summary of a revision 20.006 or 20.007 header: the file name
// formed from the exam, series and run numbers, and the text itself, 39
// labelled lines then four lines per slice. Every number is read in the order
// SwapEndian selects, so SwapEndian must be settled before these are called.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "summary/header_input.hpp"

namespace melvane {

// "E%05dS%03dP%05d.7" from the exam number, series number and run number.
std::string summaryName(HeaderBytes header);

// Writes the summary of `header` to `out`, its texts at the places of the
// header's revision (a header of another revision is read as 20.006).
// Returns 0, or the errno of the first write that failed (EIO when the
// library set none); the lines after a failed write are not attempted.
int writeSummary(HeaderBytes header, std::FILE* out);

// A float's integer part, toward zero. A value no 32-bit integer holds
// saturates instead of being undefined: NaN gives 0, 2147483648.0 and more
// give 2147483647, below -2147483648.0 gives -2147483648.
std::int32_t truncated(float value);

// The time/frame value: nshot (truncated) times TR as a 32-bit two's-complement
// multiply would leave it, wrapping on overflow, divided by 1000 toward zero.
std::int32_t timePerFrame(float nshot, std::int32_t tr);

}  // namespace melvane
