// melvane's functions on header bytes: byte-order detection, the revision
// check, conversions that must stay defined, and the summary writer on spans
// of any length.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string>

#include "summary/header_input.hpp"
#include "summary/summary.hpp"
#include "support/header_builder.hpp"

using melvane::Bytes;
using testing_support::HeaderBuilder;

namespace {

constexpr std::size_t kSize = 149788;

Bytes span(const HeaderBuilder& h) { return {h.bytes().data(), h.bytes().size()}; }

// The summary of `header` as writeSummary prints it, with SwapEndian detected.
std::string summaryOf(Bytes header) {
  melvane::SwapEndian = melvane::detectSwapEndian(header);
  char* text = nullptr;
  std::size_t length = 0;
  std::FILE* out = open_memstream(&text, &length);
  EXPECT_EQ(melvane::writeSummary(header, out), 0);
  std::fclose(out);
  std::string result(text, length);
  std::free(text);
  return result;
}

// The one line of `summary` that starts with `label`.
std::string line(const std::string& summary, const std::string& label) {
  const std::size_t at = summary.find("\n" + label);
  if (at == std::string::npos) return "<none>";
  return summary.substr(at + 1, summary.find('\n', at + 1) - at - 1);
}

// A header that passes the revision check, zero elsewhere.
HeaderBuilder valid() {
  HeaderBuilder h(kSize);
  h.put<float>(0, 20.006f);
  return h;
}

}  // namespace

TEST(ByteOrder, FirstFloatDecidesWithInclusiveBounds) {
  struct Case { float first; int swap; } cases[] = {
      {5.0f, 0}, {100.0f, 0}, {20.006f, 0}, {4.999f, 1}, {100.001f, 1}, {0.0f, 1},
      {-20.0f, 1}, {std::numeric_limits<float>::quiet_NaN(), 1},
      {std::numeric_limits<float>::infinity(), 1}};
  for (const Case& c : cases) {
    EXPECT_EQ(melvane::detectSwapEndian(span(HeaderBuilder(4).put(0, c.first))), c.swap) << c.first;
  }
  // Too short to hold the float at all.
  EXPECT_EQ(melvane::detectSwapEndian(span(HeaderBuilder(3))), 1);
}

TEST(ByteOrder, BigEndianRevisionReadsAsItsHostValueAndIsAccepted) {
  const HeaderBuilder be = HeaderBuilder(4).put_swapped(0, 20.006f);
  EXPECT_EQ(pfile::load<float>(span(be), 0), 2304016.25f);
  melvane::SwapEndian = melvane::detectSwapEndian(span(be));
  EXPECT_EQ(melvane::SwapEndian, 1);
  EXPECT_TRUE(melvane::revisionAccepted(span(be)));
  EXPECT_EQ(melvane::swaps(static_cast<std::int16_t>(0x0102)), 0x0201);
  EXPECT_EQ(melvane::swaps(static_cast<std::int16_t>(0xFEFF)), -2);  // sign kept
  EXPECT_EQ(melvane::swapl(0x01020304), 0x04030201);
  melvane::SwapEndian = 0;
  EXPECT_EQ(melvane::swapl(0x01020304), 0x01020304);
}

TEST(Revision, OnlyTheExactSinglePrecisionValuePasses) {
  EXPECT_EQ(std::bit_cast<std::uint32_t>(20.006f), 0x41A00C4Au);
  melvane::SwapEndian = 0;
  for (std::uint32_t bits : {0x41A00C49u, 0x41A00C4Bu, 0x7FC00000u}) {
    EXPECT_FALSE(melvane::revisionAccepted(span(HeaderBuilder(4).put(0, bits)))) << bits;
  }
  EXPECT_TRUE(melvane::revisionAccepted(span(HeaderBuilder(4).put(0, 0x41A00C4Au))));
  EXPECT_FALSE(melvane::revisionAccepted(Bytes{}));
  // 20.006 as a double is not the accepted value.
  EXPECT_FALSE(melvane::revisionAccepted(span(HeaderBuilder(4).put(0, 20.0061f))));
}

TEST(Conversions, TruncationGoesTowardZeroAndSaturates) {
  EXPECT_EQ(melvane::truncated(2.9f), 2);
  EXPECT_EQ(melvane::truncated(-2.9f), -2);
  EXPECT_EQ(melvane::truncated(-0.0f), 0);
  EXPECT_EQ(melvane::truncated(std::numeric_limits<float>::quiet_NaN()), 0);
  EXPECT_EQ(melvane::truncated(2147483648.0f), 2147483647);
  EXPECT_EQ(melvane::truncated(2147483520.0f), 2147483520);  // largest float below 2^31
  EXPECT_EQ(melvane::truncated(-2147483648.0f), -2147483647 - 1);
  EXPECT_EQ(melvane::truncated(-1e30f), -2147483647 - 1);
  EXPECT_EQ(melvane::truncated(std::numeric_limits<float>::infinity()), 2147483647);
}

