// melvane run as a program on synthetic Pfiles, grouped by what the run
// meets: a whole summary compared with its golden file; other revisions; short,
// empty and unreadable inputs; inputs that cannot be opened; outputs that
// cannot be written; files that a run replaces; and the temporary file of an
// output when the run is interrupted or killed. A run either puts each output
// in place whole or leaves its name as it was, and every failing run names
// the Pfile on standard error after the messages on standard output.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <random>
#include <set>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/bad_input.hpp"
#include "summary/output_file.hpp"
#include "support/builds.hpp"
#include "support/files.hpp"
#include "support/header_builder.hpp"
#include "support/run.hpp"

using namespace testing_support;
using melvane::OutputFile;
using Files = std::map<std::string, std::string>;

namespace {

constexpr std::size_t kSize = 149788;
constexpr char kShort[] = "read header too short =1\n";
constexpr char kSummary[] = "E01234S005P23456.7";  // exam 1234, series 5, run 23456
constexpr char kEarlier[] = "an earlier file of this name\n";
constexpr char kRevisionsRead[] =
    "7.0, 9.0, 11.0, 14.0, 14.3, 15.000, 15.001, 16.000, 20.005-20.007, 24.0, 26.002, 27.000, "
    "27.001, 28.000-28.003, 30.0, 30.1";

RunResult runMelvane(const TempDir& dir, std::vector<std::string> args, RunOptions options = {}) {
  args.insert(args.begin(), MELVANE);
  if (options.cwd.empty()) options.cwd = dir.path().string();
  return run(args, options);
}

// mkpfile's revision 20.006 header (settings applied) as bytes.
std::string rev20(std::vector<std::string> settings = {}) {
  TempDir scratch;
  mkpfile("rev20", scratch / "P", settings);
  return read_file(scratch / "P");
}

std::string refusal(const std::string& pfile, const std::string& shown, const std::string& why = "") {
  return "Oops!  Wrong rev recon: file rev = " + shown + "\nmelvane: " + pfile + ": " + why +
         "not a revision melvane reads (" + kRevisionsRead + "), nothing written\n";
}

// Below 4 bytes the revision is unknown, and so is the header's size.
std::string tooShort(std::size_t length) {
  return "the header is " + std::to_string(length) + " bytes, too short to hold its revision";
}

std::string shortBy(std::size_t length) {
  return "the header is " + std::to_string(length) + " bytes, shorter than 149788";
}

bool refused(const RunResult& r) {
  return r.exit_code == 1 && r.err.starts_with("Oops!  Wrong rev recon: file rev = ");
}

struct stat statOf(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(lstat(path.c_str(), &st), 0) << path;
  return st;
}

// Runs melvane as the unprivileged user nobody, with the extra groups given,
// in `dir`, which becomes writable for everyone. Needs root and setpriv.
RunResult asNobody(const TempDir& dir, const std::string& groups, std::vector<std::string> args) {
  std::filesystem::permissions(dir.path(), std::filesystem::perms::all);
  args.insert(args.begin(), {"setpriv", "--reuid=nobody", "--regid=nogroup",
                             groups.empty() ? "--clear-groups" : "--groups=" + groups, MELVANE});
  return run(args, {.cwd = dir.path().string()});
}

// Whether nobody can run melvane on a path in a scratch directory: the tests
// run as root, setpriv is installed, and nobody may reach the executable and
// the temporary directory.
bool nobodyCanRunMelvane() {
  if (geteuid() != 0) return false;
  TempDir probe;
  return asNobody(probe, "", {probe / "missing"}).err.starts_with(
      "U Turkey...: No such file or directory\n");
}

#define SKIP_UNLESS_NOBODY_CAN_RUN_MELVANE()                                       \
  if (!nobodyCanRunMelvane())                                                       \
  GTEST_SKIP() << "runs melvane as the user nobody: needs root, setpriv, and an " \
                  "executable and a temporary directory that nobody can reach"

}  // namespace

// ---- Runs that succeed: the summary and the header copy ------------------

// Revision 20.007, in either byte order, summarises as 20.006 does: its
// three moved exam texts are read at their own places. A file system without
// unnamed files (O_TMPFILE) gets both outputs through named temporaries; one
// that keeps no modes (vfat) refuses fchmod, which is no failure.
TEST(MelvaneSummary, RealisticScanIsSummarisedAndCopied) {
  const struct {
    std::vector<std::string> settings;
    std::string faults;  // calls that fail (tests/support/fail_call.c)
  } cases[] = {{{}, ""},
               {{"rev=20.007"}, ""},
               {{"rev=20.007", "order=be"}, ""},
               {{}, "openat_tmpfile:EOPNOTSUPP"},
               {{}, "fchmod:EPERM"}};
  for (const auto& [settings, faults] : cases) {
    SCOPED_TRACE((settings.empty() ? "20.006" : settings.back()) + " " + faults);
    TempDir dir;
    mkpfile("rev20", dir / "P12345.7", settings);
    write_file(dir / kSummary, "an earlier summary, longer than nothing\n");
    const RunResult r =
        faults.empty() ? runMelvane(dir, {"P12345.7"})
                       : run({sharedLibcTwin("melvane"), "P12345.7"},
                             {.cwd = dir.path().string(), .env = failingCalls(faults)});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");
    testing_support::expect_golden(read_file(dir / kSummary), "melvane_scan.txt");
    EXPECT_EQ(read_file(dir / "P12345.7.hdr"), read_file(dir / "P12345.7"));
    EXPECT_EQ(listing(dir.path()).size(), 3u);
    // A new file gets the permissions a plain create gives under the umask.
    const mode_t mask = umask(0);
    umask(mask);
    EXPECT_EQ(statOf(dir / "P12345.7.hdr").st_mode & 07777, 0666 & ~mask);
  }
}

TEST(MelvaneSummary, SummaryLandsInTheCurrentDirectoryAndTheCopyBesideTheInput) {
  TempDir data, work;
  mkpfile("rev20", data / "P12345.7");
  write_file(data / "P12345.7.hdr", "an older copy");
  const RunResult r = runMelvane(work, {data / "P12345.7"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(listing(work.path()).count(kSummary), 1u);
  EXPECT_EQ(listing(work.path()).size(), 1u);
  EXPECT_EQ(listing(data.path()).size(), 2u);
  EXPECT_EQ(read_file(data / "P12345.7.hdr"), read_file(data / "P12345.7"));
}

TEST(MelvaneSummary, SparseEightGibInputReadsOnlyTheHeader) {
  TempDir dir;
  mkpfile("rev20", dir / "big", {"size=8589934592"});
  ASSERT_EQ(std::filesystem::file_size(dir / "big"), 8589934592u);
  const auto start = std::chrono::steady_clock::now();
  const RunResult r = runMelvane(dir, {"big"});
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_LT(took, std::chrono::seconds(2));
  EXPECT_EQ(read_file(dir / "big.hdr"), rev20());
}

TEST(MelvaneSummary, FurtherArgumentsAreIgnoredAloud) {
  TempDir dir;
  mkpfile("rev20", dir / "P1.7");
  mkpfile("rev20", dir / "P2.7", {"run=777"});
  RunResult r = runMelvane(dir, {"P1.7", "P2.7"});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.err, "melvane: P1.7: 1 further argument ignored; melvane reads one Pfile per run\n");
  r = runMelvane(dir, {"P1.7", "P2.7", "P3.7"});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.err, "melvane: P1.7: 2 further arguments ignored; melvane reads one Pfile per run\n");
  EXPECT_EQ(listing(dir.path()).size(), 4u);  // P1.7, P2.7, P1.7.hdr and P1.7's summary
}

