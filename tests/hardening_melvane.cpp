// melvane on bad input and in places where it cannot write: cut files at
// every block boundary in both byte orders, an empty file, a directory, a
// missing path, a FIFO without a writer, random bytes, output names that
// cannot be created and writes that fail half-way. A run either puts its files
// in place whole or leaves the directory as it was; a cut file reports what
// the same file padded with zeros reports, plus the short-read message.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <sys/stat.h>

#include "hardening_checks.hpp"
#include "support/files.hpp"
#include "support/run.hpp"

using hardening::contents;
using hardening::cut;
using hardening::expectCleanEnd;
using testing_support::read_file;
using testing_support::run;
using testing_support::RunOptions;
using testing_support::RunResult;
using testing_support::TempDir;
using testing_support::write_file;

namespace {

constexpr std::size_t kHeader = 149788;
constexpr char kShort[] = "read header too short =1\n";
constexpr char kSummary[] = "E01234S005P23456.7";  // mkpfile's exam, series and run numbers
constexpr char kEarlier[] = "an earlier file of this name\n";

RunResult melvane(const TempDir& cwd, const std::string& pfile, RunOptions options = {}) {
  if (options.cwd.empty()) options.cwd = cwd.path().string();
  return run({MELVANE, pfile}, options);
}

std::string validFile(const TempDir& dir, std::vector<std::string> settings) {
  const std::string path = dir / "valid";
  settings.insert(settings.begin(), {MKPFILE, "rev20", path});
  const RunResult made = run(settings);
  EXPECT_EQ(made.exit_code, 0) << made.err;
  return read_file(path);
}

// The refusal of a header whose revision is not 20.006.
bool refused(const RunResult& r) {
  return r.exit_code == 1 && r.err.starts_with("Oops!  Wrong rev recon: file rev = ");
}

void checkCuts(const std::string& order, std::initializer_list<std::size_t> boundaries,
               std::size_t grid_points) {
  TempDir scratch;
  const std::string valid = validFile(scratch, {"order=" + order});
  ASSERT_EQ(valid.size(), kHeader);
  for (const std::size_t length : hardening::cutLengths(kHeader, grid_points, boundaries)) {
    const std::string what = order + " file cut to " + std::to_string(length) + " bytes";
    TempDir cut_dir, padded_dir;
    const std::string padded = cut(cut(valid, length), kHeader);
    write_file(cut_dir / "P.7", cut(valid, length));
    write_file(padded_dir / "P.7", padded);
    for (const TempDir* dir : {&cut_dir, &padded_dir}) write_file(*dir / "P.7.hdr", kEarlier);

    const RunResult r = melvane(cut_dir, "P.7");
    const RunResult p = melvane(padded_dir, "P.7");
    expectCleanEnd(r, what);
    expectCleanEnd(p, what + " (padded)");
    EXPECT_EQ(r.out, (length < kHeader ? kShort : "") + p.out) << what;
    EXPECT_EQ(r.err, p.err) << what;
    EXPECT_EQ(r.exit_code, p.exit_code) << what;

    // The same files, with the same bytes, apart from the input itself.
    auto files = contents(cut_dir.path());
    auto padded_files = contents(padded_dir.path());
    files.erase("P.7");
    padded_files.erase("P.7");
    EXPECT_EQ(files, padded_files) << what;
    if (refused(r)) {
      EXPECT_EQ(files, (std::map<std::string, std::string>{{"P.7.hdr", kEarlier}})) << what;
    } else {
      EXPECT_EQ(r.exit_code, 0) << what << "\n" << r.err;
      EXPECT_EQ(files.size(), 2u) << what;  // the header copy and the summary, nothing else
      EXPECT_EQ(files["P.7.hdr"], padded) << what;
    }
    // The first four bytes decide the revision: any file that holds them runs.
    EXPECT_EQ(refused(r), length < 4) << what << "\n" << r.err;
    if (length >= 145624) {
      EXPECT_EQ(files.count(kSummary), 1u) << what;
    }
  }
}

}  // namespace

TEST(MelvaneCutFiles, LittleEndian) {
  checkCuts("le", {0, 4, 4096, 36864, 135168, 142820, 144780, 147340, 149788}, 24);
}

TEST(MelvaneCutFiles, BigEndian) { checkCuts("be", {0, 4, 145588, 145622, 149788}, 8); }

