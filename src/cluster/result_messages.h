// The four messages a worker sends to the root after each phase: its rate
// table, its time table, its node name and its rank table, all tag 0.
#pragma once

#include <string>

void SendResultSet(const double* rates, const double* times);
// Receives rank `source`'s set into the given tables and the shared rank
// table; returns exactly the node-name characters that arrived.
std::string ReceiveResultSet(int source, double* rates, double* times);

// Open MPI ends the whole job as soon as one process exits with a non-zero
// status, so a worker ends only after the root has finished its report: the
// root releases every worker at its very end, and each worker waits for that.
void ReleaseWorkers();
void AwaitRelease();
