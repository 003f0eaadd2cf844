// Output files that appear whole or not at all: the bytes go to a fresh
// temporary file beside the target, which is renamed over the target only
// after every write and the close succeeded. An earlier file of the target's
// name stays untouched by a run that fails.
#pragma once

#include <cstdio>
#include <string>

namespace melvane {

class ReplaceFile {
 public:
  ReplaceFile() = default;
  ~ReplaceFile();  // removes a temporary file that was never put in place
  ReplaceFile(const ReplaceFile&) = delete;
  ReplaceFile& operator=(const ReplaceFile&) = delete;

  // Creates an empty temporary file in directory `dir` (a descriptor or
  // AT_FDCWD), with the permissions an ordinary create would give, to become
  // `name` in that directory. Returns false with errno set when it cannot.
  bool create(int dir, std::string name);

  std::FILE* stream() const { return stream_; }

  enum class Outcome { placed, write_failed, not_placed };
  // Flushes and closes the stream (write_failed when either fails), then
  // renames the temporary file to its name (not_placed when that fails, for
  // example when a directory has the name). On failure errno tells why and
  // the temporary file is gone.
  Outcome commit();

 private:
  void removeTemporary();
  int dir_ = -1;
  std::string name_;
  std::string temporary_;
  std::FILE* stream_ = nullptr;
};

}  // namespace melvane
