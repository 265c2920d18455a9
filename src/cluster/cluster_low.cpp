#include "cluster/cluster_low.h"

#include "cluster/cluster_frame.h"
#include "cluster/speed_report.h"
#include "report/name_notes.h"
#include "report/report_sink.h"
#include "state/rank_state.h"
#include "state/scratch_names.h"
#include "workloads/low_loops.h"

namespace {

void FormatScratchName() {
  FormatRankScratchName(RankScratchNameBuffer, kScratchNameSize, OwnRank, NodeFileName.c_str());
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
  const char* writeName = ClaimFileName(Console(), RankScratchNameBuffer);
  RunWorkerPhase(Phase::LowWrite, AccessesOfBothPasses, [writeName] {
    FormatScratchName();  // inside the timed span, as in every phase
    // The stream stays open, every byte flushed, until the process ends.
    return WriteLowPasses(RankLowWriteStreams[OwnRank], writeName, RankLengthTable[OwnRank],
                          SecondPassCount());
  });
}

void WorkerLowRead() {
  std::ostream& console = Console();
  // Reads the file phase 3 wrote; its name is still in the shared buffer.
  const char* readName = ClaimFileName(console, RankScratchNameBuffer);
  char discarded = 0;
  RunWorkerPhase(Phase::LowRead, AccessesOfBothPasses, [&console, readName, &discarded] {
    const long long failed =
        ReadLowPasses(console, RankLowReadStreams[OwnRank], readName, RankLengthTable[OwnRank],
                      SecondPassCount(), discarded);
    RankLowReadStreams[OwnRank].close();
    return failed;
  });
}

void ReportLowPhases() {
  OpenSpeedSection("Low writing and reading speeds:");
  const ReceivedPhase write = ReportSpeedPhase(Phase::LowWrite, " Secs. to Write.");
  const ReceivedPhase read = ReportSpeedPhase(Phase::LowRead, " Secs. to Read.");
  ReportWriteTotals(2, write);
  ReportReadTotals(read);
  ReportBlankLines();
  ReportSpeedAverage("Among all nodes, the average low writing process per thread was: ",
                     write, " MB/sec.");
  ReportSpeedAverage("Among all nodes, the average low reading process per thread was: ",
                     read, "  MB/sec.");
  ReportBlankLines();
}
