// melvane run as a program on synthetic Pfiles: whole summaries compared with
// golden files, the header copy, byte order, refusals, failed and partial
// writes, and inputs that are huge, sparse, a FIFO, a directory or far away.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <fcntl.h>
#include <filesystem>
#include <set>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "support/files.hpp"
#include "support/header_builder.hpp"
#include "support/run.hpp"

using testing_support::HeaderBuilder;
using testing_support::read_file;
using testing_support::run;
using testing_support::RunOptions;
using testing_support::RunResult;
using testing_support::TempDir;
using testing_support::write_file;

namespace {

constexpr std::size_t kSize = 149788;
const char* const kSummary = "E01234S005P23456.7";  // exam 1234, series 5, run 23456

RunResult melvane(const TempDir& dir, std::vector<std::string> args, RunOptions options = {}) {
  args.insert(args.begin(), MELVANE);
  if (options.cwd.empty()) options.cwd = dir.path().string();
  return run(args, options);
}

void mkpfile(const std::string& path, std::vector<std::string> settings = {}) {
  settings.insert(settings.begin(), {MKPFILE, "rev20", path});
  const RunResult r = run(settings);
  ASSERT_EQ(r.exit_code, 0) << r.err;
}

std::set<std::string> names(const std::filesystem::path& dir) {
  std::set<std::string> found;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    found.insert(entry.path().filename().string());
  }
  return found;
}

// A header that passes the revision check and names the summary kSummary.
HeaderBuilder valid() {
  HeaderBuilder h(kSize);
  h.put<float>(0, 20.006f).put<std::int32_t>(4, 23456).put<std::int16_t>(145588, 1234)
      .put<std::int16_t>(145622, 5);
  return h;
}

}  // namespace

