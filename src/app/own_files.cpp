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

// The process id and node a holder's text names, as HolderText wrote them;
// false for any other text (none yet, or not one of ours).
bool ParseHolder(const std::string& holder, long& id, std::string& node) {
  const std::string before = "process ";
  const std::string between = " on ";
  if (holder.compare(0, before.size(), before) != 0) return false;
  const std::size_t digits = holder.find_first_not_of("0123456789", before.size());
  // Up to 9 digits: every process id there is, and never an overflow.
  if (digits == std::string::npos || digits == before.size() || digits - before.size() > 9 ||
      holder.compare(digits, between.size(), between) != 0) {
    return false;
  }
  id = std::stol(holder.substr(before.size(), digits - before.size()));
  node = holder.substr(digits + between.size());
  return id > 0 && !node.empty();
}

// What a user can do about a hold whose holder cannot be running it: on a
// shared file system the lock of a client that was lost (a node that went
// down, a killed mount) stays with the file system until it gives that
// client up. Empty where the holder runs here, or where the text names none.
// The id is looked up in this process's view: a holder in a container of
// its own PID namespace under the same node name would pass for gone.
std::string HolderAdvice(const std::string& holder) {
  long id = 0;
  std::string node;
  if (!ParseHolder(holder, id, node)) return std::string();
  const std::string number = std::to_string(id);
  if (node != PrintableInLines(NodeName)) {
    return "Whether process " + number + " still runs can only be seen on " + node +
           "; if it does not, the lock is the file system's, held for " + node +
           "'s client until the file system evicts that client or its administrator does.";
  }
  if (ProcessRuns(id)) return std::string();
  return "Process " + number + " no longer runs on " + node +
         ": the lock is the file system's, held for a client it has not yet given up, until the "
         "file system evicts that client or its administrator does.";
}

std::string HeldElsewhereNote(const char* name) {
  const std::string holder = PrintableInLines(HolderOfFileAt(name));
  const std::string note = "Rank " + std::to_string(OwnRank) + " on " + PrintableInLines(NodeName) +
                           ": " + name + " in " + PrintableInLines(StartDirectory) + " is held by " +
                           (holder.empty() ? std::string("another process") : holder) + ".";
  const std::string advice = HolderAdvice(holder);
  return advice.empty() ? note : note + '\n' + advice;
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
