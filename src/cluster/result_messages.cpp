#include "cluster/result_messages.h"

#include <mpi.h>

#include <chrono>
#include <thread>

#include "cluster/cluster_frame.h"
#include "state/rank_state.h"
#include "state/run_identity.h"

namespace {

constexpr int kRootRank = 0;
constexpr int kResultTag = 0;
constexpr int kReleaseTag = 1;

}  // namespace

void SendResultSet(const double* rates, const double* times) {
  MPI_Send(rates, JobSize, MPI_DOUBLE, kRootRank, kResultTag, MPI_COMM_WORLD);
  MPI_Send(times, JobSize, MPI_DOUBLE, kRootRank, kResultTag, MPI_COMM_WORLD);
  MPI_Send(NodeName, NodeNameLength, MPI_CHAR, kRootRank, kResultTag, MPI_COMM_WORLD);
  MPI_Send(RankNumberTable, JobSize, MPI_INT, kRootRank, kResultTag, MPI_COMM_WORLD);
}

std::string ReceiveResultSet(int source, double* rates, double* times) {
  // Named source and tag: the n-th receive from a rank always pairs with that
  // rank's n-th send, whatever order the workers finish in.
  MPI_Recv(rates, JobSize, MPI_DOUBLE, source, kResultTag, MPI_COMM_WORLD, &ReceiveStatus);
  MPI_Recv(times, JobSize, MPI_DOUBLE, source, kResultTag, MPI_COMM_WORLD, &ReceiveStatus);
  MPI_Recv(ReceivedNodeName, MPI_MAX_PROCESSOR_NAME, MPI_CHAR, source, kResultTag,
           MPI_COMM_WORLD, &ReceiveStatus);
  // The buffer may still hold a longer name from an earlier receive: keep
  // only what arrived now.
  int nameLength = 0;
  MPI_Get_count(&ReceiveStatus, MPI_CHAR, &nameLength);
  if (nameLength < 0 || nameLength > MPI_MAX_PROCESSOR_NAME) nameLength = 0;
  MPI_Recv(ReceivedRankTable, JobSize, MPI_INT, source, kResultTag, MPI_COMM_WORLD,
           &ReceiveStatus);
  return std::string(ReceivedNodeName, static_cast<std::size_t>(nameLength));
}

void ReleaseWorkers() {
  for (int rank = kFirstWorkerRank; rank < JobSize; ++rank) {
    MPI_Send(nullptr, 0, MPI_CHAR, rank, kReleaseTag, MPI_COMM_WORLD);
  }
}

void AwaitRelease() {
  MPI_Request release;
  MPI_Irecv(nullptr, 0, MPI_CHAR, kRootRank, kReleaseTag, MPI_COMM_WORLD, &release);
  // A blocking receive spins on a processor, which workers still measuring
  // on this node need; the root may also be waiting for Enter.
  for (;;) {
    int released = 0;
    MPI_Test(&release, &released, MPI_STATUS_IGNORE);
    if (released) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}
