// Phases 3 and 4: single-byte write and read on every worker at once, and the
// root's report of both.
#pragma once

void WorkerLowWrite();
void WorkerLowRead();
// The "Low writing and reading speeds:" section.
void ReportLowPhases();
