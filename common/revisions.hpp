// The header revisions GE scanners write, as data: for each revision the
// bit pattern of its number at offset 0, the header's size, where its exam,
// series and image records and its slice table lie (fixed, or given by
// offset words inside the header), and where every field the tools use lies
// inside its record. Revisions share record layouts in families; a row names
// its families. The compiler checks that every field lies inside its record,
// every record and the slice table inside the header, and every word inside
// the raw-data header.
//
// A revision found wrong later is a change of its row (or of one family).
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "common/bytes.hpp"

namespace pfile {

// How a field is stored: numbers in the header's byte order, a one-byte
// letter, or a text of up to `length` bytes that ends at its first zero byte.
enum class Kind : std::uint8_t { s16, u16, s32, u32, f32, letter, text };

constexpr std::size_t widthOf(Kind kind) {
  switch (kind) {
    case Kind::s16:
    case Kind::u16: return 2;
    case Kind::s32:
    case Kind::u32:
    case Kind::f32: return 4;
    case Kind::letter: return 1;
    case Kind::text: return 0;  // a text's width is its length
  }
  return 0;
}

// Where a field lies in its record and how it is stored.
struct Field {
  std::uint32_t offset = 0;
  Kind kind = Kind::f32;
  std::uint32_t length = 0;  // texts: the bytes the field may fill

  constexpr std::size_t end() const {
    return std::size_t{offset} + (kind == Kind::text ? length : widthOf(kind));
  }
};

constexpr Field s16(std::uint32_t offset) { return {offset, Kind::s16}; }
constexpr Field u16(std::uint32_t offset) { return {offset, Kind::u16}; }
constexpr Field s32(std::uint32_t offset) { return {offset, Kind::s32}; }
constexpr Field u32(std::uint32_t offset) { return {offset, Kind::u32}; }
constexpr Field f32(std::uint32_t offset) { return {offset, Kind::f32}; }
constexpr Field letter(std::uint32_t offset) { return {offset, Kind::letter}; }
constexpr Field text(std::uint32_t offset, std::uint32_t length) {
  return {offset, Kind::text, length};
}
// Three floats, each four bytes after the one before: a point or a vector.
using Triple = std::array<Field, 3>;
constexpr Triple f32x3(std::uint32_t offset) {
  return {f32(offset), f32(offset + 4), f32(offset + 8)};
}

// The raw-data header record, the first 4096 bytes of every revision.
struct RawFields {
  Field run_number, scan_date, scan_time, slice_count, echoes, image_size;
  std::array<Field, 6> user;  // user0 ... user5
  Field r1, r2, tg, frequency;  // frequency in tenths of a hertz
};

struct ExamFields {
  Field exam_number, description, history, referring_physician, radiologist;
  Field patient_name, patient_id, requisition_number;
};

struct SeriesFields {
  Field exam_number, series_number, description, patient_entry;
  Field start_ras, start_loc, end_loc;  // start_ras: the letter of the start location's axis
};

struct ImageFields {
  Field field_of_view, slice_thickness, spacing, user5, user10;
  Triple centre, normal;                            // R, A, S
  Triple top_left, top_right, bottom_right;         // corners of the image plane
  Field repetition_time, echo_time;                 // microseconds
  Field oblique_plane, plane, flip_angle;
  Field pulse_sequence, internal_name, coil;
};

// One block of the header: its offset from the start of the file and size.
struct Block {
  std::size_t start = 0, size = 0;
  constexpr std::size_t end() const { return start + size; }
};

// Where a revision's records are found: at fixed offsets, or at offsets the
// header itself gives in 32-bit words of the raw-data header (which must
// then agree with the row).
enum class Positions : std::uint8_t {
  fixed,
  words_at_1468,  // header size 1468, slice table 1480, exam/series/image 1496/1500/1504
  words_at_4,     // header size 4, slice table 16, the block after it 20, exam/series/image 32/36/40
};

struct RevisionWords {
  std::size_t header_size, slice_table, after_slice_table, exam, series, image;
};
// `after_slice_table` is 0 where the revision has no such word.
constexpr RevisionWords wordsOf(Positions positions) {
  switch (positions) {
    case Positions::words_at_1468: return {1468, 1480, 0, 1496, 1500, 1504};
    case Positions::words_at_4: return {4, 16, 20, 32, 36, 40};
    case Positions::fixed: break;
  }
  return {};
}

struct Revision {
  const char* name;            // as scanners' software names it: "14.3", "20.006"
  std::uint32_t bits;          // the float at offset 0, as an IEEE-754 bit pattern
  std::size_t header_size;
  Block exam, series, image;
  std::size_t slice_table;     // offset of the slice table (its first entry)
  std::size_t slice_entries;   // capacity of the table
  std::size_t slice_entry_size;  // 0: the words give it (slice table word to the next word)
  Positions positions;
  const RawFields* raw;
  const ExamFields* exam_fields;
  const SeriesFields* series_fields;
  const ImageFields* image_fields;

  float number() const { return std::bit_cast<float>(bits); }
};

// Every revision the tools read, in order of revision.
std::span<const Revision> scannerRevisions();

// The row whose number is exactly `revision` (compared bit for bit), or null.
const Revision* findRevision(float revision);

// "7.0, 9.0, ..., 20.005-20.007, ...": the revisions of `rows` for a message,
// three or more rows of one major number in a row shown as a range.
std::string revisionList(std::span<const Revision> rows);

// Where one header's blocks lie, once its words, if any, are read and checked.
struct HeaderLayout {
  const Revision* revision = nullptr;
  std::size_t header_size = 0;
  Block exam, series, image;
  std::size_t slice_table = 0, slice_entry_size = 0, slice_entries = 0;
};

struct LayoutResult {
  HeaderLayout layout;
  std::string refusal;  // empty when the layout holds, else why not, for standard error
};

// The layout of `header` (which holds at least the raw-data header, numbers
// in the order `reversed` says) for `revision`. Where the revision has
// offset words, each is read and must agree with the row (a slice entry size
// the words give must hold an entry's slice number and three points and fit
// the header); otherwise the refusal says which word gives what, e.g. "the
// word at 36 gives the series record at 9999999, outside the 213684-byte
// header". Fixed positions are taken from the row; no word is read.
LayoutResult headerLayout(const Revision& revision, Bytes header, bool reversed);

}  // namespace pfile