// ---- Every revision of the table ----------------------------------------

namespace {

// Where a revision keeps the values these tests set, as the scanners'
// software writes them; offsets inside their record.
struct RawAt {
  std::size_t run, date, time, slices;
  bool wide_slices;  // 32 bits at 3200 (28.002 on), else 16 bits
  std::size_t freq;
  bool signed_freq;  // s32 up to 16.000, then u32
};
struct ExamAt {
  std::size_t number, patient_name, name_length;
};
struct SeriesAt {
  std::size_t exam_copy, series_number;
  bool wide_series;  // s32 from 26.002, else s16
};
struct ImageAt {
  std::size_t tr, flip, fov, normal, top_left;  // top right and bottom right follow each 12 on
};
enum class Words { none, at_1468, at_4 };

constexpr RawAt kRaw7{4, 16, 26, 68, false, 440, true}, kRaw20{4, 16, 26, 68, false, 440, false},
    kRaw26{80, 92, 102, 144, false, 504, false}, kRaw28002{80, 92, 102, 3200, true, 504, false};
constexpr ExamAt kExam7{8, 101, 25}, kExam11{128, 614, 65}, kExam14_3{272, 774, 65},
    kExam20{696, 1516, 65}, kExam20_007{696, 1524, 65};
constexpr SeriesAt kSeries7{8, 10, false}, kSeries11{188, 222, false},
    kSeries14_3{348, 382, false}, kSeries20{808, 842, false}, kSeries26{808, 736, true};
constexpr ImageAt kImage7{200, 260, 36, 148, 160}, kImage11{488, 708, 0, 404, 416},
    kImage14_3{712, 1068, 64, 468, 480}, kImage15_001{712, 1064, 64, 468, 480},
    kImage16{760, 1112, 112, 516, 528}, kImage20_005{1056, 1416, 304, 708, 720},
    kImage20{1056, 1412, 304, 708, 720};

struct RevisionCase {
  const char* name;
  std::uint32_t bits;
  const char* shown;  // line 1's revision
  std::size_t size, exam, series, image, slice_table, entry;
  Words words;
  RawAt raw;
  ExamAt exam_at;
  SeriesAt series_at;
  ImageAt image_at;
};

// 27.001 on: the words give the slice entry's size, 76 bytes.
const RevisionCase kRevisionCases[] = {
    {"7.0", 0x40E00000, "7.0", 39984, 36872, 37912, 38940, 10240, 40,
     Words::none, kRaw7, kExam7, kSeries7, kImage7},
    {"9.0", 0x41100000, "9.0", 61464, 57352, 58392, 59928, 10240, 40,
     Words::none, kRaw7, kExam7, kSeries7, kImage7},
    {"11.0", 0x41300000, "11.0", 66072, 61448, 62488, 64536, 10240, 44,
     Words::none, kRaw7, kExam11, kSeries11, kImage11},
    {"14.0", 0x41600000, "14.0", 135704, 131080, 132120, 134168, 34816, 44,
     Words::at_1468, kRaw7, kExam11, kSeries11, kImage11},
    {"14.3", 0x4164CCCD, "14.3", 145908, 140772, 141812, 143860, 34816, 48,
     Words::at_1468, kRaw7, kExam14_3, kSeries14_3, kImage14_3},
    {"15.000", 0x41700000, "15.0", 145908, 140772, 141812, 143860, 34816, 48,
     Words::at_1468, kRaw7, kExam14_3, kSeries14_3, kImage14_3},
    {"15.001", 0x41700419, "15.0", 145908, 140772, 141812, 143860, 34816, 48,
     Words::at_1468, kRaw7, kExam14_3, kSeries14_3, kImage15_001},
    {"16.000", 0x41800000, "16.0", 145908, 140772, 141812, 143860, 34816, 48,
     Words::at_1468, kRaw7, kExam14_3, kSeries14_3, kImage16},
    {"20.005", 0x41A00A3D, "20.0", 149788, 142820, 144780, 147340, 36864, 48,
     Words::at_1468, kRaw20, kExam20, kSeries20, kImage20_005},
    {"20.006", 0x41A00C4A, "20.0", 149788, 142820, 144780, 147340, 36864, 48,
     Words::at_1468, kRaw20, kExam20, kSeries20, kImage20},
    {"20.007", 0x41A00E56, "20.0", 149788, 142820, 144780, 147340, 36864, 48,
     Words::at_1468, kRaw20, kExam20_007, kSeries20, kImage20},
    {"24.0", 0x41C00000, "24.0", 157276, 142820, 144780, 147340, 36864, 48,
     Words::at_1468, kRaw20, kExam20_007, kSeries20, kImage20},
    {"26.002", 0x41D00419, "26.0", 213684, 193660, 195620, 198180, 36864, 72,
     Words::at_4, kRaw26, kExam20_007, kSeries26, kImage20},
    {"27.000", 0x41D80000, "27.0", 219828, 193660, 195620, 198180, 36864, 72,
     Words::at_4, kRaw26, kExam20_007, kSeries26, kImage20},
    {"27.001", 0x41D8020C, "27.0", 228020, 201852, 203812, 206372, 36864, 76,
     Words::at_4, kRaw26, kExam20_007, kSeries26, kImage20},
    {"28.000", 0x41E00000, "28.0", 228020, 201852, 203812, 206372, 36864, 76,
     Words::at_4, kRaw26, kExam20_007, kSeries26, kImage20},
    {"28.002", 0x41E00419, "28.0", 228020, 201852, 203812, 206372, 36864, 76,
     Words::at_4, kRaw28002, kExam20_007, kSeries26, kImage20},
    {"28.003", 0x41E00625, "28.0", 228020, 201852, 203812, 206372, 36864, 76,
     Words::at_4, kRaw28002, kExam20_007, kSeries26, kImage20},
    {"30.0", 0x41F00000, "30.0", 228020, 201852, 203812, 206372, 36864, 76,
     Words::at_4, kRaw28002, kExam20_007, kSeries26, kImage20},
    {"30.1", 0x41F0CCCD, "30.1", 228020, 201852, 203812, 206372, 36864, 76,
     Words::at_4, kRaw28002, kExam20_007, kSeries26, kImage20},
};

const RevisionCase& revisionCase(std::string_view name) {
  for (const RevisionCase& c : kRevisionCases) {
    if (c.name == name) return c;
  }
  throw std::invalid_argument("no such revision case");
}

// A header of revision `c` whose words, if it has them, give its positions;
// run 23456, scanned 08/08/114 at 10:06, exam 50540 (in both records),
// series -2 (70000 where 32 bits wide), patient name filling its field with
// an 'X' after it, TR 2 s, flip 77, a stored frequency of 2980000000, two
// slices (the second numbered 7), and an axial 240 mm image plane whose
// normal and corners agree.
HeaderBuilder revisionHeader(const RevisionCase& c, bool reversed) {
  HeaderBuilder h(c.size);
  auto put = [&](std::size_t offset, auto value) {
    reversed ? h.put_swapped(offset, value) : h.put(offset, value);
  };
  put(0, c.bits);
  const auto u32 = [](std::size_t value) { return static_cast<std::uint32_t>(value); };
  if (c.words == Words::at_1468) {
    put(1468, u32(c.size)), put(1480, u32(c.slice_table));
    put(1496, u32(c.exam)), put(1500, u32(c.series)), put(1504, u32(c.image));
  } else if (c.words == Words::at_4) {
    put(4, u32(c.size)), put(16, u32(c.slice_table)), put(20, u32(c.slice_table + 2048 * c.entry));
    put(32, u32(c.exam)), put(36, u32(c.series)), put(40, u32(c.image));
  }
  put(c.raw.run, std::int32_t{23456});
  h.put_text(c.raw.date, "08/08/114").put_text(c.raw.time, "10:06");
  if (c.raw.wide_slices) {
    put(c.raw.slices, std::uint32_t{2});
    put(144, std::uint16_t{9});  // the 16-bit count of 26.002 and 27.x, no longer read
  } else {
    put(c.raw.slices, std::int16_t{2});
  }
  put(c.raw.freq, std::uint32_t{2980000000});
  put(c.slice_table + c.entry + 2, std::int16_t{7});
  put(c.slice_table + c.entry + 4, 1.5f);
  put(c.exam + c.exam_at.number, std::uint16_t{50540});
  h.fill(c.exam + c.exam_at.patient_name, c.exam_at.name_length, std::byte{'N'});
  h.put_text(c.exam + c.exam_at.patient_name + c.exam_at.name_length, "X");
  put(c.series + c.series_at.exam_copy, std::uint16_t{50540});
  c.series_at.wide_series ? put(c.series + c.series_at.series_number, std::int32_t{70000})
                          : put(c.series + c.series_at.series_number, std::int16_t{-2});
  const std::size_t image = c.image;
  put(image + c.image_at.tr, std::int32_t{2000000});
  put(image + c.image_at.flip, std::int16_t{77});
  put(image + c.image_at.fov, 240.0f);
  put(image + c.image_at.normal + 8, 1.0f);
  const float corners[] = {-120, 120, 0, 120, 120, 0, 120, -120, 0};
  for (std::size_t i = 0; i < 9; ++i) put(image + c.image_at.top_left + 4 * i, corners[i]);
  return h;
}

std::string summaryNameOf(const RevisionCase& c) {
  return c.series_at.wide_series ? "E50540S70000P23456.7" : "E50540S-02P23456.7";
}

}  // namespace

