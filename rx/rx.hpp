// The prescription (Rx) of a scan: where the prescribed slab starts and ends
// on the R/L, A/P and S/I axes, computed from the series and image records.
#pragma once

#include <array>
#include <cstdio>
#include <optional>
#include <string>

#include "rx/layout.hpp"

namespace torvek {

// Six single-precision coordinates, owned by the caller of readrx.
struct RxRecord {
  float start_rl = 0, end_rl = 0;
  float start_ap = 0, end_ap = 0;
  float start_si = 0, end_si = 0;
};

// How a readrx call ended. Only `ok` leaves an Rx record that may be written
// into a dataset. When several apply, the first in this order is reported.
enum class RxOutcome {
  ok, cant_open, read_error, short_read, wrong_revision, unknown_letter, not_finite,
  not_unit_normal, not_self_consistent
};

// The nine inputs of the Rx, as the header holds them.
struct RxInputs {
  unsigned char start_ras;
  float start_loc, end_loc;
  float ctr_R, ctr_A, ctr_S;
  float norm_R, norm_A, norm_S;
};

// The inputs from the header buffer, each float in the header's byte order
// (host order unless the layout checks a revision that tells another).
RxInputs loadRxInputs(const Layout& layout, Bytes header);

// Fills the start values; fills the end values and returns true only when
// start_ras is one of the letters R, L, A, P, S, I, which choose the divisor.
bool computeRx(const RxInputs& in, RxRecord& rx);

// Empty when every value of the report is finite (the End values count only
// when `with_end`); otherwise which values are not and why, for instance
// "the Rx is not finite (End R/L, End A/P, End S/I): the divisor norm_S is 0".
std::string nonFiniteRx(const RxInputs& in, const RxRecord& rx, bool with_end);

// Empty when the slab normal (norm_R, norm_A, norm_S) has length 1 within
// 0.001, computed in double; otherwise, for instance, "the slab normal has
// length 1.1456, not 1: is this the build for this file's revision?". A
// scanner stores a unit normal; another length means the header was read
// with the wrong layout or byte order.
std::string nonUnitNormal(const RxInputs& in);

// Empty when every coordinate of the slab's start and (when `with_end`) end
// lies within 10,000 mm of the isocentre, as in any bore; otherwise which
// one does not, e.g. "End S/I lies at 1e+31 mm, beyond any bore (10000 mm)".
// The end divides by one normal component, so a normal almost perpendicular
// to the start_ras axis gives such ends.
std::string slabBeyondBore(const RxRecord& rx, bool with_end);

// "Start:\t..." and "End:\t..." lines, each coordinate a letter chosen by its
// sign and the absolute value with one decimal (L0.0 for zero and -0.0).
std::string startLine(const RxRecord& rx);
std::string endLine(const RxRecord& rx);

// What a readrx call saw of the header, for the JSON report: how many bytes
// the input held, the revision (for a build that checks revisions, when its
// bytes came), and the Rx inputs once the Rx was computed (not for an
// unopenable file or a refused revision).
struct RxSeen {
  std::size_t got = 0;
  std::optional<float> revision;
  std::optional<RxInputs> inputs;
  bool end_known = false;  // start_ras is one of the six letters
  bool refused = false;    // a check of the normal or of the header's consistency failed
  // Which of ctr_R, ctr_A, ctr_S, norm_R, norm_A, norm_S the input held, and
  // whether it held every Rx input.
  std::array<bool, 6> held{};
  bool all_held = false;
};

// Opens the Pfile, reads the layout's records, dumps them where the layout
// does, computes the Rx into `rx` and prints the Rx report on `out`. What the
// report cannot carry goes to `err`, after `out` is flushed, each line
// starting with the program's name and the path: the system error of a failed
// open or read; how many bytes a short input holds against the bytes the
// layout reads; a revision the layout does not read (then no Rx report is
// printed); an unknown start_ras letter; a value that is not finite; a slab
// normal not of unit length; in a build of revision-table rows, a header
// that disagrees with itself (see slabBeyondBore and common/scan_header.hpp).
// A value is blamed only when its bytes were read.
// An unopenable file, or a refused revision, leaves `rx` untouched.
// `seen`, when given, is filled as the header is read.
RxOutcome readrx(const Layout& layout, RxRecord& rx, const char* pfile, std::FILE* out,
                 std::FILE* err, RxSeen* seen = nullptr);

// The part of readrx after the open: reads from `fd` (positioned at the start
// of the input) and reports as above.
RxOutcome reportRx(const Layout& layout, RxRecord& rx, int fd, const char* pfile, std::FILE* out,
                   std::FILE* err, RxSeen* seen = nullptr);

// The layout report: one line per entry of the layout's table (nothing for a
// layout without one).
void printLayoutReport(const Layout& layout, std::FILE* out);

}  // namespace torvek
