#include "app/run_sequence.h"

int main(int argc, char** argv) { return RunBenchmark(&argc, &argv); }
