// Whole-block read and write speed of this node: the scratch file read into
// one block, the block written to a copy, each in as few calls as possible.
#include <mpi.h>

#include "report/failure_notes.h"
#include "report/line_shapes.h"
#include "report/report_sink.h"
#include "single/high_loops.h"
#include "single/single_node.h"
#include "state/process_state.h"
#include "state/scratch_names.h"

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
  ReportHeading("High writing and reading speeds:");

  double start = MPI_Wtime();
  const long long readFailed = ReadHighPasses(HighReadStream, SingleScratchName, HighBlockSize,
                                              HighBlock, kHighSecondPassDivisor);
  HighReadSeconds = MPI_Wtime() - start;
  HighReadRate = BytesMoved() / HighReadSeconds;
  SpeedLines(Console(), HighReadSeconds, " Secs. to Read:", HighReadRate);
  SpeedLines(FileSink(), HighReadSeconds, " Secs. to Read:", HighReadRate);
  WarnOfFailedOperations(readFailed);

  const char* writeName = ClaimFileName(SingleCopyName);
  start = MPI_Wtime();
  const long long writeFailed =
      WriteHighPasses(HighWriteStream, writeName, HighBlockSize, HighBlock, kHighSecondPassDivisor);
  HighWriteSeconds = MPI_Wtime() - start;
  HighWriteRate = BytesMoved() / HighWriteSeconds;
  SpeedLines(Console(), HighWriteSeconds, " Secs. to Write.", HighWriteRate);
  BlankLine(Console());
  SpeedLines(FileSink(), HighWriteSeconds, " Secs. to Write.", HighWriteRate);
  BlankLine(FileSink());
  ReportBlankLines();
  WarnOfFailedOperations(writeFailed);

  CloseSingleNodeStreams();
}
