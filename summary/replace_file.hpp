// Output files that appear whole or not at all, replacing an existing file
// the way an ordinary open for writing would as the user sees it: the bytes
// go to a temporary file in the target's directory, which takes the place of
// the target only after every write and the close succeeded.
//
// The temporary has no name while it is written (O_TMPFILE), so nothing is
// left behind whatever ends the run, SIGKILL included. It gets a hidden name
// ".melvane-XXXXXX" just before it is renamed over the target. On a file
// system without unnamed files it is named from the start; SIGINT, SIGTERM
// and SIGHUP then remove it before the run dies of the same signal (unless
// the signal was ignored when the run started).
//
// An existing target that is a regular file passes its permission bits, and
// its owner and group where the system allows, to the new file; one that the
// caller may not write is not replaced. A symbolic link at the target's name
// is replaced by the new file, never written through.
#pragma once

#include <cstdio>
#include <span>
#include <string>
#include <sys/types.h>

namespace melvane {

class ReplaceFile {
 public:
  enum class Temporary { unnamed_where_possible, named };
  // Fills `bytes` with random bytes; false when it cannot. Temporary names
  // are drawn from it.
  using RandomSource = bool (*)(std::span<unsigned char> bytes);
  static bool kernelRandom(std::span<unsigned char> bytes);

  explicit ReplaceFile(Temporary kind = Temporary::unnamed_where_possible,
                       RandomSource random = kernelRandom)
      : kind_(kind), random_(random) {}
  ~ReplaceFile();  // drops a temporary file that was never put in place
  ReplaceFile(const ReplaceFile&) = delete;
  ReplaceFile& operator=(const ReplaceFile&) = delete;

  // Creates the empty temporary file that is to become `path`. Returns false
  // with errno set when it cannot: the directory cannot be opened or written,
  // a directory has the target's name (EISDIR), the target is a regular file
  // the caller may not write (EACCES), or no temporary name was free.
  bool create(const std::string& path);

  std::FILE* stream() const { return stream_; }

  enum class Outcome { placed, write_failed, not_placed };
  // Flushes and closes the stream (write_failed when either fails), then
  // renames the temporary file over the target (not_placed when that fails).
  // On failure errno tells why and the temporary file is gone.
  Outcome commit();

 private:
  int openTemporary();
  bool nameTemporary(int fd);
  bool passOnOwnerAndMode(int fd) const;
  void removeTemporary();

  Temporary kind_;
  RandomSource random_;
  int dir_ = -1;
  std::string name_;
  std::string temporary_;  // the hidden name, once the temporary has one
  bool existing_ = false;  // a regular file has the target's name
  mode_t mode_ = 0;
  uid_t owner_ = 0;
  gid_t group_ = 0;
  std::FILE* stream_ = nullptr;
};

}  // namespace melvane
