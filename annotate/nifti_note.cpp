// The NIfTI step of -brik: lock the dataset, let nifti_tool write a new file
// in a private directory beside it, compare the new file with the dataset,
// carry the dataset's owner, mode and extended attributes over, rename it
// into place.
#include "annotate/nifti_note.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "common/cleanup.hpp"
#include "common/messages.hpp"
#include "common/pass_on_attributes.hpp"
#include "common/unique_name.hpp"
#include "annotate/nifti_compare.hpp"
#include "annotate/nifti_file.hpp"
#include "annotate/tool_lines.hpp"

namespace torvek {
namespace {

bool exists(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

// A directory ".torvek-XXXXXX" beside the dataset, mode 0700, that only this
// run writes into: the new file cannot be taken or swapped by anyone else.
// Registered with pfile::cleanup from its creation, so that a signal that
// ends the run removes it with what it holds; removed when the object goes
// away.
class PrivateDirectory {
 public:
  PrivateDirectory(int parent, const char* program) : parent_(parent), program_(program) {}
  ~PrivateDirectory() { remove(); }
  PrivateDirectory(const PrivateDirectory&) = delete;
  PrivateDirectory& operator=(const PrivateDirectory&) = delete;

  // Makes it in `parent`, which the user names `shown` ("" or ending in '/').
  // False with errno set when no directory could be made.
  bool create(const std::string& shown) {
    const pfile::cleanup::Held held;
    if (!pfile::withUniqueName(".torvek-", pfile::kernelRandom, name_, [&](const char* name) {
          return ::mkdirat(parent_, name, 0700) == 0;
        })) {
      name_.clear();
      return false;
    }
    slot_ = pfile::cleanup::add(parent_, name_, pfile::cleanup::Kind::directory, program_,
                                shown + name_);
    if (slot_ < 0) {
      ::unlinkat(parent_, name_.c_str(), AT_REMOVEDIR);
      name_.clear();
      errno = ENFILE;
      return false;
    }
    return true;
  }

  const std::string& name() const { return name_; }

  // False when it could not be removed (said on standard error).
  bool remove() {
    if (name_.empty()) return true;
    name_.clear();
    return pfile::cleanup::remove(slot_);
  }

 private:
  int parent_;
  const char* program_;
  std::string name_;
  int slot_ = -1;
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
// Until the rename, a signal that ends the run says so and that the dataset
// is unchanged.
class NiftiStep {
 public:
  NiftiStep(const char* program, std::string shown, std::FILE* out, std::FILE* err)
      : program_(program), shown_(std::move(shown)), out_(out), err_(err) {
    pfile::cleanup::setSignalMessage(program_, shown_, "; the dataset is unchanged");
  }
  ~NiftiStep() { pfile::cleanup::setSignalMessage({}, {}, {}); }
  NiftiStep(const NiftiStep&) = delete;
  NiftiStep& operator=(const NiftiStep&) = delete;

  int fail(const std::string& what) {
    pfile::report(program_, shown_, what + "; the dataset is unchanged", out_, err_);
    return 1;
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

  PrivateDirectory temporary(dir.get(), program_);
  if (!temporary.create(real.substr(0, slash + 1))) {
    return fail(std::string("no temporary directory can be made beside it: ") +
                std::strerror(errno));
  }
  const std::string inside = temporary.name() + "/" + base;
  const std::string written = real.substr(0, slash + 1) + inside;

  std::fflush(out_);
  std::fflush(err_);
  const ToolEnd end = runner(niftiCommand(note, written, real));
  passOnToolLines(program_, shown_, "nifti_tool", end, out_, err_);
  const std::string failure = describeToolEnd("nifti_tool", end);
  if (!failure.empty()) return fail(failure);

  const Descriptor fresh(::openat(dir.get(), inside.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
  if (fresh.get() < 0) {
    return fail(std::string("nifti_tool wrote no new file: ") + std::strerror(errno));
  }
  const std::string changed = nifti::changes(dataset.get(), fresh.get(), gzip, note);
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

  // From just before the rename until the confirmation is out, signals that
  // would end the run are held: one that comes now finds the note in place
  // and no longer undoes anything, so 128+N always means "unchanged".
  pfile::cleanup::Held held;
  if (::renameat(dir.get(), inside.c_str(), dir.get(), base.c_str()) != 0) {
    return fail(std::string("cannot be replaced: ") + std::strerror(errno));
  }
  held.keep();
  pfile::cleanup::setSignalMessage({}, {}, {});
  temporary.remove();
  confirm();
  if (const int late = pfile::cleanup::heldSignal(); late != 0) {
    pfile::report(program_, shown_,
                  "signal " + std::to_string(late) + " arrived after the note was written", out_,
                  err_);
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
