// Whole-block read and write speed of this node: the scratch file read into
// one block, the block written to a copy, each in as few calls as possible.
#include "report/name_notes.h"
#include "report/report_sink.h"
#include "report/stop_line.h"
#include "single/single_node.h"
#include "state/process_state.h"
#include "state/scratch_names.h"
#include "state/work_counts.h"
#include "workloads/high_loops.h"

namespace {

// Pass 2 moves half the block again.
constexpr std::int64_t kHighSecondPassDivisor = 2;

double BytesMoved() { return static_cast<double>(HighBlockSize) * 1.5; }

void CloseSingleNodeStreams() {
  HighReadStream.close();
  HighWriteStream.close();
  LowWriteStream.close();
}

}  // namespace

void TestHighSpeed() {
  StopLineInSingleNodeTest(Phase::HighRead);
  ReportHeading("High writing and reading speeds:");
  std::ostream& console = Console();

  const char* readName = ClaimFileName(console, SingleScratchName);
  const bool sizable = HoldsSizableFile(readName);
  const SingleNodeResult& readResult = MeasureSingleNode(Phase::HighRead, BytesMoved, [&] {
    return ReadHighPasses(console, HighReadStream, readName, sizable, kLowFirstPass,
                          HighBlockSize, HighBlock, kHighSecondPassDivisor);
  });
  ReportSpeedDirection(readResult, " Secs. to Read:", 0);

  StopLineInSingleNodeTest(Phase::HighWrite);
  const char* writeName = ClaimFileName(console, SingleCopyName);
  const SingleNodeResult& writeResult = MeasureSingleNode(Phase::HighWrite, BytesMoved, [&] {
    return WriteHighPasses(HighWriteStream, writeName, HighBlockSize, HighBlock,
                           kHighSecondPassDivisor, readResult.Failed == 0);
  });
  // The last single-node lines: two blank lines close the phase on each sink.
  ReportSpeedDirection(writeResult, " Secs. to Write.", 2);

  CloseSingleNodeStreams();
}
