// Names of the scratch files. All are relative, so the files lie in the
// current directory; the per-rank names carry rank and node so that ranks
// sharing a directory never touch each other's files.
#pragma once

#include <cstddef>

extern const char* const SingleScratchName;
extern const char* const SingleCopyName;
// The file a rank holds for the whole run, so that a second run in the same
// directory finds its names taken instead of measuring the first one's files.
extern const char* const SingleClaimName;

// "data64-windows-mx-<rank> @<node>.tmp", or without ".tmp" for the copy of
// the last phase; cut to fit the buffer, never beyond it. `node` is the name
// made safe for file names (NodeFileName).
void FormatRankScratchName(char* buffer, std::size_t capacity, int rank, const char* node);
void FormatRankCopyName(char* buffer, std::size_t capacity, int rank, const char* node);
// "data64-windows-mx-<rank> @<node>.claim".
void FormatRankClaimName(char* buffer, std::size_t capacity, int rank, const char* node);
