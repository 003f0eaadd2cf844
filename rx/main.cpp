// torvek: prints the Rx (prescription) of a scan from its Pfile header and,
// with -brik, stores it as a note in the scan's AFNI or NIfTI dataset. Built
// once per header layout; TORVEK_LAYOUT names the layout of this build.
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "rx/annotate.hpp"
#include "rx/args.hpp"
#include "rx/rx.hpp"

int main(int argc, char** argv) {
  const torvek::Layout& layout = torvek::TORVEK_LAYOUT;
  const auto settings = torvek::parsearg(argc, argv, stdout);
  if (!settings) return 0;

  torvek::RxRecord rx;
  const torvek::RxOutcome outcome = torvek::readrx(layout, rx, settings->pfile, stdout, stderr);
  int status = outcome == torvek::RxOutcome::ok ? 0 : 1;

  if (settings->briknote &&
      torvek::annotate(layout, outcome, rx, settings->prefix, stdout, stderr) != 0) {
    status = 1;
  }

  torvek::printLayoutReport(layout, stdout);

  // A report that did not reach its file is a failed run.
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    std::fprintf(stderr, "%s: standard output: %s\n", layout.program, std::strerror(errno));
    status = 1;
  }
  return status;
}
