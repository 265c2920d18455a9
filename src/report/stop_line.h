// The line that ends a report cut short. A root told to terminate (SIGTERM,
// SIGINT, SIGHUP, or a console event on Windows) ends its console and its
// results file with
//   Warning: the run was stopped by signal SIGTERM (15) during cluster phase
//   3 (low write), waiting for rank 5; the report ends here.
// (one line), then ends as it would have without it. A signal handler may
// only write what is ready, so the run keeps the line's place up to date as
// it goes, outside every timed span; and it never lands inside a line of the
// report, since every line is written between BeginReportLine and
// EndReportLine, and a request that comes in between is put off until the
// line is whole.
#pragma once

#include <ostream>

#include "state/phases.h"

// Every process, at start-up: termination requests come here.
void HandleStops();

// The root, once its results file is open (`fileDescriptor` appends to it;
// -1 when there is none): from here a stop ends the console and that file
// with the line, which says the report was at its start.
void ArmStopLine(int fileDescriptor);
// Where the run is.
void StopLineInSingleNodeTest(Phase test);
void StopLineWaitingForRank(Phase phase, int rank);
void StopLineAfterLastWorker(Phase phase);
// The report is whole: a stop from here ends the process without the line.
void DisarmStopLine();

// Around every line of the report's sinks. A sink that failed (a full disk
// may take half a line) takes no stop line from then on.
void BeginReportLine();
void EndReportLine(std::ostream& sink);
