// Reading melvane's header and deciding whether the revision table fits it.
#include "summary/header_input.hpp"

#include <algorithm>
#include <bit>
#include <cstring>
#include <span>

#include "common/byte_order.hpp"
#include "common/pfile_input.hpp"

namespace melvane {
namespace {

constexpr std::size_t kRevisionBytes = 4;

std::string readFailure(const pfile::ReadResult& read) {
  return std::string("cannot read the header: ") + std::strerror(read.error);
}

// The positions the row gives, words unread.
pfile::HeaderLayout rowLayout(const pfile::Revision& r) {
  return {&r, r.header_size, r.exam, r.series, r.image, r.slice_table, r.slice_entry_size,
          r.slice_entries};
}

// `size` bytes at `buffer`, of which the first `got` came from the input:
// zeros stand for the rest. Only the missing bytes are cleared, so a whole
// header is written once, by the read.
std::unique_ptr<std::byte[]> zeroFilled(std::unique_ptr<std::byte[]> buffer, std::size_t got,
                                        std::size_t size) {
  std::fill(buffer.get() + got, buffer.get() + size, std::byte{0});
  return buffer;
}

}  // namespace

float revisionOf(Bytes header, bool reversed) {
  return pfile::inHostOrder(pfile::load<float>(header, 0), reversed);
}

HeaderRead readHeader(int input) {
  HeaderRead read;
  read.storage = std::make_unique_for_overwrite<std::byte[]>(kRevisionBytes);
  read.size = kRevisionBytes;
  const pfile::ReadResult first = pfile::readFully(input, {read.storage.get(), kRevisionBytes});
  read.storage = zeroFilled(std::move(read.storage), first.got, kRevisionBytes);
  read.reversed = pfile::storedReversed(read.bytes());
  read.revision = revisionOf(read.bytes(), read.reversed);
  if (first.error != 0) {
    read.shortfall = readFailure(first);
    return read;
  }
  if (first.got < kRevisionBytes) {
    read.shortfall =
        "the header is " + std::to_string(first.got) + " bytes, too short to hold its revision";
    return read;
  }
  read.row = pfile::findRevision(read.revision);
  if (read.row == nullptr) return read;

  const std::size_t size = read.row->header_size;
  auto whole = std::make_unique_for_overwrite<std::byte[]>(size);
  std::copy_n(read.storage.get(), kRevisionBytes, whole.get());
  const pfile::ReadResult rest =
      pfile::readFully(input, {whole.get() + kRevisionBytes, size - kRevisionBytes});
  const std::size_t got = kRevisionBytes + rest.got;
  read.storage = zeroFilled(std::move(whole), got, size);
  read.size = size;
  if (rest.error != 0) {
    read.shortfall = readFailure(rest);
  } else if (got < size) {
    read.shortfall = "the header is " + std::to_string(got) + " bytes, shorter than " +
                     std::to_string(size);
  }
  return read;
}

bool checkedAgainstItself(const pfile::Revision& revision) {
  return revision.bits != std::bit_cast<std::uint32_t>(20.006f) &&
         revision.bits != std::bit_cast<std::uint32_t>(20.007f);
}

Reading readingOf(Bytes header, bool reversed, const pfile::Revision& revision) {
  if (!checkedAgainstItself(revision)) {
    return {pfile::ScanHeader(header, reversed, rowLayout(revision)), ""};
  }
  const pfile::LayoutResult layout = pfile::headerLayout(revision, header, reversed);
  if (!layout.refusal.empty()) return {std::nullopt, layout.refusal};

  const pfile::ScanHeader scan(header, reversed, layout.layout);
  // A calibration scan prescribes no slab: nothing to check a reading against.
  if (!pfile::geometryAllZero(scan)) {
    for (auto check : {pfile::normalLengthDisagreement, pfile::cornerDisagreement,
                       pfile::examNumberDisagreement}) {
      if (std::string finding = check(scan); !finding.empty()) return {std::nullopt, finding};
    }
  }
  return {scan, ""};
}

}  // namespace melvane
