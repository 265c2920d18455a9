// The cluster section: what every rank does when the job has more than one
// process. Each worker runs the six phases, the root reports them as their
// results arrive.
#pragma once

void RunClusterSection();
