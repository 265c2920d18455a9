#include "cluster/cluster_handling.h"

#include "cluster/cluster_frame.h"
#include "report/line_shapes.h"
#include "report/report_sink.h"
#include "state/rank_state.h"
#include "state/scratch_names.h"
#include "workloads/handling_loops.h"

namespace {

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

void HandlingRankLines(std::ostream& sink, const WorkerPhaseResult& result,
                       const char* spentLabel, const char* rateLabel) {
  RankLine(sink, result.Rank, result.Node, spentLabel, result.Seconds, " Secs.");
  RankLine(sink, result.Rank, result.Node, rateLabel, result.Rate, " Files/sec.");
}

void ReportHandlingRank(const WorkerPhaseResult& result) {
  // In the file the node name runs straight into the label.
  HandlingRankLines(Console(), result, " The system spent: ", " The system could process ");
  HandlingRankLines(FileSink(), result, "The system spent: ", "The system could process ");
}

void ReportHandlingPhase(Phase phase) {
  const ReceivedPhase received = ReceivePhase(phase, ReportHandlingRank);
  OnBothSinks([&received](std::ostream& sink) {
    ValueLine(sink, "Overall, The system could process: ", received.Total, " Files/sec.");
  });
  ReportSpeedUp(received);
  ReportBlankLines();
  BlankLine(Console());  // the console has one blank line more than the file here
  ReportAverage("Among all nodes, the average process per thread was: ", received,
                received.Average, " Files/sec.");
  ReportBlankLines();
}

}  // namespace

void WorkerStreamHandling() {
  RankNumberTable[OwnRank] = OwnRank;
  const NameSource name = ClaimedNameSource(Console(), StreamHandlingName);
  RunWorkerPhase(Phase::StreamHandling, HandlingIterations, [name] {
    return HandleFilesWithStreams(RankHandlingWriteStreams[OwnRank],
                                  RankHandlingReadStreams[OwnRank], kHandlingIterations, name);
  });
}

void WorkerDescriptorHandling() {
  RankNumberTable[OwnRank] = OwnRank;
  const NameSource name = ClaimedNameSource(Console(), DescriptorHandlingName);
  RunWorkerPhase(Phase::DescriptorHandling, HandlingIterations, [name] {
    return HandleFilesWithDescriptors(RankDescriptorTable[OwnRank], kHandlingIterations, name);
  });
}

void ReportHandlingPhases() {
  ReportText("Multi-Thread Enabled:");
  ReportHeading("Power of Handling Files -- Lower");
  ReportHandlingPhase(Phase::StreamHandling);
  ReportHeading("Power of Handling Files -- Higher");
  ReportHandlingPhase(Phase::DescriptorHandling);
}
