// Reading a value of the revision table's fields from a header.
#include "summary/scan_values.hpp"

#include <algorithm>
#include <stdexcept>

namespace melvane {
namespace {

using pfile::Kind;
using pfile::Record;

pfile::Bytes bytesOf(const pfile::ScanHeader& header, From from, std::size_t entry) {
  switch (from) {
    case From::raw: return header.record(Record::raw);
    case From::exam: return header.record(Record::exam);
    case From::series: return header.record(Record::series);
    case From::image: return header.record(Record::image);
    case From::slice_entry: return header.sliceEntry(entry);
  }
  throw std::logic_error("unknown record");
}

}  // namespace

std::int64_t integerOf(const pfile::ScanHeader& header, Source source, std::size_t entry) {
  const pfile::Field field = source.field(header.revision());
  const pfile::Bytes in = bytesOf(header, source.from, entry);
  switch (field.kind) {
    case Kind::s16: return header.number<std::int16_t>(in, field.offset);
    case Kind::u16: return header.number<std::uint16_t>(in, field.offset);
    case Kind::s32: return header.number<std::int32_t>(in, field.offset);
    case Kind::u32: return header.number<std::uint32_t>(in, field.offset);
    case Kind::f32:
    case Kind::letter:
    case Kind::text: break;
  }
  throw std::logic_error("the table gives an integer's field another kind");
}

float realOf(const pfile::ScanHeader& header, Source source, std::size_t entry) {
  const pfile::Field field = source.field(header.revision());
  if (field.kind != Kind::f32) {
    throw std::logic_error("the table gives a float's field another kind");
  }
  return header.number<float>(bytesOf(header, source.from, entry), field.offset);
}

std::string_view textOf(const pfile::ScanHeader& header, Source source, std::size_t entry) {
  const pfile::Field field = source.field(header.revision());
  if (field.kind != Kind::text) {
    throw std::logic_error("the table gives a text's field another kind");
  }
  const pfile::Bytes in = bytesOf(header, source.from, entry);
  const bool to_record_end = static_cast<int>(header.revision().number()) == 20;
  return pfile::text(to_record_end ? in : in.first(field.end()), field.offset);
}

std::int32_t sliceCount(const pfile::ScanHeader& header) {
  const std::int64_t stored = integerOf(header, kSliceCount);
  // Conversions to a narrower signed type keep the low bits (two's complement).
  if (pfile::widthOf(kSliceCount.field(header.revision()).kind) == 2) {
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(stored));
  }
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(stored));
}

std::size_t slicesShown(const pfile::ScanHeader& header) {
  const std::int32_t count = sliceCount(header);
  return std::min(count > 0 ? static_cast<std::size_t>(count) : 0, header.layout().slice_entries);
}

}  // namespace melvane
