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

namespace torvek::nifti {

// The AFNI extension code: the extension torvek's note travels in.
constexpr std::int32_t kAfniEcode = 4;

struct Contents {
  std::string problem;           // empty when the file reads as a single-file dataset
  std::uint64_t vox_offset = 0;  // where the voxel data start
  std::uint64_t data_bytes = 0;  // their length as dim and bitpix give it
  std::uint64_t length = 0;      // bytes the file holds (decompressed for .nii.gz)
  std::size_t notes = 0;         // AFNI extensions whose text is the note
};

// Reads `head`, the first bytes of a dataset (at least up to its vox_offset
// when they exist): the header fields and the extensions. `length` is left 0.
// Never throws for bad bytes; `problem` says what is wrong.
Contents parseHead(std::span<const std::byte> head, std::string_view note);

// Reads the dataset open on `fd` from its start and parses its head. With
// `whole`, a gzip file is read to its end and its decompressed length counted
// (a plain file's length is its size); without, a gzip file's length stays 0.
Contents inspect(int fd, bool gzip, bool whole, std::string_view note);

}  // namespace torvek::nifti
