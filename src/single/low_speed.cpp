// Single-byte write and read speed of this node: every byte is its own call,
// flushed or synchronised before the next.
#include "report/failure_notes.h"
#include "report/line_shapes.h"
#include "report/name_notes.h"
#include "report/report_sink.h"
#include "report/stop_line.h"
#include "report/units.h"
#include "single/single_node.h"
#include "state/process_state.h"
#include "state/scratch_names.h"
#include "state/work_counts.h"
#include "workloads/low_loops.h"

namespace {

double LowAccesses() { return kLowAccesses; }

}  // namespace

void ReportSpeedDirection(const SingleNodeResult& result, const char* secondsUnit,
                          int blankLinesAfter) {
  OnBothSinks([&result, secondsUnit, blankLinesAfter](std::ostream& sink) {
    ValueLine(sink, "The system spent: ", result.Seconds, secondsUnit);
    ValueLine(sink, "It was: ", ToMillions(result.Rate), " Millions Accesses/sec.");
    ValueLine(sink, "Conventionally, it was: ", ToMegabytes(result.Rate), " MB/sec.");
    for (int i = 0; i < blankLinesAfter; ++i) BlankLine(sink);
  });
  WarnOfFailedOperations(result.Failed);
}

void TestLowSpeed() {
  StopLineInSingleNodeTest(Phase::LowWrite);
  ReportHeading("Low writing and reading speeds:");
  std::ostream& console = Console();
  const char* writeName = ClaimFileName(console, SingleScratchName);

  const SingleNodeResult& writeResult = MeasureSingleNode(Phase::LowWrite, LowAccesses, [&] {
    return WriteLowPasses(LowWriteStream, writeName, LowSecondPassCount, kLowSecondPass);
  });
  ReportSpeedDirection(writeResult, " Secs. to Write.", 0);

  // The write stream stays open: the high test reads the file it holds.
  StopLineInSingleNodeTest(Phase::LowRead);
  const char* readName = ClaimFileName(console, SingleScratchName);
  const SingleNodeResult& readResult = MeasureSingleNode(Phase::LowRead, LowAccesses, [&] {
    return ReadLowPasses(console, LowReadStream, readName, LowSecondPassCount, kLowSecondPass,
                         LastReadByte);
  });
  ReportSpeedDirection(readResult, " Secs. to Read:", 1);
  LowReadStream.close();
}
