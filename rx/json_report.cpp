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

// Which Rx inputs the bytes that came hold, each field being 4 bytes (1 for
// the start_ras letter) at its record's position plus its offset.
struct Held {
  bool ctr_R, ctr_A, ctr_S, norm_R, norm_A, norm_S, all;
};

Held held(const Layout& layout, std::size_t got) {
  const auto image = [&](std::size_t offset) { return layout.image_position + offset + 4 <= got; };
  const RxFieldOffsets& at = layout.rx;
  return {image(at.ctr_R), image(at.ctr_A), image(at.ctr_S),  image(at.norm_R),
          image(at.norm_A), image(at.norm_S), rxInputsEnd(layout) <= got};
}

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
  // The normal's check stands as the report makes it: on every input held,
  // when the Rx is finite.
  const RxRecord& rx = run.rx;
  const bool refused =
      run.seen.inputs && rxInputsEnd(layout) <= run.seen.got &&
      nonFiniteRx(*run.seen.inputs, rx, run.seen.end_known).empty() &&
      !nonUnitNormal(*run.seen.inputs).empty();
  const bool usable = run.seen.inputs && !refused;
  const Held h = usable ? held(layout, run.seen.got) : Held{};
  // The report's R/L and A/P values are negative towards R and A.
  line["start_ras_mm"] =
      triple(number(-rx.start_rl, h.ctr_R), number(-rx.start_ap, h.ctr_A),
             number(rx.start_si, h.ctr_S));
  const bool end = h.all && run.seen.end_known;
  line["end_ras_mm"] =
      triple(number(-rx.end_rl, end), number(-rx.end_ap, end), number(rx.end_si, end));
  const RxInputs in = usable ? *run.seen.inputs : RxInputs{};
  line["normal"] = triple(number(in.norm_R, h.norm_R), number(in.norm_A, h.norm_A),
                          number(in.norm_S, h.norm_S));

  line["note"] = run.note ? Json(*run.note) : Json(nullptr);
  std::string errors;
  for (const std::string& error : run.errors) errors += (errors.empty() ? "" : "; ") + error;
  line["error"] = run.errors.empty() ? Json(nullptr) : Json(errors);
  return line.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n";
}

}  // namespace torvek
