// A rate measured over failed work is not a measurement: these lines follow
// the lines of a test or phase whose file operations failed. A run without
// failures writes none of them.
#pragma once

// The benchmark truncates and removes files by its own names; a symbolic
// link planted at such a name must not lead it to someone else's file. Call
// before a step creates or truncates `name`, outside any timed span: a link
// is removed (never its target) and one console line says so. Returns `name`
// when it is safe to use, or RefusedName() when a link stays there.
const char* ClaimFileName(const char* name);
// An empty name: every open and remove of it fails, so a step given it runs,
// counts its operations as failed and reaches no link's target.
const char* RefusedName();

// After a single-node test's lines, on both sinks.
void WarnOfFailedOperations(long long failed);
// On a worker's own console, after its phase's results were sent.
void WarnOfFailedPhase(int rank, int phase, long long failed);
