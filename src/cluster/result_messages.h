// The messages a worker sends to the root after each phase, all tag 0: its
// rate table, its time table, its node name, its rank table and the count of
// the phase's failed file operations; after its first set, one more: its
// warning that it works outside the root's start directory, empty when it
// works there.
#pragma once

#include <string>
#include <vector>

void SendResultSet(const double* rates, const double* times, long long failed);
// Receives rank `source`'s set into the given tables, the shared rank table
// and `failed`; returns exactly the node-name characters that arrived.
std::string ReceiveResultSet(int source, double* rates, double* times, long long& failed);
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
