// Synthetic Pfiles of torvek's layouts A, B and C: a header of the layout's
// size, zero but for the Rx fields, a few record texts, and any values the
// caller sets. All numbers are written little-endian, as the scanner's x86
// hosts store them.
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "tools/writers.hpp"

namespace mkpfile {
namespace {

struct RxPlaces {
  std::size_t file_size;  // bytes written by default: the whole header the build reads
  std::size_t exam, series, image;  // file offsets of the records (exam: 0 = none)
  std::size_t start_ras, start_loc, end_loc;                // from the series record
  std::size_t ctr_R, ctr_A, ctr_S, norm_R, norm_A, norm_S;  // from the image record
};

// Layout C's file is long enough for its image record (64536 + 1568).
constexpr RxPlaces kLayoutA{149808, 142832, 144792, 147352, 1093, 272, 276,
                            696, 700, 704, 708, 712, 716};
constexpr RxPlaces kLayoutB{49568, 45272, 46400, 47992, 120, 124, 132,
                            136, 140, 144, 148, 152, 156};
constexpr RxPlaces kLayoutC{66104, 0, 62488, 64536, 465, 64, 68,
                            392, 396, 400, 404, 408, 412};

const char* const kHelp =
    "usage: mkpfile a|b|c OUT [name=value ...]\n"
    "  Rx fields:  start_ras=LETTER start_loc=F end_loc=F ctr_R=F ctr_A=F ctr_S=F\n"
    "              norm_R=F norm_A=F norm_S=F   (defaults: an oblique axial slab)\n"
    "  raw bytes:  f32@OFF=F s16@OFF=N u16@OFF=N s32@OFF=N u32@OFF=N s64@OFF=N\n"
    "              u64@OFF=N u8@OFF=N text@OFF=STRING fill@OFF+COUNT=BYTE\n"
    "              (OFF: file offset, decimal or 0x hex; numbers little-endian)\n"
    "  size=N      file length in bytes (shorter: truncated header; longer: zeros)\n"
    "  plain=1     leave out the default record texts\n";

class Image {
 public:
  explicit Image(std::size_t size) : bytes_(size, 0) {}
  template <class T>
  bool put(std::size_t offset, T value) {
    if (offset > bytes_.size() || bytes_.size() - offset < sizeof value) return false;
    std::memcpy(bytes_.data() + offset, &value, sizeof value);
    return true;
  }
  bool text(std::size_t offset, std::string_view text) {
    if (offset > bytes_.size() || bytes_.size() - offset < text.size()) return false;
    std::memcpy(bytes_.data() + offset, text.data(), text.size());
    return true;
  }
  bool fill(std::size_t offset, std::size_t count, unsigned char value) {
    if (offset > bytes_.size() || bytes_.size() - offset < count) return false;
    std::memset(bytes_.data() + offset, value, count);
    return true;
  }
  std::vector<unsigned char>& bytes() { return bytes_; }

