// Fuzz target: the NIfTI reader and comparison that check a dataset before
// and after the -brik note is added, on arbitrary bytes read as a plain .nii
// file and as a .nii.gz file. Whatever the bytes, they either describe the
// file or name a problem, without reading outside the bytes they hold.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz/memfd_input.hpp"
#include "annotate/nifti_compare.hpp"
#include "annotate/nifti_file.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  constexpr char kNote[] = "Rx info:\nStart:\tL0.0\tP0.0\tS0.0\nEnd:\tL0.0\tP0.0\tS0.0\n";
  for (const bool gzip : {false, true}) {
    const int fd = fuzzing::inputFile(data, size);
    const torvek::nifti::Contents contents = torvek::nifti::inspect(fd, gzip, kNote);
    // A plain file's head is read up to vox_offset or its end.
    if (contents.problem.empty() && !gzip &&
        contents.length != std::min<std::uint64_t>(size, contents.vox_offset)) {
      __builtin_trap();
    }
    // The file is never itself plus the note. Opened again for a file
    // position of its own, as the dataset and the new file have.
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    const int again = ::open(self.c_str(), O_RDONLY | O_CLOEXEC);
    if (again < 0) std::abort();
    if (torvek::nifti::changes(fd, again, gzip, kNote).empty()) __builtin_trap();
    ::close(again);
  }
  return 0;
}
