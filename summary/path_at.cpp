// Opening the directory of a path, one component at a time when the whole
// directory path is too long for a single open(2).
#include "summary/path_at.hpp"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace melvane {
namespace {

constexpr int kDirFlags = O_PATH | O_DIRECTORY | O_CLOEXEC;

// Walks `dir` component by component with openat(2). Returns a descriptor of
// the directory, or -1 with errno from the step that failed.
int walk(const std::string& dir) {
  int fd = open(dir.front() == '/' ? "/" : ".", kDirFlags);
  std::size_t begin = 0;
  while (fd >= 0 && begin < dir.size()) {
    std::size_t end = dir.find('/', begin);
    if (end == std::string::npos) end = dir.size();
    if (end > begin) {
      const std::string component = dir.substr(begin, end - begin);
      const int next = openat(fd, component.c_str(), kDirFlags);
      const int err = errno;
      close(fd);
      errno = err;
      fd = next;
    }
    begin = end + 1;
  }
  return fd;
}

}  // namespace

PathAt::PathAt(std::string_view path) : dir_(AT_FDCWD) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string_view::npos) {
    name_ = path;
    return;
  }
  name_ = path.substr(slash + 1);
  if (name_.empty()) name_.push_back('.');
  std::string dir(path.substr(0, slash));
  if (dir.empty()) dir.push_back('/');
  dir_ = open(dir.c_str(), kDirFlags);
  if (dir_ < 0 && errno == ENAMETOOLONG) dir_ = walk(dir);
  if (dir_ < 0) {
    error_ = errno;
    dir_ = AT_FDCWD;
  }
}

PathAt::~PathAt() {
  if (dir_ != AT_FDCWD) close(dir_);
}

}  // namespace melvane
