// Single-byte write and read speed of this node: every byte is its own call,
// flushed or synchronised before the next.
#include <mpi.h>

#include "report/failure_notes.h"
#include "report/line_shapes.h"
#include "report/report_sink.h"
#include "report/units.h"
#include "single/low_loops.h"
#include "single/single_node.h"
#include "state/process_state.h"
#include "state/scratch_names.h"
#include "state/work_counts.h"

void SpeedLines(std::ostream& sink, double seconds, const char* secondsUnit, double rate) {
  ValueLine(sink, "The system spent: ", seconds, secondsUnit);
  ValueLine(sink, "It was: ", ToMillions(rate), " Millions Accesses/sec.");
  ValueLine(sink, "Conventionally, it was: ", ToMegabytes(rate), " MB/sec.");
}

void TestLowSpeed() {
  ReportHeading("Low writing and reading speeds:");
  const char* writeName = ClaimFileName(SingleScratchName);

  double start = MPI_Wtime();
  const long long writeFailed =
      WriteLowPasses(LowWriteStream, writeName, LowSecondPassCount, kLowSecondPass);
  LowWriteSeconds = MPI_Wtime() - start;
  LowWriteRate = kLowAccesses / LowWriteSeconds;
  SpeedLines(Console(), LowWriteSeconds, " Secs. to Write.", LowWriteRate);
  SpeedLines(FileSink(), LowWriteSeconds, " Secs. to Write.", LowWriteRate);
  WarnOfFailedOperations(writeFailed);

  // The write stream stays open: the high test reads the file it holds.
  start = MPI_Wtime();
  const long long readFailed = ReadLowPasses(LowReadStream, SingleScratchName, LowSecondPassCount,
                                             kLowSecondPass, LastReadByte);
  LowReadSeconds = MPI_Wtime() - start;
  LowReadRate = kLowAccesses / LowReadSeconds;
  SpeedLines(Console(), LowReadSeconds, " Secs. to Read:", LowReadRate);
  BlankLine(Console());
  SpeedLines(FileSink(), LowReadSeconds, " Secs. to Read:", LowReadRate);
  BlankLine(FileSink());
  WarnOfFailedOperations(readFailed);
  LowReadStream.close();
}
