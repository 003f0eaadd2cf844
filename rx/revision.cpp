// The revision guard: the revision in the header's own byte order, and the
// message when it is not one the build reads.
#include "rx/revision.hpp"

#include <algorithm>
#include <cstdio>

#include "common/byte_order.hpp"

namespace torvek {

bool readsReversed(const Layout& layout, Bytes header) {
  return !layout.revisions.empty() && pfile::storedReversed(header);
}

namespace {

// "20.006 and 20.007", or "20.006, 20.007 and 20.008".
std::string revisionNames(const Layout& layout) {
  std::string names;
  const std::size_t count = layout.revisions.size();
  for (std::size_t i = 0; i < count; ++i) {
    char name[64];
    std::snprintf(name, sizeof name, "%.3f", static_cast<double>(layout.revisions[i]));
    names += (i == 0 ? "" : i + 1 == count ? " and " : ", ") + std::string(name);
  }
  return names;
}

}  // namespace

std::string revisionRefusal(const Layout& layout, Bytes header, std::size_t got) {
  if (layout.revisions.empty()) return {};
  const std::string reads = "; this build reads revision" +
                            std::string(layout.revisions.size() > 1 ? "s " : " ") +
                            revisionNames(layout);
  if (got < sizeof(float)) return "the file ends before its revision (its first 4 bytes)" + reads;
  const float revision = pfile::inHostOrder(pfile::load<float>(header, 0), readsReversed(layout, header));
  if (std::find(layout.revisions.begin(), layout.revisions.end(), revision) !=
      layout.revisions.end()) {
    return {};
  }
  // %f of a float at most 3.4e38: 39 digits, a point and 6 decimals.
  char shown[64];
  std::snprintf(shown, sizeof shown, "revision %f", static_cast<double>(revision));
  return shown + reads;
}

}  // namespace torvek
