// An annotation tool's standard error, passed on marked.
#include "annotate/tool_lines.hpp"

#include <string_view>

#include "common/messages.hpp"

namespace torvek {

void passOnToolLines(const char* program, const std::string& dataset, const std::string& tool,
                     const ToolEnd& end, std::FILE* out, std::FILE* err) {
  const bool succeeded = end.how == ToolEnd::How::exited && end.value == 0;
  std::string_view rest = end.errors;
  while (!rest.empty()) {
    const std::size_t newline = rest.find('\n');
    const std::string_view line = rest.substr(0, newline);
    rest = newline == std::string_view::npos ? std::string_view() : rest.substr(newline + 1);
    if (succeeded && tool == "nifti_tool" && line == "+d added 1 extension(s) to 1 files") {
      continue;
    }
    pfile::report(program, dataset, tool + ": " + pfile::escapedName(line), out, err);
  }
}

}  // namespace torvek