// Each revision's values are read at its own places and in its own kinds, in
// both byte orders, and its whole header is copied.
TEST(MelvaneRevisions, EveryRevisionIsReadAtItsOwnPlaces) {
  for (const RevisionCase& c : kRevisionCases) {
    for (const bool reversed : {false, true}) {
      SCOPED_TRACE(std::string(c.name) + (reversed ? " reversed" : ""));
      TempDir dir;
      const HeaderBuilder header = revisionHeader(c, reversed);
      header.write(dir / "P.7");
      const RunResult r = runMelvane(dir, {"P.7"});
      ASSERT_EQ(r.exit_code, 0) << r.err;
      EXPECT_EQ(r.err, "");
      Files files = listing(dir.path());
      EXPECT_EQ(files["P.7.hdr"].size(), c.size);
      EXPECT_EQ(files["P.7.hdr"], header.str());
      const std::string summary = "\n" + files[summaryNameOf(c)];
      // 20.x texts run on to their record's end; the others stop at the field's.
      const bool rev20 = std::string_view(c.name).starts_with("20.");
      const std::string name(c.exam_at.name_length, 'N');
      for (const std::string& expected :
           {"rev = " + std::string(c.shown), std::string("runnum = 23456"),
            "examnum/seriesnum = 50540/" + std::string(c.series_at.wide_series ? "70000" : "-02"),
            "patient name = " + name + (rev20 ? "X" : ""), std::string("slquant = 2"),
            std::string("date of scan = 08/08/114"), std::string("time of scan = 10:06"),
            std::string("FOV =  240.0"), std::string("TR = 2000 msec"),
            std::string("flip angle = 77 deg."),
            "freq = " + std::string(c.raw.signed_freq ? "-131496729" : "298000000"),
            std::string("slice =7\ngw_point1=     1.5     0.0     0.0\n")}) {
        EXPECT_NE(summary.find("\n" + expected + (expected.ends_with('\n') ? "" : "\n")),
                  std::string::npos)
            << expected << "\n" << summary;
      }
      EXPECT_EQ(summary.find("\nslice =", summary.find("slice =7")), std::string::npos);
    }
  }
}

// A reading that disagrees with itself means the table does not fit the
// file: the header copy is written, no summary, status 1. Revisions 20.006
// and 20.007 are summarised whatever their geometry and words say.
TEST(MelvaneRevisions, AHeaderTheTableDoesNotFitGetsItsCopyButNoSummary) {
  const struct Case {
    const char* revision;
    std::size_t offset;  // from the header's start
    float value;         // stored there as a float, or as a 32-bit word when `word`
    bool word;
    const char* err;     // after "melvane: P.7: "; "" for a summary
  } cases[] = {
      {"16.000", 143860 + 528 + 8, 240.0f, false,  // top left corner lifted
       "the normal disagrees with the image corners: is revision 16.000's table right for this "
       "file?"},
      {"9.0", 59928 + 36, 200.0f, false,
       "the image corners span 240.0 mm where the field of view is 200.0 mm: is revision 9.0's "
       "table right for this file?"},
      {"24.0", 142820 + 696, 0.0f, true,
       "the exam number is 0 in the exam record and 50540 in the series record: is revision "
       "24.0's table right for this file?"},
      {"14.3", 143860 + 476, 2.0f, false,
       "the slab normal has length 2.0000, not 1: is revision 14.3's table right for this file?"},
      {"26.002", 36, 9999999, true,
       "the word at 36 gives the series record at 9999999, outside the 213684-byte header"},
      {"20.006", 147340 + 708, 1.0f, false, ""},
      {"20.007", 1500, 9999999, true, ""},
  };
  for (const Case& c : cases) {
    for (const bool reversed : {false, true}) {
      SCOPED_TRACE(std::string(c.revision) + " " + std::to_string(c.offset));
      const RevisionCase& revision = revisionCase(c.revision);
      HeaderBuilder header = revisionHeader(revision, reversed);
      const auto word = static_cast<std::uint32_t>(c.value);
      if (reversed) {
        c.word ? header.put_swapped(c.offset, word) : header.put_swapped(c.offset, c.value);
      } else {
        c.word ? header.put(c.offset, word) : header.put(c.offset, c.value);
      }
      TempDir dir;
      header.write(dir / "P.7");
      const RunResult r = runMelvane(dir, {"P.7"});
      const bool summarised = std::string_view(c.err).empty();
      EXPECT_EQ(r.exit_code, summarised ? 0 : 1);
      EXPECT_EQ(r.out, "");
      EXPECT_EQ(r.err, summarised ? "" : "melvane: P.7: " + std::string(c.err) + "\n");
      const Files files = listing(dir.path());
      EXPECT_EQ(files.at("P.7.hdr"), header.str());
      EXPECT_EQ(files.size(), summarised ? 3u : 2u);
    }
  }
}

// ---- The JSON sidecar ---------------------------------------------------

