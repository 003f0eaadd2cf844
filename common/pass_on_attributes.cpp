// The attributes an old file passes on to its replacement.
#include "common/pass_on_attributes.hpp"

#include <cerrno>
#include <cstring>
#include <sys/xattr.h>
#include <unistd.h>
#include <vector>

namespace pfile {
namespace {

// The extended attribute in which Linux keeps a file's access ACL.
constexpr char kAccessAcl[] = "system.posix_acl_access";

// An extended attribute that the kernel keeps for privileged callers or
// security modules (trusted.*, security.*, such as an SELinux label): the new
// file may keep the one the system gave it, as it may keep its own owner.
bool mayStayAsCreated(const char* name, int err) {
  const std::string_view n(name);
  return (n.starts_with("trusted.") || n.starts_with("security.")) &&
         (err == EPERM || err == EACCES || err == ENOTSUP);
}

// Calls `get` (a listxattr or getxattr of the old file) with a buffer that
// grows until the value fits. False with errno set when it fails.
template <class Get>
bool readGrowing(std::vector<char>& into, Get get) {
  for (;;) {
    const ssize_t size = get(nullptr, 0);
    if (size < 0) return false;
    into.resize(static_cast<std::size_t>(size));
    const ssize_t got = get(into.data(), into.size());
    // A size of 0 only asks again; ERANGE: the value grew in between.
    if (got >= 0 && static_cast<std::size_t>(got) <= into.size()) {
      into.resize(static_cast<std::size_t>(got));
      return true;
    }
    if (got < 0 && errno != ERANGE) return false;
  }
}

// Gives `fd` every extended attribute of the file at `from`, its access ACL
// among them, and drops an access ACL that `fd` took from its directory's
// default ACL when `from` had none.
bool copyAttributes(const char* from, int fd) {
  std::vector<char> names;
  const auto list = [&](char* to, std::size_t size) { return llistxattr(from, to, size); };
  if (!readGrowing(names, list)) return errno == ENOTSUP;  // a file system without them
  bool had_acl = false;
  std::vector<char> value;
  for (std::size_t at = 0; at < names.size(); at += std::strlen(&names[at]) + 1) {
    const char* const name = &names[at];
    had_acl = had_acl || std::strcmp(name, kAccessAcl) == 0;
    const auto get = [&](char* to, std::size_t size) { return lgetxattr(from, name, to, size); };
    if (!readGrowing(value, get)) {
      if (errno == ENODATA) continue;  // removed since it was listed
      return false;
    }
    if (fsetxattr(fd, name, value.data(), value.size(), 0) != 0 && !mayStayAsCreated(name, errno)) {
      return false;
    }
  }
  return had_acl || fremovexattr(fd, kAccessAcl) == 0 || errno == ENODATA || errno == ENOTSUP;
}

}  // namespace

bool passOnAttributes(const std::string& from, const struct stat& old, int to) {
  if (!copyAttributes(from.c_str(), to)) return false;
  if (fchmod(to, old.st_mode & 0777) != 0 && errno != EPERM && errno != ENOTSUP) return false;
  if (fchown(to, old.st_uid, old.st_gid) != 0) (void)!fchown(to, static_cast<uid_t>(-1), old.st_gid);
  return true;
}

}  // namespace pfile
