#include "cluster/cluster_frame.h"

#include <mpi.h>

#include "cluster/result_messages.h"
#include "platform/platform.h"
#include "report/failure_notes.h"
#include "state/process_state.h"
#include "state/rank_state.h"
#include "state/run_identity.h"

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

void BeginWorkerPhase(int phase) {
  RankPhases[phase - 1].StartTime[OwnRank] = MPI_Wtime();
}

void EndWorkerPhase(int phase, double work, long long failed) {
  RankPhaseTables& tables = RankPhases[phase - 1];
  tables.EndTime[OwnRank] = MPI_Wtime();
  tables.TimeSpent[OwnRank] = tables.EndTime[OwnRank] - tables.StartTime[OwnRank];
  tables.Rate[OwnRank] = work / tables.TimeSpent[OwnRank];
  SendResultSet(tables.Rate, tables.TimeSpent);
  WarnOfFailedPhase(OwnRank, phase, failed);
}

void ReceivePhaseFromRank(int phase, int rank) {
  ReceivedPhaseTables& tables = ReceivedPhases[phase - 1];
  tables.NodeNames[rank] = ReceiveResultSet(rank, tables.Rate, tables.TimeSpent);
  tables.Total += tables.Rate[rank];
}

int WorkerCount() { return JobSize - 1; }
