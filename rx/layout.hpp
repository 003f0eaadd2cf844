// A header layout as one torvek build knows it: how many of the file's first
// bytes the build reads, where its records lie in them, where the Rx fields
// lie in those records, the sizes the stand-alone record readers use, and the
// layout report's lines. A build that reads scanner-written revisions names
// instead the rows of the revision table (common/revisions.hpp) it reads;
// each header's positions come from its row once its revision is read (see
// rx/revision.hpp). Every value is in bytes; each build links exactly one
// Layout object.
#pragma once

#include <cstddef>
#include <cstdio>
#include <span>
#include <string_view>

#include "common/bytes.hpp"
#include "common/format_check.hpp"

namespace torvek {

using pfile::Bytes;

// One line of the layout report: a fixed text, or a format with one %i and
// its value. The formats are checked when the table is compiled.
struct ReportLine {
  const char* format;
  int value = 0;

  consteval ReportLine(const char* f) : format(f) {
    if (!pfile::conversionsFit(f, std::initializer_list<std::string_view>{})) {
      throw "a line without a value converts nothing";
    }
  }
  consteval ReportLine(const char* f, int v) : format(f), value(v) {
    if (!pfile::conversionsFit(f, {"i"})) throw "a line with a value carries exactly one %i";
  }
};

// One of the layout's record reads as the short-read messages see it: the read
// is complete when the input holds at least `needs` bytes; otherwise its
// message is printed.
struct ShortRead {
  std::size_t needs;
  const char* message;
};

// Offsets of the Rx inputs from the first byte of their record.
struct RxFieldOffsets {
  std::size_t start_ras, start_loc, end_loc;                  // series record
  std::size_t ctr_R, ctr_A, ctr_S, norm_R, norm_A, norm_S;    // image record
};

// Record sizes: the series and image records the Rx is read from, and the
// sizes of the stand-alone record readers.
struct RecordSizes {
  std::size_t exam, series, image, data_acq;
};

// Prints the exam, series and image records field by field from the header
// buffer, in that order.
using RecordDumps = void (*)(Bytes header, std::FILE* out);

struct Layout {
  const char* program;                 // executable name, for messages
  const char* name;                    // "layout A", ..., for messages
  std::size_t header_size;             // the build reads the file's first header_size bytes
  std::span<const ShortRead> short_reads;  // in the order of the layout's reads
  std::size_t series_position;         // record positions in the header buffer, which
  std::size_t image_position;          // holds the file's bytes at their file offsets
  RxFieldOffsets rx;
  RecordSizes record_sizes;
  std::span<const ReportLine> report;  // empty: this build prints no layout report
  RecordDumps dump_records;            // null: this build dumps no records
  // The rows of the revision table this build reads, by name, or with
  // every_revision all of them. The revision is the float at offset 0 in the
  // header's byte order, which that float also tells (see
  // common/byte_order.hpp); every number is then read in that order, and the
  // positions above are those of the revision's row. None: the positions
  // above hold, no revision is checked, and numbers are read in host order.
  std::span<const std::string_view> revisions = {};
  bool every_revision = false;
};

// A build of revision-table rows (`rows`, or with `every_revision` all of
// them): every position comes from the row of the header's revision, and it
// prints no layout report and dumps no records.
constexpr Layout tableLayout(const char* program, const char* name,
                             std::span<const std::string_view> rows, bool every_revision) {
  return {.program = program, .name = name, .header_size = 0, .short_reads = {},
          .series_position = 0, .image_position = 0, .rx = {}, .record_sizes = {},
          .report = {}, .dump_records = nullptr, .revisions = rows,
          .every_revision = every_revision};
}

constexpr bool readsRevisions(const Layout& layout) {
  return layout.every_revision || !layout.revisions.empty();
}

extern const Layout layoutA;
extern const Layout layoutB;
extern const Layout layoutC;
extern const Layout layoutRev20;
extern const Layout layoutScanner;

// The end of the last Rx field in the header buffer: the input must hold this
// many bytes for every Rx input to come from it.
constexpr std::size_t rxInputsEnd(const Layout& layout) {
  const RxFieldOffsets& rx = layout.rx;
  std::size_t end = 0;
  for (std::size_t at : {rx.start_ras + 1, rx.start_loc + 4, rx.end_loc + 4}) {
    if (layout.series_position + at > end) end = layout.series_position + at;
  }
  for (std::size_t at : {rx.ctr_R, rx.ctr_A, rx.ctr_S, rx.norm_R, rx.norm_A, rx.norm_S}) {
    if (layout.image_position + at + 4 > end) end = layout.image_position + at + 4;
  }
  return end;
}

// True when both records lie inside the header, every Rx field inside its
// record, and the short reads come in order with the last one covering the
// whole header. (A build of table rows has the table's own checks.)
consteval bool fitsHeader(const Layout& layout) {
  const RxFieldOffsets& rx = layout.rx;
  const RecordSizes& sizes = layout.record_sizes;
  for (std::size_t end : {rx.start_ras + 1, rx.start_loc + 4, rx.end_loc + 4}) {
    if (end > sizes.series) return false;
  }
  for (std::size_t at : {rx.ctr_R, rx.ctr_A, rx.ctr_S, rx.norm_R, rx.norm_A, rx.norm_S}) {
    if (at + 4 > sizes.image) return false;
  }
  if (layout.series_position + sizes.series > layout.header_size) return false;
  if (layout.image_position + sizes.image > layout.header_size) return false;
  std::size_t needs = 0;
  for (const ShortRead& read : layout.short_reads) {
    if (read.needs <= needs) return false;
    needs = read.needs;
  }
  return needs == layout.header_size;
}

}  // namespace torvek
