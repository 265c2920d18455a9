// How many files per second this node can create, open, close and remove,
// through buffered streams and through descriptors.
#include "report/failure_notes.h"
#include "report/line_shapes.h"
#include "report/report_sink.h"
#include "single/single_node.h"
#include "state/process_state.h"
#include "state/scratch_names.h"
#include "state/work_counts.h"
#include "workloads/handling_loops.h"

namespace {

const char* SingleName() { return SingleScratchName; }

void HandlingLines(std::ostream& sink, double seconds, const char* rateLabel, double rate) {
  ValueLine(sink, "The system spent: ", seconds, " Secs.");
  ValueLine(sink, rateLabel, rate, " Files/sec.");
  BlankLine(sink);
}

void ReportHandling(double seconds, double rate, long long failed) {
  // The file's rate label has one blank more than the console's.
  HandlingLines(Console(), seconds, "The system could process ", rate);
  HandlingLines(FileSink(), seconds, "The system could process  ", rate);
  WarnOfFailedOperations(failed);
}

}  // namespace

void OpenSingleNodePhase() { ReportHeading("Force to be single thread."); }

void TestStreamHandling() {
  ReportHeading("Power of Handling Files -- Lower");
  const NameSource name = ClaimedNameSource(Console(), SingleName);
  StreamHandlingFailed =
      MeasureSingleNode(StreamHandlingSeconds, StreamHandlingRate, HandlingIterations, [&] {
        return HandleFilesWithStreams(HandlingWriteStream, HandlingReadStream,
                                      kHandlingIterations, name);
      });
  ReportHandling(StreamHandlingSeconds, StreamHandlingRate, StreamHandlingFailed);
}

void TestDescriptorHandling() {
  SectionHeading(Console(), "Power of Handling Files -- Hihger", FileSink(),
                 "Power of Handling Files -- Higher");
  const NameSource name = ClaimedNameSource(Console(), SingleName);
  int descriptor = -1;
  DescriptorHandlingFailed = MeasureSingleNode(
      DescriptorHandlingSeconds, DescriptorHandlingRate, HandlingIterations,
      [&] { return HandleFilesWithDescriptors(descriptor, kHandlingIterations, name); });
  ReportHandling(DescriptorHandlingSeconds, DescriptorHandlingRate, DescriptorHandlingFailed);
}
