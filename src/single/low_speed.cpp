// Single-byte write and read speed of this node: every byte is its own call,
// flushed or synchronised before the next.
#include "report/failure_notes.h"
#include "report/line_shapes.h"
#include "report/name_notes.h"
#include "report/report_sink.h"
#include "report/units.h"
#include "single/single_node.h"
#include "state/process_state.h"
#include "state/scratch_names.h"
#include "state/work_counts.h"
#include "workloads/low_loops.h"

namespace {

double LowAccesses() { return kLowAccesses; }

}  // namespace

void ReportSpeedDirection(double seconds, const char* secondsUnit, double rate,
                          int blankLinesAfter, long long failed) {
  OnBothSinks([=](std::ostream& sink) {
    ValueLine(sink, "The system spent: ", seconds, secondsUnit);
    ValueLine(sink, "It was: ", ToMillions(rate), " Millions Accesses/sec.");
    ValueLine(sink, "Conventionally, it was: ", ToMegabytes(rate), " MB/sec.");
    for (int i = 0; i < blankLinesAfter; ++i) BlankLine(sink);
  });
  WarnOfFailedOperations(failed);
}

void TestLowSpeed() {
  ReportHeading("Low writing and reading speeds:");
  std::ostream& console = Console();
  const char* writeName = ClaimFileName(console, SingleScratchName);

  LowWriteFailed = MeasureSingleNode(LowWriteSeconds, LowWriteRate, LowAccesses, [&] {
    return WriteLowPasses(LowWriteStream, writeName, LowSecondPassCount, kLowSecondPass);
  });
  ReportSpeedDirection(LowWriteSeconds, " Secs. to Write.", LowWriteRate, 0, LowWriteFailed);

  // The write stream stays open: the high test reads the file it holds.
  const char* readName = ClaimFileName(console, SingleScratchName);
  LowReadFailed = MeasureSingleNode(LowReadSeconds, LowReadRate, LowAccesses, [&] {
    return ReadLowPasses(console, LowReadStream, readName, LowSecondPassCount, kLowSecondPass,
                         LastReadByte);
  });
  ReportSpeedDirection(LowReadSeconds, " Secs. to Read:", LowReadRate, 1, LowReadFailed);
  LowReadStream.close();
}
