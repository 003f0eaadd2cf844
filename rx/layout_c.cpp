// Layout C, known only by the two records its build reads: the series record
// (2104 bytes at file offset 62488) and the image record (1568 bytes at
// 64536). The series record runs 56 bytes past the image record's start, so
// both are taken from one read of the file's first 66104 bytes, which works
// the same on inputs that cannot seek.
#include <array>

#include "rx/layout.hpp"

namespace torvek {
namespace {

// The series read is complete at 62488 + 2104 bytes, the image read at
// 64536 + 1568.
constexpr std::array<ShortRead, 2> kShortReads{{
    {64592, "\n.Error in readSeriesHeader()."},
    {66104, "\n.Error in readMRImageHeader()."},
}};

}  // namespace

// Layout C has no layout report and no record dumps.
constexpr Layout layoutC{
    .program = "torvek-c",
    .name = "layout C",
    .header_size = 66104,
    .short_reads = kShortReads,
    .series_position = 62488,
    .image_position = 64536,
    .rx = {.start_ras = 465, .start_loc = 64, .end_loc = 68, .ctr_R = 392, .ctr_A = 396,
           .ctr_S = 400, .norm_R = 404, .norm_A = 408, .norm_S = 412},
    .record_sizes = {.exam = 1128, .series = 2104, .image = 1568, .data_acq = 45056},
    .report = {},
    .dump_records = nullptr,
};
static_assert(fitsHeader(layoutC));

}  // namespace torvek
