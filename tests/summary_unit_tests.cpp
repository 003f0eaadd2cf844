// melvane's summary on whole headers, for what the golden runs do not show:
// every kind of number in the reversed byte order with its sign, the
// conversions at their edges, texts that meet the end of their block, and
// slice counts around the table's 2048 entries. Also the format check that
// the summary's rows are compiled against.
#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>

#include "common/byte_order.hpp"
#include "common/format_check.hpp"
#include "summary/header_input.hpp"
#include "summary/summary.hpp"
#include "support/capture.hpp"
#include "support/header_builder.hpp"

using testing_support::HeaderBuilder;

namespace {

constexpr std::size_t kSize = 149788;
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

// A header that passes the revision check, zero elsewhere.
HeaderBuilder valid() {
  HeaderBuilder h(kSize);
  h.put<float>(0, 20.006f);
  return h;
}

// The reading melvane makes of the whole header `h`, byte order detected.
pfile::ScanHeader scan(const HeaderBuilder& h) {
  const bool reversed = pfile::storedReversed(h.bytes());
  const pfile::Revision* row = pfile::findRevision(melvane::revisionOf(h.bytes(), reversed));
  if (row == nullptr || h.bytes().size() != row->header_size) {
    throw std::length_error("not a whole header of a revision in the table");
  }
  const melvane::Reading reading = melvane::readingOf(h.bytes(), reversed, *row);
  if (!reading.header) throw std::invalid_argument(reading.misfit);
  return *reading.header;
}

// The summary of `h` as writeSummary prints it.
std::string summaryOf(const HeaderBuilder& h) {
  const testing_support::Capture out;
  EXPECT_EQ(melvane::writeSummary(scan(h), out.file()), 0);
  return out.text();
}

// The one line of `summary` that starts with `label`.
std::string line(const std::string& summary, const std::string& label) {
  const std::size_t at = summary.find("\n" + label);
  if (at == std::string::npos) return "<none>";
  return summary.substr(at + 1, summary.find('\n', at + 1) - at - 1);
}

}  // namespace

// The check must refuse what printf would misread, or a wrong row compiles.
static_assert(pfile::conversionsFit("examnum/seriesnum = %05d/%03d\n", {"d", "d"}));
static_assert(pfile::conversionsFit("100%% = %-7.1f %+g\n", {"f", "g"}));
static_assert(pfile::conversionsFit("%i %ld %lu %c %s", {"i", "ld", "lu", "c", "s"}));
static_assert(pfile::conversionsFit("no value\n", {}));
static_assert(!pfile::conversionsFit("FOV = %6.1f\n", {"d"}));
static_assert(!pfile::conversionsFit("%ld\n", {"d"}));
static_assert(!pfile::conversionsFit("%d %d\n", {"d"}));
static_assert(!pfile::conversionsFit("%d\n", {"d", "d"}));
static_assert(!pfile::conversionsFit("%*d\n", {"d"}));
static_assert(!pfile::conversionsFit("ends in %", {}));

TEST(Revision, ANotANumberInTheDetectedOrderIsRefused) {
  // 00 00 C0 7F reads as a tiny host-order float, so the order is reversed,
  // and the revision in that order is a NaN.
  HeaderBuilder h(kSize);
  h.put_swapped<std::uint32_t>(0, 0x7FC00000u);
  ASSERT_TRUE(pfile::storedReversed(h.bytes()));
  EXPECT_TRUE(std::isnan(melvane::revisionOf(h.bytes(), true)));
  EXPECT_EQ(pfile::findRevision(melvane::revisionOf(h.bytes(), true)), nullptr);
}

