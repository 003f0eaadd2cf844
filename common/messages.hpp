// The lines both tools add on standard error: "program: path: message", with
// standard output flushed first so the line follows the output it explains,
// and every name shown with its control bytes and backslashes escaped, so a
// file name can neither forge a line of its own nor reach the terminal as an
// escape sequence.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

namespace pfile {

// `name` as a message shows it: backslash as "\\", newline, tab and carriage
// return as "\n", "\t", "\r", every other byte below 0x20 and 0x7F as a
// three-digit octal escape ("\033"). Other bytes, UTF-8 included, stay.
std::string escapedName(std::string_view name);

// `name` as the fixed lines of standard output show it: byte for byte
// unless it holds a control byte, then as escapedName shows it, so that a
// name cannot forge a line of its own there either.
std::string shownName(std::string_view name);

// Flushes `out`, then writes "program: path: message" and a newline on `err`
// with `path` escaped, in one write when the line fits 1024 bytes. The
// message is written as given: names inside it are escaped by the caller
// with escapedName. Needs no heap, so it can say that memory ran out.
void report(std::string_view program, std::string_view path, std::string_view message,
            std::FILE* out = stdout, std::FILE* err = stderr);

// Flushes `out`: 0 when everything written on it so far reached its file,
// otherwise the errno of the failed write, remembered from the first flush
// of `out` that failed (EIO when it is not known).
int flushError(std::FILE* out);

// Opens /dev/null, read-only, on each of descriptors 0, 1 and 2 that is
// closed, so that no file the run opens later becomes a standard stream by
// accident (a message written "to standard error" would land inside it).
// Writes to a stream that was closed keep failing, as they did. Call it first
// thing in main. False when one cannot be opened.
bool openStandardDescriptors();

}  // namespace pfile
