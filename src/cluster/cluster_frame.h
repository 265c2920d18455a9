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
// the phase's tables, sends the set to the root, then notes failed
// operations on the worker's console. Returns how many failed.
Measurement OwnPhaseMeasurement(int phase);
void SendPhaseResults(int phase, long long failed);
template <typename Work>
long long RunWorkerPhase(int phase, WorkAmount amount, const Work& work) {
  const long long failed = Measure(OwnPhaseMeasurement(phase), amount, work);
  SendPhaseResults(phase, failed);
  return failed;
}

// Root side: receives rank's set of the phase, adds its rate to the phase
// total and keeps its node name.
void ReceivePhaseFromRank(int phase, int rank);
int WorkerCount();
void ComputePhaseAverage(int phase);
// Receives every worker's set of the phase in ascending rank order, calling
// `rankLines(rank)` as soon as a rank's set has arrived; then the phase's
// total and average per worker are complete.
template <typename RankLines>
void ReceivePhase(int phase, const RankLines& rankLines) {
  for (int rank = kFirstWorkerRank; rank < JobSize; ++rank) {
    ReceivePhaseFromRank(phase, rank);
    rankLines(rank);
  }
  ComputePhaseAverage(phase);
}

// Report lines every cluster section shares, on both sinks.
void ReportSpeedUp(double total, double singleNodeRate);
// A blank line, then the average per worker.
void ReportAverage(const char* label, double average, const char* unit);

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
