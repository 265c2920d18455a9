#include "cluster/cluster_high.h"

#include "cluster/cluster_frame.h"
#include "cluster/speed_report.h"
#include "report/name_notes.h"
#include "report/report_sink.h"
#include "state/rank_state.h"
#include "state/scratch_names.h"
#include "workloads/high_loops.h"

namespace {

void FormatCopyName() {
  FormatRankCopyName(RankCopyNameBuffer, kScratchNameSize, OwnRank, NodeFileName.c_str());
}

// Pass 2 moves a share of the file that shrinks with the rank.
std::int64_t SecondPassDivisor() { return OwnRank + 1; }

// Whether phase 5 filled the block that phase 6 writes out.
bool BlockFilled = false;

double BytesOfBothPasses() {
  const std::int64_t size = RankLengthTable[OwnRank];
  return static_cast<double>(size + size / SecondPassDivisor());
}

}  // namespace

void WorkerHighRead() {
  std::ostream& console = Console();
  // Reads the file phase 3 wrote; its name is still in the shared buffer.
  const char* readName = ClaimFileName(console, RankScratchNameBuffer);
  const bool sizable = HoldsSizableFile(readName);
  BlockFilled = RunWorkerPhase(Phase::HighRead, BytesOfBothPasses, [&console, readName, sizable] {
    return ReadHighPasses(console, RankHighReadStreams[OwnRank], readName, sizable, kLowFirstPass,
                          RankLengthTable[OwnRank], RankBlockTable[OwnRank], SecondPassDivisor());
  }) == 0;
}

void WorkerHighWrite() {
  FormatCopyName();
  const char* writeName = ClaimFileName(Console(), RankCopyNameBuffer);
  RunWorkerPhase(Phase::HighWrite, BytesOfBothPasses, [writeName] {
    FormatCopyName();  // inside the timed span, as in every phase
    return WriteHighPasses(RankHighWriteStreams[OwnRank], writeName, RankLengthTable[OwnRank],
                           RankBlockTable[OwnRank], SecondPassDivisor(), BlockFilled);
  });
}

void ReportHighPhases() {
  OpenSpeedSection("High writing and reading speeds:");
  const ReceivedPhase read = ReportSpeedPhase(Phase::HighRead, " Secs. to Read.");
  const ReceivedPhase write = ReportSpeedPhase(Phase::HighWrite, " Secs. to Write.");
  ReportWriteTotals(1, write);
  ReportReadTotals(read);
  ReportBlankLines();
  ReportSpeedAverage("Among all nodes, the average high writing process per thread was: ",
                     write, "  MB/sec.");
  ReportSpeedAverage("Among all nodes, the average high reading process per thread was: ",
                     read, "  MB/sec.");
}
