// What both tools do when a new file takes the place of an old one: the old
// file's extended attributes, ACL, permission bits, owner and group passed on
// to the new one.
#pragma once

#include <sys/stat.h>

namespace pfile {

// Whether a replacement must keep the old file's owner and group.
enum class OwnerRule {
  as_far_as_allowed,  // as root both, otherwise the group when the caller belongs to it
  required,           // both, or the hand-over fails
};

enum class HandOver { done, refused, owner_refused };

// Gives the new file `to` what the old file open on `from`, described by
// `old`, carries, as `cp --preserve=all` does (libattr's attr_copy_fd, which
// skips what /etc/xattr.conf names, and libacl's perm_copy_fd): its extended
// attributes and its ACL or permission bits first, while the caller owns the
// new file and may write them (set-ID bits are never given); then its owner
// and group. A file system that keeps no modes (EPERM or ENOTSUP, as vfat and
// some FUSE file systems give) or a trusted.* or security.* attribute the
// system keeps for privileged callers (such as an SELinux label, which stays
// as the new file was given it) is no reason to fail. `refused` with errno
// set when an attribute or the permissions cannot be given; `owner_refused`
// when `rule` requires an owner and group the caller may not give.
HandOver passOnAttributes(int from, const struct stat& old, int to, OwnerRule rule);

}  // namespace pfile
