#include "report/stop_line.h"

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "platform/platform.h"
#include "report/report_sink.h"

namespace {

// Who writes to the sinks: the run, a line at a time, or a handler that
// ends the process. A request that comes while a line is being written is
// put off, and the run stops once the line is whole. The handler may run on
// any thread of the process (the MPI library's have the signals unblocked),
// hence atomics rather than a blocked signal mask.
enum LineState : int { kIdle, kWriting, kPutOff, kStopping };
std::atomic<int> State{kIdle};
std::atomic<int> PutOffRequest{0};
static_assert(std::atomic<int>::is_always_lock_free, "a signal handler may use only lock-free atomics");

// What the line needs, changed only while the run holds the sinks, so that a
// handler, which takes them first, never reads it half changed: where it
// goes (-1: nowhere) and its end, from the place on.
int ConsoleOut = -1;
int FileOut = -1;
char Tail[256];

const char kBeginning[] = "Warning: the run was stopped by ";
const char kEnd[] = "; the report ends here.\n";

// The line is composed in the handler, from pieces made beforehand.
char Line[sizeof kBeginning + 64 + sizeof Tail];

std::size_t Append(std::size_t at, const char* text) {
  while (*text != '\0' && at < sizeof Line) Line[at++] = *text++;
  return at;
}

[[noreturn]] void Stop(int request) {
  if (ConsoleOut != -1 || FileOut != -1) {
    const std::size_t length = Append(Append(Append(0, kBeginning), TerminationRequestName(request)), Tail);
    for (const int out : {ConsoleOut, FileOut}) {
      if (out != -1) WriteAll(out, Line, length);
    }
  }
  EndAsRequested(request);
}

void OnTerminationRequest(int request) {
  for (;;) {
    int state = kIdle;
    if (State.compare_exchange_strong(state, kStopping)) Stop(request);
    if (state != kWriting) return;  // put off already, or a stop under way
    PutOffRequest.store(request);
    if (State.compare_exchange_strong(state, kPutOff)) return;  // the line's writer stops
  }
}

void HoldSinks() {
  int state = kIdle;
  while (!State.compare_exchange_strong(state, kWriting)) {
    // Only a stop under way on another thread keeps them: it ends the process.
    std::this_thread::sleep_for(std::chrono::seconds(1));
    state = kIdle;
  }
}

void ReleaseSinks() {
  int state = kWriting;
  if (State.compare_exchange_strong(state, kIdle)) return;
  State.store(kStopping);
  Stop(PutOffRequest.load());
}

void SetPlace(const std::string& place) {
  const std::string tail = " " + place + kEnd;
  if (tail.size() >= sizeof Tail) return;  // never: places are short
  HoldSinks();
  std::memcpy(Tail, tail.c_str(), tail.size() + 1);
  ReleaseSinks();
}

std::string PhasePlace(Phase phase) {
  const std::string number = std::to_string(PhaseNumber(phase));
  return "during cluster phase " + number + " (" + PhaseWords(phase) + ")";
}

}  // namespace

void HandleStops() { HandleTerminationRequests(OnTerminationRequest); }

void ArmStopLine(int fileDescriptor) {
  HoldSinks();
  ConsoleOut = ConsoleDescriptor();
  FileOut = fileDescriptor;
  ReleaseSinks();
  SetPlace("at the start of the report");
}

void StopLineInSingleNodeTest(Phase test) {
  SetPlace(std::string("during the single-node ") + PhaseWords(test) + " test");
}

void StopLineWaitingForRank(Phase phase, int rank) {
  SetPlace(PhasePlace(phase) + ", waiting for rank " + std::to_string(rank));
}

void StopLineAfterLastWorker(Phase phase) {
  SetPlace(PhasePlace(phase) + ", after the last worker's results");
}

void DisarmStopLine() {
  HoldSinks();
  const int file = FileOut;
  ConsoleOut = -1;
  FileOut = -1;
  ReleaseSinks();
  if (file != -1) CloseDescriptor(file);
}

void BeginReportLine() { HoldSinks(); }

void EndReportLine(std::ostream& sink) {
  // Half a line may be on a sink that failed: a stop line there would
  // continue it.
  if (sink.fail() && &sink == &Console()) ConsoleOut = -1;
  if (sink.fail() && &sink == &FileSink() && FileOut != -1) {
    CloseDescriptor(FileOut);
    FileOut = -1;
  }
  ReleaseSinks();
}