TEST(Melvane, RealisticScanIsSummarisedAndCopied) {
  TempDir dir;
  mkpfile(dir / "P12345.7");
  write_file(dir / kSummary, "an earlier summary, longer than nothing\n");
  const RunResult r = melvane(dir, {"P12345.7"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "");
  testing_support::expect_golden(read_file(dir / kSummary), "melvane_scan.txt");
  EXPECT_EQ(read_file(dir / "P12345.7.hdr"), read_file(dir / "P12345.7"));
  EXPECT_EQ(names(dir.path()), (std::set<std::string>{"P12345.7", "P12345.7.hdr", kSummary}));
  // The files get the permissions a plain create gives under the umask.
  const mode_t mask = umask(0);
  umask(mask);
  EXPECT_EQ(std::filesystem::status(dir / kSummary).permissions(),
            static_cast<std::filesystem::perms>(0666 & ~mask));
  EXPECT_EQ(std::filesystem::status(dir / "P12345.7.hdr").permissions(),
            static_cast<std::filesystem::perms>(0666 & ~mask));
}

TEST(Melvane, BigEndianHeaderGivesTheSameSummaryAndKeepsItsBytes) {
  TempDir le, be;
  mkpfile(le / "P1.7");
  mkpfile(be / "P1.7", {"order=be", "slices=5", "nshot=2"});
  mkpfile(le / "P1.7", {"order=le", "slices=5", "nshot=2"});
  ASSERT_EQ(melvane(le, {"P1.7"}).exit_code, 0);
  const RunResult r = melvane(be, {"P1.7"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_NE(read_file(be / "P1.7"), read_file(le / "P1.7"));
  testing_support::expect_same_text(read_file(be / kSummary), read_file(le / kSummary));
  EXPECT_EQ(read_file(be / "P1.7.hdr"), read_file(be / "P1.7"));
}

TEST(Melvane, EdgeValuesPrintAsDocumented) {
  TempDir dir;
  valid()
      .put<std::int32_t>(148396, 1500).put<float>(232, 3.0f)       // TR 1 ms, time/frame 4 ms
      .put<std::int32_t>(148404, 999)                               // TE 0 ms
      .put<float>(220, 2.9f).put<float>(147716, -2.9f)             // truncated: 2, -2
      .put<float>(228, std::numeric_limits<float>::quiet_NaN())    // truncated: 0
      .put<float>(236, 3e9f)                                        // saturates
      .put<std::int16_t>(110, 0).put<float>(147644, 240.0f)        // pixel size inf
      .put<std::int16_t>(148752, static_cast<std::int16_t>(0xFFFE))  // flip angle -2
      .put<float>(147656, -std::numeric_limits<float>::quiet_NaN()).put<float>(147660, -0.0f)
      .put<std::int32_t>(145424, -1).put<std::int32_t>(440, -15)
      .put_text(143620, "").put_text(144401, "ID-").put_text(144336, "DOE^J")
      .put<std::int16_t>(68, 2)
      .put<std::int16_t>(36866, 7).put<float>(36868, 1.25f).put<float>(36904, -3.75f)
      .put<std::int16_t>(36914, 8).put<float>(36916, 9.5f).put<float>(36952, -0.05f)
      .put<std::int16_t>(36962, 99)                                 // entry 2: not printed
      .write(dir / "P1.7");
  const RunResult r = melvane(dir, {"P1.7"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  testing_support::expect_golden(read_file(dir / kSummary), "melvane_edges.txt");
}

TEST(Melvane, ByteOrderDetectionBoundsShowInTheRefusal) {
  // The refusal prints the revision in the order detection chose: a bound
  // read in host order prints as itself, a value outside as its byte reverse.
  struct Case { std::uint32_t bits; const char* shown; } cases[] = {
      {0x40A00000u, "5.000000"},     // 5.0: host order
      {0x42C80000u, "100.000000"},   // 100.0: host order
      {0x409FF7CFu, "-"},            // 4.999: reversed, CFF79F40 is negative
      {0x42C80083u, "-"},            // 100.001: reversed, 8300C842 is negative
      {0x7FC00000u, "0.000000"},     // NaN: reversed, 0000C07F is tiny
      {0x0000A041u, "20.000000"},    // 20.0 big-endian: reversed
  };
  for (const auto& c : cases) {
    TempDir dir;
    HeaderBuilder(kSize).put<std::uint32_t>(0, c.bits).write(dir / "P");
    const RunResult r = melvane(dir, {"P"});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.err.rfind(std::string("Oops!  Wrong rev recon: file rev = ") + c.shown, 0), 0u)
        << std::hex << c.bits << ": " << r.err;
  }
}

TEST(Melvane, OtherRevisionsAreRefusedWithNothingWritten) {
  const HeaderBuilder revisions[] = {
      HeaderBuilder(kSize).put<float>(0, 11.0f), HeaderBuilder(kSize).put_swapped<float>(0, 11.0f),
      HeaderBuilder(kSize).put<std::uint32_t>(0, 0x41A00C4Bu),
      HeaderBuilder(kSize).put_swapped<std::uint32_t>(0, 0x41A00C49u)};
  for (std::size_t i = 0; i < std::size(revisions); ++i) {
    TempDir dir;
    revisions[i].write(dir / "P");
    const RunResult r = melvane(dir, {"P"});
    EXPECT_EQ(r.exit_code, 1) << i;
    EXPECT_EQ(r.out, "");
    const char* shown[] = {"11.000000", "11.000000", "20.006002", "20.005999"};
    EXPECT_EQ(r.err, std::string("Oops!  Wrong rev recon: file rev = ") + shown[i] + "\n");
    EXPECT_EQ(names(dir.path()), std::set<std::string>{"P"}) << i;
  }
}

TEST(Melvane, ShortAndUnreadableInputs) {
  TempDir dir;
  {  // 100000 bytes with a valid revision: zeros fill the rest, the run goes on.
    HeaderBuilder h = valid();
    h.resize(100000).write(dir / "short");
    const RunResult r = melvane(dir, {"short"});
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.out, "read header too short =1\n");
    EXPECT_EQ(read_file(dir / "short.hdr"), h.resize(kSize).str());
    EXPECT_TRUE(std::filesystem::exists(dir / "E00000S000P23456.7"));
  }
  {  // A path that cannot be opened.
    const RunResult r = melvane(dir, {"missing/P"});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.err, "U Turkey...: No such file or directory\n");
    EXPECT_EQ(r.out, "input file= missing/P\n");
  }
  {  // A directory reads as nothing: short read, then revision 0 is refused.
    std::filesystem::create_directory(dir / "adir");
    const RunResult r = melvane(dir, {"adir"});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.out, "read header too short =1\n");
    EXPECT_EQ(r.err, "Oops!  Wrong rev recon: file rev = 0.000000\n");
  }
  {  // A FIFO without a writer must not block.
    ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
    RunOptions quick;
    quick.timeout = std::chrono::seconds(5);
    const RunResult r = melvane(dir, {"fifo"}, quick);
    EXPECT_FALSE(r.timed_out);
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.out, "read header too short =1\n");
  }
  {  // No argument: usage, nothing written.
    TempDir empty;
    const RunResult r = melvane(empty, {});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.err, "usage: melvane pfile\n");
    EXPECT_TRUE(names(empty.path()).empty());
  }
}

