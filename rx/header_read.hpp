// Reading a layout's records from an open Pfile into the header buffer.
#pragma once

#include <cstdio>
#include <span>

#include "common/pfile_input.hpp"
#include "rx/layout.hpp"

namespace torvek {

// Reads the file's first layout.header_size bytes into `header` (at least that
// long) from a descriptor positioned at the start of the input, by way of the
// common input layer, so every kind of input gives the same bytes. What the
// input does not hold is zero-filled, never stale or undefined. Each of the
// layout's reads that came up short (or that a read error cut off) prints its
// message on `out`. Returns how many bytes came, and the error that
// stopped the read, if any.
pfile::ReadResult readPFileHeader(const Layout& layout, std::span<std::byte> header, int fd,
                                  std::FILE* out);

// The stand-alone record readers: each reads exactly one record of the
// layout's size from the file's current position (no seek) into `record`,
// which is zero-filled first. Returns 0 when the whole record was read;
// otherwise (a short input, a read error, or a `record` smaller than the
// record, which is refused without reading) prints its message on `out` and
// returns 1.
int readExamHeader(const Layout& layout, int fd, std::span<std::byte> record, std::FILE* out);
int readSeriesHeader(const Layout& layout, int fd, std::span<std::byte> record, std::FILE* out);
int readMRImageHeader(const Layout& layout, int fd, std::span<std::byte> record, std::FILE* out);
int readDataAcqTable(const Layout& layout, int fd, std::span<std::byte> record, std::FILE* out);

}  // namespace torvek