TEST(Conversions, TimePerFrameDividesTheWrappedProduct) {
  EXPECT_EQ(melvane::timePerFrame(3.0f, 1500), 4);  // 4500 / 1000, not 3 * 1
  EXPECT_EQ(melvane::timePerFrame(1.0f, 999), 0);
  EXPECT_EQ(melvane::timePerFrame(1.0f, -1500), -1);
  EXPECT_EQ(melvane::timePerFrame(3.9f, 1500), 4);   // nshot truncated first
  // 3 * 1e9 = 3000000000 wraps to -1294967296 in 32 bits.
  EXPECT_EQ(melvane::timePerFrame(3.0f, 1000000000), -1294967);
  EXPECT_EQ(melvane::timePerFrame(-1.0f, -2147483647 - 1), -2147483);  // wraps to INT32_MIN
}

TEST(Summary, PixelSizeIsASinglePrecisionQuotient) {
  auto pixel = [](float fov, std::int16_t size) {
    return line(summaryOf(span(valid().put<float>(147644, fov).put<std::int16_t>(110, size))), "pixel");
  };
  EXPECT_EQ(pixel(240.0f, 64), "pixel size = 3.75 mm");
  EXPECT_EQ(pixel(220.0f, 3), "pixel size = 73.3333 mm");
  EXPECT_EQ(pixel(240.0f, 0), "pixel size = inf mm");
  EXPECT_NE(pixel(0.0f, 0).find("nan mm"), std::string::npos);
  EXPECT_EQ(pixel(240.0f, -2), "pixel size = -120 mm");
}

TEST(Summary, TextsEndAtTheirBlockWhenNoNulComes) {
  // Requisition number runs to the end of the exam record (144780); the
  // series record after it holds other bytes.
  HeaderBuilder h = valid();
  h.fill(144466, 144780 - 144466, std::byte{'x'}).fill(144780, 8, std::byte{'y'});
  // Time of scan runs to the end of the raw header (4096).
  h.fill(26, 4096 - 26, std::byte{'t'}).fill(4096, 8, std::byte{'u'});
  const std::string s = summaryOf(span(h));
  EXPECT_EQ(line(s, "requisition"), "requisition number = " + std::string(144780 - 144466, 'x'));
  EXPECT_EQ(line(s, "time of scan"), "time of scan = " + std::string(4096 - 26, 't'));
  EXPECT_EQ(line(s, "history"), "history = ");
}

TEST(Summary, SliceLoopStaysInsideTheTable) {
  auto slices = [](std::int16_t count) {
    const std::string s = summaryOf(span(valid().put<std::int16_t>(68, count)
                                             .put<std::int16_t>(36866 + 48 * 2047, 2048)));
    std::size_t n = 0;
    for (std::size_t at = s.find("slice ="); at != std::string::npos; at = s.find("slice =", at + 1)) ++n;
    return std::pair{n, s};
  };
  EXPECT_EQ(slices(0).first, 0u);
  EXPECT_EQ(slices(-5).first, 0u);
  EXPECT_EQ(slices(2048).first, 2048u);
  const auto [count, text] = slices(32767);
  EXPECT_EQ(count, 2048u);
  EXPECT_NE(text.find("slice =2048\ngw_point1="), std::string::npos);
}

TEST(Summary, AnyLengthOfBytesIsSafe) {
  const HeaderBuilder full = valid().put<std::int16_t>(68, 2048).fill(142820, kSize - 142820, std::byte{'z'});
  std::FILE* sink = std::fopen("/dev/null", "w");
  ASSERT_NE(sink, nullptr);
  for (std::size_t size : {0ul, 1ul, 3ul, 4ul, 69ul, 4096ul, 36900ul, 144500ul, kSize - 1, kSize}) {
    const Bytes part = span(full).first(size);
    melvane::SwapEndian = melvane::detectSwapEndian(part);
    EXPECT_EQ(melvane::writeSummary(part, sink), 0) << size;
    melvane::summaryName(part);
  }
  std::vector<std::byte> longer(full.bytes());
  longer.resize(kSize + 1000, std::byte{'w'});
  EXPECT_EQ(melvane::writeSummary(Bytes(longer), sink), 0);
  std::fclose(sink);
  // A short span reads as zeros beyond its end.
  EXPECT_EQ(melvane::summaryName(span(full).first(6)), "E00000S000P00000.7");
}
