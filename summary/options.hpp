// melvane's command line: options, then the Pfile, then arguments that are
// ignored. The options: the output folder (-o DIR or --output-dir DIR) and
// the JSON sidecar (--json, or --json-identifying with the identifying texts).
#pragma once

#include <optional>
#include <string>

#include "summary/sidecar.hpp"

namespace melvane {

struct Options {
  std::optional<std::string> output_dir;  // the folder for every output, if given
  Sidecar sidecar = Sidecar::none;        // --json: plain; --json-identifying wins
  int pfile = 0;                          // index of the Pfile in argv
};

// Reads the options before the Pfile, in any order (a repeated one counts
// last); the first other argument is the Pfile, whatever it looks like.
// Nothing when an option lacks its value or no Pfile follows: a usage error.
std::optional<Options> parseOptions(int argc, char* const* argv);

// Empty when `dir` is a folder that exists; otherwise the system's reason,
// for "melvane: DIR: REASON" (a symbolic link to a folder counts as one).
std::string outputDirProblem(const std::string& dir);

// Where an output named `name` goes: `name` itself without a folder, else
// `name` inside the folder.
std::string inOutputDir(const std::optional<std::string>& dir, const std::string& name);

// The header copy's name: PFILE.hdr beside the Pfile; in the folder, the
// Pfile's last path component with .hdr, so Pfiles of the same name from
// different folders share it.
std::string headerCopyName(const std::string& pfile, const std::optional<std::string>& dir);

}  // namespace melvane
