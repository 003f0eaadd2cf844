// The header dump: prints the exam, series and image records of a Pfile header
// field by field, one "label:value" line per field, and holds a printer for the
// slice acquisition table and in-place byte-swap helpers for 16- and 32-bit
// units. Numbers are read in the host's byte order; nothing is swapped.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <span>

#include "common/bytes.hpp"

namespace dump {

// Each record dump writes an empty line, its banner line and one line per
// field to `out`. `record` starts at the record's first byte and may run on to
// the end of the header buffer: a text field ends at its first zero byte, which
// may lie in the fields after it, or at the end of `record`, whichever comes
// first. Write errors are ignored; the caller checks the stream.
//
// Throws std::out_of_range, before writing anything, when `record` is too short
// to hold the first byte of every field: fewer than 603 bytes for the exam
// record, 532 for the series record, 1088 for the image record.
void printExamHeader(pfile::Bytes record, std::FILE* out);
void printSeriesHeader(pfile::Bytes record, std::FILE* out);
void printMRImageHeader(pfile::Bytes record, std::FILE* out);

// Size of one slice entry of the slice acquisition table as printed here.
inline constexpr std::size_t kSliceEntrySize = 44;

// Writes the slice acquisition table's banner and then, for entries 0, 1, ...,
// four lines and an empty line each. Prints `entries` entries, or fewer when
// `table` holds fewer whole 44-byte entries: it never reads past `table`.
void printACQTable(pfile::Bytes table, std::FILE* out, std::size_t entries = 512);

// Reverse the bytes of each whole 2-byte (swap_2) or 4-byte (swap_4) unit in
// the first `length` bytes of `range`, in place. A length of 0 or below
// changes nothing; a length beyond the range is cut to the range's size; a
// trailing part of a unit is left as it is.
void swap_2(std::span<std::byte> range, std::int32_t length);
void swap_4(std::span<std::byte> range, std::int32_t length);

}  // namespace dump
