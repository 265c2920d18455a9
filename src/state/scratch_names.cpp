#include "state/scratch_names.h"

#include <cstdio>

const char* const SingleScratchName = "data64-windows-mx-single.tmp";
const char* const SingleCopyName = "data64-windows-mx-single";
const char* const SingleClaimName = "data64-windows-mx-single.claim";

namespace {

void FormatRankName(char* buffer, std::size_t capacity, int rank, const char* node,
                    const char* extension) {
  std::snprintf(buffer, capacity, "%s%d%s%s%s", "data64-windows-mx-", rank, " @", node, extension);
}

}  // namespace

void FormatRankScratchName(char* buffer, std::size_t capacity, int rank, const char* node) {
  FormatRankName(buffer, capacity, rank, node, ".tmp");
}

void FormatRankCopyName(char* buffer, std::size_t capacity, int rank, const char* node) {
  FormatRankName(buffer, capacity, rank, node, "");
}

void FormatRankClaimName(char* buffer, std::size_t capacity, int rank, const char* node) {
  FormatRankName(buffer, capacity, rank, node, ".claim");
}