// The sidecar holds the summary's values with their types, in BIDS units,
// for revisions of every family; identifying texts only when asked for.
TEST(MelvaneSidecar, ValuesAndTypesAreTheSummarys) {
  using nlohmann::json;
  const struct Case {
    const char* revision;
    const char* stored;  // PfileRevision
    double mhz, tesla;   // the frequency stored as 2980000000 (negative where signed)
  } cases[] = {{"9.0", "9.000", -131.4967296, -3.1},   {"14.3", "14.300", -131.4967296, -3.1},
               {"20.007", "20.007", 298.0, 7.0},       {"26.002", "26.002", 298.0, 7.0},
               {"28.002", "28.002", 298.0, 7.0}};
  for (const Case& c : cases) {
    for (const bool identifying : {false, true}) {
      SCOPED_TRACE(std::string(c.revision) + (identifying ? " identifying" : ""));
      const RevisionCase& revision = revisionCase(c.revision);
      TempDir dir;
      revisionHeader(revision, identifying).write(dir / "P.7");
      const RunResult r = runMelvane(dir, {identifying ? "--json-identifying" : "--json", "P.7"});
      ASSERT_EQ(r.exit_code, 0) << r.err;
      Files files = listing(dir.path());
      const std::string name = summaryNameOf(revision);
      const std::string sidecar = name.substr(0, name.size() - 2) + ".json";
      ASSERT_EQ(files.count(sidecar), 1u);
      EXPECT_EQ(files.size(), 4u);
      const json j = json::parse(files[sidecar]);
      EXPECT_EQ(j.at("PfileRevision"), c.stored);
      EXPECT_EQ(j.at("AcquisitionDateTime"), "2014-08-08T10:06:00");
      for (const auto& [key, value] : std::initializer_list<std::pair<const char*, json>>{
               {"RunNumber", 23456}, {"ExamNumber", 50540},
               {"SeriesNumber", revision.series_at.wide_series ? 70000 : -2},
               {"FlipAngle", 77}, {"NumberOfSlices", 2}, {"ImageSize", 0}}) {
        EXPECT_TRUE(j.at(key).is_number_integer()) << key;
        EXPECT_EQ(j.at(key), value) << key;
      }
      for (const auto& [key, value] : std::initializer_list<std::pair<const char*, double>>{
               {"RepetitionTime", 2.0}, {"EchoTime", 0.0}, {"FieldOfView", 240.0},
               {"ImagingFrequency", c.mhz}, {"MagneticFieldStrength", c.tesla}}) {
        EXPECT_TRUE(j.at(key).is_number_float()) << key;
        EXPECT_DOUBLE_EQ(j.at(key).get<double>(), value) << key;
      }
      EXPECT_TRUE(j.at("PixelSize").is_null());  // 240 / 0: no finite number
      EXPECT_EQ(j.at("Slices").size(), 2u);
      EXPECT_EQ(j.at("Slices").at(1), json::parse(R"({"slice": 7, "gw_point1": [1.5, 0.0, 0.0],
          "gw_point2": [0.0, 0.0, 0.0], "gw_point3": [0.0, 0.0, 0.0]})"));
      const bool rev20 = std::string_view(c.revision).starts_with("20.");
      EXPECT_EQ(j.contains("PatientName"), identifying);
      EXPECT_EQ(j.contains("History"), identifying);
      if (identifying) {
        EXPECT_EQ(j.at("PatientName"),
                  std::string(revision.exam_at.name_length, 'N') + (rev20 ? "X" : ""));
      }
    }
  }
}

// Quotes, backslashes, control bytes and bytes that are not UTF-8 give valid
// JSON: each invalid byte becomes U+FFFD. A date that is none gives null.
TEST(MelvaneSidecar, HostileTextsGiveValidJson) {
  const RevisionCase& revision = revisionCase("26.002");
  HeaderBuilder header = revisionHeader(revision, false);
  header.put_text(92, "08/3x/114");
  header.put_text(revision.series + 982, "q\"b\\c\x01\x1f\xff\xc3(\xe2\x82\xac\xe2\x82");
  TempDir dir;
  header.write(dir / "P.7");
  const RunResult r = runMelvane(dir, {"--json", "P.7"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  const auto j = nlohmann::json::parse(read_file(dir / "E50540S70000P23456.json"));
  EXPECT_EQ(j.at("SeriesDescription"),
            "q\"b\\c\x01\x1f\xEF\xBF\xBD\xEF\xBF\xBD(\xE2\x82\xAC\xEF\xBF\xBD\xEF\xBF\xBD");
  EXPECT_TRUE(j.at("AcquisitionDateTime").is_null());
}

// With -o (or --output-dir) both outputs go into a folder that must exist, so
// an ordinary user summarises a read-only archive; a folder that is missing
// or not a folder fails the run before anything is written.
TEST(MelvaneSummary, OutputFolderTakesBothOutputsAndMustExist) {
  const std::string valid = rev20();
  const std::string usage =
      "usage: melvane pfile\n"
      "       melvane [--json | --json-identifying] [-o DIR | --output-dir DIR] pfile\n";
  const struct {
    const char* what;
    std::vector<std::string> args;
    bool as_nobody;
    int status;
    std::string err;
    std::set<std::string> written;  // in out/
  } cases[] = {
      {"read-only archive", {"-o", "out", "archive/P.7"}, true, 0, "", {"P.7.hdr", kSummary}},
      {"long option, repeated", {"--output-dir", "missing", "--output-dir", "out/", "archive/P.7"},
       false, 0, "", {"P.7.hdr", kSummary}},
      {"missing folder", {"-o", "missing", "archive/P.7"}, false, 1,
       "melvane: missing: No such file or directory\n", {}},
      {"a file for the folder", {"-o", "archive/P.7", "archive/P.7"}, false, 1,
       "melvane: archive/P.7: Not a directory\n", {}},
      {"no Pfile after the folder", {"-o", "out"}, false, 1, usage, {}},
  };
  const bool nobody_can_run = nobodyCanRunMelvane();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.as_nobody && !nobody_can_run) continue;
    TempDir dir;
    std::filesystem::create_directories(dir / "archive");
    std::filesystem::create_directories(dir / "out");
    write_file(dir / "archive/P.7", valid);
    std::filesystem::permissions(dir / "archive", std::filesystem::perms::owner_all |
                                                      std::filesystem::perms::others_read |
                                                      std::filesystem::perms::others_exec);
    std::filesystem::permissions(dir / "out", std::filesystem::perms::all);
    const RunResult r = c.as_nobody ? asNobody(dir, "", c.args) : runMelvane(dir, c.args);
    EXPECT_EQ(r.exit_code, c.status);
    EXPECT_EQ(r.err, c.err);
    std::set<std::string> written;
    for (const auto& [name, content] : listing(dir / "out")) written.insert(name);
    EXPECT_EQ(written, c.written);
    if (!c.written.empty()) {
      EXPECT_EQ(read_file(dir / "out/P.7.hdr"), valid);
    }
    EXPECT_EQ(listing(dir / "archive"), (Files{{"P.7", valid}}));
    EXPECT_EQ(listing(dir.path()).size(), 2u);  // archive/ and out/ alone
  }
}

// ---- Another revision: refused before anything is written ----------------

