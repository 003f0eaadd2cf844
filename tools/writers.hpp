// mkpfile's writers, one per kind of header. Each takes the output path and
// the remaining command-line words (name=value settings), writes the file and
// returns the process exit status, printing its own messages on failure.
#pragma once

#include <span>
#include <string>
#include <string_view>

namespace mkpfile {

// Layouts A, B and C of torvek (layout is 'a', 'b' or 'c').
int writeRxPfile(char layout, const std::string& path, std::span<const std::string> settings);

// Revision 20.006 (or, with rev=20.007, 20.007) headers of melvane and
// torvek-rev20.
int writeRev20Header(const std::string& path, std::span<const std::string> settings);

// A header of any revision of the revision table, named as the table names
// it ("24.0", "20.006").
int writeRevisionHeader(std::string_view revision, const std::string& path,
                        std::span<const std::string> settings);

}  // namespace mkpfile
