// torvek -brik on NIfTI files: the header reader, then real runs in which the
// tool fails, the file system refuses, a signal comes, or six runs meet on
// one dataset. The dataset must come out byte-identical (or carrying exactly
// the notes confirmed), with nothing left beside it.
#include <gtest/gtest.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "annotate/nifti_file.hpp"
#include "support/builds.hpp"
#include "support/files.hpp"
#include "support/header_builder.hpp"
#include "support/run.hpp"

using namespace testing_support;
namespace fs = std::filesystem;
using torvek::nifti::parseHead;

namespace {

const std::string kNote = "Rx info:\nStart:\tR20.0\tP12.5\tS7.2\nEnd:\tL20.0\tP12.5\tS7.2\n";
const char* const kConfirmed = "Rx info is written to ";

// A NIfTI-1 header for nx*ny 16-bit voxels of 1 x 1 mm (nifti_tool makes a
// voxel size of 0 one of 1), vox_offset 352, and the extender.
HeaderBuilder header1(int nx, int ny = 1, std::endian order = std::endian::native) {
  HeaderBuilder h(352);
  const auto put = [&](std::size_t at, auto v) {
    order == std::endian::native ? h.put(at, v) : h.put_swapped(at, v);
  };
  put(0, std::int32_t{348});
  for (const auto& [at, v] :
       std::initializer_list<std::pair<int, int>>{{40, 2}, {42, nx}, {44, ny}, {70, 4}, {72, 16}}) {
    put(static_cast<std::size_t>(at), static_cast<std::int16_t>(v));
  }
  put(80, 1.0f);
  put(84, 1.0f);
  put(108, 352.0f);
  return h.put_text(344, "n+1");
}

// An extension: esize, ecode, then the text padded with zeros to 16 bytes.
std::string extension(std::int32_t code, const std::string& data) {
  const std::size_t size = (8 + data.size() + 15) / 16 * 16;
  HeaderBuilder h(size);
  return h.put(0, static_cast<std::int32_t>(size)).put(4, code).put_text(8, data).str();
}

// A whole .nii file: header, no extension, voxels that are not all alike.
std::string niftiFile(int nx, int ny = 1) {
  std::string bytes = header1(nx, ny).str();
  for (long i = 0; i < 2L * nx * ny; ++i) bytes += static_cast<char>(i * 7 % 251);
  return bytes;
}

// A directory that anyone may enter, holding the Pfile "P", a bin/ for a
// stand-in nifti_tool, and the dataset directory ds/ (writable by all).
struct Scene {
  TempDir dir;
  std::string ds = dir / "ds";
  explicit Scene(const std::string& dataset = "d.nii", const std::string& bytes = niftiFile(500)) {
    fs::create_directories(dir / "bin");
    fs::create_directories(ds);
    fs::permissions(dir.path(),
                    fs::perms::all & ~fs::perms::others_write & ~fs::perms::group_write);
    fs::permissions(ds, fs::perms::all);
    mkpfile(kBuildC, dir / "P",
            {"start_ras=R", "start_loc=20", "end_loc=-20", "ctr_R=20", "ctr_A=-12.5", "ctr_S=7.25",
             "norm_R=1", "norm_A=0", "norm_S=0"});
    if (!dataset.empty()) write_file(ds + "/" + dataset, bytes);
  }
  // A stand-in nifti_tool: `script` runs with the real one as $real.
  void fakeTool(const std::string& script) const {
    write_file(dir / "bin/nifti_tool", "#!/bin/sh\nreal=" + niftiTool() + "\n" + script + "\n");
    fs::permissions(dir / "bin/nifti_tool", fs::perms::all);
  }
  // Runs `script` with sh in ds/, $0 being torvek-c and bin/ first on PATH;
  // with `faults`, $0 is the twin of torvek-c that they reach.
  RunResult shell(const std::string& script, RunOptions options = {},
                  const std::string& faults = "") const {
    options.cwd = ds;
    options.env = failingCalls(faults);
    options.env["PATH"] = dir / "bin" + ":" + std::getenv("PATH");
    return run({"sh", "-c", script,
                faults.empty() ? kBuildC.executable : sharedLibcTwin(kBuildC.program)},
               options);
  }
  RunResult brik(const std::string& dataset, const std::string& faults = "") const {
    return shell("exec \"$0\" -brik '" + dataset + "' ../P", {}, faults);
  }
  std::map<std::string, std::string> files() const { return listing(ds); }
};

// The run failed, said so with `why`, and left ds/ exactly as it was.
void expectUnchanged(const RunResult& r, const std::map<std::string, std::string>& before,
                     const Scene& scene, const std::string& why, int status = 1) {
  EXPECT_EQ(r.exit_code, status);
  EXPECT_EQ(r.out.find(kConfirmed), std::string::npos) << r.out;
  EXPECT_NE(r.err.find(why + "; the dataset is unchanged\n"), std::string::npos) << r.err;
  EXPECT_TRUE(scene.files() == before) << "ds/ changed; stderr: " << r.err;
}

}  // namespace

