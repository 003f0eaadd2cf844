// melvane's options and the names of its outputs in the output folder.
#include "summary/options.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string_view>
#include <sys/stat.h>

namespace melvane {

std::optional<Options> parseOptions(int argc, char* const* argv) {
  Options options;
  int i = 1;
  while (i < argc) {
    const std::string_view argument = argv[i];
    if (argument == "--json" || argument == "--json-identifying") {
      const Sidecar asked = argument == "--json" ? Sidecar::plain : Sidecar::identifying;
      options.sidecar = std::max(options.sidecar, asked);
      ++i;
      continue;
    }
    if (argument != "-o" && argument != "--output-dir") break;
    if (i + 1 >= argc) return std::nullopt;
    options.output_dir = argv[i + 1];
    i += 2;
  }
  if (i >= argc) return std::nullopt;
  options.pfile = i;
  return options;
}

std::string outputDirProblem(const std::string& dir) {
  struct stat entry {};
  if (::stat(dir.c_str(), &entry) != 0) return std::strerror(errno);
  if (!S_ISDIR(entry.st_mode)) return std::strerror(ENOTDIR);
  return {};
}

std::string inOutputDir(const std::optional<std::string>& dir, const std::string& name) {
  if (!dir) return name;
  return dir->ends_with('/') ? *dir + name : *dir + "/" + name;
}

std::string headerCopyName(const std::string& pfile, const std::optional<std::string>& dir) {
  if (!dir) return pfile + ".hdr";
  const std::size_t slash = pfile.rfind('/');
  return inOutputDir(dir, (slash == std::string::npos ? pfile : pfile.substr(slash + 1)) + ".hdr");
}

}  // namespace melvane