 private:
  std::vector<unsigned char> bytes_;
};

bool parseNumber(std::string_view text, long long& value) {
  std::string copy(text);
  char* end = nullptr;
  errno = 0;
  value = std::strtoll(copy.c_str(), &end, 0);
  return errno == 0 && end && *end == '\0' && !copy.empty();
}

bool parseUnsigned(std::string_view text, unsigned long long& value) {
  std::string copy(text);
  char* end = nullptr;
  errno = 0;
  value = std::strtoull(copy.c_str(), &end, 0);
  return errno == 0 && end && *end == '\0' && !copy.empty();
}

bool parseFloat(std::string_view text, float& value) {
  std::string copy(text);
  char* end = nullptr;
  value = std::strtof(copy.c_str(), &end);
  return end && *end == '\0' && !copy.empty();
}

// Some record texts, so that a dump of the default file shows more than zeros.
// They sit at the dump's field offsets from each record's first byte.
void putDefaultTexts(Image& image, const RxPlaces& at) {
  if (at.exam != 0) {
    image.text(at.exam + 487, "NEURO RESEARCH MR");  // hospname
    image.text(at.exam + 520, "SUBJ0042");           // patid
    image.text(at.exam + 533, "DOE^JANE");           // patname
    image.text(at.exam + 396, "BRAIN FMRI");         // ex_desc
    image.put<std::uint16_t>(at.exam + 212, 1234);   // ex_no
  }
  image.text(at.series + 354, "EPI RUN 1");          // se_desc
  image.put<std::int16_t>(at.series + 278, 5);       // se_no
  image.text(at.image + 870, "epi2");                // psdname
  image.text(at.image + 916, "epi2_rt");             // psd_iname
  image.text(at.image + 987, "8HRBRAIN");            // cname
}

}  // namespace

int writeRxPfile(char layout, const std::string& path, std::span<const std::string> settings) {
  const RxPlaces& at = layout == 'a' ? kLayoutA : layout == 'b' ? kLayoutB : kLayoutC;
  if (path == "--help") {
    std::fputs(kHelp, stdout);
    return 0;
  }
  Image image(at.file_size);
  std::size_t size = at.file_size;
  bool plain = false;
  for (const std::string& setting : settings) {
    if (setting == "plain=1") plain = true;
  }
  if (!plain) putDefaultTexts(image, at);

  // The Rx of an oblique axial slab, 100 mm thick, tilted 10 degrees.
  image.put<unsigned char>(at.series + at.start_ras, 'S');
  image.put<float>(at.series + at.start_loc, -40.0f);
  image.put<float>(at.series + at.end_loc, 60.0f);
  image.put<float>(at.image + at.ctr_R, 1.5f);
  image.put<float>(at.image + at.ctr_A, -12.25f);
  image.put<float>(at.image + at.ctr_S, 10.0f);
  image.put<float>(at.image + at.norm_R, 0.0f);
  image.put<float>(at.image + at.norm_A, 0.173648f);
  image.put<float>(at.image + at.norm_S, 0.984808f);

  const std::pair<const char*, std::size_t> floats[] = {
      {"start_loc", at.series + at.start_loc}, {"end_loc", at.series + at.end_loc},
      {"ctr_R", at.image + at.ctr_R},   {"ctr_A", at.image + at.ctr_A},
      {"ctr_S", at.image + at.ctr_S},   {"norm_R", at.image + at.norm_R},
      {"norm_A", at.image + at.norm_A}, {"norm_S", at.image + at.norm_S},
  };

  for (const std::string& setting : settings) {
    const auto eq = setting.find('=');
    if (eq == std::string::npos) {
      std::fprintf(stderr, "mkpfile: '%s' is not name=value\n%s", setting.c_str(), kHelp);
      return 2;
    }
    const std::string name = setting.substr(0, eq);
    const std::string value = setting.substr(eq + 1);
    bool ok = false;
    if (name == "plain") {
      ok = true;
    } else if (name == "start_ras") {
      ok = value.size() == 1 && image.put<unsigned char>(at.series + at.start_ras,
                                                         static_cast<unsigned char>(value[0]));
    } else if (name == "size") {
      unsigned long long n;
      ok = parseUnsigned(value, n);
      size = static_cast<std::size_t>(n);
    } else if (const auto at_sign = name.find('@'); at_sign != std::string::npos) {
      const std::string kind = name.substr(0, at_sign);
      std::string where = name.substr(at_sign + 1);
      unsigned long long count = 0;
      if (const auto plus = where.find('+'); kind == "fill" && plus != std::string::npos) {
        ok = parseUnsigned(where.substr(plus + 1), count);
        where = where.substr(0, plus);
      }
      unsigned long long offset;
      long long n = 0;
      unsigned long long u = 0;
      float f = 0;
      if (!parseUnsigned(where, offset)) {
        ok = false;
      } else if (kind == "f32") {
        ok = parseFloat(value, f) && image.put<float>(offset, f);
      } else if (kind == "s16" || kind == "u16") {
        ok = parseNumber(value, n) && image.put<std::uint16_t>(offset, static_cast<std::uint16_t>(n));
      } else if (kind == "s32" || kind == "u32") {
        ok = parseNumber(value, n) && image.put<std::uint32_t>(offset, static_cast<std::uint32_t>(n));
      } else if (kind == "s64") {
        ok = parseNumber(value, n) && image.put<std::int64_t>(offset, n);
      } else if (kind == "u64") {
        ok = parseUnsigned(value, u) && image.put<std::uint64_t>(offset, u);
      } else if (kind == "u8") {
        ok = parseNumber(value, n) && image.put<std::uint8_t>(offset, static_cast<std::uint8_t>(n));
      } else if (kind == "text") {
        ok = image.text(offset, value);
      } else if (kind == "fill") {
        ok = ok && parseNumber(value, n) && image.fill(offset, count, static_cast<unsigned char>(n));
      }
    } else {
      for (const auto& [field, offset] : floats) {
        float f;
        if (name == field) ok = parseFloat(value, f) && image.put<float>(offset, f);
      }
    }
    if (!ok) {
      std::fprintf(stderr, "mkpfile: bad setting '%s'\n%s", setting.c_str(), kHelp);
      return 2;
    }
  }

  image.bytes().resize(size, 0);
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) {
    std::fprintf(stderr, "mkpfile: %s: %s\n", path.c_str(), std::strerror(errno));
    return 1;
  }
  const bool written = std::fwrite(image.bytes().data(), 1, size, file) == size;
  if (std::fclose(file) != 0 || !written) {
    std::fprintf(stderr, "mkpfile: %s: write failed\n", path.c_str());
    return 1;
  }
  return 0;
}

}  // namespace mkpfile
