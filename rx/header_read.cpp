// Reading a layout's records from an open Pfile into the header buffer.
#include "rx/header_read.hpp"

#include <algorithm>
#include <cerrno>
#include <unistd.h>

namespace torvek {

std::size_t readFully(int fd, std::byte* into, std::size_t count) {
  std::size_t done = 0;
  while (done < count) {
    const ssize_t got = ::read(fd, into + done, count - done);
    if (got > 0) {
      done += static_cast<std::size_t>(got);
    } else if (got < 0 && errno == EINTR) {
      continue;
    } else {
      break;  // end of file, or an error such as reading a directory
    }
  }
  return done;
}

int readPFileHeader(const Layout& layout, std::span<std::byte> header, int fd, std::FILE* out) {
  std::fill(header.begin(), header.end(), std::byte{0});
  int status = 0;
  for (const HeaderRead& read : layout.reads) {
    if (header.size() < read.buffer_position + read.size) {
      std::fputs(read.short_message, out);
      status = 1;
      continue;
    }
    // A seek that fails (a pipe, say) leaves the position where it was; the
    // read then comes up short or reads what follows, as with fseek/fread.
    (void)::lseek(fd, static_cast<off_t>(read.file_offset), SEEK_SET);
    if (readFully(fd, header.data() + read.buffer_position, read.size) != read.size) {
      std::fputs(read.short_message, out);
      status = 1;
    }
  }
  return status;
}

namespace {

int readRecord(int fd, std::span<std::byte> record, std::size_t size, const char* message,
               std::FILE* out) {
  std::fill(record.begin(), record.end(), std::byte{0});
  if (record.size() < size || readFully(fd, record.data(), size) != size) {
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
