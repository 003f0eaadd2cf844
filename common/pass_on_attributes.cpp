// The attributes an old file passes on to its replacement, through libattr
// and libacl as coreutils' cp does.
#include "common/pass_on_attributes.hpp"

#include <acl/libacl.h>
#include <attr/error_context.h>
#include <attr/libattr.h>
#include <unistd.h>

#include <cerrno>
#include <string_view>

namespace pfile {
namespace {

// Collects the errno of the first failure that counts while libattr or libacl
// goes on with the rest; their messages are not shown, the caller words its
// own. libattr and libacl call `note` right after the call that failed.
struct Failures {
  error_context context{&Failures::note, nullptr, nullptr};
  bool (*harmless)(int error);
  int first = 0;

  explicit Failures(bool (*h)(int)) : harmless(h) {}
  static void note(error_context* context, const char*, ...) {
    // `context` is the first member of a standard-layout Failures.
    auto* self = reinterpret_cast<Failures*>(context);
    if (self->first == 0 && !self->harmless(errno)) self->first = errno;
  }
  // After a call that returned `result`: false with errno set when a failure
  // counts.
  bool fine(int result) {
    if (result != 0 && first != 0) errno = first;
    return result == 0 || first == 0;
  }
};

// An attribute the kernel or a security module keeps for privileged callers
// (trusted.*, security.*, such as an SELinux label): the new file may keep
// the one it was given, as it may keep its own owner.
bool isPrivileged(const char* name) {
  const std::string_view n(name);
  return n.starts_with("trusted.") || n.starts_with("security.");
}

// /etc/xattr.conf's choice (ACLs go with the permissions; xfs's own
// attributes are skipped), then the attributes of one kind only.
int ordinaryOnly(const char* name, error_context* context) {
  return !isPrivileged(name) && attr_copy_check_permissions(name, context);
}
int privilegedOnly(const char* name, error_context* context) {
  return isPrivileged(name) && attr_copy_check_permissions(name, context);
}

// ENOTSUP: a file system without extended attributes or without modes.
bool unsupported(int error) { return error == ENOTSUP; }
bool withheld(int error) { return error == EPERM || error == EACCES || error == ENOTSUP; }
bool keepsNoModes(int error) { return error == EPERM || error == ENOTSUP; }

}  // namespace

HandOver passOnAttributes(int from, const struct stat& old, int to, OwnerRule rule) {
  Failures ordinary(unsupported), privileged(withheld), permissions(keepsNoModes);
  if (!ordinary.fine(attr_copy_fd(nullptr, from, nullptr, to, ordinaryOnly, &ordinary.context)) ||
      !privileged.fine(
          attr_copy_fd(nullptr, from, nullptr, to, privilegedOnly, &privileged.context)) ||
      // The access ACL, or the permission bits where there are no ACLs: a
      // minimal ACL also drops one the new file took from its directory.
      !permissions.fine(perm_copy_fd(nullptr, from, nullptr, to, &permissions.context))) {
    return HandOver::refused;
  }
  // Giving a file away also clears its set-user-ID and set-group-ID bits.
  if (fchown(to, old.st_uid, old.st_gid) == 0) return HandOver::done;
  if (rule == OwnerRule::required) return HandOver::owner_refused;
  (void)!fchown(to, static_cast<uid_t>(-1), old.st_gid);
  return HandOver::done;
}

}  // namespace pfile