TEST(NiftiHead, ReadsTheVoxelLengthAndCountsTheNoteInEitherVersionAndOrder) {
  const std::string note_ext = extension(4, kNote);
  const std::string with_notes =
      header1(10).put(108, 352.0f + 3 * note_ext.size()).put<std::int8_t>(348, 1).str() + note_ext +
      extension(4, kNote + "x") + extension(6, kNote);
  HeaderBuilder v2(544);  // 3 voxels of 16 bits
  v2.put<std::int32_t>(0, 540).put_text(4, "n+2").put<std::int16_t>(14, 16);
  v2.put<std::int64_t>(16, 1).put<std::int64_t>(24, 3).put<std::int64_t>(168, 544);
  const struct {
    std::string head, problem;
    std::uint64_t data_bytes;
    std::size_t notes;
  } cases[] = {
      {header1(10).str(), "", 20, 0},
      {header1(10, 3, std::endian::big).str(), "", 60, 0},
      {v2.str(), "", 6, 0},
      {with_notes, "", 20, 1},
      {header1(10).put_text(344, "ni1").str(),
       "its magic is not \"n+1\" (a two-file dataset or not NIfTI)", 0, 0},
      {header1(10).put(108, 300.0f).str(), "vox_offset lies inside the header", 0, 0},
      {header1(10).put(108, -1.0f).str(), "vox_offset is out of range", 0, 0},
      {header1(10).put<std::int16_t>(40, 0).str(), "dim[0] is 0", 0, 0},
      {header1(10, -1).str(), "dim[2] is -1", 0, 0},
      {header1(0).str(), "dim[1] is 0", 0, 0},
      {header1(10).str().substr(0, 300), "its header is cut short", 0, 0},
      {std::string(400, 'x'), "it does not start with a NIfTI-1 or NIfTI-2 header", 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.problem);
    const auto got = parseHead(std::as_bytes(std::span(c.head)), kNote);
    EXPECT_EQ(got.problem, c.problem);
    EXPECT_EQ(got.data_bytes, c.problem.empty() ? c.data_bytes : got.data_bytes);
    EXPECT_EQ(got.notes, c.notes);
  }
}

