// Header copy and summary file: the input guarded, temporary file, checked
// writes, rename, and the messages of each failure.
#include "summary/outputs.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <utility>

#include "common/messages.hpp"
#include "summary/options.hpp"
#include "summary/output_file.hpp"
#include "summary/summary.hpp"

namespace melvane {
namespace {

enum class Output { header_copy, summary, sidecar };

std::string label(Output output, const std::string& name) {
  const char* what = output == Output::header_copy ? "header copy "
                     : output == Output::summary   ? "summary "
                                                   : "JSON sidecar ";
  return what + pfile::escapedName(name);
}

void reportError(const std::string& pfile, const std::string& what, int err) {
  reportProblem(pfile, what + ": " + std::strerror(err));
}

// The message on standard output of an output that cannot be created or put
// in place.
void wontOpen(Output output, const std::string& name) {
  if (output == Output::header_copy) {
    std::printf(".hdr file won't open= %s\n", pfile::shownName(name).c_str());
  } else if (output == Output::summary) {
    std::printf("out file won't open= %s\n", pfile::shownName(name).c_str());
  }
}

// Whether the entry `path` is the file `input` (same device and inode). The
// entry itself counts, not the target of a symbolic link, since the link is
// what would be replaced.
bool isInput(const std::string& path, const struct stat& input) {
  struct stat entry {};
  return fstatat(AT_FDCWD, path.c_str(), &entry, AT_SYMLINK_NOFOLLOW) == 0 &&
         entry.st_dev == input.st_dev && entry.st_ino == input.st_ino;
}

// Writes the output `name` with `write` (which returns 0 or the errno of the
// write that failed) and puts it in place. With `existing` keep, a file that
// has the name already stays, and `kept` is set. Returns 0 (placed or kept);
// 1 when it cannot be created or put in place; `write_failure` when a write
// or the close failed.
template <class Write>
int writeOutput(const std::string& pfile, Output output, const std::string& name,
                int write_failure, OutputFile::Existing existing, bool& kept, Write write) {
  OutputFile file;
  if (!file.create(name, existing)) {
    const int err = errno;
    if (file.refusal() == OutputFile::Refusal::exists) {
      kept = true;
      return 0;
    }
    wontOpen(output, name);
    if (file.refusal() == OutputFile::Refusal::not_regular) {
      reportProblem(pfile, label(output, name) + ": not a regular file; left as it is");
    } else {
      reportError(pfile, label(output, name), err);
    }
    return 1;
  }
  if (const int err = write(file.stream()); err != 0) {
    reportError(pfile, label(output, name), err);
    return write_failure;  // the temporary file goes with `file`
  }
  const OutputFile::Outcome outcome = file.commit();
  const int err = errno;
  if (outcome == OutputFile::Outcome::placed) return 0;
  if (file.refusal() == OutputFile::Refusal::exists) {
    kept = true;
    return 0;
  }
  if (outcome == OutputFile::Outcome::not_placed) wontOpen(output, name);
  reportError(pfile, label(output, name), err);
  return outcome == OutputFile::Outcome::write_failed ? write_failure : 1;
}

}  // namespace

void reportProblem(const std::string& pfile, const std::string& what) {
  pfile::report("melvane", pfile, what);
}

int writeOutputs(const std::string& pfile, int input, Bytes header, const Reading& reading,
                 const std::string& shortfall, Sidecar sidecar,
                 const std::optional<std::string>& output_dir) {
  const std::string copy = headerCopyName(pfile, output_dir);
  const std::string summary =
      reading.header ? inOutputDir(output_dir, summaryName(*reading.header)) : "";

  struct stat input_file {};
  if (fstat(input, &input_file) != 0) {
    reportProblem(pfile, std::strerror(errno));
    return 1;
  }
  const bool with_sidecar = sidecar != Sidecar::none && reading.header;
  const std::string json = with_sidecar ? sidecarName(summary) : "";
  const std::pair<Output, std::string> outputs[] = {
      {Output::header_copy, copy}, {Output::summary, summary}, {Output::sidecar, json}};
  for (const auto& [output, name] : outputs) {
    if (!name.empty() && isInput(name, input_file)) {
      reportProblem(pfile, "the " + label(output, name) +
                               " would replace the input file; nothing written");
      return 1;
    }
  }

  const auto existing =
      shortfall.empty() ? OutputFile::Existing::replace : OutputFile::Existing::keep;
  bool copy_kept = false, summary_kept = false, json_kept = false;
  int status = writeOutput(pfile, Output::header_copy, copy, 1, existing, copy_kept,
                           [&](std::FILE* out) {
                             const std::size_t size = header.size();
                             if (std::fwrite(header.data(), 1, size, out) == size) return 0;
                             return errno != 0 ? errno : EIO;
                           });
  const bool copy_written = status == 0 && !copy_kept;
  if (status == 0 && !reading.header) {
    reportProblem(pfile, reading.misfit);
    status = 1;
  } else if (status == 0) {
    status = writeOutput(pfile, Output::summary, summary, 255, existing, summary_kept,
                         [&](std::FILE* out) { return writeSummary(*reading.header, out); });
  }
  if (status == 0 && with_sidecar) {
    status = writeOutput(pfile, Output::sidecar, json, 255, existing, json_kept,
                         [&](std::FILE* out) {
                           return writeSidecar(*reading.header, sidecar == Sidecar::identifying,
                                               out);
                         });
  }
  if (shortfall.empty()) return status;

  // The run failed all the same: say which outputs hold zeros for the missing
  // bytes, and which were left as they were.
  std::string what = shortfall;
  if (copy_kept) what += "; " + pfile::escapedName(copy) + " exists and is kept";
  if (summary_kept) what += "; " + pfile::escapedName(summary) + " exists and is kept";
  if (json_kept) what += "; " + pfile::escapedName(json) + " exists and is kept";
  if (copy_written || (status == 0 && reading.header && !summary_kept)) {
    what += "; the missing bytes read as zeros";
  }
  reportProblem(pfile, what);
  return status == 0 ? 1 : status;
}

}  // namespace melvane
