#include "app/own_files.h"

#include "platform/platform.h"
#include "state/node_names.h"
#include "state/rank_state.h"
#include "state/run_identity.h"
#include "state/scratch_names.h"

namespace {

HeldFile OwnHold;
char OwnClaimFileBuffer[kScratchNameSize];

const char* OwnClaimFileName() {
  if (IsRootRank()) return SingleClaimName;
  FormatRankClaimName(OwnClaimFileBuffer, kScratchNameSize, OwnRank, NodeFileName.c_str());
  return OwnClaimFileBuffer;
}

// What a run that finds the hold taken reads in the claim file.
std::string HolderText() {
  return "process " + std::to_string(ProcessId()) + " on " + PrintableInLines(NodeName);
}

std::string HeldElsewhereNote(const char* name) {
  const std::string holder = PrintableInLines(HolderOfFileAt(name));
  return "Rank " + std::to_string(OwnRank) + " on " + PrintableInLines(NodeName) + ": " + name +
         " in " + PrintableInLines(StartDirectory) + " is held by " +
         (holder.empty() ? std::string("another process") : holder) + ".";
}

}  // namespace

std::string HoldOwnFiles() {
  const char* name = OwnClaimFileName();
  switch (HoldFileAt(name, HolderText(), OwnHold)) {
    case Hold::Taken:
      // A job cut short by its launcher leaves no claim file behind either.
      RemoveOnTermination(name);
      return std::string();
    case Hold::HeldByAnother:
      return HeldElsewhereNote(name);
    default:
      return std::string();
  }
}

void ReleaseOwnFiles() {
  // From here on the name may be another run's.
  RemoveOnTermination(nullptr);
  ReleaseFileAt(OwnClaimFileName(), OwnHold);
}
