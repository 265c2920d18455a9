// Per-rank pools and tables of the cluster phases. Every process holds them
// at full kMaxRanks size whatever its rank; a worker uses only the entries at
// its own rank, the root the entries of ranks 0 to size - 1.
#pragma once

#include <mpi.h>

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "state/phases.h"
#include "state/work_counts.h"

constexpr int kScratchNameSize = 4096;

// Stream pools, built before main and never destroyed; streams a phase leaves
// open stay open until the process ends.
extern std::ofstream* const RankHandlingWriteStreams;
extern std::ifstream* const RankHandlingReadStreams;
extern std::ofstream* const RankLowWriteStreams;
extern std::ifstream* const RankLowReadStreams;
extern std::ifstream* const RankHighReadStreams;
extern std::ofstream* const RankHighWriteStreams;

// A worker's tables of one phase; only its own entry is ever written.
struct RankPhaseTables {
  double StartTime[kMaxRanks];
  double EndTime[kMaxRanks];
  double TimeSpent[kMaxRanks];
  double Rate[kMaxRanks];
};
extern RankPhaseTables RankPhases[kPhaseCount];

extern int RankNumberTable[kMaxRanks];  // own entry = own rank; sent with every set
extern int RankDescriptorTable[kMaxRanks];
extern std::int64_t RankLengthTable[kMaxRanks];  // pass-2 count (phases 3, 4), file size (5, 6)
extern char* RankBlockTable[kMaxRanks];

extern char RankHandlingStreamName[kScratchNameSize];      // phase 1
extern char RankHandlingDescriptorName[kScratchNameSize];  // phase 2
extern char RankScratchNameBuffer[kScratchNameSize];       // phases 3 to 5
extern char RankCopyNameBuffer[kScratchNameSize];          // phase 6

// The root's start directory, by every name that leads to it (worker side):
// a worker measures where the job was started only when its own current
// directory is that directory.
extern std::vector<std::string> RootStartDirectories;
// This worker's warning that it works elsewhere; empty when it does not.
extern std::string OwnPlaceWarning;

// The root's receive buffers of every set: each receive overwrites entries
// 0 to size - 1 with the sender's whole tables, in which only the sender's
// own entries mean anything, so its result is taken out of them at once
// (ReceiveResultSet) and nothing else reads them.
extern double ReceivedRateTable[kMaxRanks];
extern double ReceivedTimeTable[kMaxRanks];
extern int ReceivedRankTable[kMaxRanks];
// Entry k: rank k's warning that it works outside the root's start
// directory, received with its first set; empty when it works there.
extern std::string ReceivedPlaceWarnings[kMaxRanks];
// The receive buffer of every set's node name.
extern char ReceivedNodeName[MPI_MAX_PROCESSOR_NAME];
extern MPI_Status ReceiveStatus;
