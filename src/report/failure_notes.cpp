#include "report/failure_notes.h"

#include <string>

#include "report/line_shapes.h"
#include "report/report_sink.h"

namespace {

std::string FailureText(long long failed) {
  return std::to_string(failed) + " file operations failed";
}

}  // namespace

void WarnOfFailedOperations(long long failed) {
  if (failed == 0) return;
  const std::string line =
      "Warning: " + FailureText(failed) + " in this test; the rate above is not valid.";
  ReportText(line.c_str());
}

void WarnOfFailedPhase(int rank, int phase, long long failed) {
  if (failed == 0) return;
  const std::string line = "Warning: rank " + std::to_string(rank) + ", phase " +
                           std::to_string(phase) + ": " + FailureText(failed) +
                           "; the rate sent for this phase is not valid.";
  TextLine(Console(), line.c_str());
}