// The refusal prints the revision in the order detection chose: a bound read
// in host order prints as itself, a value outside as its byte reverse.
TEST(MelvaneRevision, OtherRevisionsAreRefusedWithNothingWritten) {
  const struct Case {
    std::uint32_t bits;  // in host order
    const char* shown;
  } cases[] = {
      {0x41D00625u, "26.003000"},           // 26.003: between 26.002 and 27.000
      {0x41A00C4Bu, "20.006002"},           // the float after 20.006
      {0x490CA041u, "20.005999"},           // the float before 20.006, reversed
      {0x570EA041u, "20.007002"},           // the float after 20.007, reversed
      {0x40A00000u, "5.000000"},            // 5.0: host order
      {0x42C80000u, "100.000000"},          // 100.0: host order
      {0x409FF7CFu, "-8308817920.000000"},  // 4.999: reversed, CFF79F40 is negative
      {0x42C80083u, "-0.000000"},           // 100.001: reversed, 8300C842 is negative
      {0x7FC00000u, "0.000000"},            // NaN: reversed, 0000C07F is tiny
      {0x0000A041u, "20.000000"},           // 20.0 big-endian: reversed
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.shown);
    TempDir dir;
    HeaderBuilder(kSize).put<std::uint32_t>(0, c.bits).write(dir / "P");
    const RunResult r = runMelvane(dir, {"P"});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, refusal("P", c.shown));
    EXPECT_EQ(listing(dir.path()).size(), 1u);
  }
}

// ---- Short, empty and unreadable inputs ----------------------------------

namespace {

// A file cut short runs like the same file padded with zeros, plus the
// short-read message, a line that says how short, and status 1; both outputs
// are written whole all the same where none existed. Cut below 4 bytes, the
// revision is refused.
void checkCuts(const std::string& order, std::initializer_list<std::size_t> boundaries,
               std::size_t grid_points) {
  const std::string whole = rev20({"order=" + order});
  ASSERT_EQ(whole.size(), kSize);
  for (const std::size_t length : testing_support::cutLengths(kSize, grid_points, boundaries)) {
    const std::string what = order + " file cut to " + std::to_string(length) + " bytes";
    TempDir cut_dir, padded_dir;
    const std::string padded = cut(cut(whole, length), kSize);
    write_file(cut_dir / "P.7", cut(whole, length));
    write_file(padded_dir / "P.7", padded);

    const RunResult r = runMelvane(cut_dir, {"P.7"});
    const RunResult p = runMelvane(padded_dir, {"P.7"});
    expectCleanEnd(r, what);
    expectCleanEnd(p, what + " (padded)");
    const bool is_short = length < kSize;
    EXPECT_EQ(r.out, (is_short ? kShort : "") + p.out) << what;

    Files files = listing(cut_dir.path());
    Files padded_files = listing(padded_dir.path());
    files.erase("P.7");
    padded_files.erase("P.7");
    EXPECT_EQ(files, padded_files) << what;
    // The first four bytes decide the revision: any file that holds them runs.
    EXPECT_EQ(refused(r), length < 4) << what << "\n" << r.err;
    if (refused(r)) {
      // The same refusal as the padded file's, told how short the header is.
      const std::string oops = p.err.substr(0, p.err.find('\n') + 1);
      EXPECT_EQ(p.err, oops + "melvane: P.7: not a revision melvane reads (" + kRevisionsRead +
                           "), nothing written\n");
      EXPECT_EQ(r.err, oops + "melvane: P.7: " + tooShort(length) +
                           "; not a revision melvane reads (" + kRevisionsRead +
                           "), nothing written\n") << what;
      EXPECT_TRUE(files.empty()) << what;
      continue;
    }
    EXPECT_EQ(p.exit_code, 0) << what << "\n" << p.err;
    EXPECT_EQ(p.err, "") << what;
    EXPECT_EQ(r.exit_code, is_short ? 1 : 0) << what;
    EXPECT_EQ(r.err, is_short ? "melvane: P.7: " + shortBy(length) + "; the missing bytes read as zeros\n" : "")
        << what;
    EXPECT_EQ(files.size(), 2u) << what;  // the header copy and the summary, nothing else
    EXPECT_EQ(files["P.7.hdr"], padded) << what;
    if (length >= 145624) {
      EXPECT_EQ(files.count(kSummary), 1u) << what;
    }
  }
}

}  // namespace

TEST(MelvaneShortInput, CutLittleEndianFilesFailAfterWritingBothFiles) {
  checkCuts("le", {0, 4, 4096, 36864, 135168, 142820, 144780, 147340, 149788}, 24);
}

TEST(MelvaneShortInput, CutBigEndianFilesFailAfterWritingBothFiles) {
  checkCuts("be", {0, 4, 145588, 145622, 149788}, 8);
}

// A directory and a FIFO nobody writes to read as nothing, like an empty
// file: the short-read message, a revision of 0, the refusal, no file
// written; the directory's read error is named.
TEST(MelvaneShortInput, DirectoryAndFifoAreRefused) {
  TempDir dir;
  std::filesystem::create_directory(dir / "directory");
  ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
  const std::pair<std::string, std::string> cases[] = {
      {"directory", "cannot read the header: Is a directory"},
      {"fifo", tooShort(0)}};
  for (const auto& [input, why] : cases) {
    const RunResult r = runMelvane(dir, {input}, {.timeout = std::chrono::seconds(10)});
    expectCleanEnd(r, input);
    EXPECT_EQ(r.exit_code, 1) << input;
    EXPECT_EQ(r.out, kShort) << input;
    EXPECT_EQ(r.err, refusal(input, "0.000000", why + "; ")) << input;
  }
  EXPECT_EQ(listing(dir.path()).size(), 2u);  // nothing beside the two inputs
}

// A short header stands zeros in for the missing bytes: such a run writes an
// output only where no file of its name exists (a Pfile still being copied in
// must not wipe the results of a whole one), and says which it kept. A
// dangling symbolic link counts as a file.
TEST(MelvaneShortInput, ExistingOutputsAreKept) {
  const std::string whole = rev20();
  const std::string zeros_for_the_rest = cut(cut(whole, 147000), kSize);
  const std::string why = "melvane: P.7: " + shortBy(147000);
  const struct Case {
    bool copy_exists, summary_exists;
    std::string err;
  } cases[] = {
      {true, false, why + "; P.7.hdr exists and is kept; the missing bytes read as zeros\n"},
      {false, true,
       why + "; " + kSummary + " exists and is kept; the missing bytes read as zeros\n"},
      {true, true, why + "; P.7.hdr exists and is kept; " + kSummary + " exists and is kept\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.err);
    TempDir dir;
    write_file(dir / "P.7", cut(whole, 147000));
    if (c.copy_exists) write_file(dir / "P.7.hdr", kEarlier);
    if (c.summary_exists) std::filesystem::create_symlink("elsewhere", dir / kSummary);
    const RunResult r = runMelvane(dir, {"P.7"});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.out, kShort);
    EXPECT_EQ(r.err, c.err);
    Files files = listing(dir.path());
    EXPECT_EQ(files["P.7.hdr"], c.copy_exists ? kEarlier : zeros_for_the_rest);
    EXPECT_EQ(std::filesystem::is_symlink(dir / kSummary), c.summary_exists);
    EXPECT_EQ(files.size(), 3u);
  }
}

