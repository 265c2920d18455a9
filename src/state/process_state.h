// The root rank's process-wide objects: the results file with its naming
// buffers, the stream objects of the single-node tests, and their results.
// The streams exist for the whole process so that no timed loop constructs
// one; the tests only open and close them.
#pragma once

#include <cstdint>
#include <fstream>

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

// Single-node results; the cluster report divides its totals by the rates.
extern double StreamHandlingSeconds, StreamHandlingRate;
extern double DescriptorHandlingSeconds, DescriptorHandlingRate;
extern double LowWriteSeconds, LowWriteRate;
extern double LowReadSeconds, LowReadRate;
extern double HighReadSeconds, HighReadRate;
extern double HighWriteSeconds, HighWriteRate;
// Their failed file operations: a speed-up over the rate of failed work is
// no measurement either.
extern long long StreamHandlingFailed, DescriptorHandlingFailed;
extern long long LowWriteFailed, LowReadFailed, HighReadFailed, HighWriteFailed;
extern char LastReadByte;
extern std::int64_t LowSecondPassCount;
extern std::int64_t HighBlockSize;
extern char* HighBlock;  // allocated by the high read, released before the cluster low phases
