// melvane: copies the header of a revision 20.006 or 20.007 Pfile beside it
// and writes a summary of the scan into the current directory.
//   melvane pfile | --help | --version
// Exit status: 0 done, 1 failure, 255 the summary could not be written.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <unistd.h>

#include "common/cleanup.hpp"
#include "common/memory_reserve.hpp"
#include "common/messages.hpp"
#include "common/pfile_input.hpp"
#include "common/standard_options.hpp"
#include "summary/header_input.hpp"
#include "summary/outputs.hpp"

namespace {

// The header buffer; in static storage, so it starts zero-filled and a short
// read leaves zeros after the bytes that came.
std::byte header[melvane::kHeaderSize];

// Why the header did not arrive whole ("" when it did).
std::string shortfall(const pfile::ReadResult& read) {
  if (read.error != 0) return std::string("cannot read the header: ") + std::strerror(read.error);
  if (read.got == melvane::kHeaderSize) return "";
  return "the header is " + std::to_string(read.got) + " bytes, shorter than " +
         std::to_string(melvane::kHeaderSize);
}

// Writes the answer to --help or --version; its exit status.
int answer(pfile::StandardOption option) {
  if (option == pfile::StandardOption::help) {
    std::fputs("usage: melvane pfile\n"
               "Copies the header of a revision 20.006 or 20.007 GE Pfile to pfile.hdr,\n"
               "beside it, and writes a summary of the scan, EnnnnnSnnnPnnnnn.7 (exam,\n"
               "series and run numbers), into the current directory. A Pfile named --help\n"
               "is ./--help.\n",
               stdout);
  } else {
    pfile::printVersion("melvane", stdout);
  }
  if (const int error = pfile::flushError(stdout); error != 0) {
    pfile::report("melvane", "standard output", std::strerror(error));
    return 1;
  }
  return 0;
}

// Reads the header of `path`, checks it and writes both outputs. Returns the
// run's exit status.
int summarise(const std::string& path) {
  using namespace melvane;
  const int input = pfile::openInput(path.c_str());
  if (input < 0) {
    const int err = errno;
    std::perror("U Turkey...");
    std::printf("input file= %s\n", pfile::shownName(path).c_str());
    reportProblem(path, std::strerror(err));
    return 1;
  }
  const pfile::ReadResult read = pfile::readFully(input, header);
  const std::string missing = shortfall(read);
  if (!missing.empty()) std::printf("read header too short =%d\n", 1);

  SwapEndian = detectSwapEndian(header);
  if (!revisionAccepted(header)) {
    std::fflush(stdout);
    std::fprintf(stderr, "Oops!  Wrong rev recon: file rev = %f\n",
                 static_cast<double>(revisionOf(header)));
    reportProblem(path, (missing.empty() ? "" : missing + "; ") +
                            "not a revision 20.006 or 20.007 header, nothing written");
    close(input);
    return 1;
  }

  const int status = writeOutputs(path, input, HeaderBytes(header), missing);
  close(input);
  return status;
}

// The run after the standard descriptors are settled: the Pfile, the
// arguments after it, and standard output.
int run(int argc, char** argv) {
  const std::string path = argv[1];
  int status = summarise(path);

  if (argc > 2) {
    const int extra = argc - 2;
    const char* const noun = extra == 1 ? " further argument" : " further arguments";
    melvane::reportProblem(path, std::to_string(extra) + noun +
                                     " ignored; melvane reads one Pfile per run");
  }
  // A message that did not reach standard output is a failed run.
  if (const int error = pfile::flushError(stdout); error != 0) {
    melvane::reportProblem(path, std::string("standard output: ") + std::strerror(error));
    if (status == 0) status = 1;
  }
  return status;
}

int outOfMemory(const char* path) {
  pfile::report("melvane", path, "out of memory");
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (!pfile::openStandardDescriptors()) return 1;
  melvane::BigEndian = 0;
  if (argc < 2) {
    std::fputs("usage: melvane pfile\n", stderr);
    return 1;
  }
  if (const auto option = pfile::standardOption(argc, argv);
      option != pfile::StandardOption::none) {
    return answer(option);
  }
  // Past a file size limit a write then fails with EFBIG and is reported like
  // any other write error, instead of the run being killed without a word.
  std::signal(SIGXFSZ, SIG_IGN);
  // Out of memory, the outputs not yet in place are dropped as the stack
  // unwinds, and the run ends with a message.
  if (!pfile::setAsideMemoryReserve()) return outOfMemory(argv[1]);
  try {
    return pfile::cleanup::exitStatus(run(argc, argv));
  } catch (const std::bad_alloc&) {
    return outOfMemory(argv[1]);
  }
}
