// Revision 20.x (20.006 and 20.007) as scanners write it: the 149788-byte
// header whose exam, series and image records lie at 142820, 144780 and
// 147340, the offsets the header's own block table gives. Within the records
// the Rx fields are where layout A keeps them. Buffer positions equal file
// offsets. The header starts with its revision, in either byte order; the
// build reads no other revision, and reads the Rx in the revision's order.
#include <array>

#include "rx/layout.hpp"

namespace torvek {
namespace {

// The whole header comes in one read, whose message is the image record's.
constexpr std::array<ShortRead, 1> kShortReads{{
    {149788, "\n.Error in readMRImageHeader()."},
}};

// 20.006 and 20.007 rounded to single precision: 0x41A00C4A and 0x41A00E56.
constexpr std::array<float, 2> kRevisions{20.006f, 20.007f};

}  // namespace

// Like layout C, this build prints no layout report and dumps no records.
constexpr Layout layoutRev20{
    .program = "torvek-rev20",
    .name = "revision 20.x",
    .header_size = 149788,
    .short_reads = kShortReads,
    .series_position = 144780,
    .image_position = 147340,
    .rx = {.start_ras = 1093, .start_loc = 272, .end_loc = 276, .ctr_R = 696, .ctr_A = 700,
           .ctr_S = 704, .norm_R = 708, .norm_A = 712, .norm_S = 716},
    .record_sizes = {.exam = 1960, .series = 2560, .image = 2448, .data_acq = 98304},
    .report = {},
    .dump_records = nullptr,
    .revisions = kRevisions,
};
static_assert(fitsHeader(layoutRev20));

}  // namespace torvek
