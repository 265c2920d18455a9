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

constexpr int kFirstPhase = 1;

std::string ShownDirectory(const std::string& directory) {
  return directory.empty() ? "(unknown)" : PrintableInLines(directory);
}

bool WorksInRootStartDirectory() {
  // A root that cannot name its directory gives nothing to compare with.
  if (RootStartDirectories.empty()) return true;
  for (const std::string& name : RootStartDirectories) {
    if (name == StartDirectory || SamePlace(name.c_str(), ".")) return true;
  }
  return false;
}

// A launcher that cannot enter the job's directory on a node may start the
// node's ranks elsewhere (Open MPI takes the home directory, silently); their
// rates would then be of another drive under this node's name.
void NoteWorkingPlace() {
  if (WorksInRootStartDirectory()) return;
  OwnPlaceWarning = "Warning: rank " + std::to_string(OwnRank) + " on " +
                    PrintableInLines(NodeName) + " works in " + ShownDirectory(StartDirectory) +
                    ", not in the root's start directory " +
                    ShownDirectory(RootStartDirectories.front()) + "; its rates are not valid.";
  WarningLine(Console(), OwnPlaceWarning);
}

void RunWorkerPhases() {
  NoteWorkingPlace();
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
  SendResultSet(tables.Rate, tables.TimeSpent, failed);
  if (phase == kFirstPhase) SendPlaceWarning(OwnPlaceWarning);
  WarningLine(Console(), FailedPhaseWarning(OwnRank, phase, failed));
}

void ReceivePhaseFromRank(int phase, int rank) {
  ReceivedPhaseTables& tables = OfPhase(ReceivedPhases, phase);
  // A control character in a host name would split the rank's lines.
  tables.NodeNames[rank] = PrintableInLines(
      ReceiveResultSet(rank, tables.Rate, tables.TimeSpent, tables.FailedOperations[rank]));
  if (phase == kFirstPhase) ReceivedPlaceWarnings[rank] = PrintableInLines(ReceivePlaceWarning(rank));
  tables.Total += tables.Rate[rank];
  const bool valid = tables.FailedOperations[rank] == 0 && ReceivedPlaceWarnings[rank].empty();
  tables.InvalidRates += !valid;
}

void ReportRankWarnings(int phase, int rank) {
  // Where the rank works concerns all its rates: said once, after its first lines.
  if (phase == kFirstPhase) ReportWarning(ReceivedPlaceWarnings[rank]);
  ReportWarning(FailedPhaseWarning(rank, phase, OfPhase(ReceivedPhases, phase).FailedOperations[rank]));
}

int WorkerCount() { return JobSize - 1; }

void ComputePhaseAverage(int phase) {
  ReceivedPhaseTables& tables = OfPhase(ReceivedPhases, phase);
  tables.Average = tables.Total / WorkerCount();
}

void ReportSpeedUp(int phase, double singleNodeRate, long long singleNodeFailed) {
  const ReceivedPhaseTables& tables = OfPhase(ReceivedPhases, phase);
  OnBothSinks([&tables, singleNodeRate](std::ostream& sink) {
    ValueLine(sink, "Multi-Thread Improvements: ", tables.Total / singleNodeRate, " times.");
  });
  WarnOfInvalidDivisor(singleNodeFailed);
  WarnOfInvalidTotal(tables.InvalidRates, WorkerCount());
}

void ReportAverage(const char* label, int phase, double shownAverage, const char* unit) {
  OnBothSinks([=](std::ostream& sink) {
    BlankLine(sink);
    ValueLine(sink, label, shownAverage, unit);
  });
  WarnOfInvalidAverage(OfPhase(ReceivedPhases, phase).InvalidRates, WorkerCount());
}
