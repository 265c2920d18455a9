// The timing frame of every measurement, the root's single-node tests and
// the workers' phases alike: the clock is read right before the work and
// right after it, so nothing but the work lies between the two readings.
// Seconds and rate are worked out after the second reading; lines are
// written and results sent only after that.
#pragma once

#include <mpi.h>

// The amount of work a measurement did: files, accesses or bytes. Asked for
// after the span, as some amounts are known only once the work is done.
using WorkAmount = double (*)();

// Where one measurement's clock readings and results are kept.
struct Measurement {
  double& start;
  double& end;
  double& seconds;
  double& rate;
};

// Times `work`, a callable returning its failed operations, and returns them.
template <typename Work>
long long Measure(const Measurement& into, WorkAmount amount, const Work& work) {
  into.start = MPI_Wtime();
  const long long failed = work();
  into.end = MPI_Wtime();
  into.seconds = into.end - into.start;
  into.rate = amount() / into.seconds;
  return failed;
}
