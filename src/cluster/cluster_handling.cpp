// Phases 1 and 2: file handling on every worker at once, through streams and
// through descriptors, and the root's report of both.
#include "cluster/cluster_frame.h"
#include "report/line_shapes.h"
#include "report/report_sink.h"
#include "single/handling_loops.h"
#include "state/process_state.h"
#include "state/rank_state.h"
#include "state/run_identity.h"
#include "state/scratch_names.h"

namespace {

constexpr int kStreamPhase = 1;
constexpr int kDescriptorPhase = 2;

// A worker formats its name anew in every iteration; that cost is part of
// its rate.
const char* StreamHandlingName() {
  FormatRankScratchName(RankHandlingStreamName, kScratchNameSize, OwnRank, NodeName);
  return RankHandlingStreamName;
}

const char* DescriptorHandlingName() {
  FormatRankScratchName(RankHandlingDescriptorName, kScratchNameSize, OwnRank, NodeName);
  return RankHandlingDescriptorName;
}

void HandlingRankLines(int phase, int rank) {
  const ReceivedPhaseTables& tables = ReceivedPhases[phase - 1];
  const int number = ReceivedRankTable[rank];
  const std::string& node = tables.NodeNames[rank];
  RankLine(Console(), number, node, " The system spent: ", tables.TimeSpent[rank], " Secs.");
  RankLine(Console(), number, node, " The system could process ", tables.Rate[rank], " Files/sec.");
  RankLine(FileSink(), number, node, "The system spent: ", tables.TimeSpent[rank], " Secs.");
  RankLine(FileSink(), number, node, "The system could process ", tables.Rate[rank], " Files/sec.");
}

void ReportHandlingPhase(int phase, const char* heading, double singleNodeRate) {
  ReportHeading(heading);
  ReceivedPhaseTables& tables = ReceivedPhases[phase - 1];
  for (int rank = kFirstWorkerRank; rank < JobSize; ++rank) {
    ReceivePhaseFromRank(phase, rank);
    HandlingRankLines(phase, rank);
  }
  ReportValue("Overall, The system could process: ", tables.Total, " Files/sec.");
  ReportValue("Multi-Thread Improvements: ", tables.Total / singleNodeRate, " times.");
  ReportBlankLines();
  tables.Average = tables.Total / WorkerCount();
  const char* averageLabel = "Among all nodes, the average process per thread was: ";
  BlankLine(Console());
  BlankLine(Console());
  ValueLine(Console(), averageLabel, tables.Average, " Files/sec.");
  BlankLine(FileSink());
  ValueLine(FileSink(), averageLabel, tables.Average, " Files/sec.");
  ReportBlankLines();
}

}  // namespace

void WorkerStreamHandling() {
  RankNumberTable[OwnRank] = OwnRank;
  const NameSource name = ClaimedNameSource(StreamHandlingName);
  BeginWorkerPhase(kStreamPhase);
  const long long failed =
      HandleFilesWithStreams(RankHandlingWriteStreams[OwnRank], RankHandlingReadStreams[OwnRank],
                             kHandlingIterations, name);
  EndWorkerPhase(kStreamPhase, kHandlingIterations, failed);
}

void WorkerDescriptorHandling() {
  RankNumberTable[OwnRank] = OwnRank;
  const NameSource name = ClaimedNameSource(DescriptorHandlingName);
  BeginWorkerPhase(kDescriptorPhase);
  const long long failed =
      HandleFilesWithDescriptors(RankDescriptorTable[OwnRank], kHandlingIterations, name);
  EndWorkerPhase(kDescriptorPhase, kHandlingIterations, failed);
}

void ReportHandlingPhases() {
  ReportText("Multi-Thread Enabled:");
  ReportHandlingPhase(kStreamPhase, "Power of Handling Files -- Lower", StreamHandlingRate);
  ReportHandlingPhase(kDescriptorPhase, "Power of Handling Files -- Higher", DescriptorHandlingRate);
}
