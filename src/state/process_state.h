// The root rank's process-wide objects: the results file with its naming
// buffers, the stream objects of the single-node tests, and their results.
// The streams exist for the whole process so that no timed loop constructs
// one; the tests only open and close them.
#pragma once

#include <cstdint>
#include <fstream>

#include "state/phases.h"

// Destroyed in reverse order at process end, which closes any still open.
extern std::ofstream ResultsFile;
extern std::ofstream HandlingWriteStream;
extern std::ifstream HandlingReadStream;
extern std::ofstream LowWriteStream;
extern std::ifstream LowReadStream;
extern std::ifstream HighReadStream;
extern std::ofstream HighWriteStream;

constexpr int kDateTextSize = 1024;
constexpr int kResultsFileNameSize = 2048;
extern char DateText[kDateTextSize];
extern char ResultsFileNameBuffer[kResultsFileNameSize];

// One single-node measurement. The cluster report divides its totals by the
// rate; a speed-up over the rate of failed work is no measurement either.
struct SingleNodeResult {
  double Seconds = 0.0;
  double Rate = 0.0;
  long long Failed = 0;  // file operations that failed
};
extern SingleNodeResult SingleNodeResults[kPhaseCount];
inline SingleNodeResult& SingleNodeResultOf(Phase phase) {
  return OfPhase(SingleNodeResults, phase);
}

// Working values the single-node tests keep.
extern char LastReadByte;
extern std::int64_t LowSecondPassCount;
extern std::int64_t HighBlockSize;
extern char* HighBlock;  // allocated by the high read, released before the cluster low phases
