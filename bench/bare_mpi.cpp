// Starts MPI the way orvantic-drives does and stops it again: the floor
// against which the program's start-up time and resident memory are judged.
// The one line after start-up marks the moment the program would write its
// banner; rank 0 alone writes it, as only the program's root rank does.
#include <mpi.h>

#include <cstdio>

int main(int argc, char** argv) {
  int provided = 0;
  MPI_Init_thread(&argc, &argv, MPI_THREAD_MULTIPLE, &provided);
  int rank = 0;
  MPI_Comm_rank(MPI_COMM_WORLD, &rank);
  if (rank == 0) {
    std::printf("\n");
    std::fflush(stdout);
  }
  MPI_Finalize();
  return 0;
}
