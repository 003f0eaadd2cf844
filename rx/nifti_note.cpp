// The NIfTI step of -brik: lock the dataset, let nifti_tool write a new file
// in a private directory beside it, compare the new file with the dataset,
// carry the dataset's owner, mode and extended attributes over, rename it
// into place.
#include "rx/nifti_note.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "common/messages.hpp"
#include "common/replaced_file.hpp"
#include "rx/nifti_compare.hpp"
#include "rx/nifti_file.hpp"
#include "rx/step_signals.hpp"

namespace torvek {
namespace {

bool exists(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

// A directory ".torvek-XXXXXX" beside the dataset, mode 0700, that only this
// run writes into: the new file cannot be taken or swapped by anyone else.
// Removed with what it holds when the object goes away.
class PrivateDirectory {
 public:
  explicit PrivateDirectory(int parent) : parent_(parent) {}
  ~PrivateDirectory() { remove(); }
  PrivateDirectory(const PrivateDirectory&) = delete;
  PrivateDirectory& operator=(const PrivateDirectory&) = delete;

  // False with errno set when no directory could be made.
  bool create() {
    if (pfile::withUniqueName(".torvek-", pfile::kernelRandom, name_, [&](const char* name) {
          return ::mkdirat(parent_, name, 0700) == 0;
        })) {
      return true;
    }
    name_.clear();
    return false;
  }

  const std::string& name() const { return name_; }

  void remove() {
    if (name_.empty()) return;
    const int fd =
        ::openat(parent_, name_.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (DIR* dir = fd >= 0 ? ::fdopendir(fd) : nullptr) {
      while (const dirent* entry = ::readdir(dir)) {
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) {
          ::unlinkat(fd, entry->d_name, 0);
        }
      }
      ::closedir(dir);
    } else if (fd >= 0) {
      ::close(fd);
    }
    ::unlinkat(parent_, name_.c_str(), AT_REMOVEDIR);
    name_.clear();
  }

 private:
  int parent_;
  std::string name_;
};

// A descriptor closed when the object goes away.
class Descriptor {
 public:
  explicit Descriptor(int fd = -1) : fd_(fd) {}
  ~Descriptor() { reset(); }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  void reset(int fd = -1) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }
  int get() const { return fd_; }

 private:
  int fd_;
};

// One run of the step, its messages naming the dataset as the user named it.
class NiftiStep {
 public:
  NiftiStep(const char* program, std::string shown, std::FILE* out, std::FILE* err)
      : program_(program), shown_(std::move(shown)), out_(out), err_(err) {}

  int fail(const std::string& what) {
    pfile::report(program_, shown_, what + "; the dataset is unchanged", out_, err_);
    return 1;
  }

  // Ends the run with the pending signal, once nothing of the step is left.
  [[noreturn]] void interrupted(PrivateDirectory* temporary) {
    if (temporary) temporary->remove();
    pfile::report(program_, shown_,
                  "interrupted by signal " + std::to_string(StepSignals::pending()) +
                      "; the dataset is unchanged",
                  out_, err_);
    signals_.dieOfPending();
  }

  int run(const std::string& note, const ToolRunner& runner);

  int confirm() {
    std::fprintf(out_, "Rx info is written to %s as an AFNI extension (ecode=4).\n",
                 pfile::shownName(shown_).c_str());
    return 0;
  }