TEST(Melvane, SliceCountsAndTheNegativeExamNumber) {
  TempDir dir;
  valid().put<std::int16_t>(68, 0).put<std::int16_t>(145588, static_cast<std::int16_t>(40000))
      .write(dir / "neg");
  ASSERT_EQ(melvane(dir, {"neg"}).exit_code, 0);
  const std::string none = read_file(dir / "E-25536S005P23456.7");
  EXPECT_NE(none.find("examnum/seriesnum = -25536/005\n"), std::string::npos);
  EXPECT_EQ(none.substr(none.rfind('\n', none.size() - 2) + 1, 10), "start_loc=");

  mkpfile(dir / "many", {"slices=3000"});  // entries 0..2047 filled, count 3000
  ASSERT_EQ(melvane(dir, {"many"}).exit_code, 0);
  const std::string many = read_file(dir / kSummary);
  EXPECT_NE(many.find("slquant = 3000\n"), std::string::npos);
  EXPECT_EQ(std::count(many.begin(), many.end(), '\n'), 39 + 4 * 2048);
  EXPECT_NE(many.find("slice =2048\ngw_point1=  -120.0   120.0 10205.0\n"), std::string::npos);
}

TEST(Melvane, SummaryLandsInTheCurrentDirectoryAndTheCopyBesideTheInput) {
  TempDir data, work;
  mkpfile(data / "P12345.7");
  write_file(data / "P12345.7.hdr", "an older copy");
  const RunResult r = melvane(work, {data / "P12345.7"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(names(work.path()), std::set<std::string>{kSummary});
  EXPECT_EQ(names(data.path()), (std::set<std::string>{"P12345.7", "P12345.7.hdr"}));
  EXPECT_EQ(read_file(data / "P12345.7.hdr").size(), kSize);
}

TEST(Melvane, FailedWritesLeaveEarlierFilesAndNoTemporaries) {
  TempDir dir;
  RunOptions limited;
  limited.ignore_sigxfsz = true;
  {  // The copy cannot be written whole: status 1, old copy kept, no summary.
    mkpfile(dir / "P");
    write_file(dir / "P.hdr", "the earlier copy");
    limited.file_size_limit = 100000;
    const RunResult r = melvane(dir, {"P"}, limited);
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.err, "melvane: P.hdr: File too large\n");
    EXPECT_EQ(read_file(dir / "P.hdr"), "the earlier copy");
    EXPECT_EQ(names(dir.path()), (std::set<std::string>{"P", "P.hdr"}));
  }
  {  // The summary (8231 lines) cannot be written whole: status 255.
    mkpfile(dir / "P", {"slices=2048"});
    write_file(dir / kSummary, "the earlier summary");
    limited.file_size_limit = 200000;
    const RunResult r = melvane(dir, {"P"}, limited);
    EXPECT_EQ(r.exit_code, 255);
    EXPECT_EQ(r.err, std::string("melvane: ") + kSummary + ": File too large\n");
    EXPECT_EQ(read_file(dir / kSummary), "the earlier summary");
    EXPECT_EQ(read_file(dir / "P.hdr"), read_file(dir / "P"));
    EXPECT_EQ(names(dir.path()), (std::set<std::string>{"P", "P.hdr", kSummary}));
  }
  {  // Directories stand where the files should go.
    std::filesystem::remove(dir / "P.hdr");
    std::filesystem::create_directory(dir / "P.hdr");
    RunResult r = melvane(dir, {"P"});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.out, ".hdr file won't open= P.hdr\n");
    std::filesystem::remove(dir / "P.hdr");
    std::filesystem::remove(dir / kSummary);
    std::filesystem::create_directory(dir / kSummary);
    r = melvane(dir, {"P"});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.out, std::string("out file won't open= ") + kSummary + "\n");
    EXPECT_EQ(names(dir.path()), (std::set<std::string>{"P", "P.hdr", kSummary}));
  }
  {  // A directory that cannot be written to.
    TempDir work;
    if (geteuid() != 0) {
      std::filesystem::permissions(work.path(), std::filesystem::perms::owner_read |
                                                    std::filesystem::perms::owner_exec);
      const RunResult r = melvane(work, {dir / "P"});
      EXPECT_EQ(r.exit_code, 1);
      EXPECT_EQ(r.out, std::string("out file won't open= ") + kSummary + "\n");
      std::filesystem::permissions(work.path(), std::filesystem::perms::owner_all);
    }
  }
}

