// melvane: copies the header of a revision 20.006 Pfile beside it and writes
// a summary of the scan into the current directory.
//   melvane pfile
// Exit status: 0 done, 1 failure, 255 the summary could not be written.
#include <cerrno>
#include <cstdio>
#include <string>

#include "common/pfile_input.hpp"
#include "summary/header_input.hpp"
#include "summary/outputs.hpp"
#include "summary/path_at.hpp"

namespace {

// The header buffer; in static storage, so it starts zero-filled and a short
// read leaves zeros after the bytes that came.
std::byte header[melvane::kHeaderSize];

}  // namespace

int main(int argc, char** argv) {
  using namespace melvane;
  BigEndian = 0;
  if (argc < 2) {
    std::fputs("usage: melvane pfile\n", stderr);
    return 1;
  }
  const std::string path = argv[1];

  const PathAt at(path);  // a path longer than PATH_MAX opens through its directory
  if (!at.ok()) errno = at.error();
  const int input = at.ok() ? pfile::openInputAt(at.dir(), at.name()) : -1;
  if (input < 0) {
    std::perror("U Turkey...");
    std::printf("input file= %s\n", path.c_str());
    return 1;
  }
  if (pfile::readAt(input, 0, header).got < kHeaderSize) std::printf("read header too short =%d\n", 1);

  SwapEndian = detectSwapEndian(header);
  if (!revisionAccepted(header)) {
    std::fflush(stdout);
    std::fprintf(stderr, "Oops!  Wrong rev recon: file rev = %f\n",
                 static_cast<double>(revisionOf(header)));
    return 1;
  }

  if (const int status = writeHeaderCopy(path + ".hdr", header); status != 0) return status;
  return writeSummaryFile(header, input);
}
