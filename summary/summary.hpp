// The scan summary of a header of any revision in the table: the file name
// formed from the exam, series and run numbers, and the text itself, 39
// labelled lines then four lines per slice, each value read from its
// revision's field.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "common/scan_header.hpp"

namespace melvane {

// "E%05dS%03dP%05d.7" from the exam number, series number and run number.
std::string summaryName(const pfile::ScanHeader& header);

// Writes the summary of `header` to `out`. Returns 0, or the errno of the
// first write that failed (EIO when the library set none); the lines after a
// failed write are not attempted.
int writeSummary(const pfile::ScanHeader& header, std::FILE* out);

// A float's integer part, toward zero. A value no 32-bit integer holds
// saturates instead of being undefined: NaN gives 0, 2147483648.0 and more
// give 2147483647, below -2147483648.0 gives -2147483648.
std::int32_t truncated(float value);

// The time/frame value: nshot (truncated) times TR as a 32-bit two's-complement
// multiply would leave it, wrapping on overflow, divided by 1000 toward zero.
std::int32_t timePerFrame(float nshot, std::int32_t tr);

// The pixel size line's value: field of view over image size, in single
// precision (image size 0 gives an infinity, or a NaN with a zero field).
float pixelSize(const pfile::ScanHeader& header);

// An integer as %d prints it: its low 32 bits, two's complement. Every
// 16-bit and signed 32-bit value is itself.
int asInt(std::int64_t value);

}  // namespace melvane
