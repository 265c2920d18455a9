// The one-process stand-in for MPI declared in mpi.h; see there.
#include "mpi.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>

namespace {

// No other process exists: a message would wait for ever, so a program that
// tries one fails at once and says which call it made.
[[noreturn]] void NoPartner(const char* call) {
  std::fprintf(stderr, "MPI stand-in: %s in a one-process job has no partner\n", call);
  std::fflush(stderr);
  std::abort();
}

}  // namespace

extern "C" {

int MPI_Init_thread(int*, char***, int, int* provided) {
  *provided = MPI_THREAD_MULTIPLE;
  return MPI_SUCCESS;
}

int MPI_Comm_size(MPI_Comm, int* size) {
  *size = 1;
  return MPI_SUCCESS;
}

int MPI_Comm_rank(MPI_Comm, int* rank) {
  *rank = 0;
  return MPI_SUCCESS;
}

int MPI_Get_processor_name(char* name, int* resultlen) {
  DWORD length = MPI_MAX_PROCESSOR_NAME;
  if (!GetComputerNameExA(ComputerNameDnsHostname, name, &length)) length = 0;
  name[length] = '\0';
  *resultlen = static_cast<int>(length);
  return MPI_SUCCESS;
}

// The Windows performance counter: steady and finer than a microsecond.
double MPI_Wtime(void) {
  LARGE_INTEGER frequency;
  LARGE_INTEGER count;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&count);
  return static_cast<double>(count.QuadPart) / static_cast<double>(frequency.QuadPart);
}

int MPI_Send(const void*, int, MPI_Datatype, int, int, MPI_Comm) { NoPartner("MPI_Send"); }

int MPI_Recv(void*, int, MPI_Datatype, int, int, MPI_Comm, MPI_Status*) { NoPartner("MPI_Recv"); }

int MPI_Irecv(void*, int, MPI_Datatype, int, int, MPI_Comm, MPI_Request*) {
  NoPartner("MPI_Irecv");
}

int MPI_Test(MPI_Request*, int*, MPI_Status*) { NoPartner("MPI_Test"); }

int MPI_Probe(int, int, MPI_Comm, MPI_Status*) { NoPartner("MPI_Probe"); }

int MPI_Get_count(const MPI_Status*, MPI_Datatype, int*) { NoPartner("MPI_Get_count"); }

int MPI_Bcast(void*, int, MPI_Datatype, int, MPI_Comm) { NoPartner("MPI_Bcast"); }

int MPI_Gather(const void*, int, MPI_Datatype, void*, int, MPI_Datatype, int, MPI_Comm) {
  NoPartner("MPI_Gather");
}

int MPI_Finalize(void) { return MPI_SUCCESS; }

}  // extern "C"
