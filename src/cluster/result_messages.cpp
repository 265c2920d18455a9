#include "cluster/result_messages.h"

#include <mpi.h>

#include <chrono>
#include <thread>

#include "state/rank_state.h"
#include "state/run_identity.h"

namespace {

constexpr int kResultTag = 0;
constexpr int kReleaseTag = 1;
constexpr int kNoteTag = 2;

// A blocking receive spins on a processor for as long as it waits, and a
// process may wait minutes for others that share its node and need that
// processor to measure. Testing a nonblocking receive with a sleep between
// tests leaves the processor to them; the message is taken at most one
// interval late, outside every timed span.
void WaitWithoutSpinning(MPI_Request& request, MPI_Status* status,
                         std::chrono::milliseconds interval) {
  for (;;) {
    int done = 0;
    MPI_Test(&request, &done, status);
    if (done) return;
    std::this_thread::sleep_for(interval);
  }
}

// The root's wait for a result set: short, since it adds to the run's length
// once per set.
constexpr std::chrono::milliseconds kResultPollInterval{1};
// A worker's wait for the end of the run, which may include the root's wait
// for Enter.
constexpr std::chrono::milliseconds kReleasePollInterval{20};

std::string ReceiveNodeName(int source) {
  MPI_Recv(ReceivedNodeName, MPI_MAX_PROCESSOR_NAME, MPI_CHAR, source, kResultTag, MPI_COMM_WORLD,
           &ReceiveStatus);
  // The buffer may still hold a longer name from an earlier receive: keep
  // only what arrived now.
  int length = 0;
  MPI_Get_count(&ReceiveStatus, MPI_CHAR, &length);
  if (length < 0 || length > MPI_MAX_PROCESSOR_NAME) length = 0;
  return std::string(ReceivedNodeName, static_cast<std::size_t>(length));
}

}  // namespace

void SendResultSet(const double* rates, const double* times, long long failed) {
  MPI_Send(rates, JobSize, MPI_DOUBLE, kRootRank, kResultTag, MPI_COMM_WORLD);
  MPI_Send(times, JobSize, MPI_DOUBLE, kRootRank, kResultTag, MPI_COMM_WORLD);
  MPI_Send(NodeName, NodeNameLength, MPI_CHAR, kRootRank, kResultTag, MPI_COMM_WORLD);
  MPI_Send(RankNumberTable, JobSize, MPI_INT, kRootRank, kResultTag, MPI_COMM_WORLD);
  // The failures travel with the rate they spoil, so that the report, not
  // only this worker's console, can say the rate is not valid.
  MPI_Send(&failed, 1, MPI_LONG_LONG, kRootRank, kResultTag, MPI_COMM_WORLD);
}

WorkerPhaseResult ReceiveResultSet(int source) {
  // Named source and tag: the n-th receive from a rank always pairs with that
  // rank's n-th send, whatever order the workers finish in. Only the first
  // message of a set is waited for; the others follow it at once.
  MPI_Request first;
  MPI_Irecv(ReceivedRateTable, JobSize, MPI_DOUBLE, source, kResultTag, MPI_COMM_WORLD, &first);
  WaitWithoutSpinning(first, &ReceiveStatus, kResultPollInterval);
  MPI_Recv(ReceivedTimeTable, JobSize, MPI_DOUBLE, source, kResultTag, MPI_COMM_WORLD,
           &ReceiveStatus);
  WorkerPhaseResult result;
  result.Node = ReceiveNodeName(source);
  MPI_Recv(ReceivedRankTable, JobSize, MPI_INT, source, kResultTag, MPI_COMM_WORLD,
           &ReceiveStatus);
  MPI_Recv(&result.FailedOperations, 1, MPI_LONG_LONG, source, kResultTag, MPI_COMM_WORLD,
           &ReceiveStatus);
  // Only the sender's own entries of its tables mean anything; the next set
  // overwrites them.
  result.Rank = ReceivedRankTable[source];
  result.Seconds = ReceivedTimeTable[source];
  result.Rate = ReceivedRateTable[source];
  return result;
}