// Random bytes of random lengths (fixed seed): either refused with nothing
// written, or, with a valid revision in front (either byte order), run to the
// end with a whole header copy and a summary.
TEST(MelvaneShortInput, RandomBytes) {
  std::mt19937 random(20260108);
  const unsigned char revision_le[4] = {0x4A, 0x0C, 0xA0, 0x41};
  for (int i = 0; i < 24; ++i) {
    const std::size_t length =
        i % 3 == 0 ? kSize : std::uniform_int_distribution<std::size_t>(0, kSize + 64)(random);
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
    const RunResult r = runMelvane(dir, {"P.7"});
    expectCleanEnd(r, what);
    Files files = listing(dir.path());
    files.erase("P.7");
    if (!with_revision) {
      // A random first float is 20.006 in neither order for this seed.
      EXPECT_TRUE(refused(r)) << what << "\n" << r.err;
      EXPECT_TRUE(files.empty()) << what;
      continue;
    }
    const bool is_short = length < kSize;
    EXPECT_EQ(r.exit_code, is_short ? 1 : 0) << what << "\n" << r.err;
    EXPECT_EQ(r.err.empty(), !is_short) << what << "\n" << r.err;
    EXPECT_EQ(r.out, is_short ? kShort : "") << what;
    EXPECT_EQ(files["P.7.hdr"], cut(bytes, kSize)) << what;
    files.erase("P.7.hdr");
    ASSERT_EQ(files.size(), 1u) << what;
    EXPECT_TRUE(files.begin()->second.starts_with("rev = 20.0\nBigEndian = 0\n")) << what;
  }
}

// ---- Inputs that cannot be opened ----------------------------------------

TEST(MelvaneUnopenableInput, MissingPathIsNamedAndNoPathGetsTheUsage) {
  TempDir dir;
  RunResult r = runMelvane(dir, {"missing/P.7"});
  expectCleanEnd(r, "missing path");
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.err, "U Turkey...: No such file or directory\n"
                   "melvane: missing/P.7: No such file or directory\n");
  EXPECT_EQ(r.out, "input file= missing/P.7\n");
  r = runMelvane(dir, {});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.err,
            "usage: melvane pfile\n"
            "       melvane [--json | --json-identifying] [-o DIR | --output-dir DIR] pfile\n");
  EXPECT_TRUE(listing(dir.path()).empty());
}

// ---- Outputs that cannot be written --------------------------------------

// An output named like the input file itself (same device and inode) would
// destroy it: nothing is written at all.
TEST(MelvaneUnwritableOutput, InputIsNeverReplaced) {
  TempDir dir;
  mkpfile("rev20", dir / kSummary, {"size=10000000"});
  const std::string input = read_file(dir / kSummary);
  RunResult r = runMelvane(dir, {kSummary});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, std::string("melvane: ") + kSummary + ": the summary " + kSummary +
                       " would replace the input file; nothing written\n");
  EXPECT_EQ(listing(dir.path()), (Files{{kSummary, input}}));

  TempDir linked;  // the header copy's name is a second link to the input
  mkpfile("rev20", linked / "P.7");
  ASSERT_EQ(link((linked / "P.7").c_str(), (linked / "P.7.hdr").c_str()), 0);
  r = runMelvane(linked, {"P.7"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.err, "melvane: P.7: the header copy P.7.hdr would replace the input file; nothing written\n");
  EXPECT_EQ(listing(linked.path()).size(), 2u);
  EXPECT_EQ(statOf(linked / "P.7.hdr").st_ino, statOf(linked / "P.7").st_ino);
}

// A header copy name that cannot be created: taken by a directory, longer
// than a file name may be, or held by a FIFO (a channel, not an earlier
// output, left as it is). The run reports the name, and leaves no temporary
// file and no damaged earlier file behind.
TEST(MelvaneUnwritableOutput, HeaderCopyThatCannotBeCreated) {
  const std::string valid = rev20();
  const std::string long_name(252, 'P');  // 256 bytes with ".hdr", one past NAME_MAX
  using Type = std::filesystem::file_type;
  const struct Case {
    std::string pfile, why;
    Type taken;  // what holds the name P.7.hdr
  } cases[] = {{"P.7", "Is a directory", Type::directory},
               {long_name, "File name too long", Type::not_found},
               {"P.7", "not a regular file; left as it is", Type::fifo}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    TempDir dir;
    write_file(dir / c.pfile, valid);
    write_file(dir / kSummary, kEarlier);
    if (c.taken == Type::directory) std::filesystem::create_directory(dir / "P.7.hdr");
    if (c.taken == Type::fifo) mkfifo((dir / "P.7.hdr").c_str(), 0600);
    const RunResult r = runMelvane(dir, {c.pfile}, {.timeout = std::chrono::seconds(10)});
    expectCleanEnd(r, c.why);
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.out, ".hdr file won't open= " + c.pfile + ".hdr\n");
    EXPECT_EQ(r.err, "melvane: " + c.pfile + ": header copy " + c.pfile + ".hdr: " + c.why + "\n");
    EXPECT_EQ(std::filesystem::symlink_status(dir / "P.7.hdr").type(), c.taken);
    Files files = listing(dir.path());
    files.erase("P.7.hdr");
    EXPECT_EQ(files, (Files{{c.pfile, valid}, {kSummary, kEarlier}}));
  }
}

// /proc/self takes no new files from anyone: the summary cannot be created,
// and the header copy, written before the summary is tried, stays.
TEST(MelvaneUnwritableOutput, SummaryThatCannotBeCreated) {
  const std::string valid = rev20();
  TempDir input;
  write_file(input / "P.7", valid);
  write_file(input / "P.7.hdr", kEarlier);
  const RunResult r = runMelvane(input, {input / "P.7"}, {.cwd = "/proc/self"});
  expectCleanEnd(r, "summary in /proc/self");
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.out, std::string("out file won't open= ") + kSummary + "\n");
  EXPECT_TRUE(r.err.starts_with("melvane: " + (input / "P.7") + ": summary " + kSummary + ": "))
      << r.err;
  EXPECT_EQ(listing(input.path()), (Files{{"P.7", valid}, {"P.7.hdr", valid}}));
}

// A file size limit (as set by `ulimit -f`) stops a write half-way, or the
// close fails (NFS reports a quota there): first in the header copy, then,
// with the copy written, in a summary of 2048 slices. The run is not killed
// by SIGXFSZ but reports the write; the failed file never appears and the
// earlier one keeps its bytes.
TEST(MelvaneUnwritableOutput, WritesThatFailHalfWayKeepEarlierFiles) {
  const std::string valid = rev20({"slices=2048"});
  const std::string copy_failed = "melvane: P.7: header copy P.7.hdr: ";
  const std::string summary_failed = std::string("melvane: P.7: summary ") + kSummary + ": ";
  const struct {
    long limit;
    std::string faults;  // calls that fail (tests/support/fail_call.c)
    int status;
    std::string err, copy;  // the header copy afterwards
  } cases[] = {
      {65536, "", 1, copy_failed + "File too large\n", kEarlier},
      {160000, "", 255, summary_failed + "File too large\n", valid},
      {-1, "close_written:EDQUOT", 1, copy_failed + "Disk quota exceeded\n", kEarlier},
      {-1, "close_written:EDQUOT:2", 255, summary_failed + "Disk quota exceeded\n", valid}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.err);
    TempDir dir;
    write_file(dir / "P.7", valid);
    write_file(dir / "P.7.hdr", kEarlier);
    write_file(dir / kSummary, kEarlier);
    const RunResult r = run({c.faults.empty() ? MELVANE : sharedLibcTwin("melvane"), "P.7"},
                            {.cwd = dir.path().string(), .env = failingCalls(c.faults),
                             .file_size_limit = c.limit});
    expectCleanEnd(r, c.err);
    EXPECT_EQ(r.exit_code, c.status);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(listing(dir.path()),
              (Files{{"P.7", valid}, {"P.7.hdr", c.copy}, {kSummary, kEarlier}}));
  }
}