TEST(Summary, ReversedByteOrderReadsEveryKindWithItsSign) {
  auto header = [](bool reversed) {
    HeaderBuilder h(kSize);
    auto put = [&](std::size_t offset, auto value) {
      reversed ? h.put_swapped(offset, value) : h.put(offset, value);
    };
    put(0, 20.006f);
    put(4, std::int32_t{-23456});                    // run number
    put(145588, std::uint16_t{50540});               // exam number: unsigned
    put(440, std::uint32_t{2980000000});             // freq: unsigned, 298 MHz
    put(145622, std::int16_t{-32768});               // series number
    put(148752, std::int16_t{-90});                  // flip angle
    put(147644, -240.0f);                            // FOV
    put(110, std::int16_t{-64});                     // imgsize
    put(148396, std::int32_t{-1500});                // TR
    put(232, -3.9f);                                 // nshot
    put(147656, -kNaN);                              // slice thick
    put(147660, -0.0f);                              // skip
    put(68, std::int16_t{1});                        // one slice
    put(36866, std::int16_t{-7});
    put(36868, -1.5f);
    h.put_text(16, "03/14/12");                      // texts have no byte order
    return h;
  };
  const HeaderBuilder host = header(false), reversed = header(true);
  ASSERT_NE(host.bytes(), reversed.bytes());
  const std::string in_host_order = summaryOf(host);
  const std::string summary = summaryOf(reversed);
  EXPECT_TRUE(scan(reversed).reversed());
  EXPECT_EQ(summary, in_host_order);
  EXPECT_EQ(melvane::summaryName(scan(reversed)), "E50540S-32768P-23456.7");
  for (const char* expected :
       {"runnum = -23456", "examnum/seriesnum = 50540/-32768", "date of scan = 03/14/12",
        "freq = 298000000",
        "flip angle = -90 deg.", "FOV = -240.0", "imgsize = -64  ", "pixel size = 3.75 mm",
        "TR = -1 msec", "nshot = -3", "time/frame = 4 msec", "slice thick =  -nan",
        "skip =  -0.0", "slice =-7", "gw_point1=    -1.5     0.0     0.0"}) {
    const std::string label(expected, std::string_view(expected).find('=') + 1);
    EXPECT_EQ(line(summary, label), expected);
  }
}

TEST(Summary, IntegerConversionsGoTowardZero) {
  const std::string s = summaryOf(valid()
                                      .put<std::int32_t>(148396, -1999)   // TR
                                      .put<std::int32_t>(148404, -1500)   // TE
                                      .put<float>(228, -0.9f)             // equiv matrix size
                                      .put<float>(236, -2147483904.0f));  // gtype, below -2^31
  EXPECT_EQ(line(s, "TR"), "TR = -1 msec");
  EXPECT_EQ(line(s, "TE"), "TE = -1 msec");
  EXPECT_EQ(line(s, "equiv"), "equiv matrix size = 0");
  EXPECT_EQ(line(s, "gtype"), "gtype = -2147483648");
}

TEST(Conversions, TruncationSaturatesAtTheEdgesOfInt32) {
  EXPECT_EQ(melvane::truncated(-0.0f), 0);
  EXPECT_EQ(melvane::truncated(2147483648.0f), 2147483647);
  EXPECT_EQ(melvane::truncated(2147483520.0f), 2147483520);  // largest float below 2^31
  EXPECT_EQ(melvane::truncated(-2147483648.0f), -2147483647 - 1);
  EXPECT_EQ(melvane::truncated(-1e30f), -2147483647 - 1);
  EXPECT_EQ(melvane::truncated(std::numeric_limits<float>::infinity()), 2147483647);
  EXPECT_EQ(melvane::truncated(-kNaN), 0);
}

TEST(Conversions, TimePerFrameDividesTheWrappedProduct) {
  EXPECT_EQ(melvane::timePerFrame(1.0f, 999), 0);
  EXPECT_EQ(melvane::timePerFrame(1.0f, -1500), -1);
  EXPECT_EQ(melvane::timePerFrame(3.9f, 1500), 4);   // nshot truncated first
  // 3 * 1e9 = 3000000000 wraps to -1294967296 in 32 bits.
  EXPECT_EQ(melvane::timePerFrame(3.0f, 1000000000), -1294967);
  EXPECT_EQ(melvane::timePerFrame(-1.0f, -2147483647 - 1), -2147483);  // wraps to INT32_MIN
}

TEST(Summary, PixelSizeIsASinglePrecisionQuotientWithItsSign) {
  auto pixel = [](float fov, std::int16_t size) {
    return line(summaryOf(valid().put<float>(147644, fov).put<std::int16_t>(110, size)), "pixel");
  };
  EXPECT_EQ(pixel(2000.0f, 208), "pixel size = 9.61539 mm");  // 9.61538 in double precision
  EXPECT_EQ(pixel(240.0f, -2), "pixel size = -120 mm");
  EXPECT_EQ(pixel(-240.0f, 0), "pixel size = -inf mm");
  EXPECT_EQ(pixel(-0.0f, 64), "pixel size = -0 mm");
  EXPECT_EQ(pixel(kNaN, 64), "pixel size = nan mm");
  EXPECT_EQ(pixel(-kNaN, 64), "pixel size = -nan mm");
  EXPECT_NE(pixel(0.0f, 0).find("nan mm"), std::string::npos);
}

