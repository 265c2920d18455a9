// What orvantic-drives does at the end of a run and nothing else: every
// worker waits for the root's release without spinning (a receive tested
// every 20 ms, sleeping between tests), the root takes a while and writes
// its report's lines (which the launcher forwards) and then releases them
// all at once, and every process finalizes MPI and returns 0. A job of this
// that ends with another status than 0 shows the launcher's own doing, with
// none of the benchmark's work or files.
//
//   end-of-run [SECONDS [LINES]]   the root's pause before the release
//                                  (default 5) and the console lines it
//                                  writes first (default 1; a report of
//                                  N processes has 97 + 16 (N - 1))
#include <mpi.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

namespace {

constexpr int kReleaseTag = 1;

void AwaitRelease() {
  MPI_Request release;
  MPI_Irecv(nullptr, 0, MPI_CHAR, 0, kReleaseTag, MPI_COMM_WORLD, &release);
  int done = 0;
  for (MPI_Test(&release, &done, MPI_STATUS_IGNORE); !done;
       MPI_Test(&release, &done, MPI_STATUS_IGNORE)) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

void ReleaseWorkers(int size) {
  for (int rank = 1; rank < size; ++rank) {
    MPI_Send(nullptr, 0, MPI_CHAR, rank, kReleaseTag, MPI_COMM_WORLD);
  }
}

}  // namespace

int main(int argc, char** argv) {
  int provided = 0;
  MPI_Init_thread(&argc, &argv, MPI_THREAD_MULTIPLE, &provided);
  int rank = 0;
  int size = 1;
  MPI_Comm_rank(MPI_COMM_WORLD, &rank);
  MPI_Comm_size(MPI_COMM_WORLD, &size);
  if (rank == 0) {
    const double pause = argc > 1 ? std::atof(argv[1]) : 5.0;
    const long lines = argc > 2 ? std::atol(argv[2]) : 1;
    std::this_thread::sleep_for(std::chrono::duration<double>(pause));
    // One write per line, flushed, as the report's lines go out.
    for (long line = 0; line < lines; ++line) {
      std::printf("Press Enter to Exit.\n");
      std::fflush(stdout);
    }
    ReleaseWorkers(size);
  } else {
    AwaitRelease();
  }
  MPI_Finalize();
  return 0;
}