// Outputs that the user may not write, as `>` would refuse them, are not
// replaced even in a writable directory; nor is anything created in a
// directory the user may not write.
TEST(MelvaneUnwritableOutput, ReadOnlyOutputsAndDirectoriesOfAnotherUserAreRefused) {
  SKIP_UNLESS_NOBODY_CAN_RUN_MELVANE();
  const std::string valid = rev20();
  TempDir dir;
  write_file(dir / "P.7", valid);
  write_file(dir / "P.7.hdr", kEarlier);
  std::filesystem::permissions(dir / "P.7.hdr", std::filesystem::perms::owner_read |
                                                    std::filesystem::perms::group_read |
                                                    std::filesystem::perms::others_read);
  RunResult r = asNobody(dir, "", {"P.7"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.out, ".hdr file won't open= P.7.hdr\n");
  EXPECT_EQ(r.err, "melvane: P.7: header copy P.7.hdr: Permission denied\n");
  EXPECT_EQ(listing(dir.path()), (Files{{"P.7", valid}, {"P.7.hdr", kEarlier}}));

  std::filesystem::remove(dir / "P.7.hdr");
  TempDir locked;  // the summary's directory, writable by root alone
  std::filesystem::permissions(locked.path(), std::filesystem::perms::owner_all |
                                                  std::filesystem::perms::others_exec);
  r = run({"setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups", MELVANE, dir / "P.7"},
          {.cwd = locked.path().string()});  // asNobody would open the directory to all
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.out, std::string("out file won't open= ") + kSummary + "\n");
  EXPECT_EQ(r.err, "melvane: " + (dir / "P.7") + ": summary " + kSummary + ": Permission denied\n");
  EXPECT_TRUE(listing(locked.path()).empty());
}

// A message on standard output that cannot be written makes the run fail aloud.
TEST(MelvaneUnwritableOutput, StandardOutputThatCannotBeWritten) {
  TempDir dir;
  mkpfile("rev20", dir / "P1.7", {"size=1000"});
  const RunResult r = run({"/bin/sh", "-c", "exec \"$0\" P1.7 >/dev/full", MELVANE},
                          {.cwd = dir.path().string()});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.err, "melvane: P1.7: " + shortBy(1000) + "; the missing bytes read as zeros\n" +
                       "melvane: P1.7: standard output: No space left on device\n");
}

// With both streams on one file, as `2>&1` gives, the messages come in the
// order the run printed them: standard output is flushed before each line on
// standard error.
TEST(MelvaneUnwritableOutput, MessagesKeepTheirOrderInOneFile) {
  TempDir dir;
  write_file(dir / "empty", "");
  const std::pair<std::string, std::string> cases[] = {
      {"empty", kShort + refusal("empty", "0.000000", tooShort(0) + "; ")},
      {"missing", "U Turkey...: No such file or directory\ninput file= missing\n"
                  "melvane: missing: No such file or directory\n"}};
  for (const auto& [input, expected] : cases) {
    const RunResult r = run({"/bin/sh", "-c", "exec \"$0\" \"$1\" 2>&1", MELVANE, input},
                            {.cwd = dir.path().string()});
    EXPECT_EQ(r.exit_code, 1) << input;
    EXPECT_EQ(r.out, expected) << input;
  }
}

// ---- Files that a run replaces -------------------------------------------

// These files carry the patient's name and id: a replaced output keeps the
// permission bits, owner and group of the file it replaces, also for a root
// without CAP_FOWNER (as in many containers), who may no longer set the bits
// of a file once it is another's. The set-ID bits are dropped, as cp drops
// them. Another name of the old file (a hard link) stays with the old text.
// A user who may not give a file away still keeps its group, when they
// belong to it, and its permission bits.
TEST(MelvaneReplacedFile, OwnerGroupAndModeAreKept) {
  if (geteuid() != 0) GTEST_SKIP() << "only root can give files to other users";
  const std::vector<std::string> nobody{"setpriv", "--reuid=nobody", "--regid=nogroup",
                                        "--groups=5678"};
  const struct Case {
    const char* what;
    mode_t mode, kept_mode;
    std::vector<std::string> prefix;  // runs melvane through it
    bool other_link;
    uid_t owner = 1234;  // of the new files
  } cases[] = {
      {"root", 0600, 0600, {}, false},
      {"root without CAP_FOWNER", 0640, 0640, {"setpriv", "--bounding-set=-fowner"}, false},
      {"set-user-ID and set-group-ID bits", 06750, 0750, {}, false},
      {"a second hard link", 0644, 0644, {}, true},
      {"nobody, of the files' group", 0662, 0662, nobody, false, 65534},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.prefix == nobody && !nobodyCanRunMelvane()) continue;
    TempDir dir;
    std::filesystem::permissions(dir.path(), std::filesystem::perms::all);
    mkpfile("rev20", dir / "P.7");
    for (const char* name : {"P.7.hdr", kSummary}) {
      write_file(dir / name, kEarlier);
      ASSERT_EQ(chown((dir / name).c_str(), 1234, 5678), 0);
      ASSERT_EQ(chmod((dir / name).c_str(), c.mode), 0);
    }
    if (c.other_link) {
      ASSERT_EQ(link((dir / kSummary).c_str(), (dir / "other").c_str()), 0);
    }
    std::vector<std::string> argv = c.prefix;
    argv.insert(argv.end(), {MELVANE, "P.7"});
    const RunResult r = run(argv, {.cwd = dir.path().string()});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    for (const char* name : {"P.7.hdr", kSummary}) {
      const struct stat st = statOf(dir / name);
      EXPECT_EQ(st.st_mode & 07777, c.kept_mode) << name;
      EXPECT_EQ(st.st_uid, c.owner) << name;
      EXPECT_EQ(st.st_gid, 5678u) << name;
      EXPECT_NE(read_file(dir / name), kEarlier) << name;
    }
    if (c.other_link) {
      EXPECT_EQ(read_file(dir / "other"), kEarlier);
    }
  }
}

