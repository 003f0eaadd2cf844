// Reading a layout's records from an open Pfile into the header buffer.
#include "rx/header_read.hpp"

#include <algorithm>
#include <stdexcept>

namespace torvek {

pfile::ReadResult readPFileHeader(const Layout& layout, std::span<std::byte> header, int fd,
                                  std::FILE* out) {
  if (header.size() < layout.header_size) {
    throw std::invalid_argument("header buffer smaller than the layout's header");
  }
  const std::span<std::byte> wanted = header.first(layout.header_size);
  const pfile::ReadResult read = pfile::readFully(fd, wanted);
  std::fill(wanted.begin() + static_cast<std::ptrdiff_t>(read.got), wanted.end(), std::byte{0});
  for (const ShortRead& record : layout.short_reads) {
    if (read.got < record.needs) std::fputs(record.message, out);
  }
  return read;
}

namespace {

int readRecord(int fd, std::span<std::byte> record, std::size_t size, const char* message,
               std::FILE* out) {
  std::fill(record.begin(), record.end(), std::byte{0});
  if (record.size() < size) {
    std::fputs(message, out);
    return 1;
  }
  const pfile::ReadResult read = pfile::readFully(fd, record.first(size));
  if (read.got != size || read.error != 0) {
    std::fputs(message, out);
    return 1;
  }
  return 0;
}

}  // namespace

int readExamHeader(const Layout& layout, int fd, std::span<std::byte> record, std::FILE* out) {
  return readRecord(fd, record, layout.record_sizes.exam, "\n. Error in readExamHeader().", out);
}

int readSeriesHeader(const Layout& layout, int fd, std::span<std::byte> record, std::FILE* out) {
  return readRecord(fd, record, layout.record_sizes.series, "\n.Error in readSeriesHeader().",
                    out);
}

int readMRImageHeader(const Layout& layout, int fd, std::span<std::byte> record, std::FILE* out) {
  return readRecord(fd, record, layout.record_sizes.image, "\n.Error in readMRImageHeader().",
                    out);
}

int readDataAcqTable(const Layout& layout, int fd, std::span<std::byte> record, std::FILE* out) {
  return readRecord(fd, record, layout.record_sizes.data_acq, "Error in readDataAcqTable().\n",
                    out);
}

}  // namespace torvek
