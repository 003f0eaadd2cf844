// Fuzz target support: hands the fuzzer's bytes to the tools' readers as an
// open file, the way a run gets its Pfile, and gives the output streams the
// report functions write to.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <sys/mman.h>
#include <sys/types.h>
#include <unistd.h>

namespace fuzzing {

// A memory-backed file that holds exactly the bytes of the current input,
// positioned at its start. One file serves every input of the process.
inline int inputFile(const std::uint8_t* data, std::size_t size) {
  static const int fd = ::memfd_create("pfile", MFD_CLOEXEC);
  if (fd < 0) std::abort();
  // ftruncate first: a longer earlier input must not leave bytes behind.
  if (::ftruncate(fd, static_cast<off_t>(size)) != 0) std::abort();
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = ::pwrite(fd, data + done, size - done, static_cast<off_t>(done));
    if (n <= 0) std::abort();
    done += static_cast<std::size_t>(n);
  }
  if (::lseek(fd, 0, SEEK_SET) != 0) std::abort();
  return fd;
}

// /dev/null as a stream: every formatting call still runs in full.
inline std::FILE* discard() {
  static std::FILE* const null = std::fopen("/dev/null", "w");
  if (null == nullptr) std::abort();
  return null;
}

}  // namespace fuzzing
