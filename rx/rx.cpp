// Rx computation and report.
#include "rx/rx.hpp"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <memory>
#include <optional>
#include <unistd.h>
#include <vector>

#include "common/byte_order.hpp"
#include "common/messages.hpp"
#include "common/pfile_input.hpp"
#include "common/scan_header.hpp"
#include "rx/header_read.hpp"
#include "rx/revision.hpp"

namespace torvek {

RxInputs loadRxInputs(const Layout& layout, Bytes header) {
  const Bytes series = header.subspan(layout.series_position);
  const Bytes image = header.subspan(layout.image_position);
  const RxFieldOffsets& at = layout.rx;
  const bool reversed = readsReversed(layout, header);
  const auto number = [reversed](Bytes record, std::size_t offset) {
    return pfile::inHostOrder(pfile::load<float>(record, offset), reversed);
  };
  return {
      pfile::load<unsigned char>(series, at.start_ras),
      number(series, at.start_loc), number(series, at.end_loc),
      number(image, at.ctr_R), number(image, at.ctr_A), number(image, at.ctr_S),
      number(image, at.norm_R), number(image, at.norm_A), number(image, at.norm_S),
  };
}

namespace {

// The normal component that start_ras chooses as divisor, with its field name.
struct Divisor {
  const char* field;
  float value;
};

std::optional<Divisor> divisor(const RxInputs& in) {
  switch (in.start_ras) {
    case 'A': case 'P': return Divisor{"norm_A", in.norm_A};
    case 'S': case 'I': return Divisor{"norm_S", in.norm_S};
    case 'R': case 'L': return Divisor{"norm_R", in.norm_R};
    default: return std::nullopt;
  }
}

}  // namespace

bool computeRx(const RxInputs& in, RxRecord& rx) {
  rx.start_rl = -in.ctr_R;
  rx.start_ap = -in.ctr_A;
  rx.start_si = in.ctr_S;

  const std::optional<Divisor> d = divisor(in);
  if (!d) return false;
  // Single precision throughout, each end in the order multiply, divide, add.
  const float span = in.end_loc - in.start_loc;
  rx.end_rl = -(span * in.norm_R / d->value + in.ctr_R);
  rx.end_ap = -(span * in.norm_A / d->value + in.ctr_A);
  rx.end_si = span * in.norm_S / d->value + in.ctr_S;
  return true;
}

std::string nonFiniteRx(const RxInputs& in, const RxRecord& rx, bool with_end) {
  const std::pair<const char*, float> values[] = {
      {"Start R/L", rx.start_rl}, {"Start A/P", rx.start_ap}, {"Start S/I", rx.start_si},
      {"End R/L", rx.end_rl},     {"End A/P", rx.end_ap},     {"End S/I", rx.end_si}};
  std::string which;
  for (std::size_t i = 0; i < (with_end ? 6u : 3u); ++i) {
    if (std::isfinite(values[i].second)) continue;
    which += (which.empty() ? "" : ", ") + std::string(values[i].first);
  }
  if (which.empty()) return {};

  // The start values come from the centre alone; the end values from all.
  const std::pair<const char*, float> inputs[] = {
      {"ctr_R", in.ctr_R},         {"ctr_A", in.ctr_A},     {"ctr_S", in.ctr_S},
      {"start_loc", in.start_loc}, {"end_loc", in.end_loc}, {"norm_R", in.norm_R},
      {"norm_A", in.norm_A},       {"norm_S", in.norm_S}};
  std::string why;
  for (std::size_t i = 0; i < (with_end ? 8u : 3u); ++i) {
    const float value = inputs[i].second;
    if (std::isfinite(value)) continue;
    why += (why.empty() ? "" : "; ") + std::string(inputs[i].first) + " is " +
           (std::isnan(value) ? "nan" : value > 0 ? "inf" : "-inf");
  }
  const std::optional<Divisor> d = divisor(in);
  if (with_end && d && d->value == 0) {
    why += (why.empty() ? "the divisor " : "; the divisor ") + std::string(d->field) + " is 0";
  }
  if (why.empty()) why = "the slab end lies beyond the range of a float";
  return "the Rx is not finite (" + which + "): " + why;
}

std::string nonUnitNormal(const RxInputs& in) {
  const double r = in.norm_R, a = in.norm_A, s = in.norm_S;
  const double length = std::sqrt(r * r + a * a + s * s);
  if (std::fabs(length - 1.0) <= 0.001) return {};  // a NaN length fails this too
  char message[160];
  std::snprintf(message, sizeof message,
                "the slab normal has length %.4f, not 1: is this the build for this file's "
                "revision?",
                length);
  return message;
}

std::string slabBeyondBore(const RxRecord& rx, bool with_end) {
  const std::pair<const char*, float> values[] = {
      {"Start R/L", rx.start_rl}, {"Start A/P", rx.start_ap}, {"Start S/I", rx.start_si},
      {"End R/L", rx.end_rl},     {"End A/P", rx.end_ap},     {"End S/I", rx.end_si}};
  for (std::size_t i = 0; i < (with_end ? 6u : 3u); ++i) {
    if (std::fabs(values[i].second) <= 10000.0f) continue;
    char message[128];
    std::snprintf(message, sizeof message, "%s lies at %g mm, beyond any bore (10000 mm)",
                  values[i].first, static_cast<double>(values[i].second));
    return message;
  }
  return {};
}

namespace {

// A coordinate as the report prints it: the negative letter below zero, else
// the positive one (so zero, -0.0 and NaN take the positive letter).
struct Coordinate {
  char letter;
  double magnitude;
};

Coordinate coordinate(float value, char negative, char positive) {
  return {value < 0 ? negative : positive, static_cast<double>(std::fabs(value))};
}

std::string coordinateLine(const char* label, float rl, float ap, float si) {
  const Coordinate r = coordinate(rl, 'R', 'L');
  const Coordinate a = coordinate(ap, 'A', 'P');
  const Coordinate s = coordinate(si, 'I', 'S');
  // A finite float has at most 39 integer digits; 160 bytes always suffice.
  char line[160];
  const int n = std::snprintf(line, sizeof line, "%s\t%c%0.1f\t%c%0.1f\t%c%0.1f\n", label,
                              r.letter, r.magnitude, a.letter, a.magnitude, s.letter, s.magnitude);
  return {line, static_cast<std::size_t>(n)};
}

// The Rx report: the slab normal, then the table, whose End line is left out
// when the end is unknown.
void printRxReport(const RxRecord& rx, const RxInputs& in, bool with_end, std::FILE* out) {
  std::fprintf(out, "norm_R= %5.4f, norm_A=%5.4f, norm_S=%5.4f\n", static_cast<double>(in.norm_R),
               static_cast<double>(in.norm_A), static_cast<double>(in.norm_S));
  std::fputs("---------------------------------\n", out);
  std::fputs(" \tR/L\tA/P\tS/I\n", out);
  std::fputs(startLine(rx).c_str(), out);
  if (with_end) std::fputs(endLine(rx).c_str(), out);
  std::fputs("---------------------------------\n", out);
}

// The letter as a reader can see it, even when it is a control byte.
std::string visibleLetter(unsigned char letter) {
  char text[8];
  if (std::isprint(letter)) {
    std::snprintf(text, sizeof text, "'%c'", letter);
  } else {
    std::snprintf(text, sizeof text, "0x%02X", letter);
  }
  return text;
}

// The messages about one report for standard error, and the outcome they
// add up to. A value is blamed only when the input held its bytes.
struct Findings {
  RxOutcome outcome = RxOutcome::ok;
  std::vector<std::string> messages;
  bool check_failed = false;  // the normal's length or the header's self-consistency

