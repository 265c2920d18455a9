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

// Root side: receives rank's result of the phase (a stop meanwhile says it
// waited for that rank), its node name as the lines show it and its place
// warning with it; adds its rate to the phase total, keeps its node name and
// counts a rate that is no measurement.
WorkerPhaseResult ReceiveRankResult(Phase phase, int rank);
// After the rank's lines of the phase, on both sinks: that it works outside
// the root's start directory (phase 1 only), that its operations failed.
void ReportRankWarnings(Phase phase, const WorkerPhaseResult& result);
int WorkerCount();
void ComputePhaseAverage(Phase phase);
// Receives every worker's result of the phase in ascending rank order,
// calling `rankLines(result)` as soon as it has arrived, its warnings after
// them; then the phase's total and average per worker are complete.
template <typename RankLines>
void ReceivePhase(Phase phase, const RankLines& rankLines) {
  for (int rank = kFirstWorkerRank; rank < JobSize; ++rank) {
    const WorkerPhaseResult result = ReceiveRankResult(phase, rank);
    rankLines(result);
    ReportRankWarnings(phase, result);
  }
  StopLineAfterLastWorker(phase);
  ComputePhaseAverage(phase);
}

// Report lines every cluster section shares, on both sinks, each followed by
// a warning when the phase's total adds rates that are no measurement. The
// speed-up divides the total by the root's own rate of the same measurement,
// and warns when that rate's operations failed.
void ReportSpeedUp(Phase phase);
// A blank line, then the phase's average per worker as shown (in the unit
// of `unit`).
void ReportAverage(const char* label, Phase phase, double shownAverage, const char* unit);