 private:
  const char* program_;
  std::string shown_;
  std::FILE* out_;
  std::FILE* err_;
  StepSignals signals_;
};

int NiftiStep::run(const std::string& note, const ToolRunner& runner) {
  std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(shown_.c_str(), nullptr),
                                                       &std::free);
  if (!resolved) return fail(std::string("cannot be resolved: ") + std::strerror(errno));
  // A symbolic link is followed: the note goes into the file it names.
  const std::string real = resolved.get();
  const std::size_t slash = real.rfind('/');
  const std::string base = real.substr(slash + 1);
  // The new file takes the name of the file it replaces, whose ending tells
  // nifti_tool whether to compress.
  const bool gzip = base.ends_with(".nii.gz");
  if (!gzip && !base.ends_with(".nii")) {
    return fail("is a link to " + pfile::escapedName(real) +
                ", which is not a .nii or .nii.gz file");
  }
  const Descriptor dir(
      ::open(slash == 0 ? "/" : real.substr(0, slash).c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  if (dir.get() < 0) {
    return fail(std::string("its directory cannot be opened: ") + std::strerror(errno));
  }

  // Opened for writing, so a file the caller may not change (read-only bits
  // for another user, chattr +i or +a, a read-only mount) is refused here, as
  // an in-place write would be. It is never written through this descriptor.
  // The lock is on the inode: a run that waited for it while another renamed
  // a new file into place locks that new file instead.
  Descriptor dataset;
  struct stat before {};
  for (;;) {
    dataset.reset(
        ::openat(dir.get(), base.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC));
    if (dataset.get() < 0) {
      return fail(std::string("cannot be opened for writing: ") + std::strerror(errno));
    }
    if (::fstat(dataset.get(), &before) != 0) {
      return fail(std::string("cannot be examined: ") + std::strerror(errno));
    }
    if (!S_ISREG(before.st_mode)) return fail("is not a regular file");
    while (::flock(dataset.get(), LOCK_EX) != 0) {
      if (StepSignals::pending()) interrupted(nullptr);
      if (errno != EINTR) return fail(std::string("cannot be locked: ") + std::strerror(errno));
    }
    struct stat now {};
    if (::fstatat(dir.get(), base.c_str(), &now, AT_SYMLINK_NOFOLLOW) == 0 &&
        now.st_dev == before.st_dev && now.st_ino == before.st_ino) {
      break;
    }
  }

  const nifti::Contents old = nifti::inspect(dataset.get(), gzip, note);
  if (!old.problem.empty()) return fail("torvek cannot check this dataset: " + old.problem);
  // A rerun of a batch finds its note there and adds no second one.
  if (old.notes > 0) return confirm();

  PrivateDirectory temporary(dir.get());
  if (!temporary.create()) {
    return fail(std::string("no temporary directory can be made beside it: ") +
                std::strerror(errno));
  }
  const std::string inside = temporary.name() + "/" + base;
  const std::string written = real.substr(0, slash + 1) + inside;

  std::fflush(out_);
  std::fflush(err_);
  const ToolEnd end = runner(niftiCommand(note, written, real));
  passOnToolLines(program_, shown_, "nifti_tool", end, out_, err_);
  if (StepSignals::pending()) interrupted(&temporary);
  const std::string failure = describeToolEnd("nifti_tool", end);
  if (!failure.empty()) return fail(failure);

  const Descriptor fresh(::openat(dir.get(), inside.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
  if (fresh.get() < 0) {
    return fail(std::string("nifti_tool wrote no new file: ") + std::strerror(errno));
  }
  const auto isInterrupted = [] { return StepSignals::pending() != 0; };
  const std::string changed = nifti::changes(dataset.get(), fresh.get(), gzip, note, isInterrupted);
  if (StepSignals::pending()) interrupted(&temporary);
  if (!changed.empty()) return fail(changed);
  switch (pfile::passOnAttributes(dataset.get(), before, fresh.get(), pfile::OwnerRule::required)) {
    case pfile::HandOver::done: break;
    case pfile::HandOver::refused:
      return fail(std::string("the dataset's attributes cannot be given to the new file: ") +
                  std::strerror(errno));
    case pfile::HandOver::owner_refused:
      // A new file of another owner or group would take the dataset from
      // them, and its ACL would grant their rights to the caller's group.
      return fail("is owned by user " + std::to_string(before.st_uid) + " and group " +
                  std::to_string(before.st_gid) +
                  "; only its owner or root can annotate it this way");
  }

  int renamed = -1, rename_error = 0;
  {
    const StepSignalsHeld held;
    if (!StepSignals::pending()) {
      renamed = ::renameat(dir.get(), inside.c_str(), dir.get(), base.c_str());
      rename_error = errno;
    }
  }
  if (renamed != 0) {
    if (StepSignals::pending()) interrupted(&temporary);
    return fail(std::string("cannot be replaced: ") + std::strerror(rename_error));
  }
  temporary.remove();
  confirm();
  // A signal that came after the rename finds the step done: the note is in
  // place and confirmed, and the run ends with the signal.
  if (StepSignals::pending()) {
    std::fflush(out_);
    signals_.dieOfPending();
  }
  return 0;
}

}  // namespace

std::vector<std::string> niftiCommand(const std::string& note, const std::string& new_file,
                                      const std::string& dataset) {
  return {"nifti_tool", "-add_afni_ext", note, "-prefix", new_file, "-infile", dataset};
}

std::string niftiDataset(const std::string& prefix) {
  if (exists(prefix)) return prefix;
  if (prefix.ends_with(".nii") && exists(prefix + ".gz")) return prefix + ".gz";
  return {};
}

int annotateNifti(const char* program, const std::string& prefix, const std::string& note,
                  std::FILE* out, std::FILE* err, const ToolRunner& runner) {
  const std::string dataset = niftiDataset(prefix);
  if (dataset.empty()) {
    pfile::report(program, prefix,
                  prefix.ends_with(".nii") ? "no such file (nor " + pfile::escapedName(prefix) +
                                                 ".gz); the Rx is not written"
                                           : std::string("no such file; the Rx is not written"),
                  out, err);
    return 1;
  }
  if (!dataset.ends_with(".nii") && !dataset.ends_with(".nii.gz")) {
    pfile::report(program, dataset,
                  "is not a single-file NIfTI dataset (.nii or .nii.gz); the Rx is not written",
                  out, err);
    return 1;
  }
  NiftiStep step(program, dataset, out, err);
  return step.run(note, runner);
}

}  // namespace torvek
