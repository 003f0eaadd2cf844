// Header copy and summary file: temporary file, checked writes, rename.
#include "summary/outputs.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "summary/path_at.hpp"
#include "summary/replace_file.hpp"
#include "summary/summary.hpp"

namespace melvane {
namespace {

// "melvane: NAME: error text" on standard error, after what standard output
// holds so far.
void reportFailure(const std::string& name, int err) {
  std::fflush(stdout);
  std::fprintf(stderr, "melvane: %s: %s\n", name.c_str(), std::strerror(err));
}

}  // namespace

int writeHeaderCopy(const std::string& name, Bytes header) {
  const PathAt at(name);
  ReplaceFile copy;
  if (!at.ok() || !copy.create(at.dir(), at.name())) {
    std::printf(".hdr file won't open= %s\n", name.c_str());
    return 1;
  }
  if (std::fwrite(header.data(), 1, header.size(), copy.stream()) != header.size()) {
    const int err = errno;
    reportFailure(name, err != 0 ? err : EIO);
    return 1;  // the temporary file goes with `copy`
  }
  switch (copy.commit()) {
    case ReplaceFile::Outcome::placed:
      return 0;
    case ReplaceFile::Outcome::write_failed:
      reportFailure(name, errno);
      return 1;
    case ReplaceFile::Outcome::not_placed:
      break;
  }
  std::printf(".hdr file won't open= %s\n", name.c_str());
  return 1;
}

int writeSummaryFile(HeaderBytes header, int input) {
  const std::string name = summaryName(header);
  ReplaceFile summary;
  if (!summary.create(AT_FDCWD, name)) {
    std::printf("out file won't open= %s\n", name.c_str());
    return 1;
  }
  const int err = writeSummary(header, summary.stream());
  close(input);
  if (err != 0) {
    reportFailure(name, err);
    return 255;
  }
  switch (summary.commit()) {
    case ReplaceFile::Outcome::placed:
      return 0;
    case ReplaceFile::Outcome::write_failed:
      reportFailure(name, errno);
      return 255;
    case ReplaceFile::Outcome::not_placed:
      break;
  }
  std::printf("out file won't open= %s\n", name.c_str());
  return 1;
}

}  // namespace melvane
