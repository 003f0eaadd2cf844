// Tests of mkpfile: the header writer the tests build their headers with, the
// raw settings in both byte orders, how a text setting ends, the file length,
// and the settings it refuses. Offsets are stated here, from the layouts.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/files.hpp"
#include "support/run.hpp"
#include "tools/header_writer.hpp"

using testing_support::read_file;
using testing_support::run;
using testing_support::TempDir;

namespace {

using namespace std::string_literals;

std::string bytesText(const std::vector<std::byte>& bytes) {
  return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

// Writes DIR/P with mkpfile KIND and the settings; returns the file's bytes.
std::string made(const TempDir& dir, const std::string& kind, std::vector<std::string> settings) {
  settings.insert(settings.begin(), {MKPFILE, kind, dir / "P"});
  const auto result = run(settings);
  EXPECT_EQ(result.exit_code, 0) << result.err;
  return read_file(dir / "P");
}

TEST(HeaderWriter, BothByteOrdersUpToTheLastByte) {
  pfile::HeaderWriter header(10, std::endian::big);
  header.put<std::uint32_t>(0, 0x01020304u)
      .put<std::uint16_t>(4, 0x0506, std::endian::little)
      .text(6, "ab")
      .fill(8, 2, std::byte{'z'});
  const std::string expected = "\x01\x02\x03\x04\x06\x05" "abzz";
  EXPECT_EQ(bytesText(header.bytes()), expected);
  EXPECT_THROW(header.put<std::uint16_t>(9, 1), std::out_of_range);
  EXPECT_THROW(header.text(9, "xy"), std::out_of_range);
  EXPECT_THROW(header.fill(11, 0, std::byte{1}), std::out_of_range);
  EXPECT_THROW(header.put<std::uint8_t>(SIZE_MAX, 1), std::out_of_range);
  EXPECT_EQ(bytesText(header.bytes()), expected);  // a refused store changes nothing
  header.put<std::uint8_t>(9, 'y').fill(10, 0, std::byte{1}).text(10, "");
  EXPECT_EQ(bytesText(header.bytes()), "\x01\x02\x03\x04\x06\x05" "abzy");
}

// Every raw kind, and the default Rx beside them, in both orders: layout B's
// ctr_R (1.5) lies at 47992 + 136.
TEST(Mkpfile, RawValuesInEitherByteOrder) {
  TempDir dir;
  const std::vector<std::string> raw = {
      "s16@0=-2", "u16@2=65535", "s32@4=-3", "u32@8=0x80000000", "s64@16=-4",
      "u64@24=18446744073709551615", "u8@32=0x41", "f32@36=1.5", "fill@40+3=0x7A"};
  const std::string big =
      "\xFF\xFE\xFF\xFF\xFF\xFF\xFF\xFD\x80\0\0\0\0\0\0\0"
      "\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFC\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF"
      "A\0\0\0\x3F\xC0\0\0zzz\0"s;
  const std::string little =
      "\xFE\xFF\xFF\xFF\xFD\xFF\xFF\xFF\0\0\0\x80\0\0\0\0"
      "\xFC\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF"
      "A\0\0\0\0\0\xC0\x3Fzzz\0"s;
  std::vector<std::string> settings = raw;
  settings.push_back("order=be");
  std::string file = made(dir, "b", settings);
  EXPECT_EQ(file.substr(0, 44), big);
  EXPECT_EQ(file.substr(48128, 4), "\x3F\xC0\0\0"s);
  file = made(dir, "b", raw);
  EXPECT_EQ(file.substr(0, 44), little);
  EXPECT_EQ(file.substr(48128, 4), "\0\0\xC0\x3F"s);
}

// A text setting writes its bytes alone into a layout file, so that tests can
// make texts without a zero byte; into a revision 20.006 header it also
// writes the zero byte after them, when the header has room.
TEST(Mkpfile, HowATextSettingEnds) {
  TempDir dir;
  // Layout B's se_desc (series 46400 + 354) holds "EPI RUN 1" by default.
  EXPECT_EQ(made(dir, "b", {"text@46754=XY"}).substr(46754, 10), "XYI RUN 1\0"s);
  // The revision 20.006 series description (145762) holds "EPI RESTING STATE".
  EXPECT_EQ(made(dir, "rev20", {"text@145762=XY"}).substr(145762, 6), "XY\0 RE"s);
  std::string file = made(dir, "rev20", {"text@149786=AB"});
  EXPECT_EQ(file.size(), 149788u);
  EXPECT_TRUE(file.ends_with("\0AB"s));
  file = made(dir, "rev20", {"fill@149785+3=0x7A", "text@149785=AB"});
  EXPECT_TRUE(file.ends_with("AB\0"s));
}

// The slice count is written as given; entries stop at the table's 2048th.
TEST(Mkpfile, SlicesBeyondTheTable) {
  TempDir dir;
  const std::string file = made(dir, "rev20", {"slices=3000"});
  EXPECT_EQ(file.size(), 149788u);
  EXPECT_EQ(file.substr(68, 2), "\xB8\x0B"s);                     // 3000
  EXPECT_EQ(file.substr(36864 + 48 * 2047 + 2, 2), "\0\x08"s);    // slice 2048
}

TEST(Mkpfile, SizeCutsTheHeaderOrAddsZeros) {
  TempDir dir;
  const std::string whole = made(dir, "b", {});
  ASSERT_EQ(whole.size(), 49568u);
  EXPECT_EQ(made(dir, "b", {"size=100"}), whole.substr(0, 100));
  EXPECT_EQ(made(dir, "b", {"size=49600"}), whole + std::string(32, '\0'));
  EXPECT_EQ(made(dir, "rev20", {"size=0"}), "");
}

// A refused setting writes no file; the last byte of the header is the last
// place a value may take.
TEST(Mkpfile, BadSettingsWriteNothing) {
  TempDir dir;
  for (const char* setting : {"s16@49567=1", "text@49568=x", "size=-1", "order=xx", "fill@0=1",
                              "u8@0=x", "q8@0=1", "f32@0=", "start_ras=SS", "noequals"}) {
    const auto result = run({MKPFILE, "b", dir / "P", setting});
    EXPECT_EQ(result.exit_code, 2) << setting;
    EXPECT_TRUE(result.err.starts_with("mkpfile: bad setting '"s + setting + "'")) << result.err;
    EXPECT_FALSE(std::filesystem::exists(dir / "P")) << setting;
  }
  EXPECT_EQ(made(dir, "b", {"s16@49566=-1"}).substr(49566), "\xFF\xFF");
}

TEST(Mkpfile, AFailedWriteIsReported) {
  const auto result = run({MKPFILE, "rev20", "/dev/full"});
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_EQ(result.err, "mkpfile: /dev/full: write failed\n");
}

}  // namespace
