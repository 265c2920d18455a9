// A rate measured over failed work is not a measurement: these lines follow
// the lines of a test or phase whose file operations failed, and the totals
// and averages that add such a rate. A run without failures writes none of
// them. A process that wrote one ends with a non-zero exit status, so that
// batch systems see it too.
#pragma once

#include <ostream>
#include <string>

// A line beginning with "Warning: ", on `sink`; an empty text writes
// nothing, so a warning that may be empty needs no check at its caller.
void WarningLine(std::ostream& sink, const std::string& text);
bool AnyWarningWritten();
// A warning line on both sinks.
void ReportWarning(const std::string& line);

// After a single-node test's lines, on both sinks.
void WarnOfFailedOperations(long long failed);
// The line that says a worker's phase failed, the same on the worker's own
// console and in the root's report; empty when nothing failed.
std::string FailedPhaseWarning(int rank, int phase, long long failed);
// After a phase's total and speed-up, and after its average, when `invalid`
// of the `workers` rates they are made of are no measurement.
void WarnOfInvalidTotal(int invalid, int workers);
// After a speed-up whose divisor, the root's own rate of the test, counted
// `singleNodeFailed` failed operations.
void WarnOfInvalidDivisor(long long singleNodeFailed);
void WarnOfInvalidAverage(int invalid, int workers);
