/* A stand-in for the MPI calls a one-process job of orvantic-drives makes,
   so that the program's own code runs under Wine, where no MPI library for
   Windows exists. Test-only: never installed, never in a program that ships.
   It declares only what the program uses. The job is one process: size 1,
   rank 0, full thread support granted; a send or receive has no partner
   and aborts the process. */
#ifndef ORVANTIC_MPI_STAND_IN_H
#define ORVANTIC_MPI_STAND_IN_H

#ifdef __cplusplus
extern "C" {
#endif

typedef int MPI_Comm;
typedef int MPI_Datatype;
typedef int MPI_Request;
typedef struct {
  int MPI_SOURCE;
  int MPI_TAG;
  int MPI_ERROR;
} MPI_Status;

#define MPI_SUCCESS 0
#define MPI_COMM_WORLD ((MPI_Comm)1)
#define MPI_CHAR ((MPI_Datatype)1)
#define MPI_INT ((MPI_Datatype)2)
#define MPI_DOUBLE ((MPI_Datatype)3)
#define MPI_LONG_LONG ((MPI_Datatype)4)
#define MPI_STATUS_IGNORE ((MPI_Status*)0)
#define MPI_THREAD_MULTIPLE 3
/* As in Microsoft's MPI library, which the program runs on in production. */
#define MPI_MAX_PROCESSOR_NAME 128

int MPI_Init_thread(int* argc, char*** argv, int required, int* provided);
int MPI_Comm_size(MPI_Comm comm, int* size);
int MPI_Comm_rank(MPI_Comm comm, int* rank);
int MPI_Get_processor_name(char* name, int* resultlen);
double MPI_Wtime(void);
int MPI_Send(const void* buf, int count, MPI_Datatype datatype, int dest, int tag, MPI_Comm comm);
int MPI_Recv(void* buf, int count, MPI_Datatype datatype, int source, int tag, MPI_Comm comm,
             MPI_Status* status);
int MPI_Irecv(void* buf, int count, MPI_Datatype datatype, int source, int tag, MPI_Comm comm,
              MPI_Request* request);
int MPI_Test(MPI_Request* request, int* flag, MPI_Status* status);
int MPI_Probe(int source, int tag, MPI_Comm comm, MPI_Status* status);
int MPI_Get_count(const MPI_Status* status, MPI_Datatype datatype, int* count);
int MPI_Bcast(void* buffer, int count, MPI_Datatype datatype, int root, MPI_Comm comm);
int MPI_Gather(const void* sendbuf, int sendcount, MPI_Datatype sendtype, void* recvbuf,
               int recvcount, MPI_Datatype recvtype, int root, MPI_Comm comm);
int MPI_Finalize(void);

#ifdef __cplusplus
}
#endif

#endif
