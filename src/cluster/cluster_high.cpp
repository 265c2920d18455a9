// Phases 5 and 6: whole-block read and write on every worker at once, and the
// root's report of both, the last section of the run.
#include "cluster/cluster_frame.h"
#include "cluster/speed_report.h"
#include "report/failure_notes.h"
#include "single/high_loops.h"
#include "state/process_state.h"
#include "state/rank_state.h"
#include "state/run_identity.h"
#include "state/scratch_names.h"

namespace {

constexpr int kHighReadPhase = 5;
constexpr int kHighWritePhase = 6;

void FormatCopyName() {
  FormatRankCopyName(RankCopyNameBuffer, kScratchNameSize, OwnRank, NodeName);
}

// Pass 2 moves a share of the file that shrinks with the rank.
std::int64_t SecondPassDivisor() { return OwnRank + 1; }

double BytesOfBothPasses() {
  const std::int64_t size = RankLengthTable[OwnRank];
  return static_cast<double>(size + size / SecondPassDivisor());
}

}  // namespace

void WorkerHighRead() {
  BeginWorkerPhase(kHighReadPhase);
  // Reads the file phase 3 wrote; its name is still in the shared buffer.
  const long long failed =
      ReadHighPasses(RankHighReadStreams[OwnRank], RankScratchNameBuffer, RankLengthTable[OwnRank],
                     RankBlockTable[OwnRank], SecondPassDivisor());
  EndWorkerPhase(kHighReadPhase, BytesOfBothPasses(), failed);
}

void WorkerHighWrite() {
  FormatCopyName();
  const char* writeName = ClaimFileName(RankCopyNameBuffer);
  BeginWorkerPhase(kHighWritePhase);
  FormatCopyName();  // inside the timed span, as in every phase
  const long long failed =
      WriteHighPasses(RankHighWriteStreams[OwnRank], writeName, RankLengthTable[OwnRank],
                      RankBlockTable[OwnRank], SecondPassDivisor());
  EndWorkerPhase(kHighWritePhase, BytesOfBothPasses(), failed);
}

void ReportHighPhases() {
  ReportSpeedSection(SpeedSection{
      "High writing and reading speeds:",
      kHighReadPhase, " Secs. to Read.",
      kHighWritePhase, " Secs. to Write.",
      kHighWritePhase, kHighReadPhase,
      1,
      HighWriteRate, HighReadRate,
      "Among all nodes, the average high writing process per thread was: ", "  MB/sec.",
      "Among all nodes, the average high reading process per thread was: ",
      false,
  });
}
