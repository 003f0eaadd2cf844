// Reading a layout's records from an open Pfile into the header buffer.
#pragma once

#include <cstdio>
#include <span>

#include "rx/layout.hpp"

namespace torvek {

// Reads what the layout needs into `header` (at least the layout's
// header_buffer_size bytes), read by read: seek to the read's file offset, then
// read its bytes at its buffer position. The buffer is zero-filled first, so a
// short file leaves zeros, never stale or undefined bytes. Each short read
// prints its message on `out` and the reading goes on. A failed seek is not
// looked at; it shows as a short read. Returns 0 when every read delivered
// its full count, 1 otherwise.
int readPFileHeader(const Layout& layout, std::span<std::byte> header, int fd, std::FILE* out);

// The stand-alone record readers: each reads exactly one record of the
// layout's size from the file's current position (no seek) into `record`,
// which is zero-filled first. Returns 0 when the whole record was read;
// otherwise prints its message on `out` and returns 1. A `record` smaller
// than the record size is refused in the same way, without reading.
int readExamHeader(const Layout& layout, int fd, std::span<std::byte> record, std::FILE* out);
int readSeriesHeader(const Layout& layout, int fd, std::span<std::byte> record, std::FILE* out);
int readMRImageHeader(const Layout& layout, int fd, std::span<std::byte> record, std::FILE* out);
int readDataAcqTable(const Layout& layout, int fd, std::span<std::byte> record, std::FILE* out);

// Reads up to `count` bytes, retrying after interruptions and partial reads,
// and stopping at end of file or at an error. Returns the bytes read.
std::size_t readFully(int fd, std::byte* into, std::size_t count);

}  // namespace torvek
