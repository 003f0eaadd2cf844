// A scanner-written header of a known revision, ready to be read: its bytes,
// the byte order of its numbers, and where its blocks lie. Every field of
// the revision table is read through here, each number in the header's
// order and widened to a type that holds every value of its kind.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "common/bytes.hpp"
#include "common/revisions.hpp"

namespace pfile {

enum class Record { raw, exam, series, image };

class ScanHeader {
 public:
  // `bytes` holds at least layout.header_size bytes (what the input did not
  // hold zero-filled); `reversed` as storedReversed gave it.
  ScanHeader(Bytes bytes, bool reversed, const HeaderLayout& layout)
      : bytes_(bytes), reversed_(reversed), layout_(layout) {}

  const HeaderLayout& layout() const { return layout_; }
  const Revision& revision() const { return *layout_.revision; }
  bool reversed() const { return reversed_; }
  Bytes bytes() const { return bytes_; }

  // The record's bytes: exactly its block of the header.
  Bytes record(Record which) const;

  // An integer field (s16, u16, s32, u32), widened with its sign.
  std::int64_t integer(Record which, const Field& field) const;
  // An f32 field.
  float real(Record which, const Field& field) const;
  // A letter field's byte.
  unsigned char letterAt(Record which, const Field& field) const;
  // A text field: its bytes up to the first zero byte or the end of the field.
  std::string_view textAt(Record which, const Field& field) const;

  // The slice table's entry i (i below layout().slice_entries).
  Bytes sliceEntry(std::size_t i) const;

  // A number of type T at `offset` of `bytes`, in the header's byte order.
  template <class T>
  T number(Bytes in, std::size_t offset) const {
    const T stored = load<T>(in, offset);
    return reversed_ ? byteReversed(stored) : stored;
  }

 private:
  Bytes bytes_;
  bool reversed_;
  HeaderLayout layout_;
};

// The revision's name for messages: "revision 16.000".
std::string revisionLabel(const ScanHeader& header);

// The checks a reading made with the right table passes, each empty when it
// holds, else a message that names the revision and the check and ends
// ": is revision 16.000's table right for this file?".
// - the slab normal has length 1 within 0.001;
// - when the three corners of the image plane are not all zero: the normal
//   is parallel (either sign, |cos| >= 0.999) to (top right - top left) x
//   (bottom right - top right), and the longer of those two edges equals the
//   field of view within 1 %;
// - the exam number in the exam record equals its copy in the series record.
// `finding` followed by ": is revision 16.000's table right for this file?".
std::string tableQuestion(const ScanHeader& header, const std::string& finding);

std::string normalLengthDisagreement(const ScanHeader& header);
std::string cornerDisagreement(const ScanHeader& header);
std::string examNumberDisagreement(const ScanHeader& header);

// True when the image record's normal and its three corners are all zero,
// as in a calibration scan that prescribes no slab.
bool geometryAllZero(const ScanHeader& header);

}  // namespace pfile
