// The frame all six cluster phases share. Workers time a phase, send its set
// and go on; the root receives phase by phase in ascending rank order, so its
// lines are in rank order whatever order the workers finish in.
#pragma once

#include "cluster/result_messages.h"
#include "report/stop_line.h"
#include "state/phases.h"
#include "state/run_identity.h"
#include "workloads/timed_span.h"

// Worker side: times `work` in its own entries of the phase's tables, sends
// the set with its failed operations to the root, then notes them on the
// worker's console. Returns how many failed.
Measurement OwnPhaseMeasurement(Phase phase);
void SendPhaseResults(Phase phase, long long failed);
template <typename Work>
long long RunWorkerPhase(Phase phase, WorkAmount amount, const Work& work) {
  const long long failed = Measure(OwnPhaseMeasurement(phase), amount, work);
  SendPhaseResults(phase, failed);
  return failed;
}

// Root side: what it keeps of one phase once every worker's result has
// arrived, which the phase's last lines report.
struct ReceivedPhase {
  Phase Measured;
  double Total = 0.0;    // of the workers' rates
  double Average = 0.0;  // per worker
  int InvalidRates = 0;  // workers whose rate in the total is no measurement
};

// Receives rank's result of the phase (a stop meanwhile says it waited for
// that rank), its node name as the lines show it and its place warning with
// it.
WorkerPhaseResult ReceiveRankResult(Phase phase, int rank);
// Adds the worker's rate to the phase's total and counts a rate that is no
// measurement.
void AddToPhaseTotal(ReceivedPhase& received, const WorkerPhaseResult& result);
// After the rank's lines of the phase, on both sinks: that it works outside
// the root's start directory (phase 1 only), that its operations failed.
void ReportRankWarnings(Phase phase, const WorkerPhaseResult& result);
int WorkerCount();
// Receives every worker's result of the phase in ascending rank order,
// calling `rankLines(result)` as soon as it has arrived, its warnings after
// them; returns the phase's total and average per worker.
template <typename RankLines>
ReceivedPhase ReceivePhase(Phase phase, const RankLines& rankLines) {
  ReceivedPhase received{phase};
  for (int rank = kFirstWorkerRank; rank < JobSize; ++rank) {
    const WorkerPhaseResult result = ReceiveRankResult(phase, rank);
    AddToPhaseTotal(received, result);
    rankLines(result);
    ReportRankWarnings(phase, result);
  }
  StopLineAfterLastWorker(phase);
  received.Average = received.Total / WorkerCount();
  return received;
}

// Report lines every cluster section shares, on both sinks, each followed by
// a warning when the phase's total adds rates that are no measurement. The
// speed-up divides the total by the root's own rate of the same measurement,
// and warns when that rate's operations failed.
void ReportSpeedUp(const ReceivedPhase& received);
// A blank line, then the phase's average per worker as shown (in the unit
// of `unit`).
void ReportAverage(const char* label, const ReceivedPhase& received, double shownAverage,
                   const char* unit);
