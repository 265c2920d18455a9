// How many files per second this node can create, open, close and remove,
// through buffered streams and through descriptors.
#include <mpi.h>

#include "report/failure_notes.h"
#include "report/line_shapes.h"
#include "report/report_sink.h"
#include "single/handling_loops.h"
#include "single/single_node.h"
#include "state/process_state.h"
#include "state/scratch_names.h"
#include "state/work_counts.h"

namespace {

const char* SingleName() { return SingleScratchName; }

void HandlingLines(double seconds, double rate) {
  ValueLine(Console(), "The system spent: ", seconds, " Secs.");
  ValueLine(Console(), "The system could process ", rate, " Files/sec.");
  BlankLine(Console());
  ValueLine(FileSink(), "The system spent: ", seconds, " Secs.");
  ValueLine(FileSink(), "The system could process  ", rate, " Files/sec.");
  BlankLine(FileSink());
}

}  // namespace

void OpenSingleNodePhase() { ReportHeading("Force to be single thread."); }

void TestStreamHandling() {
  ReportHeading("Power of Handling Files -- Lower");
  const NameSource name = ClaimedNameSource(SingleName);
  const double start = MPI_Wtime();
  const long long failed = HandleFilesWithStreams(HandlingWriteStream, HandlingReadStream,
                                                  kHandlingIterations, name);
  StreamHandlingSeconds = MPI_Wtime() - start;
  StreamHandlingRate = kHandlingIterations / StreamHandlingSeconds;
  HandlingLines(StreamHandlingSeconds, StreamHandlingRate);
  WarnOfFailedOperations(failed);
}

void TestDescriptorHandling() {
  SectionHeading(Console(), "Power of Handling Files -- Hihger", FileSink(),
                 "Power of Handling Files -- Higher");
  const NameSource name = ClaimedNameSource(SingleName);
  int descriptor = -1;
  const double start = MPI_Wtime();
  const long long failed = HandleFilesWithDescriptors(descriptor, kHandlingIterations, name);
  DescriptorHandlingSeconds = MPI_Wtime() - start;
  DescriptorHandlingRate = kHandlingIterations / DescriptorHandlingSeconds;
  HandlingLines(DescriptorHandlingSeconds, DescriptorHandlingRate);
  WarnOfFailedOperations(failed);
}