// An empty file, a directory and a FIFO nobody writes to read as nothing: the
// short-read message, a revision of 0, the refusal, no file written.
TEST(MelvaneBadInputs, EmptyFileDirectoryAndFifoAreRefused) {
  TempDir dir;
  write_file(dir / "empty", "");
  std::filesystem::create_directory(dir / "directory");
  ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
  for (const std::string input : {"empty", "directory", "fifo"}) {
    const RunResult r = melvane(dir, input, {.timeout = std::chrono::seconds(10)});
    expectCleanEnd(r, input);
    EXPECT_EQ(r.exit_code, 1) << input;
    EXPECT_EQ(r.out, kShort) << input;
    EXPECT_EQ(r.err, "Oops!  Wrong rev recon: file rev = 0.000000\n") << input;
  }
  EXPECT_EQ(contents(dir.path()).size(), 3u);  // nothing beside the three inputs
}

// A path that does not exist, or that runs through a regular file.
TEST(MelvaneBadInputs, UnopenablePathsAreReported) {
  TempDir dir;
  write_file(dir / "file", "not a directory\n");
  const std::pair<std::string, std::string> cases[] = {
      {"missing/P.7", "No such file or directory"}, {"file/sub", "Not a directory"}};
  for (const auto& [path, reason] : cases) {
    const RunResult r = melvane(dir, path);
    expectCleanEnd(r, path);
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.err, "U Turkey...: " + reason + "\n");
    EXPECT_EQ(r.out, "input file= " + path + "\n");
  }
  EXPECT_EQ(contents(dir.path()).size(), 1u);
}

// Random bytes of random lengths (fixed seed): either refused with nothing
// written, or, with a valid revision in front (either byte order), run to the
// end with a whole header copy and a summary with four lines per slice
// (slice counts beyond the table's 2048 entries stop at its end).
TEST(MelvaneBadInputs, RandomBytes) {
  std::mt19937 random(20260108);
  const unsigned char revision_le[4] = {0x4A, 0x0C, 0xA0, 0x41};
  for (int i = 0; i < 24; ++i) {
    const std::size_t length =
        i % 3 == 0 ? kHeader : std::uniform_int_distribution<std::size_t>(0, kHeader + 64)(random);
    std::string bytes(length, '\0');
    for (char& c : bytes) c = static_cast<char>(random() & 0xFF);
    const bool with_revision = i % 2 == 1 && length >= 4;
    const bool big_endian = i % 4 == 3;
    if (with_revision) {
      for (int b = 0; b < 4; ++b) {
        bytes[static_cast<std::size_t>(b)] =
            static_cast<char>(revision_le[big_endian ? 3 - b : b]);
      }
    }
    TempDir dir;
    write_file(dir / "P.7", bytes);
    const std::string what = "random file " + std::to_string(i) + " of " +
                             std::to_string(length) + " bytes";
    const RunResult r = melvane(dir, "P.7");
    expectCleanEnd(r, what);
    auto files = contents(dir.path());
    files.erase("P.7");
    if (!with_revision) {
      // A random first float is 20.006 in neither order for this seed.
      EXPECT_TRUE(refused(r)) << what << "\n" << r.err;
      EXPECT_TRUE(files.empty()) << what;
      continue;
    }
    EXPECT_EQ(r.exit_code, 0) << what << "\n" << r.err;
    EXPECT_EQ(r.err, "") << what;
    EXPECT_EQ(r.out, length < kHeader ? kShort : "") << what;
    EXPECT_EQ(files["P.7.hdr"], cut(bytes, kHeader)) << what;
    files.erase("P.7.hdr");
    ASSERT_EQ(files.size(), 1u) << what;
    const std::string& summary = files.begin()->second;
    std::int16_t slquant = 0;  // raw-data header offset 68, in the header's byte order
    if (length >= 70) {
      unsigned char at68[2] = {static_cast<unsigned char>(bytes[68]),
                               static_cast<unsigned char>(bytes[69])};
      if (big_endian) std::swap(at68[0], at68[1]);
      std::memcpy(&slquant, at68, 2);
    }
    const long slices = std::min<long>(std::max<long>(slquant, 0), 2048);
    // Random texts may hold newlines; count the slices by their last line.
    long gw_point3 = 0;
    for (std::size_t at = 0; (at = summary.find("\ngw_point3= ", at)) != std::string::npos; ++at) {
      ++gw_point3;
    }
    EXPECT_EQ(gw_point3, slices) << what;
    EXPECT_TRUE(summary.starts_with("rev = 20.0\nBigEndian = 0\n")) << what;
  }
}

