// Who this process is in the job; written once at start-up, read everywhere.
#pragma once

#include <mpi.h>

#include <string>

extern int ProvidedThreadLevel;
extern int JobSize;
extern int OwnRank;
extern char NodeName[MPI_MAX_PROCESSOR_NAME];
extern int NodeNameLength;
// The node name as it enters file names: bytes that could lead a name into
// another directory, or split it, replaced (state/node_names.h).
extern std::string NodeFileName;
// The working directory at process start, taken before main runs; it names
// where the results file lies at the end of the run.
extern const std::string StartDirectory;

// The root writes the report; every other rank, from the first worker on,
// measures in the cluster phases and sends it its results.
constexpr int kRootRank = 0;
constexpr int kFirstWorkerRank = 1;
bool IsRootRank();