// The tool fails (its lines passed on marked) or writes a bad file (one or
// two bytes short, dim[1], bitpix or a voxel changed); a size limit, a file
// that may not be changed, a collaborator who does not own it, or a full or
// read-only file system (a small tmpfs) stops it; a file system refuses a call (a quota reported at
// the tool's close, which nifti_tool does not check, no lock manager, no room
// for an attribute); or a signal comes mid-step, while the tool runs or once
// it has written the new file (one ignored at the start stays ignored by
// torvek, and the tool still ends; of two, the run dies of the first). A
// signal held from the rename on ends nothing, and a directory that cannot be
// removed is said: the note is then written, with status 0 and 1.
TEST(NiftiFaults, EveryFailureOfTheStepChangesNothing) {
  ASSERT_NE(niftiTool(), "") << "install Debian's nifti-bin package";
  const std::string brik = "exec \"$0\" -brik d.nii ../P";
  const std::string nobody = "exec setpriv --reuid=65534 --regid=65534 --clear-groups \"$0\" "
                             "-brik d.nii ../P";
  const auto signalled = [](const std::string& signal, const std::string& trap = "") {
    return "timeout --preserve-status -s " + signal + " 0.5 sh -c '" + trap +
           "\"$0\" -brik d.nii ../P' \"$0\"";
  };
  const std::string stuck = "head -c 1000 \"$6\" > \"$4\"; sleep 20";
  // The tool writes the whole new file, then torvek gets the signal.
  const auto sent = [](const std::string& signal) {
    return "\"$real\" \"$@\"; kill -s " + signal + " $PPID";
  };
  const std::string gz = "exec sh -c 'ulimit -c 0; \"$0\" -brik d.nii.gz ../P; exit $?' \"$0\"";
  const std::string int_then_term =
      "env --default-signal=INT \"$0\" -brik d.nii ../P & "
      "until ls .torvek-*/d.nii >/dev/null 2>&1; do sleep 0.05; done; kill -s INT $!; "
      "sleep 0.3; kill -s TERM $!; wait $!";
  // LeakSanitizer cannot run under ptrace.
  const std::string strace =
      "exec env ASAN_OPTIONS=detect_leaks=0 strace -o /dev/null -e inject=";
  const std::string tmpfs = "mv d.nii .. && mount -t tmpfs -o size=1m,mode=0777 tmpfs . && "
                            "cd ../ds && mv ../d.nii . && ";
  // The real tool, then `bytes` written over its new file at `offset`.
  const auto patched = [](int offset, const std::string& bytes) {
    return "\"$real\" \"$@\" && printf '" + bytes + "' | dd of=\"$4\" bs=1 seek=" +
           std::to_string(offset) + " conv=notrunc status=none";
  };
  const struct {
    std::string setup, tool, run, why;  // tool "": the real one
    int status = 1;
    long limit = -1;
    bool written = false;     // the note is in place and confirmed
    std::string faults = "";  // calls that fail (tests/support/fail_call.c)
  } cases[] = {
      {"", "\"$real\" \"$@\"; exit 1", brik, "d.nii: nifti_tool exited with status 1"},
      {"", "\"$real\" \"$@\"; kill -s KILL $$", brik, "nifti_tool killed by signal 9"},
      {"", "exit 0", brik, "nifti_tool wrote no new file: No such file or directory"},
      {"", "cp \"$6\" \"$4\"", brik, "fails its check: it does not carry the note"},
      {"", "\"$real\" -add_afni_ext \"$2\" \"$@\"", brik, "it does not carry the note"},
      {"", "\"$real\" \"$@\" && truncate -s -2 \"$4\"", brik,
       "fails its check: its voxel data end after 399998 of 400000 bytes"},
      {"", "\"$real\" \"$@\" && truncate -s -1 \"$4\"", brik,
       "fails its check: its voxel data end after 399999 of 400000 bytes"},
      {"", patched(42, "\\144\\000"), brik, "nifti_tool would change dim[1]"},  // 100
      {"", patched(72, "\\010\\000"), brik, "nifti_tool would change bitpix"},  // 8
      {"", "\"$real\" \"$@\" && printf X | dd of=\"$4\" bs=1 seek=1000 conv=notrunc", brik,
       "nifti_tool would change the voxel data at byte 584 of 400000"},
      {"gzip d.nii", "\"$real\" \"$@\" && truncate -s -9 \"$4\"", "exec \"$0\" -brik d.nii.gz ../P",
       "it does not decompress: unexpected end of file"},
      {"", "", "PATH=/none exec \"$0\" -brik d.nii ../P", "nifti_tool: not found on PATH"},
      {"", "", brik, "nifti_tool killed by signal 25", 1, 300 * 1024},
      {"chmod 0444 d.nii", "", nobody, "cannot be opened for writing: Permission denied"},
      {"chown 2001:3000 d.nii && chmod 0660 d.nii && setfacl -m u:2002:rw d.nii", "",
       "exec setpriv --reuid=2002 --regid=2002 --clear-groups \"$0\" -brik d.nii ../P",
       "d.nii: is owned by user 2001 and group 3000; only its owner or root can annotate it "
       "this way"},
      {"", "printf 'x\\ntorvek-c: d.nii: Rx info is written\\033[2J\\n' >&2; exit 1", brik,
       "torvek-c: d.nii: nifti_tool: x\ntorvek-c: d.nii: nifti_tool: torvek-c: d.nii: Rx info "
       "is written\\033[2J\ntorvek-c: d.nii: nifti_tool exited with status 1"},
      {"chmod 0555 .", "", nobody,
       "no temporary directory can be made beside it: Permission denied"},
      {"chattr +i d.nii", "", brik, "cannot be opened for writing: Operation not permitted"},
      {tmpfs + "head -c 300000 /dev/zero > filler", "", brik,
       "of 400000 bytes"},
      {tmpfs + "mount -o remount,ro .", "", brik,
       "cannot be opened for writing: Read-only file system"},
      {.run = brik, .why = "its voxel data end after 199792 of 400000 bytes",
       .faults = "close_written:EDQUOT@nifti_tool"},
      {.run = brik, .why = "cannot be locked: No locks available", .faults = "flock:ENOLCK"},
      {.setup = "setfattr -n user.x -v 1 d.nii", .run = brik,
       .why = "the dataset's attributes cannot be given to the new file: No space left on device",
       .faults = "fsetxattr:ENOSPC"},
      {"", stuck, signalled("INT"), "interrupted by signal 2", 128 + SIGINT},
      {"", stuck, signalled("TERM"), "interrupted by signal 15", 128 + SIGTERM},
      {"", stuck, signalled("HUP"), "interrupted by signal 1", 128 + SIGHUP},
      {"", stuck, signalled("INT", "trap \"\" INT; exec "), "nifti_tool killed by signal 2"},
      {"gzip d.nii", sent("QUIT"), gz, "interrupted by signal 3", 128 + SIGQUIT},
      {"gzip d.nii", sent("USR1"), gz, "interrupted by signal 10", 128 + SIGUSR1},
      {"gzip d.nii", sent("USR2"), gz, "interrupted by signal 12", 128 + SIGUSR2},
      {"gzip d.nii", sent("ALRM"), gz, "interrupted by signal 14", 128 + SIGALRM},
      {"gzip d.nii", sent("PIPE"), gz, "interrupted by signal 13", 128 + SIGPIPE},
      {"gzip d.nii", sent("XCPU"), gz, "interrupted by signal 24", 128 + SIGXCPU},
      {"", "trap \"\" INT; head -c 1000 \"$6\" > \"$4\"; exec sleep 20", int_then_term,
       "interrupted by signal 2", 128 + SIGINT},
      {"", "", strace + "renameat:signal=TERM \"$0\" -brik d.nii ../P",
       "d.nii: signal 15 arrived after the note was written\n", 0, -1, true},
      {"", "", strace + "unlinkat:error=EBUSY \"$0\" -brik d.nii ../P",
       ": cannot be removed: Device or resource busy\n", 1, -1, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.setup + " " + c.tool + " " + c.run + " " + c.faults);
    const Scene scene("d.nii", niftiFile(200, 1000));  // 400 KB of voxels
    fs::permissions(scene.ds + "/d.nii", fs::perms::others_write, fs::perm_options::add);
    if (scene.shell(c.setup).exit_code != 0) {
      std::cout << "skipped (" << c.setup << " refused here)\n";
      continue;
    }
    if (!c.tool.empty()) scene.fakeTool(c.tool);
    const auto before = scene.files();
    const RunResult r = scene.shell(c.run, {.file_size_limit = c.limit}, c.faults);
    if (!c.written) {
      expectUnchanged(r, before, scene, c.why, c.status);
    } else {
      EXPECT_EQ(r.exit_code, c.status) << r.err;
      EXPECT_NE(r.out.find(kConfirmed), std::string::npos) << r.out;
      EXPECT_NE(r.err.find(c.why), std::string::npos) << r.err;
      const std::string after = read_file(scene.ds + "/d.nii");
      EXPECT_EQ(parseHead(std::as_bytes(std::span(after)), kNote).notes, 1u);
      // Beside it, only the directory that could not be removed.
      EXPECT_EQ(scene.files().size(), c.status == 0 ? 1u : 2u);
    }
    scene.shell("chattr -i d.nii 2>/dev/null; chmod 0777 .; cd .. && umount ds 2>/dev/null");
  }
}

