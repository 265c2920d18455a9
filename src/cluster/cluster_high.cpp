// Phases 5 and 6: whole-block read and write on every worker at once, and the
// root's report of both, the last section of the run.
#include "cluster/cluster_frame.h"
#include "cluster/speed_report.h"
#include "report/name_notes.h"
#include "report/report_sink.h"
#include "state/process_state.h"
#include "state/rank_state.h"
#include "state/scratch_names.h"
#include "workloads/high_loops.h"

namespace {

constexpr int kHighReadPhase = 5;
constexpr int kHighWritePhase = 6;

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
  BlockFilled = RunWorkerPhase(kHighReadPhase, BytesOfBothPasses, [&console, readName, sizable] {
    return ReadHighPasses(console, RankHighReadStreams[OwnRank], readName, sizable, kLowFirstPass,
                          RankLengthTable[OwnRank], RankBlockTable[OwnRank], SecondPassDivisor());
  }) == 0;
}

void WorkerHighWrite() {
  FormatCopyName();
  const char* writeName = ClaimFileName(Console(), RankCopyNameBuffer);
  RunWorkerPhase(kHighWritePhase, BytesOfBothPasses, [writeName] {
    FormatCopyName();  // inside the timed span, as in every phase
    return WriteHighPasses(RankHighWriteStreams[OwnRank], writeName, RankLengthTable[OwnRank],
                           RankBlockTable[OwnRank], SecondPassDivisor(), BlockFilled);
  });
}

void ReportHighPhases() {
  OpenSpeedSection("High writing and reading speeds:");
  ReportSpeedPhase(kHighReadPhase, " Secs. to Read.");
  ReportSpeedPhase(kHighWritePhase, " Secs. to Write.");
  ReportWriteTotals(1, kHighWritePhase, HighWriteRate, HighWriteFailed);
  ReportReadTotals(kHighReadPhase, HighReadRate, HighReadFailed);
  ReportBlankLines();
  ReportSpeedAverage("Among all nodes, the average high writing process per thread was: ",
                     kHighWritePhase, "  MB/sec.");
  ReportSpeedAverage("Among all nodes, the average high reading process per thread was: ",
                     kHighReadPhase, "  MB/sec.");
}
