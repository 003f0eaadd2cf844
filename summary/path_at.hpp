// A path taken apart into an open directory and its last component, so that
// files can be opened, created and renamed under paths of any length, even
// longer than the kernel takes in one piece (PATH_MAX).
#pragma once

#include <string>
#include <string_view>

namespace melvane {

class PathAt {
 public:
  // Opens the directory part of `path` (nothing to open when the path has no
  // slash). When that fails, ok() is false and error() holds the errno.
  explicit PathAt(std::string_view path);
  ~PathAt();
  PathAt(const PathAt&) = delete;
  PathAt& operator=(const PathAt&) = delete;

  bool ok() const { return error_ == 0; }
  int error() const { return error_; }
  // AT_FDCWD or a descriptor of the directory, for the *at() calls.
  int dir() const { return dir_; }
  // The last component; "." for a path that ends in a slash.
  const char* name() const { return name_.c_str(); }

 private:
  int dir_;
  int error_ = 0;
  std::string name_;
};

}  // namespace melvane
