// Phases 5 and 6: whole-block read and write on every worker at once, and the
// root's report of both, the last section of the run.
#pragma once

void WorkerHighRead();
void WorkerHighWrite();
// The "High writing and reading speeds:" section.
void ReportHighPhases();
