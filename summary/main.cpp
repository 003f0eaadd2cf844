// melvane: copies the header of a Pfile of any revision in the table beside
// it and writes a summary of the scan into the current directory, or both
// into the folder that -o names.
//   melvane [--json | --json-identifying] [-o DIR | --output-dir DIR] pfile
//   melvane --help | --version
// Exit status: 0 done, 1 failure, 255 the summary could not be written.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <algorithm>
#include <unistd.h>

#include "common/cleanup.hpp"
#include "common/memory_reserve.hpp"
#include "common/messages.hpp"
#include "common/pfile_input.hpp"
#include "common/standard_options.hpp"
#include "summary/header_input.hpp"
#include "summary/options.hpp"
#include "summary/outputs.hpp"

namespace {

// Writes the answer to --help or --version; its exit status.
int answer(pfile::StandardOption option) {
  if (option == pfile::StandardOption::help) {
    std::fputs("usage: melvane pfile\n"
               "       melvane [--json | --json-identifying] [-o DIR | --output-dir DIR] pfile\n"
               "Copies the header of a GE Pfile to pfile.hdr, beside it, and writes a\n"
               "summary of the scan, EnnnnnSnnnPnnnnn.7 (exam, series and run numbers),\n"
               "into the current directory. A Pfile named --help is ./--help.\n"
               "Options, before the Pfile, in any order:\n"
               "  --json               also write EnnnnnSnnnPnnnnn.json, the summary's values\n"
               "                       as numbers in BIDS units, without identifying texts\n"
               "  --json-identifying   the same with patient name and id, requisition\n"
               "                       number, physicians and history\n"
               "  -o DIR, --output-dir DIR\n"
               "                       write every output into DIR, a folder that exists\n",
               stdout);
    std::printf("Revisions read: %s.\n",
                pfile::revisionList(pfile::scannerRevisions()).c_str());
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
int summarise(const std::string& path, const melvane::Options& options) {
  using namespace melvane;
  const int input = pfile::openInput(path.c_str());
  if (input < 0) {
    const int err = errno;
    std::perror("U Turkey...");
    std::printf("input file= %s\n", pfile::shownName(path).c_str());
    reportProblem(path, std::strerror(err));
    return 1;
  }
  const HeaderRead read = readHeader(input);
  const std::string& missing = read.shortfall;
  if (!missing.empty()) std::printf("read header too short =%d\n", 1);

  if (read.row == nullptr) {
    std::fflush(stdout);
    std::fprintf(stderr, "Oops!  Wrong rev recon: file rev = %f\n",
                 static_cast<double>(read.revision));
    reportProblem(path, (missing.empty() ? "" : missing + "; ") + "not a revision melvane reads (" +
                            pfile::revisionList(pfile::scannerRevisions()) +
                            "), nothing written");
    close(input);
    return 1;
  }

  const int status = writeOutputs(path, input, read.bytes(),
                                  readingOf(read.bytes(), read.reversed, *read.row), missing,
                                  options.sidecar, options.output_dir);
  close(input);
  return status;
}

// The run after the standard descriptors are settled: the output folder,
// the Pfile, the arguments after it, and standard output.
int run(int argc, char** argv, const melvane::Options& options) {
  if (options.output_dir) {
    // Checked before anything is read or written.
    const std::string problem = melvane::outputDirProblem(*options.output_dir);
    if (!problem.empty()) {
      pfile::report("melvane", *options.output_dir, problem);
      return 1;
    }
  }
  const std::string path = argv[options.pfile];
  int status = summarise(path, options);

  if (argc > options.pfile + 1) {
    const int extra = argc - options.pfile - 1;
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
  if (const auto option = pfile::standardOption(argc, argv);
      option != pfile::StandardOption::none) {
    return answer(option);
  }
  const std::optional<melvane::Options> options = melvane::parseOptions(argc, argv);
  if (!options) {
    std::fputs("usage: melvane pfile\n"
               "       melvane [--json | --json-identifying] [-o DIR | --output-dir DIR] pfile\n",
               stderr);
    return 1;
  }
  const char* const pfile = argv[options->pfile];
  // Past a file size limit a write then fails with EFBIG and is reported like
  // any other write error, instead of the run being killed without a word.
  std::signal(SIGXFSZ, SIG_IGN);
  // Out of memory, the outputs not yet in place are dropped as the stack
  // unwinds, and the run ends with a message.
  if (!pfile::setAsideMemoryReserve()) return outOfMemory(pfile);
  try {
    return pfile::cleanup::exitStatus(run(argc, argv, *options));
  } catch (const std::bad_alloc&) {
    return outOfMemory(pfile);
  }
}
