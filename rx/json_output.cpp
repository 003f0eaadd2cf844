// Standard output set aside and standard error copied, for torvek --json.
#include "rx/json_output.hpp"

#include <cerrno>
#include <fcntl.h>
#include <new>
#include <sys/types.h>
#include <unistd.h>

namespace torvek {
namespace {

// The tee's write: the bytes go to standard error as they come, unbuffered,
// so they keep their order with a started tool's messages; the copy is best
// effort, since a message may say that memory ran out.
ssize_t teeWrite(void* cookie, const char* bytes, std::size_t size) {
  try {
    static_cast<std::string*>(cookie)->append(bytes, size);
  } catch (const std::bad_alloc&) {
  }
  return static_cast<ssize_t>(std::fwrite(bytes, 1, size, stderr));
}

}  // namespace

JsonOutput::~JsonOutput() {
  if (tee_) std::fclose(tee_);
  if (saved_ >= 0) ::close(saved_);
}

int JsonOutput::divert() {
  std::fflush(stdout);
  const int saved = ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
  if (saved < 0) return errno;
  const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (null < 0 || ::dup2(null, STDOUT_FILENO) < 0) {
    const int error = errno;
    if (null >= 0) ::close(null);
    ::close(saved);
    return error;
  }
  ::close(null);
  saved_ = saved;
  return 0;
}

std::FILE* JsonOutput::errors() {
  if (!tee_) {
    const cookie_io_functions_t functions{nullptr, teeWrite, nullptr, nullptr};
    tee_ = ::fopencookie(&copied_, "w", functions);
    if (!tee_) return stderr;
    std::setvbuf(tee_, nullptr, _IONBF, 0);
  }
  return tee_;
}

std::vector<std::string> JsonOutput::lines() const {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t end; (end = copied_.find('\n', start)) != std::string::npos; start = end + 1) {
    lines.push_back(copied_.substr(start, end - start));
  }
  return lines;
}

void JsonOutput::restore() {
  if (saved_ < 0) return;
  std::fflush(stdout);
  std::clearerr(stdout);  // a failure to write into /dev/null is no failure of the JSON line
  ::dup2(saved_, STDOUT_FILENO);
  ::close(saved_);
  saved_ = -1;
}

}  // namespace torvek
