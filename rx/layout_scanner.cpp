// Every revision of the revision table (common/revisions.hpp): the build
// recommended for any scanner-written Pfile. It reads the revision at
// offset 0 (in either byte order), then the rest of that revision's header
// in one read, and takes every position from the revision's row.
#include "rx/layout.hpp"

namespace torvek {

// No layout report and no record dumps, as torvek-rev20.
constexpr Layout layoutScanner{
    .program = "torvek",
    .name = "revision",
    .header_size = 0,
    .short_reads = {},
    .series_position = 0,
    .image_position = 0,
    .rx = {},
    .record_sizes = {},
    .report = {},
    .dump_records = nullptr,
    .every_revision = true,
};

}  // namespace torvek
