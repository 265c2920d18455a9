// The create/open/close/remove loops, shared by the single-node tests and the
// worker phases. They differ only in where the name comes from: the single
// node uses one fixed name, a worker formats its own in every iteration so
// that cost is part of its rate. Each returns how many operations failed.
#pragma once

#include <fstream>
#include <ostream>

#include "names/name_claims.h"
#include "state/work_counts.h"

using NameSource = const char* (*)();

// The work of one handling test, as the rate divides it.
inline double HandlingIterations() { return kHandlingIterations; }

// Claims the name `source` yields and returns the source to use: `source`
// itself, or one that yields the refused name. What was found is said on
// `console`.
NameSource ClaimedNameSource(std::ostream& console, NameSource source);

long long HandleFilesWithStreams(std::ofstream& writeStream, std::ifstream& readStream,
                                 long iterations, NameSource nextName);
// `descriptor` holds the descriptor of the current iteration, -1 when its
// open failed.
long long HandleFilesWithDescriptors(int& descriptor, long iterations, NameSource nextName);
