/* Loaded into the root rank by bench/root-wait (LD_PRELOAD), never into the
 * program's build: it shows what a root that waits for its workers without
 * spinning would change. Every MPI_Recv becomes a nonblocking receive that is
 * tested once per millisecond and sleeps in between, so a waiting root leaves
 * its core to the workers; a result set arrives at most a millisecond late. */
#include <mpi.h>
#include <time.h>

int MPI_Recv(void* buffer, int count, MPI_Datatype type, int source, int tag, MPI_Comm comm,
             MPI_Status* status) {
  const struct timespec pause = {0, 1000000};
  MPI_Request request;
  int done = 0;
  int error = PMPI_Irecv(buffer, count, type, source, tag, comm, &request);
  while (error == MPI_SUCCESS) {
    error = PMPI_Test(&request, &done, status);
    if (done) break;
    nanosleep(&pause, NULL);
  }
  return error;
}
