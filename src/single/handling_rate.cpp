// How many files per second this node can create, open, close and remove,
// through buffered streams and through descriptors.
#include "report/failure_notes.h"
#include "report/line_shapes.h"
#include "report/report_sink.h"
#include "report/stop_line.h"
#include "single/single_node.h"
#include "state/process_state.h"
#include "state/scratch_names.h"
#include "state/work_counts.h"
#include "workloads/handling_loops.h"

namespace {

const char* SingleName() { return SingleScratchName; }

void HandlingLines(std::ostream& sink, const SingleNodeResult& result, const char* rateLabel) {
  ValueLine(sink, "The system spent: ", result.Seconds, " Secs.");
  ValueLine(sink, rateLabel, result.Rate, " Files/sec.");
  BlankLine(sink);
}

void ReportHandling(const SingleNodeResult& result) {
  // The file's rate label has one blank more than the console's.
  HandlingLines(Console(), result, "The system could process ");
  HandlingLines(FileSink(), result, "The system could process  ");
  WarnOfFailedOperations(result.Failed);
}

}  // namespace

void OpenSingleNodePhase() { ReportHeading("Force to be single thread."); }

void TestStreamHandling() {
  StopLineInSingleNodeTest(Phase::StreamHandling);
  ReportHeading("Power of Handling Files -- Lower");
  const NameSource name = ClaimedNameSource(Console(), SingleName);
  ReportHandling(MeasureSingleNode(Phase::StreamHandling, HandlingIterations, [&] {
    return HandleFilesWithStreams(HandlingWriteStream, HandlingReadStream, kHandlingIterations,
                                  name);
  }));
}

void TestDescriptorHandling() {
  StopLineInSingleNodeTest(Phase::DescriptorHandling);
  SectionHeading(Console(), "Power of Handling Files -- Hihger", FileSink(),
                 "Power of Handling Files -- Higher");
  const NameSource name = ClaimedNameSource(Console(), SingleName);
  int descriptor = -1;
  ReportHandling(MeasureSingleNode(Phase::DescriptorHandling, HandlingIterations, [&] {
    return HandleFilesWithDescriptors(descriptor, kHandlingIterations, name);
  }));
}
