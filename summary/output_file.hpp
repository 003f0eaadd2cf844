// Output files that appear whole or not at all, replacing an existing file
// the way an ordinary open for writing would as the user sees it: the bytes
// go to a temporary file in the target's directory, which takes the place of
// the target only after every write and the close succeeded.
//
// The temporary has no name while it is written (O_TMPFILE), so nothing is
// left behind whatever ends the run, SIGKILL included. It gets a hidden name
// ".melvane-XXXXXX" just before it is renamed over the target. On a file
// system without unnamed files it is named from the start. A named temporary
// is registered with pfile::cleanup (common/cleanup.hpp): every signal whose
// default action ends the process removes it before the run dies of the same
// signal, so that only SIGKILL (or a crash of the system) can leave it behind.
//
// An existing target that is a regular file passes its extended attributes
// (its ACL among them), its permission bits, and its owner and group where
// the system allows, to the new file; one that the caller may not write is
// not replaced. The set-user-ID, set-group-ID and sticky bits are not passed
// on, as cp does not. Other names of the old file (hard links) keep the old
// file. A symbolic link at the target's name is replaced by the new file,
// never written through; a directory, FIFO, device or socket there is left
// alone.
#pragma once

#include <cstdio>
#include <string>
#include <sys/stat.h>
#include <sys/types.h>

#include "common/pass_on_attributes.hpp"
#include "common/unique_name.hpp"

namespace melvane {

class OutputFile {
 public:
  enum class Temporary { unnamed_where_possible, named };
  // Temporary names are drawn from `random`.
  explicit OutputFile(Temporary kind = Temporary::unnamed_where_possible,
                      pfile::RandomSource random = pfile::kernelRandom)
      : kind_(kind), random_(random) {}
  ~OutputFile();  // drops a temporary file that was never put in place
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // What an existing file of the target's name gets: replaced, or kept (the
  // new file is then put in place only where no file has that name).
  enum class Existing { replace, keep };
  // Why create or commit left the target alone though the system raised no
  // error.
  enum class Refusal { none, exists, not_regular };

  // Creates the empty temporary file that is to become `path`. Returns false
  // with errno set when it cannot: the directory cannot be opened or written,
  // a directory has the target's name (EISDIR), the target is a regular file
  // the caller may not write (EACCES), its extended attributes cannot be
  // read or given to the new file, or no temporary name was free. Returns
  // false with refusal() telling why when a file of the target's name exists
  // and `existing` is keep (exists), or when the target is a FIFO, device or
  // socket (not_regular).
  bool create(const std::string& path, Existing existing = Existing::replace);
  Refusal refusal() const { return refusal_; }

  std::FILE* stream() const { return stream_; }

  enum class Outcome { placed, write_failed, not_placed };
  // Flushes and closes the stream (write_failed when either fails), then
  // renames the temporary file over the target (not_placed when that fails,
  // or, when the target is kept, when a file of its name appeared meanwhile:
  // refusal() is then exists). On failure errno tells why and the temporary
  // file is gone.
  Outcome commit();

 private:
  int openTemporary();
  bool nameTemporary(int fd);
  bool registerTemporary();
  bool passOnAttributes(int fd) const;
  bool placeTemporary();
  void removeTemporary();

  Temporary kind_;
  pfile::RandomSource random_;
  int dir_ = -1;
  std::string name_;
  std::string directory_;  // the target's directory as the caller named it, with its '/'
  std::string temporary_;  // the hidden name, once the temporary has one
  bool existing_ = false;  // a regular file has the target's name
  bool keep_ = false;      // put in place only where no file has the name
  Refusal refusal_ = Refusal::none;
  struct stat old_ {};     // the regular file it replaces, when existing_
  int slot_ = -1;          // the temporary's pfile::cleanup slot
  std::FILE* stream_ = nullptr;
};

}  // namespace melvane
