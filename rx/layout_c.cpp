// Layout C, known only by the two records its build reads: the series record
// (2104 bytes at file offset 62488) and the image record (1568 bytes at
// 64536). The two reads overlap in the file: the series read runs 56 bytes
// past the image record's start. Each record has its own place in the buffer.
#include <array>

#include "rx/layout.hpp"

namespace torvek {
namespace {

constexpr std::size_t kSeriesSize = 2104;
constexpr std::size_t kImageSize = 1568;
constexpr std::size_t kSeriesPosition = 0;
constexpr std::size_t kImagePosition = kSeriesSize;

constexpr std::array<HeaderRead, 2> kReads{{
    {62488, kSeriesPosition, kSeriesSize, "\n.Error in readSeriesHeader()."},
    {64536, kImagePosition, kImageSize, "\n.Error in readMRImageHeader()."},
}};

constexpr RxFieldOffsets kRx{465, 64, 68, 392, 396, 400, 404, 408, 412};

static_assert(fitsBuffer(kSeriesSize + kImageSize, kReads, kSeriesPosition, kSeriesSize,
                         kImagePosition, kImageSize, kRx));

}  // namespace

// Layout C has no layout report and no record dumps.
const Layout layoutC{
    "torvek-c", kSeriesSize + kImageSize, kReads, kSeriesPosition, kImagePosition, kRx,
    {1128, 2104, 1568, 45056}, {}, nullptr,
};

}  // namespace torvek
