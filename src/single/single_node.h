// The root rank's single-node tests, run alone in this order. Each step times
// its work, then writes its lines, and leaves its rates in process-wide state
// for the cluster report's speed-ups.
#pragma once

#include "workloads/timed_span.h"

void OpenSingleNodePhase();
void TestStreamHandling();
void TestDescriptorHandling();
void TestLowSpeed();
void TestHighSpeed();

// A single-node measurement keeps only its seconds and rate.
template <typename Work>
long long MeasureSingleNode(double& seconds, double& rate, WorkAmount amount, const Work& work) {
  double start = 0.0;
  double end = 0.0;
  return Measure({start, end, seconds, rate}, amount, work);
}

// One direction of a speed test on both sinks: seconds, millions of accesses
// per second, MB per second, the blank lines that close it, then the warning
// when any of its operations failed.
void ReportSpeedDirection(double seconds, const char* secondsUnit, double rate,
                          int blankLinesAfter, long long failed);
