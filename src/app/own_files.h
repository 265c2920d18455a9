// A run's hold on its own file names. The scratch names are fixed (the
// root's) or repeat from job to job (a worker's rank and node), so a second
// run in the same directory would remove, truncate and measure the first
// one's files. Each rank therefore holds a claim file beside its scratch
// files from start-up to its end; a run that finds one held does not start.
#pragma once

#include <string>

// Every rank, before it touches a file: takes this rank's hold. Returns an
// empty text, or the line that says who holds this rank's files, followed,
// after a newline, by one on what to do where that holder cannot be seen
// running (NoteLines writes them). A hold that cannot be taken for any
// other reason (a directory it may not write) stops nothing: the tests then
// fail and say so, as they would without it.
std::string HoldOwnFiles();
// Removes the claim file and drops the hold; nothing is left after a run.
void ReleaseOwnFiles();
