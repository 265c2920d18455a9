#include "state/scratch_names.h"

#include <cstdio>

const char* const SingleScratchName = "data64-windows-mx-single.tmp";
const char* const SingleCopyName = "data64-windows-mx-single";

void FormatRankScratchName(char* buffer, std::size_t capacity, int rank, const char* node) {
  std::snprintf(buffer, capacity, "%s%d%s%s%s", "data64-windows-mx-", rank, " @", node, ".tmp");
}

void FormatRankCopyName(char* buffer, std::size_t capacity, int rank, const char* node) {
  std::snprintf(buffer, capacity, "%s%d%s%s", "data64-windows-mx-", rank, " @", node);
}
