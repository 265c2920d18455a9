#include "report/failure_notes.h"

#include <string>

#include "platform/platform.h"
#include "report/line_shapes.h"
#include "report/report_sink.h"

namespace {

std::string FailureText(long long failed) {
  return std::to_string(failed) + " file operations failed";
}

}  // namespace

const char* RefusedName() { return ""; }

const char* ClaimFileName(const char* name) {
  switch (RemoveSymbolicLink(name)) {
    case LinkRemoval::NoLink:
      break;
    case LinkRemoval::Removed:
      TextLine(Console(), (std::string("Removed a symbolic link found at ") + name +
                           "; its target was left untouched.").c_str());
      break;
    case LinkRemoval::CannotRemove:
      TextLine(Console(), (std::string("Warning: cannot remove the symbolic link found at ") +
                           name + "; the benchmark will not use that name.").c_str());
      return RefusedName();
  }
  return name;
}

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
