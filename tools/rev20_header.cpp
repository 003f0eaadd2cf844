// Revision 20.006 headers for melvane: 149788 bytes describing a plausible
// EPI scan (texts, exam 1234 / series 5 / run 23456, three slices, TR 2 s,
// TE 30 ms, FOV 240, 64x64), with any value changed by a setting. Numbers are
// written little-endian, or big-endian with order=be; texts have no order.
#include <bit>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "tools/writers.hpp"

namespace mkpfile {
namespace {

constexpr std::size_t kSize = 149788;
constexpr std::size_t kSliceTable = 36864, kSliceEntry = 48, kSliceEntries = 2048;

const char* const kUsage =
    "usage: mkpfile rev20 OUT [order=le|be] [rev=F] [rev_bits=0xHEX] [size=N] [slices=N]"
    " [exam|series|slquant|imgsize=N] [run|tr|te=N] [nshot|fov=F]"
    " [s16@OFF=N] [s32@OFF=N] [f32@OFF=F] [text@OFF=STRING]  (OFF: header offset)\n";

// One value to store: a 2- or 4-byte number as its bit pattern, or a text
// (written with a closing NUL when there is room for it).
struct Put {
  std::size_t offset;
  int width;  // 2, 4, or 0 for a text
  std::uint32_t bits;
  std::string text;
};

Put s16(std::size_t off, long v) { return {off, 2, static_cast<std::uint16_t>(v), {}}; }
Put s32(std::size_t off, long v) { return {off, 4, static_cast<std::uint32_t>(v), {}}; }
Put f32(std::size_t off, float v) { return {off, 4, std::bit_cast<std::uint32_t>(v), {}}; }
Put txt(std::size_t off, std::string t) { return {off, 0, 0, std::move(t)}; }

// The slice count at raw 68 and entries 0..n-1 (at most the table's 2048):
// slice number i+1 and three corners of a 240 mm square at z = -30 + 5i.
void addSlices(std::vector<Put>& puts, long n) {
  puts.push_back(s16(68, n));
  for (long i = 0; i < n && i < static_cast<long>(kSliceEntries); ++i) {
    const std::size_t e = kSliceTable + kSliceEntry * static_cast<std::size_t>(i);
    const float z = -30.0f + 5.0f * static_cast<float>(i);
    const float corners[9] = {-120, 120, z, 120, 120, z, -120, -120, z};
    puts.push_back(s16(e + 2, i + 1));
    for (int k = 0; k < 9; ++k) puts.push_back(f32(e + 4 + 4 * static_cast<std::size_t>(k), corners[k]));
  }
}

std::vector<Put> defaults() {
  std::vector<Put> p = {
      f32(0, 20.006f), s32(4, 23456), txt(16, "03/14/12"), txt(26, "14:05"),
      s16(70, 1), s16(110, 64), f32(220, 120.0f), f32(228, 64.0f), f32(232, 1.0f),
      f32(236, 1.0f), s32(412, 13), s32(416, 30), s32(420, 150), s32(440, 1277346000),
      // exam record (142820)
      txt(143620, "headache, r/o lesion"), txt(143877, "DR SMITH"), txt(143942, "DR JONES"),
      txt(144072, "BRAIN FMRI"), txt(144336, "DOE^JANE"), txt(144401, "PT0042"),
      txt(144466, "REQ5521"),
      // series record (144780)
      s32(145424, 1), s16(145588, 1234), s16(145622, 5), txt(145762, "EPI RESTING STATE"),
      // image record (147340)
      f32(147644, 240.0f), f32(147656, 4.0f), f32(147660, 1.0f), f32(147716, 4.0f),
      f32(147736, 0.0f), f32(148036, -120.0f), f32(148040, 120.0f), f32(148044, -30.0f),
      s32(148396, 2000000), s32(148404, 30000), s32(148420, 2), s16(148732, 2),
      s16(148752, 90), txt(148972, "epi2"), txt(149018, "EPI"), txt(149089, "8HRBRAIN"),
  };
  addSlices(p, 3);
  return p;
}

bool number(std::string_view s, long& out) {
  const std::string str(s);
  char* end = nullptr;
  errno = 0;
  out = std::strtol(str.c_str(), &end, 0);
  return !str.empty() && *end == '\0' && errno == 0;
}

bool real(std::string_view s, float& out) {
  const std::string str(s);
  char* end = nullptr;
  out = std::strtof(str.c_str(), &end);
  return !str.empty() && *end == '\0';
}

// Applies one name=value setting. Returns false for a setting it does not know
// or a value it cannot read.
bool apply(std::string_view setting, std::vector<Put>& puts, bool& big, long& size) {
  const std::size_t eq = setting.find('=');
  if (eq == std::string_view::npos) return false;
  const std::string_view name = setting.substr(0, eq), value = setting.substr(eq + 1);
  long n = 0;
  float f = 0;
  if (name == "order") {
    if (value != "le" && value != "be") return false;
    big = value == "be";
    return true;
  }
  const std::size_t at = name.find('@');
  if (at != std::string_view::npos) {
    long off = 0;
    const std::string_view kind = name.substr(0, at);
    if (!number(name.substr(at + 1), off) || off < 0) return false;
    const auto o = static_cast<std::size_t>(off);
    if (kind == "text") return puts.push_back(txt(o, std::string(value))), true;
    if (kind == "f32") return real(value, f) && (puts.push_back(f32(o, f)), true);
    if (!number(value, n)) return false;
    if (kind == "s16") return puts.push_back(s16(o, n)), true;
    if (kind == "s32") return puts.push_back(s32(o, n)), true;
    return false;
  }
  struct Named { std::string_view name; std::size_t offset; char kind; };
  static constexpr Named kNamed[] = {
      {"rev", 0, 'f'},        {"rev_bits", 0, 'l'},    {"run", 4, 'l'},
      {"slquant", 68, 's'},   {"imgsize", 110, 's'},   {"nshot", 232, 'f'},
      {"exam", 145588, 's'},  {"series", 145622, 's'}, {"fov", 147644, 'f'},
      {"tr", 148396, 'l'},    {"te", 148404, 'l'},
  };
  if (name == "size") return number(value, size) && size >= 0;
  if (name == "slices") return number(value, n) && n >= 0 && (addSlices(puts, n), true);
  for (const Named& named : kNamed) {
    if (named.name != name) continue;
    if (named.kind == 'f') return real(value, f) && (puts.push_back(f32(named.offset, f)), true);
    if (!number(value, n)) return false;
    puts.push_back(named.kind == 's' ? s16(named.offset, n) : s32(named.offset, n));
    return true;
  }
  return false;
}

}  // namespace

int writeRev20Header(const std::string& path, std::span<const std::string> settings) {
  if (path == "--help") {
    std::fputs(kUsage, stdout);
    return 0;
  }
  std::vector<Put> puts = defaults();
  bool big = false;
  long size = static_cast<long>(kSize);
  for (const std::string& setting : settings) {
    if (!apply(setting, puts, big, size)) {
      std::fprintf(stderr, "mkpfile: bad setting '%s'\n%s", setting.c_str(), kUsage);
      return 2;
    }
  }
  std::vector<unsigned char> bytes(kSize, 0);
  for (const Put& put : puts) {
    const std::size_t width = put.width ? static_cast<std::size_t>(put.width) : put.text.size();
    if (put.offset > kSize || kSize - put.offset < width) {
      std::fprintf(stderr, "mkpfile: value at %zu lies beyond the header\n", put.offset);
      return 2;
    }
    if (put.width == 0) {
      std::memcpy(bytes.data() + put.offset, put.text.data(), width);
      if (put.offset + width < kSize) bytes[put.offset + width] = 0;
      continue;
    }
    for (std::size_t i = 0; i < width; ++i) {
      const std::size_t shift = 8 * (big ? width - 1 - i : i);
      bytes[put.offset + i] = static_cast<unsigned char>(put.bits >> shift);
    }
  }
  const std::size_t written = std::min(bytes.size(), static_cast<std::size_t>(size));
  std::FILE* out = std::fopen(path.c_str(), "wb");
  if (!out) {
    std::fprintf(stderr, "mkpfile: %s: %s\n", path.c_str(), std::strerror(errno));
    return 1;
  }
  const bool ok = std::fwrite(bytes.data(), 1, written, out) == written;
  if (std::fclose(out) != 0 || !ok) {
    std::fprintf(stderr, "mkpfile: %s: write failed\n", path.c_str());
    return 1;
  }
  std::error_code error;
  if (static_cast<std::size_t>(size) > written) {
    std::filesystem::resize_file(path, static_cast<std::uintmax_t>(size), error);  // sparse tail
  }
  if (error) {
    std::fprintf(stderr, "mkpfile: %s: %s\n", path.c_str(), error.message().c_str());
    return 1;
  }
  return 0;
}

}  // namespace mkpfile
