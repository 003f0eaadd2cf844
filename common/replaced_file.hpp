// What both tools do when a new file takes the place of an old one: hidden
// names drawn at random for the new file, and the old file's extended
// attributes (its ACL among them), permission bits, owner and group passed
// on to the new one.
#pragma once

#include <array>
#include <cerrno>
#include <span>
#include <string>
#include <string_view>
#include <sys/stat.h>

namespace pfile {

// Fills `bytes` with random bytes; false with errno set when it cannot.
using RandomSource = bool (*)(std::span<unsigned char> bytes);
bool kernelRandom(std::span<unsigned char> bytes);

// Calls `attempt` with fresh names `prefix` + six random letters until it
// succeeds or fails for another reason than a name already taken (EEXIST).
// A short fixed prefix keeps the name within NAME_MAX whatever the target's
// name. Returns false with errno set when no name worked or `random` failed.
template <class Attempt>
bool withUniqueName(std::string_view prefix, RandomSource random, std::string& name,
                    Attempt attempt) {
  static constexpr char kLetters[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  for (int tries = 0; tries < 100; ++tries) {
    std::array<unsigned char, 6> drawn;
    if (!random(drawn)) return false;
    name = prefix;
    for (const unsigned char r : drawn) name += kLetters[r % (sizeof kLetters - 1)];
    if (attempt(name.c_str())) return true;
    if (errno != EEXIST) return false;
  }
  return false;
}

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
