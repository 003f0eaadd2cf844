// The revision guard and the per-header layout of the builds that read rows
// of the revision table.
#include "rx/revision.hpp"

#include <algorithm>
#include <cstdio>

#include "common/byte_order.hpp"

namespace torvek {

bool readsReversed(const Layout& layout, Bytes header) {
  return readsRevisions(layout) && pfile::storedReversed(header);
}

const pfile::Revision* revisionRead(const Layout& layout, Bytes header) {
  const float number =
      pfile::inHostOrder(pfile::load<float>(header, 0), readsReversed(layout, header));
  const pfile::Revision* row = pfile::findRevision(number);
  if (!row || layout.every_revision) return row;
  const auto named = std::find(layout.revisions.begin(), layout.revisions.end(), row->name);
  return named == layout.revisions.end() ? nullptr : row;
}

namespace {

const pfile::Revision* rowNamed(std::string_view name) {
  for (const pfile::Revision& row : pfile::scannerRevisions()) {
    if (row.name == name) return &row;
  }
  return nullptr;
}

// "20.006 and 20.007", or "20.006, 20.007 and 20.008".
std::string revisionNames(const Layout& layout) {
  std::string names;
  const std::size_t count = layout.revisions.size();
  for (std::size_t i = 0; i < count; ++i) {
    names += (i == 0 ? "" : i + 1 == count ? " and " : ", ") + std::string(layout.revisions[i]);
  }
  return names;
}

}  // namespace

std::size_t firstReadSize(const Layout& layout) {
  if (layout.every_revision) return 4;
  std::size_t size = 0;
  for (std::string_view name : layout.revisions) {
    const pfile::Revision* row = rowNamed(name);
    if (!row || (size != 0 && row->header_size != size)) return 4;
    size = row->header_size;
  }
  return std::max<std::size_t>(size, 4);
}

std::string revisionRefusal(const Layout& layout, Bytes header, std::size_t got) {
  const std::string reads =
      layout.every_revision
          ? "; this program reads revisions " + pfile::revisionList(pfile::scannerRevisions())
          : "; this build reads revision" + std::string(layout.revisions.size() > 1 ? "s " : " ") +
                revisionNames(layout);
  if (got < sizeof(float)) return "the file ends before its revision (its first 4 bytes)" + reads;
  if (revisionRead(layout, header)) return {};
  const float revision =
      pfile::inHostOrder(pfile::load<float>(header, 0), readsReversed(layout, header));
  // %f of a float at most 3.4e38: 39 digits, a point and 6 decimals.
  char shown[64];
  std::snprintf(shown, sizeof shown, "revision %f", static_cast<double>(revision));
  if (layout.every_revision) {
    return shown + std::string(" is not one this program reads (it reads ") +
           pfile::revisionList(pfile::scannerRevisions()) + ")";
  }
  return shown + reads;
}

void printRevisionsRead(std::FILE* out) {
  const auto rows = pfile::scannerRevisions();
  std::fprintf(out,
               "Reads the Pfiles of scanner software revisions %s to %s, in either byte "
               "order:\n%s.\n",
               rows.front().name, rows.back().name, pfile::revisionList(rows).c_str());
}

HeaderPlan::HeaderPlan(const Layout& build, const pfile::HeaderLayout& table)
    : name_(build.every_revision ? std::string("revision ") + table.revision->name : build.name),
      read_{{{table.header_size, "\n.Error in readMRImageHeader()."}}},
      table_(table),
      layout_(build) {
  const pfile::SeriesFields& series = *table.revision->series_fields;
  const pfile::ImageFields& image = *table.revision->image_fields;
  layout_.name = name_.c_str();
  layout_.header_size = table.header_size;
  layout_.short_reads = read_;
  layout_.series_position = table.series.start;
  layout_.image_position = table.image.start;
  layout_.rx = {.start_ras = series.start_ras.offset, .start_loc = series.start_loc.offset,
                .end_loc = series.end_loc.offset, .ctr_R = image.centre[0].offset,
                .ctr_A = image.centre[1].offset, .ctr_S = image.centre[2].offset,
                .norm_R = image.normal[0].offset, .norm_A = image.normal[1].offset,
                .norm_S = image.normal[2].offset};
  layout_.record_sizes = {.exam = table.exam.size, .series = table.series.size,
                          .image = table.image.size, .data_acq = 0};
}

}  // namespace torvek
