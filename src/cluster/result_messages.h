// The four messages a worker sends to the root after each phase: its rate
// table, its time table, its node name and its rank table, all tag 0.
#pragma once

#include <string>

void SendResultSet(const double* rates, const double* times);
// Receives rank `source`'s set into the given tables and the shared rank
// table; returns exactly the node-name characters that arrived.
std::string ReceiveResultSet(int source, double* rates, double* times);