TEST(Melvane, SparseEightGibInputReadsOnlyTheHeader) {
  TempDir dir;
  mkpfile(dir / "big", {"size=8589934592"});
  ASSERT_EQ(std::filesystem::file_size(dir / "big"), 8589934592u);
  const auto start = std::chrono::steady_clock::now();
  const RunResult r = melvane(dir, {"big"});
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_LT(took, std::chrono::seconds(2));
  const std::string copy = read_file(dir / "big.hdr");
  ASSERT_EQ(copy.size(), kSize);
  mkpfile(dir / "small");
  EXPECT_EQ(copy, read_file(dir / "small"));
}

// Nested directories below the working directory whose total path exceeds
// PATH_MAX, made and removed with the *at() calls that such paths need.
class DeepPath {
 public:
  explicit DeepPath(const std::filesystem::path& root) : root_(root) {
    const std::string part(200, 'd');
    int fd = open(root.c_str(), O_PATH | O_DIRECTORY);
    for (int i = 0; i < 25; ++i) {
      mkdirat(fd, part.c_str(), 0700);
      const int next = openat(fd, part.c_str(), O_PATH | O_DIRECTORY);
      close(fd);
      fd = next;
      relative_ += part + "/";
    }
    deepest_ = fd;
  }
  ~DeepPath() {
    close(deepest_);
    // remove_all cannot name the deepest entries; climb down and up by hand.
    std::vector<int> fds{open(root_.c_str(), O_RDONLY | O_DIRECTORY)};
    const std::string part(200, 'd');
    for (int i = 0; i < 25; ++i) fds.push_back(openat(fds.back(), part.c_str(), O_RDONLY | O_DIRECTORY));
    for (const char* name : {"P.7", "P.7.hdr"}) unlinkat(fds.back(), name, 0);
    for (int i = 25; i > 0; --i) {
      close(fds[static_cast<std::size_t>(i)]);
      unlinkat(fds[static_cast<std::size_t>(i) - 1], part.c_str(), AT_REMOVEDIR);
    }
    close(fds[0]);
  }
  int dir() const { return deepest_; }
  const std::string& relative() const { return relative_; }

 private:
  std::filesystem::path root_;
  std::string relative_;
  int deepest_;
};

TEST(Melvane, InputPathLongerThanPathMax) {
  TempDir dir;
  mkpfile(dir / "P.7");
  const std::string bytes = read_file(dir / "P.7");
  std::filesystem::remove(dir / "P.7");
  DeepPath deep(dir.path());
  const int fd = openat(deep.dir(), "P.7", O_WRONLY | O_CREAT, 0600);
  ASSERT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  close(fd);
  const std::string path = deep.relative() + "P.7";
  ASSERT_GT(path.size(), 4096u);
  const RunResult r = melvane(dir, {path});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_TRUE(std::filesystem::exists(dir / kSummary));
  struct stat copy{};
  EXPECT_EQ(fstatat(deep.dir(), "P.7.hdr", &copy, 0), 0);
  EXPECT_EQ(static_cast<std::size_t>(copy.st_size), kSize);
}
