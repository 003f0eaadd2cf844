// Hidden names drawn at random for files and directories that a run creates
// beside the ones it replaces (".melvane-XXXXXX", ".torvek-XXXXXX").
#pragma once

#include <array>
#include <cerrno>
#include <span>
#include <string>
#include <string_view>

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

}  // namespace pfile
