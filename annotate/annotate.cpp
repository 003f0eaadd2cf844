// Dataset annotation: the note, the tool's argument vector, and the
// confirmation that follows only the tool's success.
#include "annotate/annotate.hpp"

#include "common/messages.hpp"
#include "annotate/nifti_note.hpp"
#include "annotate/tool_lines.hpp"

#include <optional>

namespace torvek {

TargetKind targetKind(std::string_view prefix) {
  return prefix.find(".nii") != std::string_view::npos ? TargetKind::nifti : TargetKind::afni;
}

std::string datasetName(TargetKind kind, std::string_view prefix) {
  return kind == TargetKind::afni ? std::string(prefix) + "+orig" : std::string(prefix);
}

std::string noteText(const RxRecord& rx) {
  return "Rx info:\n" + startLine(rx) + endLine(rx);
}

std::vector<std::string> afniCommand(std::string_view prefix, const RxRecord& rx) {
  return {"3dNotes", "-a", noteText(rx), datasetName(TargetKind::afni, prefix)};
}

namespace {

// Why the Rx record must not reach a dataset, or nothing when it may.
std::optional<const char*> undefinedRx(RxOutcome outcome) {
  switch (outcome) {
    case RxOutcome::ok: return std::nullopt;
    case RxOutcome::cant_open: return "the Pfile could not be opened";
    case RxOutcome::read_error: return "the Pfile could not be read";
    case RxOutcome::short_read: return "the Pfile header was read short";
    case RxOutcome::wrong_revision: return "the Pfile's revision is not one this build reads";
    case RxOutcome::unknown_letter:
      return "start_ras is not a known letter, so the slab end is unknown";
    case RxOutcome::not_finite: return "the Rx is not finite";
    case RxOutcome::not_unit_normal: return "the slab normal is not of unit length";
    case RxOutcome::not_self_consistent: return "the Pfile header disagrees with itself";
  }
  return "the Rx could not be computed";
}

void fail(const Layout& layout, const std::string& dataset, std::FILE* out, std::FILE* err,
          const std::string& message) {
  pfile::report(layout.program, dataset, message, out, err);
}

}  // namespace

int annotate(const Layout& layout, RxOutcome outcome, const RxRecord& rx, const char* prefix,
             std::FILE* out, std::FILE* err, const ToolRunner& runner) {
  const std::string_view name(prefix);
  const TargetKind kind = targetKind(name);
  const std::string dataset = datasetName(kind, name);
  if (const auto why = undefinedRx(outcome)) {
    fail(layout, dataset, out, err, std::string("the Rx is not written: ") + *why);
    return 1;
  }
  const std::string tool = kind == TargetKind::nifti ? "nifti_tool" : "3dNotes";
  if (name.starts_with('-')) {
    fail(layout, dataset, out, err,
         "the Rx is not written: " + tool +
             " would read a prefix beginning with '-' as an option; write ./" +
             pfile::escapedName(name) + " instead");
    return 1;
  }

  // The tool writes to the same terminal: the report must be out before it.
  // A report that did not reach its file is lost; a note written now would
  // be written again by the rerun that recovers the report.
  if (pfile::flushError(out) != 0) {
    fail(layout, dataset, out, err,
         "the Rx is not written: its report did not reach standard output");
    return 1;
  }
  if (kind == TargetKind::nifti) {
    return annotateNifti(layout.program, dataset, noteText(rx), out, err, runner);
  }
  std::fflush(err);
  const ToolEnd end = runner(afniCommand(name, rx));
  passOnToolLines(layout.program, dataset, tool, end, out, err);
  const std::string failure = describeToolEnd(tool, end);
  if (!failure.empty()) {
    fail(layout, dataset, out, err, failure + "; the Rx is not written");
    return 1;
  }
  std::fprintf(out, "Rx info is written to %s.BRIK header.\n", pfile::shownName(dataset).c_str());
  return 0;
}

}  // namespace torvek
