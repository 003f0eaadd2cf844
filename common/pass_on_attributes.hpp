// What both tools do when a new file takes the place of an old one: the old
// file's extended attributes (its ACL among them), permission bits, owner and
// group passed on to the new one.
#pragma once

#include <string>
#include <sys/stat.h>

namespace pfile {

// Gives the new file `to` what the old file at `from` (the entry itself, a
// symbolic link not followed), described by `old`, carries: its extended
// attributes first, while the caller owns the new file and may write them;
// its permission bits without the set-ID bits, before the owner, since a
// caller without CAP_FOWNER may no longer change them once the file is
// another's; then its owner and group as far as the caller may give them (as
// root both, otherwise the group when the caller belongs to it). A file
// system that keeps no modes (EPERM or ENOTSUP, as vfat and some FUSE file
// systems give), an owner the caller may not give, or a trusted.* or
// security.* attribute the system keeps for itself is no reason to fail.
// False with errno set when an attribute or the bits cannot be given.
bool passOnAttributes(const std::string& from, const struct stat& old, int to);

}  // namespace pfile
