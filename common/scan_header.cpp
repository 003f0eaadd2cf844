// Reading a scanner-written header's fields, and the checks that tell a
// reading made with the wrong table.
#include "common/scan_header.hpp"

#include <array>
#include <cmath>
#include <cstdio>

namespace pfile {

Bytes ScanHeader::record(Record which) const {
  Block block{0, 4096};
  switch (which) {
    case Record::raw: break;
    case Record::exam: block = layout_.exam; break;
    case Record::series: block = layout_.series; break;
    case Record::image: block = layout_.image; break;
  }
  if (block.start > bytes_.size() || bytes_.size() - block.start < block.size) {
    throw std::out_of_range("header record lies outside the header");
  }
  return bytes_.subspan(block.start, block.size);
}

std::int64_t ScanHeader::integer(Record which, const Field& field) const {
  const Bytes in = record(which);
  switch (field.kind) {
    case Kind::s16: return number<std::int16_t>(in, field.offset);
    case Kind::u16: return number<std::uint16_t>(in, field.offset);
    case Kind::s32: return number<std::int32_t>(in, field.offset);
    case Kind::u32: return number<std::uint32_t>(in, field.offset);
    case Kind::f32:
    case Kind::letter:
    case Kind::text: break;
  }
  throw std::invalid_argument("not an integer field");
}

float ScanHeader::real(Record which, const Field& field) const {
  if (field.kind != Kind::f32) throw std::invalid_argument("not a float field");
  return number<float>(record(which), field.offset);
}

unsigned char ScanHeader::letterAt(Record which, const Field& field) const {
  return load<unsigned char>(record(which), field.offset);
}

std::string_view ScanHeader::textAt(Record which, const Field& field) const {
  const Bytes in = record(which);
  if (field.end() > in.size()) throw std::out_of_range("text field lies outside its record");
  return text(in.first(field.end()), field.offset);
}

Bytes ScanHeader::sliceEntry(std::size_t i) const {
  const std::size_t size = layout_.slice_entry_size;
  if (i >= layout_.slice_entries) throw std::out_of_range("slice entry beyond the table");
  const std::size_t start = layout_.slice_table + size * i;
  if (start > bytes_.size() || bytes_.size() - start < size) {
    throw std::out_of_range("slice entry lies outside the header");
  }
  return bytes_.subspan(start, size);
}

std::string revisionLabel(const ScanHeader& header) {
  return std::string("revision ") + header.revision().name;
}

namespace {

struct Vector {
  double r = 0, a = 0, s = 0;
};

Vector vectorAt(const ScanHeader& header, const Triple& fields) {
  return {header.real(Record::image, fields[0]), header.real(Record::image, fields[1]),
          header.real(Record::image, fields[2])};
}
Vector minus(const Vector& x, const Vector& y) { return {x.r - y.r, x.a - y.a, x.s - y.s}; }
Vector cross(const Vector& x, const Vector& y) {
  return {x.a * y.s - x.s * y.a, x.s * y.r - x.r * y.s, x.r * y.a - x.a * y.r};
}
double dot(const Vector& x, const Vector& y) { return x.r * y.r + x.a * y.a + x.s * y.s; }
double length(const Vector& x) { return std::sqrt(dot(x, x)); }
bool isZero(const Vector& x) { return x.r == 0 && x.a == 0 && x.s == 0; }

}  // namespace

std::string tableQuestion(const ScanHeader& header, const std::string& finding) {
  return finding + ": is " + revisionLabel(header) + "'s table right for this file?";
}

std::string normalLengthDisagreement(const ScanHeader& header) {
  const double size = length(vectorAt(header, header.revision().image_fields->normal));
  if (std::fabs(size - 1.0) <= 0.001) return {};  // a NaN length fails this too
  char finding[96];
  std::snprintf(finding, sizeof finding, "the slab normal has length %.4f, not 1", size);
  return tableQuestion(header, finding);
}

std::string cornerDisagreement(const ScanHeader& header) {
  const ImageFields& fields = *header.revision().image_fields;
  const Vector top_left = vectorAt(header, fields.top_left);
  const Vector top_right = vectorAt(header, fields.top_right);
  const Vector bottom_right = vectorAt(header, fields.bottom_right);
  if (isZero(top_left) && isZero(top_right) && isZero(bottom_right)) return {};

  const Vector across = minus(top_right, top_left);
  const Vector down = minus(bottom_right, top_right);
  const Vector plane_normal = cross(across, down);
  const Vector normal = vectorAt(header, fields.normal);
  const double lengths = length(plane_normal) * length(normal);
  // A zero cross product (corners on one line) or a zero normal fails too.
  if (!(lengths > 0) || !(std::fabs(dot(plane_normal, normal)) / lengths >= 0.999)) {
    return tableQuestion(header, "the normal disagrees with the image corners");
  }
  const double edge = std::max(length(across), length(down));
  const double fov = header.real(Record::image, fields.field_of_view);
  if (!(std::fabs(edge - fov) <= 0.01 * std::fabs(fov))) {
    char finding[160];
    std::snprintf(finding, sizeof finding,
                  "the image corners span %.1f mm where the field of view is %.1f mm", edge, fov);
    return tableQuestion(header, finding);
  }
  return {};
}

std::string examNumberDisagreement(const ScanHeader& header) {
  const Revision& revision = header.revision();
  const std::int64_t in_exam = header.integer(Record::exam, revision.exam_fields->exam_number);
  const std::int64_t in_series =
      header.integer(Record::series, revision.series_fields->exam_number);
  if (in_exam == in_series) return {};
  return tableQuestion(header, "the exam number is " + std::to_string(in_exam) +
                                  " in the exam record and " + std::to_string(in_series) +
                                  " in the series record");
}

bool geometryAllZero(const ScanHeader& header) {
  const ImageFields& fields = *header.revision().image_fields;
  for (const Triple* triple :
       {&fields.normal, &fields.top_left, &fields.top_right, &fields.bottom_right}) {
    if (!isZero(vectorAt(header, *triple))) return false;
  }
  return true;
}

}  // namespace pfile
