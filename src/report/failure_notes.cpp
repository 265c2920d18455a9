#include "report/failure_notes.h"

#include "report/line_shapes.h"
#include "report/report_sink.h"

namespace {

bool WarningWritten = false;

std::string FailureText(long long failed) {
  return std::to_string(failed) + " file operations failed";
}

std::string InvalidRatesText(int invalid, int workers) {
  return "Warning: " + std::to_string(invalid) + " of the " + std::to_string(workers) +
         " workers' rates ";
}

}  // namespace

void WarningLine(std::ostream& sink, const std::string& text) {
  if (text.empty()) return;  // nothing to warn of
  WarningWritten = true;
  TextLine(sink, text.c_str());
}

bool AnyWarningWritten() { return WarningWritten; }

void ReportWarning(const std::string& line) {
  OnBothSinks([&line](std::ostream& sink) { WarningLine(sink, line); });
}

void WarnOfFailedOperations(long long failed) {
  if (failed == 0) return;
  ReportWarning("Warning: " + FailureText(failed) + " in this test; the rate above is not valid.");
}

std::string FailedPhaseWarning(int rank, int phase, long long failed) {
  if (failed == 0) return std::string();
  return "Warning: rank " + std::to_string(rank) + ", phase " + std::to_string(phase) + ": " +
         FailureText(failed) + "; the rate sent for this phase is not valid.";
}

void WarnOfInvalidTotal(int invalid, int workers) {
  if (invalid == 0) return;
  ReportWarning(InvalidRatesText(invalid, workers) +
                "added in this total are not valid; the total and the speed-up above are not "
                "valid.");
}

void WarnOfInvalidDivisor(long long singleNodeFailed) {
  if (singleNodeFailed == 0) return;
  ReportWarning(
      "Warning: the root's own rate of this test is not valid; the speed-up above is not valid.");
}

void WarnOfInvalidAverage(int invalid, int workers) {
  if (invalid == 0) return;
  ReportWarning(InvalidRatesText(invalid, workers) +
                "in this average are not valid; the average above is not valid.");
}
