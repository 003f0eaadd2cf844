// torvek: prints the Rx (prescription) of a scan from its Pfile header and,
// with -brik, stores it as a note in the scan's AFNI or NIfTI dataset. Built
// once per header layout; TORVEK_LAYOUT names the layout of this build.
#include <cstdio>
#include <cstring>
#include <new>
#include <optional>
#include <string>

#include "common/cleanup.hpp"
#include "common/memory_reserve.hpp"
#include "common/messages.hpp"
#include "common/standard_options.hpp"
#include "annotate/annotate.hpp"
#include "rx/args.hpp"
#include "annotate/nifti_note.hpp"
#include "rx/json_output.hpp"
#include "rx/json_report.hpp"
#include "rx/revision.hpp"
#include "rx/rx.hpp"

namespace {

// 0 when all of standard output reached its file; otherwise says so on
// standard error and gives 1: a report or usage text that was not written is
// a failed run.
int outputStatus(const torvek::Layout& layout) {
  const int error = pfile::flushError(stdout);
  if (error == 0) return 0;
  pfile::report(layout.program, "standard output", std::strerror(error));
  return 1;
}

// Out of memory: the message names the Pfile, the last argument, when there is
// one.
int outOfMemory(const torvek::Layout& layout, int argc, char** argv) {
  pfile::report(layout.program, argc > 1 ? argv[argc - 1] : "", "out of memory");
  return 1;
}

// The dataset a note was written to: the AFNI dataset prefix+orig, or the
// NIfTI file written (prefix, or prefix.gz when prefix ends in ".nii" and
// only that exists).
std::string notedDataset(const char* prefix) {
  if (torvek::targetKind(prefix) == torvek::TargetKind::nifti) return torvek::niftiDataset(prefix);
  return torvek::datasetName(torvek::TargetKind::afni, prefix);
}

int run(const torvek::Layout& layout, int argc, char** argv) {
  const auto settings = torvek::parsearg(argc, argv, stdout);
  if (!settings) {
    // A usage error is a failed run, so that a batch does not count it a
    // success; a usage text that could not be written is said as well.
    outputStatus(layout);
    return 2;
  }

  // With --json the run writes as without it, into /dev/null, and its
  // messages are kept for the JSON line as they go to standard error.
  torvek::JsonOutput json;
  std::FILE* err = stderr;
  if (settings->json) {
    if (const int error = json.divert(); error != 0) {
      pfile::report(layout.program, "standard output", std::strerror(error));
      return 1;
    }
    err = json.errors();
  }

  torvek::RxRecord rx;
  torvek::RxSeen seen;
  const torvek::RxOutcome outcome =
      torvek::readrx(layout, rx, settings->pfile, stdout, err, &seen);
  int status = outcome == torvek::RxOutcome::ok ? 0 : 1;

  bool noted = false;
  if (settings->briknote) {
    noted = torvek::annotate(layout, outcome, rx, settings->prefix, stdout, err) == 0;
    if (!noted) status = 1;
  }

  torvek::printLayoutReport(layout, stdout);
  if (settings->json) {
    json.restore();
    std::optional<std::string> note;
    if (noted) note = notedDataset(settings->prefix);
    std::fputs(torvek::jsonLine(layout, {settings->pfile, rx, seen, note, json.lines()})
                   .c_str(),
               stdout);
  }
  if (outputStatus(layout) != 0) status = 1;
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  const torvek::Layout& layout = torvek::TORVEK_LAYOUT;
  if (!pfile::openStandardDescriptors()) return 1;
  switch (pfile::standardOption(argc, argv)) {
    case pfile::StandardOption::help:
      torvek::instructions(argv[0], stdout);
      if (layout.every_revision) torvek::printRevisionsRead(stdout);
      return outputStatus(layout);
    case pfile::StandardOption::version:
      pfile::printVersion(layout.program, stdout);
      return outputStatus(layout);
    case pfile::StandardOption::none:
      break;
  }
  if (!pfile::setAsideMemoryReserve()) return outOfMemory(layout, argc, argv);
  try {
    return pfile::cleanup::exitStatus(run(layout, argc, argv));
  } catch (const std::bad_alloc&) {
    return outOfMemory(layout, argc, argv);
  }
}
