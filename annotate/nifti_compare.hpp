// Whether nifti_tool's new file is the dataset with the note added and
// nothing else changed: the same NIfTI version and byte order, the same
// header bytes but for vox_offset, the extension flag and fields no reader
// uses, every extension kept in order followed by the note, and the voxel
// data and whatever follows them byte for byte.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>

#include "annotate/nifti_file.hpp"

namespace torvek::nifti {

// What the new file's head (`now`, read by readHead into `fresh`) changes
// in the dataset's (`old`, `dataset`) other than adding the one extension
// that carries `note`, worded as "nifti_tool would ..."; empty when nothing.
std::string headChanges(std::span<const std::byte> dataset, const Contents& old,
                        std::span<const std::byte> fresh, const Contents& now,
                        std::string_view note);

// Reads the dataset open on `dataset` and the new file open on `fresh`
// side by side in large chunks and compares them whole: the heads with
// headChanges, then every byte from vox_offset to the end (for .nii.gz the
// decompressed streams). Empty when the new file is the dataset with the
// note added; otherwise what nifti_tool changed, or why a file could not be
// read.
std::string changes(int dataset, int fresh, bool gzip, std::string_view note);

}  // namespace torvek::nifti
