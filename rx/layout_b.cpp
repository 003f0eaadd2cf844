// Layout B: the 49568-byte header without a prescan header block; its records
// end exactly at the header's end, and buffer positions equal file offsets.
#include <array>

#include "rx/layout.hpp"

namespace torvek {
namespace {

// The whole header comes in one read, whose message is the image record's.
constexpr std::array<ShortRead, 1> kShortReads{{
    {49568, "\n.Error in readMRImageHeader()."},
}};

// The prescan header lines are not printed: layout B has no such block.
constexpr std::array<ReportLine, 24> kReport{{
    {"RDB_HEADER_SIZE_BYTES = %i\n", 49568},
    {"RDB_HEADER_REC = %i\n", 2256},
    {" RDB_PER_PASS_TAB= %i\n", 8192},
    {" RDB_PER_PASS_TAB= %i\n", 8192},
    {" RDB_DATA_ACQ_TAB= %i\n", 20480},
    {" RDB_NEX_TYPE= %i\n", 2052},
    {" RDB_NEX_TYPE= %i\n", 2052},
    {" TOOLSDATA= %i\n", 2048},
    {" EXAMDATATYPE= %i\n", 1128},
    {" SERIESDATATYPE= %i\n", 1592},
    {" MRIMAGEDATATYPE= %i\n", 1576},
    {"-----------------------\n"},
    {" RDB_HDR_OFF= %i\n", 0},
    {" RDB_PER_PASS_OFF =%i\n", 2256},
    {" RDB_UNLOCK_RAW_OFF=%i\n", 10448},
    {" RDB_DATACQ_OFF=%i\n", 18640},
    {" RDB_DATAACQ_OFF =%i\n", 18640},
    {" RDB_NEX_OFF =%i\n", 39120},
    {" RDB_NEX_ABORT_OFF =%i\n", 41172},
    {" RDB_TOOLSDATA_OFF =%i\n", 43224},
    {" RDB_EXAMDATATYPE_OFF=%i\n", 45272},
    {" RDB_SERIESDATATYPE_OFF=%i\n", 46400},
    {" RDB_MRIMAGEDATATYPE_OFF =%i\n", 47992},
    {" RDB_ALL_HEADERS_SIZE_BYTES =%i\n", 396544},
}};

}  // namespace

constexpr Layout layoutB{
    .program = "torvek-b",
    .name = "layout B",
    .header_size = 49568,
    .short_reads = kShortReads,
    .series_position = 46400,
    .image_position = 47992,
    .rx = {.start_ras = 120, .start_loc = 124, .end_loc = 132, .ctr_R = 136, .ctr_A = 140,
           .ctr_S = 144, .norm_R = 148, .norm_A = 152, .norm_S = 156},
    .record_sizes = {.exam = 1128, .series = 1592, .image = 1576, .data_acq = 20480},
    .report = kReport,
    .dump_records = nullptr,
};
static_assert(fitsHeader(layoutB));

}  // namespace torvek
