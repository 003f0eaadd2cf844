// Single-file NIfTI datasets (.nii, and .nii.gz compressed with gzip) as
// torvek checks them: what the header says about where the voxel data start
// and how long they are, how many AFNI extensions carry a given note, and how
// many bytes the file really holds. NIfTI-1 (348-byte header) and NIfTI-2
// (540-byte header), in either byte order.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include <zlib.h>

namespace torvek::nifti {

// The AFNI extension code: the extension torvek's note travels in.
constexpr std::int32_t kAfniEcode = 4;

struct Contents {
  std::string problem;           // empty when the file reads as a single-file dataset
  std::size_t header_size = 0;   // 348 (NIfTI-1) or 540 (NIfTI-2)
  bool swapped = false;          // in the other byte order than this machine's
  bool extended = false;         // the extender's first byte says extensions follow
  std::uint64_t vox_offset = 0;  // where the voxel data start
  std::uint64_t data_bytes = 0;  // their length as dim and bitpix give it
  std::uint64_t length = 0;      // bytes read: the header and extensions
  std::size_t notes = 0;         // AFNI extensions whose text is the note
};

// Reads `head`, the first bytes of a dataset (at least up to its vox_offset
// when they exist): the header fields and the extensions. `length` is left 0.
// Never throws for bad bytes; `problem` says what is wrong.
Contents parseHead(std::span<const std::byte> head, std::string_view note);

// Reads a plain or gzip file open on `fd` from its start, in order. Holds
// no copy of the file: each read fills the caller's buffer.
class Reader {
 public:
  Reader(int fd, bool gzip);
  ~Reader();
  Reader(const Reader&) = delete;
  Reader& operator=(const Reader&) = delete;

  // Reads up to `count` bytes; fewer only at the end. Negative: a read error,
  // told in `why` (errno's text or zlib's).
  long read(std::byte* into, std::size_t count, std::string& why);

  // After the end was reached: a gzip stream that stopped short of its
  // trailer is an error, not an end. Empty when the end is sound.
  std::string endProblem();

  // Makes `bytes` the next ones read, before the rest of the file.
  void giveBack(std::span<const std::byte> bytes);

 private:
  std::string zlibError();  // zlib's text, without the "<fd:N>: " it puts first

  int fd_;
  gzFile gz_ = nullptr;
  bool failed_ = false;
  std::uint64_t offset_ = 0;
  std::vector<std::byte> returned_;
};

// Reads the head of the file: the header, the extensions, up to vox_offset
// (or the end of a shorter file), into `head`, and parses it. `length` is
// the bytes kept, and `reader` stands at the voxel data when `problem` is empty.
Contents readHead(Reader& reader, std::vector<std::byte>& head, std::string_view note);

// The head of the dataset open on `fd`, read from its start.
Contents inspect(int fd, bool gzip, std::string_view note);

}  // namespace torvek::nifti
