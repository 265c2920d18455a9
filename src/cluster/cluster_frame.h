// The frame all six cluster phases share. Workers time a phase, send its set
// and go on; the root receives phase by phase in ascending rank order, so its
// lines are in rank order whatever order the workers finish in.
#pragma once

#include "state/run_identity.h"
#include "workloads/timed_span.h"

constexpr int kFirstWorkerRank = 1;

// Every rank, when the job has more than one process.
void RunClusterSection();

// Worker side, phases numbered 1 to 6: times `work` in its own entries of
// the phase's tables, sends the set with its failed operations to the root,
// then notes them on the worker's console. Returns how many failed.
Measurement OwnPhaseMeasurement(int phase);
void SendPhaseResults(int phase, long long failed);
template <typename Work>
long long RunWorkerPhase(int phase, WorkAmount amount, const Work& work) {
  const long long failed = Measure(OwnPhaseMeasurement(phase), amount, work);
  SendPhaseResults(phase, failed);
  return failed;
}

// Root side: receives rank's set of the phase, adds its rate to the phase
// total, keeps its node name and failures and counts a rate that is no
// measurement.
void ReceivePhaseFromRank(int phase, int rank);
// After the rank's lines of the phase, on both sinks: that it works outside
// the root's start directory (phase 1 only), that its operations failed.
void ReportRankWarnings(int phase, int rank);
int WorkerCount();
void ComputePhaseAverage(int phase);
// Receives every worker's set of the phase in ascending rank order, calling
// `rankLines(rank)` as soon as a rank's set has arrived, its warnings after
// them; then the phase's total and average per worker are complete.
template <typename RankLines>
void ReceivePhase(int phase, const RankLines& rankLines) {
  for (int rank = kFirstWorkerRank; rank < JobSize; ++rank) {
    ReceivePhaseFromRank(phase, rank);
    rankLines(rank);
    ReportRankWarnings(phase, rank);
  }
  ComputePhaseAverage(phase);
}

// Report lines every cluster section shares, on both sinks, each followed by
// a warning when the phase's total adds rates that are no measurement. The
// speed-up divides by the root's own rate of the test, of which
// `singleNodeFailed` operations failed.
void ReportSpeedUp(int phase, double singleNodeRate, long long singleNodeFailed);
// A blank line, then the phase's average per worker as shown (in the unit
// of `unit`).
void ReportAverage(const char* label, int phase, double shownAverage, const char* unit);

// The phases themselves.
void WorkerStreamHandling();
void WorkerDescriptorHandling();
void WorkerLowWrite();
void WorkerLowRead();
void WorkerHighRead();
void WorkerHighWrite();
void ReportHandlingPhases();
void ReportLowPhases();
void ReportHighPhases();
