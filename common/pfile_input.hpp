// How both tools get at a Pfile's bytes: opening it so that no kind of file
// can hang the run, and reading its first bytes whatever route they take (a
// regular file, a pipe, a FIFO, /dev/stdin, a character device). Both tools
// read from the start of the input only, so nothing here seeks. Every read
// error is reported, never taken as data.
#pragma once

#include <cstddef>
#include <span>

namespace pfile {

// Opens `path` for reading (large-file support, close-on-exec, never as the
// controlling terminal). The open itself is non-blocking, so a FIFO without
// a writer opens at once and then reads as empty; reads after it block as
// usual. Returns the descriptor, or -1 with errno set.
int openInput(const char* path);

// What a read delivered: `got` bytes, and `error` 0 when it stopped only
// because the input ended (or the count was reached), else the errno of the
// read that failed.
struct ReadResult {
  std::size_t got = 0;
  int error = 0;
};

// Reads into `into` from the descriptor's current position until it is full,
// the input ends or a read fails; partial reads and EINTR are retried.
ReadResult readFully(int fd, std::span<std::byte> into);

}  // namespace pfile
