#include "cluster/cluster_frame.h"

#include "cluster/result_messages.h"
#include "platform/platform.h"
#include "report/failure_notes.h"
#include "report/line_shapes.h"
#include "report/report_sink.h"
#include "state/node_names.h"
#include "state/process_state.h"
#include "state/rank_state.h"

namespace {

void RunWorkerPhases() {
  WorkerStreamHandling();
  WorkerDescriptorHandling();
  WorkerLowWrite();
  WorkerLowRead();
  WorkerHighRead();
  WorkerHighWrite();
}

void ReleaseHighBlock() {
  ReleasePageAlignedBlock(HighBlock);
  HighBlock = nullptr;
}

void ReportClusterPhases() {
  ReportHandlingPhases();
  // The single-node block is not needed again; give its memory back before
  // the rest of the run.
  ReleaseHighBlock();
  ReportLowPhases();
  ReportHighPhases();
}

}  // namespace

void RunClusterSection() {
  if (IsRootRank()) {
    ReportClusterPhases();
  } else {
    RunWorkerPhases();
  }
}

Measurement OwnPhaseMeasurement(int phase) {
  RankPhaseTables& tables = OfPhase(RankPhases, phase);
  return {tables.StartTime[OwnRank], tables.EndTime[OwnRank], tables.TimeSpent[OwnRank],
          tables.Rate[OwnRank]};
}

void SendPhaseResults(int phase, long long failed) {
  const RankPhaseTables& tables = OfPhase(RankPhases, phase);
  SendResultSet(tables.Rate, tables.TimeSpent);
  WarnOfFailedPhase(OwnRank, phase, failed);
}

void ReceivePhaseFromRank(int phase, int rank) {
  ReceivedPhaseTables& tables = OfPhase(ReceivedPhases, phase);
  // A control character in a host name would split the rank's lines.
  tables.NodeNames[rank] = NodeNameForLines(ReceiveResultSet(rank, tables.Rate, tables.TimeSpent));
  tables.Total += tables.Rate[rank];
}

int WorkerCount() { return JobSize - 1; }

void ComputePhaseAverage(int phase) {
  ReceivedPhaseTables& tables = OfPhase(ReceivedPhases, phase);
  tables.Average = tables.Total / WorkerCount();
}

void ReportSpeedUp(double total, double singleNodeRate) {
  OnBothSinks([=](std::ostream& sink) {
    ValueLine(sink, "Multi-Thread Improvements: ", total / singleNodeRate, " times.");
  });
}

void ReportAverage(const char* label, double average, const char* unit) {
  OnBothSinks([=](std::ostream& sink) {
    BlankLine(sink);
    ValueLine(sink, label, average, unit);
  });
}
