#include "cluster/cluster_section.h"

#include <string>

#include "cluster/cluster_handling.h"
#include "cluster/cluster_high.h"
#include "cluster/cluster_low.h"
#include "platform/platform.h"
#include "report/failure_notes.h"
#include "report/report_sink.h"
#include "state/node_names.h"
#include "state/process_state.h"
#include "state/rank_state.h"
#include "state/run_identity.h"

namespace {

std::string ShownDirectory(const std::string& directory) {
  return directory.empty() ? "(unknown)" : PrintableInLines(directory);
}

bool WorksInRootStartDirectory() {
  // A root that cannot name its directory gives nothing to compare with.
  if (RootStartDirectories.empty()) return true;
  for (const std::string& name : RootStartDirectories) {
    if (name == StartDirectory || SamePlace(name.c_str(), ".")) return true;
  }
  return false;
}

// A launcher that cannot enter the job's directory on a node may start the
// node's ranks elsewhere (Open MPI takes the home directory, silently); their
// rates would then be of another drive under this node's name.
void NoteWorkingPlace() {
  if (WorksInRootStartDirectory()) return;
  OwnPlaceWarning = "Warning: rank " + std::to_string(OwnRank) + " on " +
                    PrintableInLines(NodeName) + " works in " + ShownDirectory(StartDirectory) +
                    ", not in the root's start directory " +
                    ShownDirectory(RootStartDirectories.front()) + "; its rates are not valid.";
  WarningLine(Console(), OwnPlaceWarning);
}

void RunWorkerPhases() {
  NoteWorkingPlace();
  WorkerStreamHandling();
  WorkerDescriptorHandling();
  WorkerLowWrite();
  WorkerLowRead();
  WorkerHighRead();
  WorkerHighWrite();
}

void ReleaseHighBlock() {
  ReleasePageAlignedBlock(HighBlock);
  HighBlock = nullptr;
}

void ReportClusterPhases() {
  ReportHandlingPhases();
  // The single-node block is not needed again; give its memory back before
  // the rest of the run.
  ReleaseHighBlock();
  ReportLowPhases();
  ReportHighPhases();
}

}  // namespace

void RunClusterSection() {
  if (IsRootRank()) {
    ReportClusterPhases();
  } else {
    RunWorkerPhases();
  }
}
