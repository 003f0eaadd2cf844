// The JSON line of torvek --json, made with nlohmann::json.
#include "rx/json_report.hpp"

#include <cmath>
#include <cstdio>
#include <cstdint>
#include <nlohmann/json.hpp>

namespace torvek {
namespace {

// Keys in insertion order; numbers as single-precision floats, so that each
// prints as the shortest text that reads back as the same float.
using Json = nlohmann::basic_json<nlohmann::ordered_map, std::vector, std::string, bool,
                                  std::int64_t, std::uint64_t, float>;

// A float the input held and that is finite, otherwise null.
Json number(float value, bool held) {
  if (!held || !std::isfinite(value)) return nullptr;
  return value;
}

Json triple(const Json& a, const Json& b, const Json& c) { return Json::array({a, b, c}); }

}  // namespace

std::string jsonLine(const Layout& layout, const JsonRun& run) {
  Json line;
  line["pfile"] = run.pfile;
  line["program"] = layout.program;

  line["revision"] = nullptr;
  if (run.seen.revision && std::isfinite(*run.seen.revision)) {
    char shown[64];  // %.3f of at most 3.4e38: 39 digits, a point and 3 decimals
    std::snprintf(shown, sizeof shown, "%.3f", static_cast<double>(*run.seen.revision));
    line["revision"] = shown;
  }

  // Nothing computed, or computed from a header a check refused: all null.
  const RxRecord& rx = run.rx;
  const RxSeen& seen = run.seen;
  const bool usable = seen.inputs && !seen.refused;
  const auto held = [&](std::size_t i) { return usable && seen.held[i]; };
  // The report's R/L and A/P values are negative towards R and A.
  line["start_ras_mm"] = triple(number(-rx.start_rl, held(0)), number(-rx.start_ap, held(1)),
                                number(rx.start_si, held(2)));
  const bool end = usable && seen.all_held && seen.end_known;
  line["end_ras_mm"] =
      triple(number(-rx.end_rl, end), number(-rx.end_ap, end), number(rx.end_si, end));
  const RxInputs in = usable ? *seen.inputs : RxInputs{};
  line["normal"] =
      triple(number(in.norm_R, held(3)), number(in.norm_A, held(4)), number(in.norm_S, held(5)));

  line["note"] = run.note ? Json(*run.note) : Json(nullptr);
  std::string errors;
  for (const std::string& error : run.errors) errors += (errors.empty() ? "" : "; ") + error;
  line["error"] = run.errors.empty() ? Json(nullptr) : Json(errors);
  return line.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n";
}

}  // namespace torvek