TEST(Summary, TextsEndAtTheirBlockWhenNoNulComes) {
  HeaderBuilder h = valid();
  // Time of scan runs to the end of the raw header (4096), requisition number
  // to the end of the exam record (144780), series description to the end of
  // the series record (147340); the next byte of each is not NUL.
  h.fill(26, 4096 - 26, std::byte{'t'}).fill(4096, 8, std::byte{'u'});
  h.fill(144466, 144780 - 144466, std::byte{'x'}).fill(144780, 8, std::byte{'y'});
  h.fill(145762, 147340 - 145762, std::byte{'s'}).fill(147340, 8, std::byte{'i'});
  // Coil runs to the last byte of the header.
  h.fill(149089, kSize - 149089, std::byte{'c'});
  const std::string s = summaryOf(h);
  EXPECT_EQ(line(s, "time of scan"), "time of scan = " + std::string(4096 - 26, 't'));
  EXPECT_EQ(line(s, "requisition"), "requisition number = " + std::string(144780 - 144466, 'x'));
  EXPECT_EQ(line(s, "series desc"), "series description = " + std::string(147340 - 145762, 's'));
  EXPECT_EQ(line(s, "coil"), "coil = " + std::string(kSize - 149089, 'c') + " ");
  EXPECT_EQ(line(s, "history"), "history = ");  // a NUL at once: an empty text
}

// A write that fails stops the summary and gives its errno back.
TEST(Summary, AFailedWriteReturnsItsError) {
  std::FILE* full = std::fopen("/dev/full", "w");
  ASSERT_NE(full, nullptr);
  std::setvbuf(full, nullptr, _IONBF, 0);  // every line reaches the device
  EXPECT_EQ(melvane::writeSummary(scan(valid()), full), ENOSPC);
  std::fclose(full);
}

TEST(Summary, SliceCountStopsAtTheTablesLastEntry) {
  HeaderBuilder h = valid();
  h.put<std::int16_t>(36866, 1).put<std::int16_t>(36866 + 48 * 2047, 2048);
  h.put<std::int16_t>(36866 + 48 * 2048, 2049);  // past the table: never printed
  auto slices = [&](std::int16_t count) {
    const std::string s = summaryOf(h.put<std::int16_t>(68, count));
    std::size_t n = 0;
    for (std::size_t at = s.find("slice ="); at != std::string::npos; at = s.find("slice =", at + 1)) ++n;
    return std::pair{n, s};
  };
  EXPECT_EQ(slices(-1).first, 0u);
  EXPECT_EQ(slices(-32768).first, 0u);  // stored 0x8000: no slices, not 32768
  const auto [one, first] = slices(1);
  EXPECT_EQ(one, 1u);
  EXPECT_TRUE(first.ends_with("start_loc=     0.0     0.0     0.0\nslice =1\n"
                              "gw_point1=     0.0     0.0     0.0\n"
                              "gw_point2=     0.0     0.0     0.0\n"
                              "gw_point3=     0.0     0.0     0.0\n"));
  for (std::int16_t count : {2048, 2049}) {
    const auto [n, s] = slices(count);
    EXPECT_EQ(n, 2048u) << count;
    EXPECT_TRUE(s.ends_with("slice =2048\ngw_point1=     0.0     0.0     0.0\n"
                            "gw_point2=     0.0     0.0     0.0\n"
                            "gw_point3=     0.0     0.0     0.0\n")) << count;
  }
}

// From 28.002 the count is 32 bits at 3200, read signed like the 16-bit one:
// 2^31 and more print negative and list no slices.
TEST(Summary, ThirtyTwoBitSliceCountIsReadSigned) {
  HeaderBuilder h(228020);
  h.put<float>(0, 28.002f).put<std::uint32_t>(4, 228020);
  h.put<std::uint32_t>(16, 36864).put<std::uint32_t>(20, 36864 + 2048 * 76);
  h.put<std::uint32_t>(32, 201852).put<std::uint32_t>(36, 203812).put<std::uint32_t>(40, 206372);
  h.put<std::int16_t>(36864 + 76 + 2, 2);
  for (const auto& [count, expected, slices] :
       {std::tuple{0x80000000u, "slquant = -2147483648", 0}, {0xFFFFFFFFu, "slquant = -1", 0},
        {0x7FFFFFFFu, "slquant = 2147483647", 2048}, {2u, "slquant = 2", 2}}) {
    const std::string s = summaryOf(h.put<std::uint32_t>(3200, count));
    EXPECT_EQ(line(s, "slquant"), expected);
    std::size_t n = 0;
    for (std::size_t at = s.find("\nslice ="); at != std::string::npos;
         at = s.find("\nslice =", at + 1)) {
      ++n;
    }
    EXPECT_EQ(n, static_cast<std::size_t>(slices)) << count;
    EXPECT_EQ(s.find("\nslice =2\n") != std::string::npos, slices > 0) << count;
  }
}
