// The root rank's single-node tests, run alone in this order. Each step times
// its work, then writes its lines, and leaves its rates in process-wide state
// for the cluster report's speed-ups.
#pragma once

#include <ostream>

void OpenSingleNodePhase();
void TestStreamHandling();
void TestDescriptorHandling();
void TestLowSpeed();
void TestHighSpeed();

// The three lines of one direction of a speed test: seconds, millions of
// accesses per second, MB per second.
void SpeedLines(std::ostream& sink, double seconds, const char* secondsUnit, double rate);
