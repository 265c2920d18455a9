// The fixed amounts of work of every test. The report's rates divide these
// counts by measured seconds, so they are part of what a result means.
#pragma once

#include <cstdint>

#ifndef ORVANTIC_SMALL_RANK_LIMIT
constexpr int kMaxRanks = 0x1000;  // largest job that runs; size of every per-rank table
#else
// Test build only: a job of a few processes reaches the limit.
constexpr int kMaxRanks = 8;
#endif

// A job larger than every per-rank table is refused.
inline bool JobSizeAllowed(int jobSize) { return jobSize <= kMaxRanks; }

#ifndef ORVANTIC_SMALL_COUNTS
constexpr long kHandlingIterations = 0x20000;      // create/open/close/remove cycles per test
constexpr std::int64_t kLowFirstPass = 0x1000000;  // single-byte accesses of pass 1, and the scratch file size
#else
// Test build only: the same code paths with tiny amounts of work.
constexpr long kHandlingIterations = 256;
#ifndef ORVANTIC_FEW_LOW_ACCESSES
constexpr std::int64_t kLowFirstPass = 0x10000;
#else
// For test jobs on FUSE file systems, where every single-byte access is a
// round trip to the user-space client (about 0.2 ms): a job in seconds.
constexpr std::int64_t kLowFirstPass = 0x2000;
#endif
#endif

constexpr std::int64_t kLowSecondPass = kLowFirstPass / 2;
constexpr std::int64_t kLowAccesses = kLowFirstPass + kLowSecondPass;
constexpr char kLowByte = 0x0B;
