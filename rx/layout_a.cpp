// Layout A: the 149808-byte header with a prescan header block. Its exam,
// series and image records sit in the header buffer four bytes after the
// offsets that the layout report prints (142832 against 142828, and so on);
// reading, the Rx and the dumps use the buffer positions.
#include <array>

#include "dump/PrintImageHeader.hpp"
#include "rx/layout.hpp"

namespace torvek {
namespace {

constexpr std::size_t kExamPosition = 142832;
constexpr std::size_t kSeriesPosition = 144792;
constexpr std::size_t kImagePosition = 147352;

// The whole header comes in one read, whose message is the image record's.
constexpr std::array<ShortRead, 1> kShortReads{{
    {149808, "\n.Error in readMRImageHeader()."},
}};

constexpr std::array<ReportLine, 26> kReport{{
    {"RDB_HEADER_SIZE_BYTES = %i\n", 149808},
    {"RDB_HEADER_REC = %i\n", 4104},
    {" RDB_PER_PASS_TAB= %i\n", 16384},
    {" RDB_PER_PASS_TAB= %i\n", 16384},
    {" RDB_DATA_ACQ_TAB= %i\n", 98304},
    {" RDB_NEX_TYPE= %i\n", 2052},
    {" RDB_NEX_TYPE= %i\n", 2052},
    {" TOOLSDATA= %i\n", 2048},
    {" PRESCAN_HEADER=%i\n", 1500},
    {" EXAMDATATYPE= %i\n", 1960},
    {" SERIESDATATYPE= %i\n", 2560},
    {" MRIMAGEDATATYPE= %i\n", 2456},
    {"-----------------------\n"},
    {" RDB_HDR_OFF= %i\n", 0},
    {" RDB_PER_PASS_OFF =%i\n", 4104},
    {" RDB_UNLOCK_RAW_OFF=%i\n", 20488},
    {" RDB_DATACQ_OFF=%i\n", 36872},
    {" RDB_DATAACQ_OFF =%i\n", 36872},
    {" RDB_NEX_OFF =%i\n", 135176},
    {" RDB_NEX_ABORT_OFF =%i\n", 137228},
    {" RDB_TOOLSDATA_OFF =%i\n", 139280},
    {" RDB_PRESCAN_HEADER_OFF=%i\n", 141328},
    {" RDB_EXAMDATATYPE_OFF=%i\n", 142828},
    {" RDB_SERIESDATATYPE_OFF=%i\n", 144788},
    {" RDB_MRIMAGEDATATYPE_OFF =%i\n", 147348},
    {" RDB_ALL_HEADERS_SIZE_BYTES =%i\n", 1198464},
}};

// The exam, series and image dumps, each from its record's first byte in the
// header buffer to the buffer's end.
void dumpRecords(Bytes header, std::FILE* out) {
  dump::printExamHeader(header.subspan(kExamPosition), out);
  dump::printSeriesHeader(header.subspan(kSeriesPosition), out);
  dump::printMRImageHeader(header.subspan(kImagePosition), out);
}

}  // namespace

// The record dumps of the layout A build are called here, between the header
// read and the Rx computation.
constexpr Layout layoutA{
    .program = "torvek-a",
    .name = "layout A",
    .header_size = 149808,
    .short_reads = kShortReads,
    .series_position = kSeriesPosition,
    .image_position = kImagePosition,
    .rx = {.start_ras = 1093, .start_loc = 272, .end_loc = 276, .ctr_R = 696, .ctr_A = 700,
           .ctr_S = 704, .norm_R = 708, .norm_A = 712, .norm_S = 716},
    .record_sizes = {.exam = 1960, .series = 2560, .image = 2456, .data_acq = 98304},
    .report = kReport,
    .dump_records = dumpRecords,
};
static_assert(fitsHeader(layoutA));

}  // namespace torvek
