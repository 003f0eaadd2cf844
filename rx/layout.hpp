// A header layout as one torvek build knows it: where its records lie in the
// file and in the header buffer, where the Rx fields lie in those records, the
// sizes the stand-alone record readers use, and the layout report's lines.
// Every value is in bytes; each build links exactly one Layout object.
#pragma once

#include <cstddef>
#include <cstdio>
#include <span>
#include <string_view>

#include "common/bytes.hpp"

namespace torvek {

using pfile::Bytes;

// One line of the layout report: a format with at most one %i, and its value.
struct ReportLine {
  const char* format;
  int value;

  consteval ReportLine(const char* f, int v = 0) : format(f), value(v) {
    if (count_conversions(f) > 1) throw "a report line carries at most one %i";
  }
  // Counts '%' conversions; "%i" is the only one the report uses.
  static consteval int count_conversions(std::string_view f) {
    int count = 0;
    for (std::size_t i = 0; i < f.size(); ++i) {
      if (f[i] != '%') continue;
      if (i + 1 >= f.size() || f[i + 1] != 'i') throw "the only conversion allowed is %i";
      ++count;
    }
    return count;
  }
};

// One read of readPFileHeader: `size` bytes from `file_offset` of the Pfile
// into the header buffer at `buffer_position`. A short read prints `short_message`.
struct HeaderRead {
  std::size_t file_offset;
  std::size_t buffer_position;
  std::size_t size;
  const char* short_message;
};

// Offsets of the Rx inputs from the first byte of their record.
struct RxFieldOffsets {
  std::size_t start_ras, start_loc, end_loc;                  // series record
  std::size_t ctr_R, ctr_A, ctr_S, norm_R, norm_A, norm_S;    // image record
};

// Record sizes of the stand-alone record readers.
struct RecordSizes {
  std::size_t exam, series, image, data_acq;
};

// Prints the exam, series and image records field by field from the header
// buffer, in that order.
using RecordDumps = void (*)(Bytes header, std::FILE* out);

struct Layout {
  const char* program;                 // executable name, for messages
  std::size_t header_buffer_size;
  std::span<const HeaderRead> reads;   // in order; the last one decides the short-read message
  std::size_t series_position;         // record positions in the header buffer
  std::size_t image_position;
  RxFieldOffsets rx;
  RecordSizes record_sizes;
  std::span<const ReportLine> report;  // empty: this build prints no layout report
  RecordDumps dump_records;            // null: this build dumps no records
};

extern const Layout layoutA;
extern const Layout layoutB;
extern const Layout layoutC;

// True when every read and every Rx field lies inside the header buffer.
consteval bool fitsBuffer(std::size_t buffer_size, std::span<const HeaderRead> reads,
                          std::size_t series_position, std::size_t series_size,
                          std::size_t image_position, std::size_t image_size,
                          const RxFieldOffsets& rx) {
  for (const auto& read : reads) {
    if (read.buffer_position + read.size > buffer_size) return false;
  }
  const std::size_t series_fields[] = {rx.start_ras + 1, rx.start_loc + 4, rx.end_loc + 4};
  const std::size_t image_fields[] = {rx.ctr_R + 4, rx.ctr_A + 4, rx.ctr_S + 4,
                                      rx.norm_R + 4, rx.norm_A + 4, rx.norm_S + 4};
  for (std::size_t end : series_fields) if (end > series_size) return false;
  for (std::size_t end : image_fields) if (end > image_size) return false;
  return series_position + series_size <= buffer_size &&
         image_position + image_size <= buffer_size;
}

}  // namespace torvek
