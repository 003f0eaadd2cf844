// Rx computation and report.
#include "rx/rx.hpp"

#include <cctype>
#include <cmath>
#include <fcntl.h>
#include <unistd.h>
#include <memory>

#include "rx/header_read.hpp"

namespace torvek {

RxInputs loadRxInputs(const Layout& layout, Bytes header) {
  const Bytes series = header.subspan(layout.series_position);
  const Bytes image = header.subspan(layout.image_position);
  const RxFieldOffsets& at = layout.rx;
  using pfile::load;
  return {
      load<unsigned char>(series, at.start_ras),
      load<float>(series, at.start_loc), load<float>(series, at.end_loc),
      load<float>(image, at.ctr_R), load<float>(image, at.ctr_A), load<float>(image, at.ctr_S),
      load<float>(image, at.norm_R), load<float>(image, at.norm_A), load<float>(image, at.norm_S),
  };
}

bool computeRx(const RxInputs& in, RxRecord& rx) {
  rx.start_rl = -in.ctr_R;
  rx.start_ap = -in.ctr_A;
  rx.start_si = in.ctr_S;

  float d;
  switch (in.start_ras) {
    case 'A': case 'P': d = in.norm_A; break;
    case 'S': case 'I': d = in.norm_S; break;
    case 'R': case 'L': d = in.norm_R; break;
    default: return false;
  }
  // Single precision throughout, each end in the order multiply, divide, add.
  const float span = in.end_loc - in.start_loc;
  rx.end_rl = -(span * in.norm_R / d + in.ctr_R);
  rx.end_ap = -(span * in.norm_A / d + in.ctr_A);
  rx.end_si = span * in.norm_S / d + in.ctr_S;
  return true;
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

void printStartOnly(const RxRecord& rx, const RxInputs& in, std::FILE* out) {
  std::fprintf(out, "norm_R= %5.4f, norm_A=%5.4f, norm_S=%5.4f\n", static_cast<double>(in.norm_R),
               static_cast<double>(in.norm_A), static_cast<double>(in.norm_S));
  std::fputs("---------------------------------\n", out);
  std::fputs(" \tR/L\tA/P\tS/I\n", out);
  std::fputs(startLine(rx).c_str(), out);
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

}  // namespace

std::string startLine(const RxRecord& rx) {
  return coordinateLine("Start:", rx.start_rl, rx.start_ap, rx.start_si);
}

std::string endLine(const RxRecord& rx) {
  return coordinateLine("End:", rx.end_rl, rx.end_ap, rx.end_si);
}

RxOutcome reportRx(const Layout& layout, RxRecord& rx, int fd, const char* pfile, std::FILE* out,
                   std::FILE* err) {
  std::fprintf(out, "Retrieving Rx info from pfile %s!\n", pfile);
  // Left uninitialised here: readPFileHeader zero-fills it before reading.
  const auto buffer = std::make_unique_for_overwrite<std::byte[]>(layout.header_buffer_size);
  const std::span<std::byte> header(buffer.get(), layout.header_buffer_size);
  const bool short_read = readPFileHeader(layout, header, fd, out) != 0;
  if (layout.dump_records) layout.dump_records(header, out);

  const RxInputs in = loadRxInputs(layout, header);
  const bool known_letter = computeRx(in, rx);
  printStartOnly(rx, in, out);
  if (known_letter) std::fputs(endLine(rx).c_str(), out);
  std::fputs("---------------------------------\n", out);

  if (!known_letter) {
    std::fflush(out);
    std::fprintf(err,
                 "%s: %s: start_ras is %s, not one of R, L, A, P, S, I; "
                 "the slab end is not computed\n",
                 layout.program, pfile, visibleLetter(in.start_ras).c_str());
  }
  if (short_read) return RxOutcome::short_read;
  return known_letter ? RxOutcome::ok : RxOutcome::unknown_letter;
}

RxOutcome readrx(const Layout& layout, RxRecord& rx, const char* pfile, std::FILE* out,
                 std::FILE* err) {
  // O_NONBLOCK only for the open: a FIFO without a writer then reads as an
  // empty file instead of blocking the run.
  const int fd = ::open(pfile, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    std::fprintf(out, "Can't open pfile %s!\n", pfile);
    return RxOutcome::cant_open;
  }
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) (void)::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  const RxOutcome outcome = reportRx(layout, rx, fd, pfile, out, err);
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
