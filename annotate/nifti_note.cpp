// The NIfTI step of -brik: lock the dataset, let nifti_tool write a new file
// in a private directory beside it, check the new file, carry the dataset's
// owner, mode and extended attributes over, rename it into place.
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
#include "annotate/nifti_file.hpp"

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

  const nifti::Contents old = nifti::inspect(dataset.get(), gzip, false, note);
  if (!old.problem.empty()) return fail("torvek cannot check this dataset: " + old.problem);

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
  const std::string failure = describeToolEnd("nifti_tool", end);
  if (!failure.empty()) return fail(failure);

  const Descriptor fresh(::openat(dir.get(), inside.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
  if (fresh.get() < 0) {
    return fail(std::string("nifti_tool wrote no new file: ") + std::strerror(errno));
  }
  const nifti::Contents now = nifti::inspect(fresh.get(), gzip, true, note);
  const std::string check = "the new file from nifti_tool fails its check: ";
  if (!now.problem.empty()) return fail(check + now.problem);
  if (now.data_bytes != old.data_bytes) {
    return fail(check + "its header gives " + std::to_string(now.data_bytes) +
                " bytes of voxel data where the dataset's gives " + std::to_string(old.data_bytes));
  }
  // Written so that it cannot overflow: vox_offset is below 2^40, data_bytes
  // below 2^64 / 8.
  if (now.length < now.vox_offset || now.length - now.vox_offset < now.data_bytes) {
    return fail(check + "it holds " + std::to_string(now.length) +
                " bytes where its header needs " + std::to_string(now.vox_offset) + " + " +
                std::to_string(now.data_bytes));
  }
  if (now.notes != old.notes + 1) return fail(check + "it does not carry the note");
  if (!pfile::passOnAttributes(real, before, fresh.get())) {
    return fail(std::string("the dataset's attributes cannot be given to the new file: ") +
                std::strerror(errno));
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
  std::fprintf(out_, "Rx info is written to %s as an AFNI extension (ecode=4).\n", shown_.c_str());
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
