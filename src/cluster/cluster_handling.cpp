// Phases 1 and 2: file handling on every worker at once, through streams and
// through descriptors, and the root's report of both.
#include "cluster/cluster_frame.h"
#include "report/line_shapes.h"
#include "report/report_sink.h"
#include "state/process_state.h"
#include "state/rank_state.h"
#include "state/scratch_names.h"
#include "workloads/handling_loops.h"

namespace {

constexpr int kStreamPhase = 1;
constexpr int kDescriptorPhase = 2;

// A worker formats its name anew in every iteration; that cost is part of
// its rate.
const char* StreamHandlingName() {
  FormatRankScratchName(RankHandlingStreamName, kScratchNameSize, OwnRank, NodeFileName.c_str());
  return RankHandlingStreamName;
}

const char* DescriptorHandlingName() {
  FormatRankScratchName(RankHandlingDescriptorName, kScratchNameSize, OwnRank,
                        NodeFileName.c_str());
  return RankHandlingDescriptorName;
}

void HandlingRankLines(std::ostream& sink, const ReceivedPhaseTables& tables, int rank,
                       const char* spentLabel, const char* rateLabel) {
  const int number = ReceivedRankTable[rank];
  const std::string& node = tables.NodeNames[rank];
  RankLine(sink, number, node, spentLabel, tables.TimeSpent[rank], " Secs.");
  RankLine(sink, number, node, rateLabel, tables.Rate[rank], " Files/sec.");
}

void ReportHandlingRank(int phase, int rank) {
  const ReceivedPhaseTables& tables = OfPhase(ReceivedPhases, phase);
  // In the file the node name runs straight into the label.
  HandlingRankLines(Console(), tables, rank, " The system spent: ", " The system could process ");
  HandlingRankLines(FileSink(), tables, rank, "The system spent: ", "The system could process ");
}

void ReportHandlingPhase(int phase, double singleNodeRate, long long singleNodeFailed) {
  ReceivePhase(phase, [phase](int rank) { ReportHandlingRank(phase, rank); });
  const ReceivedPhaseTables& tables = OfPhase(ReceivedPhases, phase);
  OnBothSinks([&tables](std::ostream& sink) {
    ValueLine(sink, "Overall, The system could process: ", tables.Total, " Files/sec.");
  });
  ReportSpeedUp(phase, singleNodeRate, singleNodeFailed);
  ReportBlankLines();
  BlankLine(Console());  // the console has one blank line more than the file here
  ReportAverage("Among all nodes, the average process per thread was: ", phase, tables.Average,
                " Files/sec.");
  ReportBlankLines();
}

}  // namespace

void WorkerStreamHandling() {
  RankNumberTable[OwnRank] = OwnRank;
  const NameSource name = ClaimedNameSource(Console(), StreamHandlingName);
  RunWorkerPhase(kStreamPhase, HandlingIterations, [name] {
    return HandleFilesWithStreams(RankHandlingWriteStreams[OwnRank],
                                  RankHandlingReadStreams[OwnRank], kHandlingIterations, name);
  });
}

void WorkerDescriptorHandling() {
  RankNumberTable[OwnRank] = OwnRank;
  const NameSource name = ClaimedNameSource(Console(), DescriptorHandlingName);
  RunWorkerPhase(kDescriptorPhase, HandlingIterations, [name] {
    return HandleFilesWithDescriptors(RankDescriptorTable[OwnRank], kHandlingIterations, name);
  });
}

void ReportHandlingPhases() {
  ReportText("Multi-Thread Enabled:");
  ReportHeading("Power of Handling Files -- Lower");
  ReportHandlingPhase(kStreamPhase, StreamHandlingRate, StreamHandlingFailed);
  ReportHeading("Power of Handling Files -- Higher");
  ReportHandlingPhase(kDescriptorPhase, DescriptorHandlingRate, DescriptorHandlingFailed);
}
