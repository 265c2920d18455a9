// The whole run, from MPI start-up to the wait for Enter.
#pragma once

int RunBenchmark(int* argc, char*** argv);
