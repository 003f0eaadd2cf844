// Layout B: the 49568-byte header without a prescan header block; its records
// end exactly at the header's end, and buffer positions equal file offsets.
#include <array>

#include "rx/layout.hpp"

namespace torvek {
namespace {

constexpr std::size_t kHeaderSize = 49568;
constexpr std::size_t kSeriesPosition = 46400;
constexpr std::size_t kImagePosition = 47992;

constexpr std::array<HeaderRead, 1> kReads{{
    {0, 0, kHeaderSize, "\n.Error in readMRImageHeader()."},
}};

constexpr RxFieldOffsets kRx{120, 124, 132, 136, 140, 144, 148, 152, 156};

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

static_assert(fitsBuffer(kHeaderSize, kReads, kSeriesPosition, 1592, kImagePosition, 1576, kRx));

}  // namespace

const Layout layoutB{
    "torvek-b", kHeaderSize, kReads, kSeriesPosition, kImagePosition, kRx,
    {1128, 1592, 1576, 20480}, kReport, nullptr,
};

}  // namespace torvek