  void add(RxOutcome found, std::string message) {
    if (outcome == RxOutcome::ok) outcome = found;
    check_failed = check_failed || found == RxOutcome::not_unit_normal ||
                   found == RxOutcome::not_self_consistent;
    messages.push_back(std::move(message));
  }
};

// "PROGRAM: PFILE: MESSAGE" on `err`, after what `out` holds so far.
void complain(const Layout& layout, const char* pfile, const std::string& message,
              std::FILE* out, std::FILE* err) {
  pfile::report(layout.program, pfile, message, out, err);
}

// What the read itself found: an error, or an input shorter than the header.
Findings readFindings(const Layout& layout, const pfile::ReadResult& read) {
  Findings found;
  if (read.error != 0) {
    found.add(RxOutcome::read_error, std::strerror(read.error));
  } else if (read.got < layout.header_size) {
    found.add(RxOutcome::short_read, "the file holds " + std::to_string(read.got) +
                                         " bytes; " + std::string(layout.name) + " reads " +
                                         std::to_string(layout.header_size));
  }
  return found;
}

// `scan`: the header as its revision's row reads it, in a build of
// revision-table rows; null otherwise.
Findings examine(const Layout& layout, const pfile::ReadResult& read, const RxInputs& in,
                 const RxRecord& rx, bool known_letter, const pfile::ScanHeader* scan) {
  Findings found = readFindings(layout, read);
  const bool letter_read = read.got > layout.series_position + layout.rx.start_ras;
  if (!known_letter && letter_read) {
    found.add(RxOutcome::unknown_letter, "start_ras is " + visibleLetter(in.start_ras) +
                                             ", not one of R, L, A, P, S, I; "
                                             "the slab end is not computed");
  }
  if (read.got >= rxInputsEnd(layout)) {
    std::string not_finite = nonFiniteRx(in, rx, known_letter);
    // torvek names the revision whose table it read with; torvek-rev20 keeps
    // its own question.
    std::string not_unit = scan && layout.every_revision ? pfile::normalLengthDisagreement(*scan)
                                                         : nonUnitNormal(in);
    if (!not_finite.empty()) {
      found.add(RxOutcome::not_finite, std::move(not_finite));
    } else if (!not_unit.empty()) {
      found.add(RxOutcome::not_unit_normal, std::move(not_unit));
    }
  }
  // A header read whole with the right table agrees with itself; the first
  // disagreement found is reported.
  if (scan && found.outcome == RxOutcome::ok) {
    std::string why = pfile::cornerDisagreement(*scan);
    if (why.empty()) why = pfile::examNumberDisagreement(*scan);
    if (why.empty()) {
      if (std::string beyond = slabBeyondBore(rx, known_letter); !beyond.empty()) {
        why = pfile::tableQuestion(*scan, beyond);
      }
    }
    if (!why.empty()) found.add(RxOutcome::not_self_consistent, std::move(why));
  }
  return found;
}

// The Rx report of a header read into `header`, and what standard error
// says about it.
RxOutcome reportHeader(const Layout& layout, Bytes header, const pfile::ReadResult& read,
                       const pfile::ScanHeader* scan, RxRecord& rx, const char* pfile,
                       std::FILE* out, std::FILE* err, RxSeen* seen) {
  const RxInputs in = loadRxInputs(layout, header);
  const bool known_letter = computeRx(in, rx);
  printRxReport(rx, in, known_letter, out);

  const Findings found = examine(layout, read, in, rx, known_letter, scan);
  if (seen) {
    seen->got = read.got;
    seen->inputs = in;
    seen->end_known = known_letter;
    seen->refused = found.check_failed;
    const auto image = [&](std::size_t offset) {
      return layout.image_position + offset + 4 <= read.got;
    };
    const RxFieldOffsets& at = layout.rx;
    seen->held = {image(at.ctr_R),  image(at.ctr_A),  image(at.ctr_S),
                  image(at.norm_R), image(at.norm_A), image(at.norm_S)};
    seen->all_held = rxInputsEnd(layout) <= read.got;
  }
  for (const std::string& message : found.messages) complain(layout, pfile, message, out, err);
  return found.outcome;
}

// A refused header: what the read found, then why; no report at all, rather
// than numbers read from the wrong places.
RxOutcome refuse(const Layout& layout, const pfile::ReadResult& read, RxOutcome outcome,
                 std::string why, const char* pfile, std::FILE* out, std::FILE* err) {
  Findings found = layout.header_size > 0 ? readFindings(layout, read) : Findings{};
  if (read.error != 0 && found.outcome == RxOutcome::ok) {
    found.add(RxOutcome::read_error, std::strerror(read.error));
  }
  found.add(outcome, std::move(why));
  for (const std::string& message : found.messages) complain(layout, pfile, message, out, err);
  return found.outcome;
}

// The run of a build of revision-table rows: the revision first, then the
// rest of its header in one read (torvek-rev20 reads its one header size at
// once), its offset words checked, and the Rx from the row's places.
RxOutcome reportRevision(const Layout& build, RxRecord& rx, int fd, const char* pfile,
                         std::FILE* out, std::FILE* err, RxSeen* seen) {
  // Left uninitialised but for the bytes read and zeros after them.
  std::size_t size = firstReadSize(build);
  auto buffer = std::make_unique_for_overwrite<std::byte[]>(size);
  pfile::ReadResult read = pfile::readFully(fd, {buffer.get(), size});
  std::fill(buffer.get() + read.got, buffer.get() + size, std::byte{0});
  const pfile::Revision* row =
      read.got >= 4 ? revisionRead(build, {buffer.get(), size}) : nullptr;
  if (seen && read.got >= 4) {
    const Bytes first(buffer.get(), size);
    seen->revision = pfile::inHostOrder(pfile::load<float>(first, 0), readsReversed(build, first));
  }
  if (!row) {
    Layout sized = build;  // the size of the read that found no revision
    sized.header_size = build.every_revision ? 0 : size;
    if (read.got < sized.header_size) std::fputs("\n.Error in readMRImageHeader().", out);
    const RxOutcome outcome = read.got < 4 && read.error == 0 && build.every_revision
                                  ? RxOutcome::short_read
                                  : RxOutcome::wrong_revision;
    return refuse(sized, read, outcome, revisionRefusal(build, {buffer.get(), size}, read.got),
                  pfile, out, err);
  }
  if (row->header_size > size) {
    auto whole = std::make_unique_for_overwrite<std::byte[]>(row->header_size);
    std::copy_n(buffer.get(), size, whole.get());
    if (read.got == size && read.error == 0) {
      const pfile::ReadResult rest =
          pfile::readFully(fd, {whole.get() + size, row->header_size - size});
      read = {size + rest.got, rest.error};
    }
    buffer = std::move(whole);
    size = row->header_size;
    std::fill(buffer.get() + read.got, buffer.get() + size, std::byte{0});
  }
  const Bytes header(buffer.get(), size);
  if (read.got < row->header_size) std::fputs("\n.Error in readMRImageHeader().", out);

  // Offset words are checked once the raw-data header holding them is read;
  // a shorter input is a short read, and the row's own places stand.
  const bool reversed = readsReversed(build, header);
  const pfile::LayoutResult table = pfile::headerLayout(*row, header, reversed);
  const HeaderPlan plan(build, table.layout);
  if (!table.refusal.empty() && read.got >= 4096) {
    return refuse(plan.layout(), read, RxOutcome::wrong_revision, table.refusal, pfile, out, err);
  }
  const pfile::ScanHeader scan(header, reversed, plan.table());
  const bool whole = read.got >= row->header_size && read.error == 0;
  return reportHeader(plan.layout(), header, read, whole ? &scan : nullptr, rx, pfile, out, err,
                      seen);
}

}  // namespace

std::string startLine(const RxRecord& rx) {
  return coordinateLine("Start:", rx.start_rl, rx.start_ap, rx.start_si);
}

std::string endLine(const RxRecord& rx) {
  return coordinateLine("End:", rx.end_rl, rx.end_ap, rx.end_si);
}

RxOutcome reportRx(const Layout& layout, RxRecord& rx, int fd, const char* pfile, std::FILE* out,
                   std::FILE* err, RxSeen* seen) {
  std::fprintf(out, "Retrieving Rx info from pfile %s!\n", pfile::shownName(pfile).c_str());
  if (readsRevisions(layout)) return reportRevision(layout, rx, fd, pfile, out, err, seen);
  // Left uninitialised here: readPFileHeader fills every byte.
  const auto buffer = std::make_unique_for_overwrite<std::byte[]>(layout.header_size);
  const std::span<std::byte> header(buffer.get(), layout.header_size);
  const pfile::ReadResult read = readPFileHeader(layout, header, fd, out);
  if (layout.dump_records) layout.dump_records(header, out);
  return reportHeader(layout, header, read, nullptr, rx, pfile, out, err, seen);
}

RxOutcome readrx(const Layout& layout, RxRecord& rx, const char* pfile, std::FILE* out,
                 std::FILE* err, RxSeen* seen) {
  const int fd = pfile::openInput(pfile);
  if (fd < 0) {
    const int error = errno;
    std::fprintf(out, "Can't open pfile %s!\n", pfile::shownName(pfile).c_str());
    complain(layout, pfile, std::strerror(error), out, err);
    return RxOutcome::cant_open;
  }
  const RxOutcome outcome = reportRx(layout, rx, fd, pfile, out, err, seen);
  ::close(fd);
  return outcome;
}

void printLayoutReport(const Layout& layout, std::FILE* out) {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
  // Each format holds at most one %i, checked when the table is compiled.
  for (const ReportLine& line : layout.report) std::fprintf(out, line.format, line.value);
#pragma GCC diagnostic pop
}

}  // namespace torvek
