#include "report/failure_notes.h"

#include "report/line_shapes.h"
#include "report/report_sink.h"

namespace {

bool WarningWritten = false;

std::string FailureText(long long failed) {
  return std::to_string(failed) + " file operations failed";
}

}  // namespace

void WarningLine(std::ostream& sink, const std::string& text) {
  WarningWritten = true;
  TextLine(sink, text.c_str());
}

bool AnyWarningWritten() { return WarningWritten; }

void WarnOfFailedOperations(long long failed) {
  if (failed == 0) return;
  const std::string line =
      "Warning: " + FailureText(failed) + " in this test; the rate above is not valid.";
  OnBothSinks([&line](std::ostream& sink) { WarningLine(sink, line); });
}

void WarnOfFailedPhase(int rank, int phase, long long failed) {
  if (failed == 0) return;
  WarningLine(Console(), "Warning: rank " + std::to_string(rank) + ", phase " +
                             std::to_string(phase) + ": " + FailureText(failed) +
                             "; the rate sent for this phase is not valid.");
}
