// Phases 3 and 4: single-byte write and read on every worker at once, and the
// root's report of both.
#include "cluster/cluster_frame.h"
#include "cluster/speed_report.h"
#include "report/failure_notes.h"
#include "single/low_loops.h"
#include "state/process_state.h"
#include "state/rank_state.h"
#include "state/run_identity.h"
#include "state/scratch_names.h"

namespace {

constexpr int kLowWritePhase = 3;
constexpr int kLowReadPhase = 4;

void FormatScratchName() {
  FormatRankScratchName(RankScratchNameBuffer, kScratchNameSize, OwnRank, NodeName);
}

// Each rank rewrites and rereads a different share of its file in pass 2.
std::int64_t SecondPassCount() { return kLowFirstPass / (OwnRank + 1); }

double AccessesOfBothPasses() {
  return static_cast<double>(kLowFirstPass + RankLengthTable[OwnRank]);
}

}  // namespace

void WorkerLowWrite() {
  RankNumberTable[OwnRank] = OwnRank;
  FormatScratchName();
  const char* writeName = ClaimFileName(RankScratchNameBuffer);
  BeginWorkerPhase(kLowWritePhase);
  FormatScratchName();  // inside the timed span, as in every phase
  // The stream stays open, every byte flushed, until the process ends.
  const long long failed = WriteLowPasses(RankLowWriteStreams[OwnRank], writeName,
                                          RankLengthTable[OwnRank], SecondPassCount());
  EndWorkerPhase(kLowWritePhase, AccessesOfBothPasses(), failed);
}

void WorkerLowRead() {
  char discarded = 0;
  BeginWorkerPhase(kLowReadPhase);
  const long long failed = ReadLowPasses(RankLowReadStreams[OwnRank], RankScratchNameBuffer,
                                         RankLengthTable[OwnRank], SecondPassCount(), discarded);
  RankLowReadStreams[OwnRank].close();
  EndWorkerPhase(kLowReadPhase, AccessesOfBothPasses(), failed);
}

void ReportLowPhases() {
  ReportSpeedSection(SpeedSection{
      "Low writing and reading speeds:",
      kLowWritePhase, " Secs. to Write.",
      kLowReadPhase, " Secs. to Read.",
      kLowWritePhase, kLowReadPhase,
      2,
      LowWriteRate, LowReadRate,
      "Among all nodes, the average low writing process per thread was: ", " MB/sec.",
      "Among all nodes, the average low reading process per thread was: ",
      true,
  });
}
