// Comparing nifti_tool's new file with the dataset it was made from.
#include "annotate/nifti_compare.hpp"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <memory>

#include "common/bytes.hpp"

namespace torvek::nifti {
namespace {

using pfile::Bytes;

constexpr char kCheck[] = "the new file from nifti_tool fails its check: ";

// "1 byte", "1000 bytes".
std::string byteCount(std::uint64_t count) {
  return std::to_string(count) + (count == 1 ? " byte" : " bytes");
}

// When a header field may differ in nifti_tool's copy: never, always (NIfTI-1
// leaves it unused and nifti_tool rewrites it), or when the qform or sform it
// belongs to is off (qform_code or sform_code 0), when nifti_tool zeroes it.
enum class Rewritten { never, always, without_qform, without_sform };

// The NIfTI-1 header: 348 bytes, in the byte order sizeof_hdr shows. An
// array field is named by its elements (`count` of them, numbered from
// `first`). vox_offset always differs: the note moves the voxel data.
struct HeaderField {
  const char* name;
  std::size_t offset, size, count = 1, first = 0;
  Rewritten rewritten = Rewritten::never;
};
constexpr std::array<HeaderField, 45> kNifti1Fields{{
    {"sizeof_hdr", 0, 4},
    {"data_type", 4, 10, 1, 0, Rewritten::always},
    {"db_name", 14, 18, 1, 0, Rewritten::always},
    {"extents", 32, 4, 1, 0, Rewritten::always},
    {"session_error", 36, 2, 1, 0, Rewritten::always},
    {"regular", 38, 1, 1, 0, Rewritten::always},
    {"dim_info", 39, 1},
    {"dim", 40, 16, 8},
    {"intent_p1", 56, 4},
    {"intent_p2", 60, 4},
    {"intent_p3", 64, 4},
    {"intent_code", 68, 2},
    {"datatype", 70, 2},
    {"bitpix", 72, 2},
    {"slice_start", 74, 2},
    {"pixdim[0]", 76, 4, 1, 0, Rewritten::without_qform},
    {"pixdim", 80, 28, 7, 1},
    {"vox_offset", 108, 4, 1, 0, Rewritten::always},
    {"scl_slope", 112, 4},
    {"scl_inter", 116, 4},
    {"slice_end", 120, 2},
    {"slice_code", 122, 1},
    {"xyzt_units", 123, 1},
    {"cal_max", 124, 4},
    {"cal_min", 128, 4},
    {"slice_duration", 132, 4},
    {"toffset", 136, 4},
    {"glmax", 140, 4, 1, 0, Rewritten::always},
    {"glmin", 144, 4, 1, 0, Rewritten::always},
    {"descrip", 148, 80},
    {"aux_file", 228, 24},
    {"qform_code", 252, 2},
    {"sform_code", 254, 2},
    {"quatern_b", 256, 4, 1, 0, Rewritten::without_qform},
    {"quatern_c", 260, 4, 1, 0, Rewritten::without_qform},
    {"quatern_d", 264, 4, 1, 0, Rewritten::without_qform},
    {"qoffset_x", 268, 4, 1, 0, Rewritten::without_qform},
    {"qoffset_y", 272, 4, 1, 0, Rewritten::without_qform},
    {"qoffset_z", 276, 4, 1, 0, Rewritten::without_qform},
    {"srow_x", 280, 16, 1, 0, Rewritten::without_sform},
    {"srow_y", 296, 16, 1, 0, Rewritten::without_sform},
    {"srow_z", 312, 16, 1, 0, Rewritten::without_sform},
    {"intent_name", 328, 16},
    {"magic", 344, 4},
    {"extender", 348, 4},
}};
static_assert(kNifti1Fields.back().offset + kNifti1Fields.back().size == 352);

// The NIfTI-2 header: 540 bytes; vox_offset an int64 at 168.
constexpr std::size_t kNifti2VoxOffset = 168;

std::int16_t code(Bytes head, std::size_t offset, bool swapped) {
  const auto value = pfile::load<std::int16_t>(head, offset);
  return swapped ? pfile::byteReversed(value) : value;
}

bool mayDiffer(const HeaderField& f, Bytes old_head, bool swapped) {
  switch (f.rewritten) {
    case Rewritten::never: return false;
    case Rewritten::always: return true;
    case Rewritten::without_qform: return code(old_head, 252, swapped) == 0;
    case Rewritten::without_sform: return code(old_head, 254, swapped) == 0;
  }
  return false;
}

// The first header byte (extender included) that differs where it may not,
// worded by the field it belongs to; empty when none.
std::string headerChange(Bytes old_head, Bytes new_head, const Contents& old) {
  const std::size_t end = old.header_size + 4;
  if (old.header_size == 540) {
    for (std::size_t at = 0; at < end; ++at) {
      const bool vox_offset = at >= kNifti2VoxOffset && at < kNifti2VoxOffset + 8;
      if (at != 540 && !vox_offset && old_head[at] != new_head[at]) {
        return "change the NIfTI-2 header at byte " + std::to_string(at);
      }
    }
    return {};
  }
  for (const HeaderField& f : kNifti1Fields) {
    if (mayDiffer(f, old_head, old.swapped)) continue;
    for (std::size_t at = f.offset; at < f.offset + f.size; ++at) {
      // The extender's first byte: the note makes it say "extensions follow".
      if (at == 348 || old_head[at] == new_head[at]) continue;
      if (f.count == 1) return std::string("change ") + f.name;
      const std::size_t index = f.first + (at - f.offset) / (f.size / f.count);
      return std::string("change ") + f.name + "[" + std::to_string(index) + "]";
    }
  }
  return {};
}

// Where the dataset's extensions stop being the new file's, as a text: the
// extension there (its offset, code and size), or the bytes from there to
// `end` when they are no extension.
std::string droppedExtension(Bytes old_head, Bytes new_head, const Contents& old,
                             std::size_t end) {
  std::size_t at = old.header_size + 4;
  while (end - at >= 8) {
    auto esize = pfile::load<std::int32_t>(old_head, at);
    auto ecode = pfile::load<std::int32_t>(old_head, at + 4);
    if (old.swapped) esize = pfile::byteReversed(esize), ecode = pfile::byteReversed(ecode);
    if (esize < 8 || static_cast<std::size_t>(esize) > end - at) break;  // not an extension
    const auto size = static_cast<std::size_t>(esize);
    if (new_head.size() - at < size ||
        std::memcmp(old_head.data() + at, new_head.data() + at, size) != 0) {
      return "drop the extension at byte " + std::to_string(at) + " (ecode " +
             std::to_string(ecode) + ", esize " + std::to_string(esize) +
             (esize % 16 != 0 ? ", not a multiple of 16)" : ")");
    }
    at += size;
  }
  return "drop the " + byteCount(end - at) + " from byte " + std::to_string(at) +
         " to the voxel data";
}

}  // namespace

std::string headChanges(Bytes dataset, const Contents& old, Bytes fresh, const Contents& now,
                        std::string_view note) {
  if (now.header_size != old.header_size) {
    return now.header_size == 348 ? "nifti_tool would write it as NIfTI-1"
                                  : "nifti_tool would write it as NIfTI-2";
  }
  if (now.swapped != old.swapped) return "nifti_tool would write it in the other byte order";
  if (std::string change = headerChange(dataset, fresh, old); !change.empty()) {
    return "nifti_tool would " + change;
  }
  // The dataset's extensions (all bytes between the extender and the voxel
  // data, when the extender says there are any), then the note.
  const std::size_t first = old.header_size + 4;
  const std::size_t kept = old.extended ? dataset.size() - first : 0;
  if (fresh.size() - first < kept ||
      std::memcmp(dataset.data() + first, fresh.data() + first, kept) != 0) {
    return "nifti_tool would " + droppedExtension(dataset, fresh, old, dataset.size());
  }
  // The note alone after them: one extension, the text padded with zeros.
  const Bytes added = fresh.subspan(first + kept);
  const bool is_note = added.size() >= 8 && now.notes == old.notes + 1 && [&] {
    auto esize = pfile::load<std::int32_t>(added, 0);
    auto ecode = pfile::load<std::int32_t>(added, 4);
    if (now.swapped) esize = pfile::byteReversed(esize), ecode = pfile::byteReversed(ecode);
    const Bytes data = added.subspan(8);
    return static_cast<std::size_t>(esize) == added.size() && ecode == kAfniEcode &&
           data.size() >= note.size() && std::memcmp(data.data(), note.data(), note.size()) == 0 &&
           std::all_of(data.begin() + static_cast<std::ptrdiff_t>(note.size()), data.end(),
                       [](std::byte b) { return b == std::byte{0}; });
  }();
  return is_note ? std::string() : kCheck + std::string("it does not carry the note");
}

std::string changes(int dataset, int fresh, bool gzip, std::string_view note) {
  Reader old_reader(dataset, gzip), new_reader(fresh, gzip);
  std::vector<std::byte> old_head, new_head;
  const Contents old = readHead(old_reader, old_head, note);
  if (!old.problem.empty()) return "torvek cannot check this dataset: " + old.problem;
  const Contents now = readHead(new_reader, new_head, note);
  if (!now.problem.empty()) return kCheck + now.problem;
  if (std::string change = headChanges(old_head, old, new_head, now, note); !change.empty()) {
    return change;
  }

  // Both readers stand at the voxel data. Read in chunks large enough that
  // the calls cost little next to the copying and small enough that both
  // stay in the processor's cache for the comparison that follows.
  constexpr std::size_t kChunk = std::size_t{256} << 10;
  const auto buffers = std::make_unique_for_overwrite<std::byte[]>(2 * kChunk);
  std::byte* const a = buffers.get();
  std::byte* const b = buffers.get() + kChunk;
  const std::string unreadable = gzip ? "it does not decompress: " : "it cannot be read: ";
  std::uint64_t at = 0;  // bytes alike since vox_offset
  std::string why;
  long got_old = 0, got_new = 0;
  for (;;) {
    if ((got_old = old_reader.read(a, kChunk, why)) < 0) {
      return "torvek cannot check this dataset: " + unreadable + why;
    }
    if ((got_new = new_reader.read(b, kChunk, why)) < 0) return kCheck + unreadable + why;
    const auto common = static_cast<std::size_t>(std::min(got_old, got_new));
    if (std::memcmp(a, b, common) != 0) {
      std::size_t i = 0;
      while (a[i] == b[i]) ++i;
      return at + i < old.data_bytes ? "nifti_tool would change the voxel data at byte " +
                                           std::to_string(at + i) + " of " +
                                           std::to_string(old.data_bytes)
                                     : std::string("nifti_tool would change the bytes that "
                                                   "follow the voxel data");
    }
    at += common;
    if (got_old != got_new || got_old == 0) break;
  }
  // One of them ended first: count what the other holds beyond.
  const bool dataset_longer = got_old > got_new;
  std::uint64_t beyond = static_cast<std::uint64_t>(std::max(got_old, got_new) -
                                                    std::min(got_old, got_new));
  for (long more; beyond > 0 && (more = (dataset_longer ? old_reader : new_reader)
                                            .read(a, kChunk, why)) > 0;) {
    beyond += static_cast<std::uint64_t>(more);
  }
  if (beyond > 0 && !dataset_longer) {
    return "nifti_tool would add " + byteCount(beyond) + " after the voxel data";
  }
  if (beyond > 0 && at < old.data_bytes) {
    return kCheck + ("its voxel data end after " + std::to_string(at)) + " of " +
           std::to_string(old.data_bytes) + " bytes";
  }
  if (beyond > 0) {
    return "nifti_tool would drop the " + byteCount(beyond) + " after the voxel data";
  }
  if (why = old_reader.endProblem(); !why.empty()) {
    return "torvek cannot check this dataset: " + unreadable + why;
  }
  if (why = new_reader.endProblem(); !why.empty()) return kCheck + unreadable + why;
  return {};
}

}  // namespace torvek::nifti