void SendPlaceWarning(const std::string& warning) {
  MPI_Send(warning.data(), static_cast<int>(warning.size()), MPI_CHAR, kRootRank, kResultTag,
           MPI_COMM_WORLD);
}

std::string ReceivePlaceWarning(int source) {
  // Its length is known only once it has arrived; it follows the set at once.
  MPI_Probe(source, kResultTag, MPI_COMM_WORLD, &ReceiveStatus);
  int length = 0;
  MPI_Get_count(&ReceiveStatus, MPI_CHAR, &length);
  std::string warning(static_cast<std::size_t>(length > 0 ? length : 0), '\0');
  MPI_Recv(&warning[0], length, MPI_CHAR, source, kResultTag, MPI_COMM_WORLD, &ReceiveStatus);
  return warning;
}

namespace {

// One text from the root to every rank; a collective call, so every rank
// makes it at the same point of the run.
std::string BroadcastFromRoot(const std::string& text) {
  int length = static_cast<int>(text.size());
  MPI_Bcast(&length, 1, MPI_INT, kRootRank, MPI_COMM_WORLD);
  std::string received = IsRootRank() ? text : std::string(static_cast<std::size_t>(length), '\0');
  MPI_Bcast(&received[0], length, MPI_CHAR, kRootRank, MPI_COMM_WORLD);
  return received;
}

}  // namespace

void ShareStartDirectory(const std::vector<std::string>& names) {
  // A path never holds a NUL character, so one NUL between two names keeps
  // them apart in a single text.
  std::string joined;
  for (const std::string& name : names) joined += name + '\0';
  const std::string received = BroadcastFromRoot(joined);
  RootStartDirectories.clear();
  for (std::size_t start = 0, end; (end = received.find('\0', start)) != std::string::npos;
       start = end + 1) {
    RootStartDirectories.push_back(received.substr(start, end - start));
  }
}

bool GatherNotesAtRoot(const std::string& note, std::vector<std::string>& notes) {
  notes.clear();
  if (IsRootRank() && !note.empty()) notes.push_back(note);
  if (JobSize == 1) return !notes.empty();
  // Lengths first, so that the root asks only the ranks with a note for it,
  // and in rank order.
  const int length = static_cast<int>(note.size());
  std::vector<int> lengths(IsRootRank() ? JobSize : 0);
  MPI_Gather(&length, 1, MPI_INT, lengths.data(), 1, MPI_INT, kRootRank, MPI_COMM_WORLD);
  if (!IsRootRank() && length > 0) {
    MPI_Send(note.data(), length, MPI_CHAR, kRootRank, kNoteTag, MPI_COMM_WORLD);
  }
  for (int rank = kFirstWorkerRank; rank < static_cast<int>(lengths.size()); ++rank) {
    if (lengths[rank] == 0) continue;
    std::string received(static_cast<std::size_t>(lengths[rank]), '\0');
    MPI_Recv(&received[0], lengths[rank], MPI_CHAR, rank, kNoteTag, MPI_COMM_WORLD, &ReceiveStatus);
    notes.push_back(received);
  }
  int any = !notes.empty();
  MPI_Bcast(&any, 1, MPI_INT, kRootRank, MPI_COMM_WORLD);
  return any != 0;
}

void ReleaseWorkers() {
  for (int rank = kFirstWorkerRank; rank < JobSize; ++rank) {
    MPI_Send(nullptr, 0, MPI_CHAR, rank, kReleaseTag, MPI_COMM_WORLD);
  }
}

void AwaitRelease() {
  MPI_Request release;
  MPI_Irecv(nullptr, 0, MPI_CHAR, kRootRank, kReleaseTag, MPI_COMM_WORLD, &release);
  WaitWithoutSpinning(release, MPI_STATUS_IGNORE, kReleasePollInterval);
}