// The note is the same in each: one run adds it, the others find it there.
// nifti_tool keeps a NIfTI-1 file whole but for fields no reader uses (the
// ANALYZE leftovers; the quaternion without a qform); what it cannot keep is
// refused with what it would change, the dataset unchanged.
TEST(NiftiKinds, TheNewFileIsTheDatasetWithTheNoteOrNothingChanges) {
  ASSERT_NE(niftiTool(), "") << "install Debian's nifti-bin package";
  const std::string voxels = niftiFile(500).substr(352);
  HeaderBuilder v2(544);
  v2.put<std::int32_t>(0, 540).put_text(4, std::string("n+2\0\r\n\032\n", 8));
  v2.put<std::int16_t>(12, 4).put<std::int16_t>(14, 16).put<std::int64_t>(16, 1);
  v2.put<std::int64_t>(24, 500).put(112, 1.0).put<std::int64_t>(168, 544);
  v2.put<std::int32_t>(348, 1).put(424, -90.12345678901235);  // sform_code, srow_x[3]
  HeaderBuilder odd(20);  // an extension whose size is not a multiple of 16
  odd.put<std::int32_t>(0, 20).put<std::int32_t>(4, 6).put_text(8, "odd size");
  const std::string kept = extension(6, "<xml/>") + extension(4, "an older note");
  const std::string analyze = header1(500)
                                  .put_text(4, "dtype")
                                  .put_text(14, "db")
                                  .put<std::int32_t>(32, 16384)
                                  .put<std::int16_t>(36, 7)
                                  .put(140, 255)
                                  .put(256, 0.5f)  // quatern_b, qform_code 0
                                  .str();
  const struct {
    std::string bytes, setup, why;  // why "": the note is added
  } cases[] = {
      {analyze + voxels, "", ""},
      {header1(500).put(108, 352.0f + 48).put<std::int8_t>(348, 1).str() + kept + voxels, "", ""},
      {niftiFile(500), "gzip d.nii", ""},
      {v2.str() + voxels, "", "nifti_tool would write it as NIfTI-1"},
      {header1(500).put(108, 372.0f).put<std::int8_t>(348, 1).str() + odd.str() + voxels, "",
       "nifti_tool would drop the extension at byte 352 (ecode 6, esize 20, not a multiple of "
       "16)"},
      {niftiFile(500) + std::string(1000, 'T'), "",
       "nifti_tool would drop the 1000 bytes after the voxel data"},
      {niftiFile(500) + std::string(100, 'T'), "gzip d.nii",
       "d.nii.gz: nifti_tool would drop the 100 bytes after the voxel data"},
      {header1(500, 1, std::endian::big).str() + voxels, "",
       "nifti_tool would write it in the other byte order"},
      {header1(500).put(84, 0.0f).str() + voxels, "", "nifti_tool would change pixdim[2]"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.setup + " " + c.why);
    const Scene scene("d.nii", c.bytes);
    scene.shell(c.setup);
    const auto before = scene.files();
    const RunResult r = scene.brik("d.nii");
    if (!c.why.empty()) {
      expectUnchanged(r, before, scene, c.why);
      continue;
    }
    EXPECT_EQ(r.exit_code, 0) << r.err;
    const std::string after =
        c.setup.empty() ? read_file(scene.ds + "/d.nii") : scene.shell("gzip -dc d.nii.gz").out;
    const auto vox_offset = c.bytes.size() - voxels.size();
    EXPECT_EQ(after.substr(352, vox_offset - 352), c.bytes.substr(352, vox_offset - 352));
    EXPECT_EQ(after.substr(after.size() - voxels.size()), voxels);
    EXPECT_EQ(parseHead(std::as_bytes(std::span(after)), kNote).notes, 1u);
  }
}

