// The messages a worker sends to the root after each phase, all tag 0: its
// rate table, its time table, its node name, its rank table and the count of
// the phase's failed file operations; after its first set, one more: its
// warning that it works outside the root's start directory, empty when it
// works there.
#pragma once

#include <string>
#include <vector>

// One worker's result of one phase, as the root received it.
struct WorkerPhaseResult {
  int Rank = 0;  // as the worker sent it
  std::string Node;
  double Seconds = 0.0;
  double Rate = 0.0;
  long long FailedOperations = 0;
  // The worker's warning that it works outside the root's start directory,
  // which spoils every rate it sends; empty when it works there.
  std::string PlaceWarning;
};

void SendResultSet(const double* rates, const double* times, long long failed);
// Receives rank `source`'s set into the root's receive buffers and takes its
// result out of them at once: the entries at `source`, and exactly the
// node-name characters that arrived. The place warning is not part of the
// set (ReceivePlaceWarning).
WorkerPhaseResult ReceiveResultSet(int source);
void SendPlaceWarning(const std::string& warning);
std::string ReceivePlaceWarning(int source);

// Every rank, before any measurement: the root's names of its start
// directory reach RootStartDirectories on every rank (`names` is read on
// the root only).
void ShareStartDirectory(const std::vector<std::string>& names);

// Open MPI ends the whole job as soon as one process exits with a non-zero
// status, so a worker ends only after the root has finished its report: the
// root releases every worker at its very end, and each worker waits for that.
void ReleaseWorkers();
void AwaitRelease();

// Every rank, at start-up: each rank's note, empty for none, reaches the root
// in `notes`, in rank order, empty ones left out. Returns on every rank
// whether any rank had a note.
bool GatherNotesAtRoot(const std::string& note, std::vector<std::string>& notes);
