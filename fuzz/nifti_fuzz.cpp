// Fuzz target: the NIfTI reader that checks a dataset before and after the
// -brik note is added, on arbitrary bytes read as a plain .nii file and as a
// .nii.gz file. Whatever the bytes, it either describes the file or names a
// problem, without reading outside the bytes it holds.
#include <cstddef>
#include <cstdint>

#include "fuzz/memfd_input.hpp"
#include "annotate/nifti_file.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  for (const bool gzip : {false, true}) {
    const int fd = fuzzing::inputFile(data, size);
    const torvek::nifti::Contents contents = torvek::nifti::inspect(
        fd, gzip, true, "Rx info:\nStart:\tL0.0\tP0.0\tS0.0\nEnd:\tL0.0\tP0.0\tS0.0\n");
    if (!contents.problem.empty()) continue;
    // A plain file's length is its size (the caller compares it with
    // vox_offset and the data size).
    if (!gzip && contents.length != size) __builtin_trap();
  }
  return 0;
}
