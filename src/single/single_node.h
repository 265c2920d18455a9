// The root rank's single-node tests, run alone in this order. Each step times
// its work, then writes its lines, and leaves its rates in process-wide state
// for the cluster report's speed-ups.
#pragma once

#include "state/process_state.h"
#include "workloads/timed_span.h"

void OpenSingleNodePhase();
void TestStreamHandling();
void TestDescriptorHandling();
void TestLowSpeed();
void TestHighSpeed();

// Times `work` into the phase's single-node result and returns it; of the
// clock readings only the seconds are kept.
template <typename Work>
const SingleNodeResult& MeasureSingleNode(Phase phase, WorkAmount amount, const Work& work) {
  SingleNodeResult& result = SingleNodeResultOf(phase);
  double start = 0.0;
  double end = 0.0;
  result.Failed = Measure({start, end, result.Seconds, result.Rate}, amount, work);
  return result;
}

// One direction of a speed test on both sinks: seconds, millions of accesses
// per second, MB per second, the blank lines that close it, then the warning
// when any of its operations failed.
void ReportSpeedDirection(const SingleNodeResult& result, const char* secondsUnit,
                          int blankLinesAfter);