TEST(NiftiParallel, SixRunsAtOnceLeaveOneNoteEachConfirmedOnce) {
  ASSERT_NE(niftiTool(), "") << "install Debian's nifti-bin package";
  for (int trial = 0; trial < 4; ++trial) {
    const Scene scene;
    const std::string voxels = niftiFile(500).substr(352);
    std::vector<RunResult> results(6);
    std::vector<std::thread> runs;
    for (auto& result : results) runs.emplace_back([&] { result = scene.brik("d.nii"); });
    for (auto& each : runs) each.join();
    for (const RunResult& r : results) {
      EXPECT_EQ(r.exit_code, 0) << r.err;
      EXPECT_EQ(r.out.find(kConfirmed), r.out.rfind(kConfirmed));
    }
    const std::string after = read_file(scene.ds + "/d.nii");
    EXPECT_EQ(parseHead(std::as_bytes(std::span(after)), kNote).notes, 1u);
    EXPECT_TRUE(after.ends_with(voxels));
    EXPECT_EQ(scene.files().size(), 1u);
  }
}

TEST(NiftiNames, TheRunNamesTheFileWrittenAndKeepsItsOwnerModeAndLinks) {
  ASSERT_NE(niftiTool(), "") << "install Debian's nifti-bin package";
  const Scene scene("scan.nii");
  scene.shell("gzip scan.nii");
  write_file(scene.ds + "/real.nii", niftiFile(20));
  fs::create_symlink("real.nii", scene.ds + "/link.nii");
  fs::create_symlink("scan.nii.gz", scene.ds + "/zlink.nii");
  write_file(scene.ds + "/old.nii.bak", niftiFile(20));
  write_file(scene.ds + "/vfat.nii", niftiFile(20));
  scene.shell("chown 1234:5678 real.nii && chmod 0640 real.nii");
  const bool xattrs =
      setxattr((scene.ds + "/real.nii").c_str(), "user.origin", "scanner", 7, 0) == 0;
  const struct {
    std::string prefix, out, err;
    std::string faults = "";  // calls that fail (tests/support/fail_call.c)
  } cases[] = {
      {"scan.nii", "scan.nii.gz as an AFNI extension (ecode=4).\n", ""},
      // A file system that keeps no modes (vfat) refuses the ACL and fchmod.
      {"vfat.nii", "vfat.nii as an AFNI extension (ecode=4).\n", "", "fsetxattr:EPERM,fchmod:EPERM"},
      {"link.nii", "link.nii as an AFNI extension (ecode=4).\n", ""},
      {"real.nii", "real.nii as an AFNI extension (ecode=4).\n", ""},  // already there
      {"mine.nii", "mine.nii as an AFNI extension (ecode=4).\n", ""},
      {"zlink.nii", "zlink.nii as an AFNI extension (ecode=4).\n", ""},
      {"gone\033[2J.nii", "",
       "torvek-c: gone\\033[2J.nii: no such file (nor gone\\033[2J.nii.gz); the Rx is not "
       "written\n"},
      {"old.nii.bak", "",
       "old.nii.bak: is not a single-file NIfTI dataset (.nii or .nii.gz); the Rx is not "
       "written\n"},
  };
  // Its owner, unprivileged, replaces it although its security label cannot
  // be given by them.
  write_file(scene.ds + "/mine.nii", niftiFile(20));
  scene.shell("chown 65534:65534 mine.nii");
  const bool label =
      setxattr((scene.ds + "/mine.nii").c_str(), "security.torvek", "label", 5, 0) == 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.prefix + " " + c.faults);
    const RunResult r =
        c.prefix != "mine.nii"
            ? scene.brik(c.prefix, c.faults)
            : scene.shell("exec setpriv --reuid=65534 --regid=65534 --clear-groups \"$0\" "
                          "-brik mine.nii ../P");
    EXPECT_EQ(r.exit_code, c.out.empty() ? 1 : 0) << r.err;
    EXPECT_TRUE(c.out.empty() || r.out.ends_with(kConfirmed + c.out)) << r.out;
    // nifti_tool's word of its success is not passed on.
    EXPECT_TRUE(c.out.empty() ? r.err.ends_with(c.err) : r.err.empty()) << r.err;
  }
  EXPECT_TRUE(label) << "security.* attributes cannot be set here";
  EXPECT_EQ(scene.shell("stat -c '%u:%g' mine.nii").out, "65534:65534\n");
  EXPECT_FALSE(fs::exists(scene.ds + "/scan.nii"));
  EXPECT_TRUE(fs::is_symlink(scene.ds + "/link.nii"));
  const std::string real = read_file(scene.ds + "/real.nii");
  EXPECT_EQ(parseHead(std::as_bytes(std::span(real)), kNote).notes, 1u);
  EXPECT_EQ(scene.shell("stat -c '%u:%g %a' real.nii").out, "1234:5678 640\n");
  char origin[8] = {};
  if (xattrs) getxattr((scene.ds + "/real.nii").c_str(), "user.origin", origin, 7);
  EXPECT_STREQ(origin, xattrs ? "scanner" : "");
}