// Extended attributes pass to the new file, the ACL among them: a user whom
// an ACL lets write the summary still may after a rerun. A file without an
// ACL stays without one, even where the directory's default ACL would give
// new files one.
TEST(MelvaneReplacedFile, ExtendedAttributesAndAclsAreKept) {
  const auto attributes = [](const std::string& path) {  // ACLs included
    return run({"getfattr", "--absolute-names", "-h", "-d", "-e", "hex", "-m", "-", path}).out;
  };
  const std::vector<std::vector<std::string>> cases[] = {
      {{"setfacl", "-m", "u:1234:rw", "P.7.hdr", kSummary},
       {"setfattr", "-n", "user.origin", "-v", "scanner 3", "P.7.hdr", kSummary}},
      {{"setfacl", "-d", "-m", "u:1234:rw", "."}}};
  for (const auto& commands : cases) {
    TempDir dir;
    mkpfile("rev20", dir / "P.7");
    for (const char* name : {"P.7.hdr", kSummary}) write_file(dir / name, kEarlier);
    for (const auto& command : commands) {
      const RunResult set = run(command, {.cwd = dir.path().string()});
      if (set.exit_code != 0) GTEST_SKIP() << "no such attributes on this file system: " << set.err;
    }
    const std::string before = attributes(dir / "P.7.hdr") + attributes(dir / kSummary);
    const RunResult r = runMelvane(dir, {"P.7"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(attributes(dir / "P.7.hdr") + attributes(dir / kSummary), before) << commands[0][1];
    EXPECT_NE(read_file(dir / kSummary), kEarlier);
  }
}

// A symbolic link at an output's name is replaced by the new file; the file
// it pointed to is left as it was, even when that file is the input: the
// link, not the input, is what the output replaces.
TEST(MelvaneReplacedFile, SymbolicLinkIsReplacedNotFollowed) {
  TempDir dir;
  mkpfile("rev20", dir / "P.7");
  const std::string input = read_file(dir / "P.7");
  std::filesystem::create_symlink("P.7", dir / kSummary);
  const RunResult r = runMelvane(dir, {"P.7"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_TRUE(S_ISREG(statOf(dir / kSummary).st_mode));
  EXPECT_EQ(read_file(dir / "P.7"), input);
}

// ---- The temporary file of an output, whatever ends the run --------------

namespace {

// Starts a child that makes a OutputFile of `kind` for dir/out, writes part
// of a patient header to it, then reports through a pipe and waits to be
// signalled. Every signal starts at its default action, as in a shell, except
// `ignored`, as under nohup; no core is dumped. Returns the child's pid once it
// has written.
pid_t childWritingOutput(const TempDir& dir, OutputFile::Temporary kind, int ignored = 0) {
  int ready[2];
  if (pipe(ready) != 0) throw std::runtime_error("pipe failed");
  const pid_t pid = fork();
  if (pid == 0) {
    for (int s = 1; s <= SIGRTMAX; ++s) std::signal(s, s == ignored ? SIG_IGN : SIG_DFL);
    const rlimit no_core{0, 0};
    setrlimit(RLIMIT_CORE, &no_core);
    OutputFile file(kind);
    if (!file.create(dir / "out")) _exit(2);
    std::fputs("patient name = DOE^JANE\n", file.stream());
    std::fflush(file.stream());
    if (write(ready[1], "w", 1) != 1) _exit(3);
    for (;;) pause();
  }
  close(ready[1]);
  char byte = 0;
  const bool written = read(ready[0], &byte, 1) == 1;
  close(ready[0]);
  if (!written) throw std::runtime_error("the child did not write its output");
  return pid;
}

// Kills the child with `signal_number` and checks that it died of it.
void killAndReap(pid_t pid, int signal_number) {
  ASSERT_EQ(kill(pid, signal_number), 0);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFSIGNALED(status)) << "status " << status;
  EXPECT_EQ(WTERMSIG(status), signal_number);
}

// Random bytes that make the names ".melvane-AAAAAA", ".melvane-BBBBBB", ...
int names_drawn = 0;
bool countingRandom(std::span<unsigned char> bytes) {
  for (unsigned char& b : bytes) b = static_cast<unsigned char>(names_drawn);
  ++names_drawn;
  return true;
}

bool noRandom(std::span<unsigned char>) {
  errno = ENOSYS;
  return false;
}

}  // namespace

// Written without a name, the temporary leaves nothing behind even when the
// run is killed outright.
TEST(MelvaneTemporaryFile, UnnamedTemporaryLeavesNothingWhenKilled) {
  TempDir dir;
  const pid_t pid = childWritingOutput(dir, OutputFile::Temporary::unnamed_where_possible);
  EXPECT_TRUE(listing(dir.path()).empty());
  killAndReap(pid, SIGKILL);
  EXPECT_TRUE(listing(dir.path()).empty());
}

// Where the file system has no unnamed files, the named temporary is removed
// by every signal that would end the run, and the run still dies of the
// signal: a terminal's, a batch scheduler's, a closed pipe, a timer or a CPU
// or file size limit running out, an abort, a fault, a real-time signal.
TEST(MelvaneTemporaryFile, NamedTemporaryIsRemovedByEverySignalThatEndsTheRun) {
  for (const int signal_number :
       {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE, SIGALRM, SIGUSR1, SIGUSR2, SIGXCPU, SIGXFSZ,
        SIGVTALRM, SIGPROF, SIGABRT, SIGSEGV, SIGBUS, SIGSYS, SIGIO, SIGPWR, SIGRTMIN, SIGRTMAX}) {
    SCOPED_TRACE(strsignal(signal_number));
    TempDir dir;
    const pid_t pid = childWritingOutput(dir, OutputFile::Temporary::named);
    const Files before = listing(dir.path());
    ASSERT_EQ(before.size(), 1u);
    EXPECT_TRUE(before.begin()->first.starts_with(".melvane-"));
    killAndReap(pid, signal_number);
    EXPECT_TRUE(listing(dir.path()).empty());
  }
}

// A run started with SIGHUP ignored keeps ignoring it while a named temporary
// exists: the hangup is discarded, and a later SIGTERM still removes the file.
TEST(MelvaneTemporaryFile, IgnoredHangupStaysIgnored) {
  TempDir dir;
  const pid_t pid = childWritingOutput(dir, OutputFile::Temporary::named, SIGHUP);
  ASSERT_EQ(kill(pid, SIGHUP), 0);
  killAndReap(pid, SIGTERM);
  EXPECT_TRUE(listing(dir.path()).empty());
}

// A named temporary that is never put in place, as after a failed write, goes
// with its OutputFile; the target keeps its bytes.
TEST(MelvaneTemporaryFile, NamedTemporaryThatIsNotPlacedIsRemoved) {
  TempDir dir;
  write_file(dir / "out", kEarlier);
  {
    OutputFile file(OutputFile::Temporary::named);
    ASSERT_TRUE(file.create(dir / "out")) << std::strerror(errno);
    std::fputs("patient name = DOE^JANE\n", file.stream());
    ASSERT_EQ(listing(dir.path()).size(), 2u);
  }
  EXPECT_EQ(listing(dir.path()), (Files{{"out", kEarlier}}));
}

// A temporary name that is taken is left alone and the next one is tried, both
// when the temporary is named at its creation and just before its rename.
TEST(MelvaneTemporaryFile, TakenTemporaryNamesAreSkipped) {
  for (const auto kind : {OutputFile::Temporary::named, OutputFile::Temporary::unnamed_where_possible}) {
    TempDir dir;
    write_file(dir / ".melvane-AAAAAA", "another run's file");
    names_drawn = 0;
    {
      OutputFile file(kind, countingRandom);
      ASSERT_TRUE(file.create(dir / "out")) << std::strerror(errno);
      std::fputs("new", file.stream());
      ASSERT_EQ(file.commit(), OutputFile::Outcome::placed) << std::strerror(errno);
    }
    EXPECT_EQ(names_drawn, 2);
    EXPECT_EQ(listing(dir.path()), (Files{{".melvane-AAAAAA", "another run's file"}, {"out", "new"}}));
  }
}

// Without random bytes for a name, no temporary is made and the target stays.
TEST(MelvaneTemporaryFile, NoRandomBytesNoTemporary) {
  TempDir dir;
  write_file(dir / "out", kEarlier);
  {
    OutputFile named(OutputFile::Temporary::named, noRandom);
    EXPECT_FALSE(named.create(dir / "out"));
    EXPECT_EQ(errno, ENOSYS);
    OutputFile unnamed(OutputFile::Temporary::unnamed_where_possible, noRandom);
    ASSERT_TRUE(unnamed.create(dir / "out"));
    EXPECT_EQ(unnamed.commit(), OutputFile::Outcome::not_placed);
    EXPECT_EQ(errno, ENOSYS);
  }
  EXPECT_EQ(listing(dir.path()), (Files{{"out", kEarlier}}));
}
