// The frame all six cluster phases share. Workers time a phase, send its set
// and go on; the root receives phase by phase in ascending rank order, so its
// lines are in rank order whatever order the workers finish in.
#pragma once

constexpr int kFirstWorkerRank = 1;

// Every rank, when the job has more than one process.
void RunClusterSection();

// Worker side: phases are numbered 1 to 6.
void BeginWorkerPhase(int phase);
// Stops the clock, computes the rate from the phase's amount of work, sends
// the set to the root, then notes failed operations on the worker's console.
void EndWorkerPhase(int phase, double work, long long failed);

// Root side: receives rank's set of the phase, adds its rate to the phase
// total and keeps its node name.
void ReceivePhaseFromRank(int phase, int rank);
int WorkerCount();

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
