// The pieces the root's two speed sections (low write/read, high read/write)
// are built of, in the order a section uses them: per-rank lines of both
// phases, then totals with speed-ups over the single-node rates, then the
// averages per worker. The sections differ in phase order, blank lines and
// units, so each lists its own pieces.
#pragma once

#include "cluster/cluster_frame.h"

// "Multi-Thread Enabled:" and the section's heading.
void OpenSpeedSection(const char* heading);
// Receives the phase from every worker, three lines per rank.
ReceivedPhase ReportSpeedPhase(Phase phase, const char* secondsUnit);
void ReportWriteTotals(int blankLinesBefore, const ReceivedPhase& received);
void ReportReadTotals(const ReceivedPhase& received);
// The phase's average per worker in MB/sec.
void ReportSpeedAverage(const char* label, const ReceivedPhase& received, const char* unit);
