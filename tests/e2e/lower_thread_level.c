/* Preloaded into the ranks of one end-to-end test: the MPI library grants a
 * lower thread level than the program asks for, as an MPI library built
 * without full thread support would. Test-only, never in a shipped program. */
#include <mpi.h>

int MPI_Init_thread(int* argc, char*** argv, int required, int* provided) {
  const int error = PMPI_Init_thread(argc, argv, required, provided);
  if (*provided > MPI_THREAD_SERIALIZED) *provided = MPI_THREAD_SERIALIZED;
  return error;
}