// Output names that cannot be created: taken by a directory, longer than a
// file name may be, or in a directory where nobody (root included) can create
// files. The run reports the name, and leaves no temporary file and no damaged
// earlier file behind.
TEST(MelvaneUnwritableOutputs, HeaderCopyThatCannotBeCreated) {
  TempDir scratch;
  const std::string valid = validFile(scratch, {});

  TempDir taken;
  write_file(taken / "P.7", valid);
  std::filesystem::create_directory(taken / "P.7.hdr");
  write_file(taken / kSummary, kEarlier);
  RunResult r = melvane(taken, "P.7");
  expectCleanEnd(r, "directory named P.7.hdr");
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.out, ".hdr file won't open= P.7.hdr\n");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(contents(taken.path()),
            (std::map<std::string, std::string>{
                {"P.7", valid}, {"P.7.hdr", "<dir>"}, {kSummary, kEarlier}}));

  TempDir too_long;
  const std::string name(252, 'P');  // 256 bytes with ".hdr", one past NAME_MAX
  write_file(too_long / name, valid);
  r = melvane(too_long, name);
  expectCleanEnd(r, "name too long");
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.out, ".hdr file won't open= " + name + ".hdr\n");
  EXPECT_EQ(contents(too_long.path()), (std::map<std::string, std::string>{{name, valid}}));
}

TEST(MelvaneUnwritableOutputs, SummaryThatCannotBeCreated) {
  TempDir scratch;
  const std::string valid = validFile(scratch, {});

  TempDir taken;
  write_file(taken / "P.7", valid);
  write_file(taken / "P.7.hdr", kEarlier);
  std::filesystem::create_directory(taken / kSummary);
  RunResult r = melvane(taken, "P.7");
  expectCleanEnd(r, "directory named like the summary");
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.out, std::string("out file won't open= ") + kSummary + "\n");
  EXPECT_EQ(r.err, "");
  // The header copy was written before the summary was tried, and stays.
  EXPECT_EQ(contents(taken.path()),
            (std::map<std::string, std::string>{
                {"P.7", valid}, {"P.7.hdr", valid}, {kSummary, "<dir>"}}));

  // /proc/self takes no new files from anyone; the header copy still lands
  // beside the input.
  TempDir input;
  write_file(input / "P.7", valid);
  r = melvane(input, input / "P.7", {.cwd = "/proc/self"});
  expectCleanEnd(r, "summary in /proc/self");
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.out, std::string("out file won't open= ") + kSummary + "\n");
  EXPECT_EQ(contents(input.path()),
            (std::map<std::string, std::string>{{"P.7", valid}, {"P.7.hdr", valid}}));
}

// A file size limit stops a write half-way (EFBIG instead of SIGXFSZ): first
// in the header copy, then, with room for the copy, in a summary of 2048
// slices. The failed file never appears and the earlier one keeps its bytes.
TEST(MelvaneUnwritableOutputs, WritesThatFailHalfWay) {
  TempDir scratch;
  const std::string valid = validFile(scratch, {"slices=2048"});

  TempDir dir;
  write_file(dir / "P.7", valid);
  write_file(dir / "P.7.hdr", kEarlier);
  write_file(dir / kSummary, kEarlier);
  RunResult r = melvane(dir, "P.7", {.file_size_limit = 65536, .ignore_sigxfsz = true});
  expectCleanEnd(r, "header copy past the limit");
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "melvane: P.7.hdr: File too large\n");
  EXPECT_EQ(contents(dir.path()),
            (std::map<std::string, std::string>{
                {"P.7", valid}, {"P.7.hdr", kEarlier}, {kSummary, kEarlier}}));

  r = melvane(dir, "P.7", {.file_size_limit = 160000, .ignore_sigxfsz = true});
  expectCleanEnd(r, "summary past the limit");
  EXPECT_EQ(r.exit_code, 255);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, std::string("melvane: ") + kSummary + ": File too large\n");
  EXPECT_EQ(contents(dir.path()),
            (std::map<std::string, std::string>{
                {"P.7", valid}, {"P.7.hdr", valid}, {kSummary, kEarlier}}));
}
