// NIfTI header fields, the extension list, and reading a plain or gzip file
// far enough to check them.
#include "annotate/nifti_file.hpp"

#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "common/bytes.hpp"

namespace torvek::nifti {
namespace {

using pfile::Bytes;

// Header fields, by version. NIfTI-1: sizeof_hdr int32 at 0, dim int16[8] at
// 40, bitpix int16 at 72, vox_offset float32 at 108, magic "n+1\0" at 344.
// NIfTI-2: sizeof_hdr int32 at 0, magic "n+2\0" at 4, bitpix int16 at 14,
// dim int64[8] at 16, vox_offset int64 at 168. Both are followed by a 4-byte
// extender whose first byte says whether extensions follow.
constexpr std::size_t kHeader1 = 348, kHeader2 = 540;
constexpr std::size_t kHeadLimit = std::size_t{256} << 20;  // extensions beyond are refused

template <class T>
T field(Bytes bytes, std::size_t offset, bool swapped) {
  const T value = pfile::load<T>(bytes, offset);
  return swapped ? pfile::byteReversed(value) : value;
}

struct Header {
  std::size_t size = 0;  // 348 or 540; 0 when neither
  bool swapped = false;
};

Header whichHeader(Bytes head) {
  if (head.size() < 4) return {};
  const auto size = pfile::load<std::int32_t>(head, 0);
  for (const std::int32_t known : {std::int32_t{kHeader1}, std::int32_t{kHeader2}}) {
    if (size == known) return {static_cast<std::size_t>(known), false};
    if (size == pfile::byteReversed(known)) return {static_cast<std::size_t>(known), true};
  }
  return {};
}

// The voxel data's length in bytes, or a problem.
std::string dataBytes(const std::array<std::int64_t, 8>& dim, std::int64_t bitpix,
                      std::uint64_t& bytes) {
  if (dim[0] < 1 || dim[0] > 7) return "dim[0] is " + std::to_string(dim[0]);
  if (bitpix < 1) return "bitpix is " + std::to_string(bitpix);
  std::uint64_t bits = static_cast<std::uint64_t>(bitpix);
  for (std::int64_t i = 1; i <= dim[0]; ++i) {
    const std::int64_t d = dim[static_cast<std::size_t>(i)];
    if (d < 1) return "dim[" + std::to_string(i) + "] is " + std::to_string(d);
    if (__builtin_mul_overflow(bits, static_cast<std::uint64_t>(d), &bits)) {
      return "the voxel data are too large to be real";
    }
  }
  bytes = bits / 8 + (bits % 8 != 0);
  return {};
}

std::string readFields(Bytes head, const Header& h, Contents& c) {
  std::array<std::int64_t, 8> dim{};
  std::int64_t bitpix = 0;
  if (h.size == kHeader1) {
    if (pfile::text(head.first(kHeader1), 344) != "n+1") {
      return "its magic is not \"n+1\" (a two-file dataset or not NIfTI)";
    }
    for (std::size_t i = 0; i < 8; ++i) dim[i] = field<std::int16_t>(head, 40 + 2 * i, h.swapped);
    bitpix = field<std::int16_t>(head, 72, h.swapped);
    const float offset = field<float>(head, 108, h.swapped);
    // Compared before the conversion, which is defined only for values in range.
    if (!(offset >= 0.0f && offset < 0x1p40f)) return "vox_offset is out of range";
    c.vox_offset = static_cast<std::uint64_t>(offset);
  } else {
    if (pfile::text(head.first(8), 4) != "n+2") {
      return "its magic is not \"n+2\" (a two-file dataset or not NIfTI)";
    }
    for (std::size_t i = 0; i < 8; ++i) dim[i] = field<std::int64_t>(head, 16 + 8 * i, h.swapped);
    bitpix = field<std::int16_t>(head, 14, h.swapped);
    const auto offset = field<std::int64_t>(head, 168, h.swapped);
    if (offset < 0) return "vox_offset is negative";
    c.vox_offset = static_cast<std::uint64_t>(offset);
  }
  if (c.vox_offset < h.size + 4) return "vox_offset lies inside the header";
  return dataBytes(dim, bitpix, c.data_bytes);
}

// Counts the AFNI extensions whose data are `note` followed by zero bytes
// only (the padding to a multiple of 16). The list ends where an entry would
// not fit before vox_offset or is not a multiple of 16 long.
std::size_t countNotes(Bytes head, const Header& h, std::uint64_t vox_offset,
                       std::string_view note) {
  const std::size_t end =
      static_cast<std::size_t>(std::min<std::uint64_t>(vox_offset, head.size()));
  if (end < h.size + 4 || std::to_integer<int>(head[h.size]) == 0) return 0;
  std::size_t notes = 0;
  for (std::size_t at = h.size + 4; end - at >= 16;) {
    const auto esize = field<std::int32_t>(head, at, h.swapped);
    const auto ecode = field<std::int32_t>(head, at + 4, h.swapped);
    if (esize < 16 || esize % 16 != 0 || static_cast<std::size_t>(esize) > end - at) break;
    const auto data = head.subspan(at + 8, static_cast<std::size_t>(esize) - 8);
    if (ecode == kAfniEcode && data.size() >= note.size() &&
        std::memcmp(data.data(), note.data(), note.size()) == 0 &&
        std::all_of(data.begin() + static_cast<std::ptrdiff_t>(note.size()), data.end(),
                    [](std::byte b) { return b == std::byte{0}; })) {
      ++notes;
    }
    at += static_cast<std::size_t>(esize);
  }
  return notes;
}

}  // namespace

Reader::Reader(int fd, bool gzip) : fd_(fd) {
  if (!gzip) return;
  // gzclose closes the descriptor it was given; the copy shares the file
  // position, which an earlier reader of `fd` moved.
  const int copy = dup(fd);
  if (copy < 0 || ::lseek(copy, 0, SEEK_SET) != 0 || !(gz_ = gzdopen(copy, "rb"))) {
    if (copy >= 0) close(copy);
    failed_ = true;
    return;
  }
  gzbuffer(gz_, 1 << 17);
}

Reader::~Reader() {
  if (gz_) gzclose_r(gz_);
}

long Reader::read(std::byte* into, std::size_t count, std::string& why) {
  if (failed_) {
    why = "zlib cannot open it";
    return -1;
  }
  std::size_t got = std::min(count, returned_.size());
  std::copy_n(returned_.begin(), got, into);
  returned_.erase(returned_.begin(), returned_.begin() + static_cast<std::ptrdiff_t>(got));
  while (got < count) {
    const std::size_t want = std::min<std::size_t>(count - got, 1u << 30);
    long n;
    if (gz_) {
      n = gzread(gz_, into + got, static_cast<unsigned>(want));
    } else {
      n = ::pread(fd_, into + got, want, static_cast<off_t>(offset_));
      if (n < 0 && errno == EINTR) continue;
    }
    if (n < 0) {
      why = gz_ ? zlibError() : std::strerror(errno);
      return -1;
    }
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
    offset_ += static_cast<std::uint64_t>(n);
  }
  return static_cast<long>(got);
}

void Reader::giveBack(std::span<const std::byte> bytes) {
  returned_.insert(returned_.begin(), bytes.begin(), bytes.end());
}

std::string Reader::endProblem() {
  if (!gz_) return {};
  int zerr = Z_OK;
  gzerror(gz_, &zerr);
  return zerr == Z_OK ? std::string() : zlibError();
}

std::string Reader::zlibError() {
  int zerr = Z_OK;
  const std::string text = gzerror(gz_, &zerr);
  const std::size_t colon = text.find(">: ");
  return text.starts_with("<fd:") && colon != std::string::npos ? text.substr(colon + 3) : text;
}

Contents parseHead(Bytes head, std::string_view note) {
  Contents c;
  const Header h = whichHeader(head);
  if (h.size == 0) {
    c.problem = "it does not start with a NIfTI-1 or NIfTI-2 header";
    return c;
  }
  if (head.size() < h.size + 4) {
    c.problem = "its header is cut short";
    return c;
  }
  c.header_size = h.size;
  c.swapped = h.swapped;
  c.extended = std::to_integer<int>(head[h.size]) != 0;
  c.problem = readFields(head, h, c);
  if (c.problem.empty()) c.notes = countNotes(head, h, c.vox_offset, note);
  return c;
}

Contents readHead(Reader& reader, std::vector<std::byte>& head, std::string_view note) {
  Contents c;
  head.resize(kHeader2 + 4);
  std::string why;
  long got = reader.read(head.data(), head.size(), why);
  if (got < 0) {
    c.problem = "it cannot be read: " + why;
    return c;
  }
  head.resize(static_cast<std::size_t>(got));
  c = parseHead(head, note);
  if (!c.problem.empty()) return c;

  // The extensions lie before vox_offset: read up to it, then parse again.
  // A head longer than vox_offset (a file shorter than 544 bytes) is cut to it.
  if (c.vox_offset > head.size()) {
    if (c.vox_offset > kHeadLimit) {
      c.problem = "its extensions are larger than torvek reads (256 MiB)";
      return c;
    }
    const std::size_t before = head.size();
    head.resize(static_cast<std::size_t>(c.vox_offset));
    got = reader.read(head.data() + before, head.size() - before, why);
    if (got < 0) {
      c.problem = "it cannot be read: " + why;
      return c;
    }
    head.resize(before + static_cast<std::size_t>(got));
    c = parseHead(head, note);
  } else {
    // A small file: the first read went past vox_offset into the voxel data.
    reader.giveBack(std::span(head).subspan(static_cast<std::size_t>(c.vox_offset)));
    head.resize(static_cast<std::size_t>(c.vox_offset));
  }
  c.length = head.size();
  return c;
}

Contents inspect(int fd, bool gzip, std::string_view note) {
  Reader reader(fd, gzip);
  std::vector<std::byte> head;
  return readHead(reader, head, note);
}

}  // namespace torvek::nifti
