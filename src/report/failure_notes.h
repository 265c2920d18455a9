// A rate measured over failed work is not a measurement: these lines follow
// the lines of a test or phase whose file operations failed. A run without
// failures writes none of them. A process that wrote one ends with a
// non-zero exit status, so that batch systems see it too.
#pragma once

#include <ostream>
#include <string>

// A line beginning with "Warning: ", on `sink`.
void WarningLine(std::ostream& sink, const std::string& text);
bool AnyWarningWritten();

// After a single-node test's lines, on both sinks.
void WarnOfFailedOperations(long long failed);
// On a worker's own console, after its phase's results were sent.
void WarnOfFailedPhase(int rank, int phase, long long failed);
