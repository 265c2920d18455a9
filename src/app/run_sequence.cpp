#include "app/run_sequence.h"

#include <mpi.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "app/own_files.h"
#include "cluster/cluster_section.h"
#include "cluster/result_messages.h"
#include "platform/platform.h"
#include "report/failure_notes.h"
#include "report/line_shapes.h"
#include "report/name_notes.h"
#include "report/report_sink.h"
#include "report/results_file.h"
#include "report/stop_line.h"
#include "single/single_node.h"
#include "state/node_names.h"
#include "state/run_identity.h"
#include "state/work_counts.h"

namespace {

const char* const kTitle =
    "Velbrix :: Orvantic Benchmark Drives for Windows Clusters on Mac Mx system 2023.03.06.";
const char* const kLimitTitle =
    "Velbrix ::  Orvantic Benchmark Drives for Windows Clusters on Mac Mx system 2023.03.06.";
const char* const kNotice =
    "Notice: measures the drive of the current directory and leaves its scratch files there.";
const char* const kSupport = "Support: see the README of orvantic-drives.";

void StartMpi(int* argc, char*** argv) {
  MPI_Init_thread(argc, argv, MPI_THREAD_MULTIPLE, &ProvidedThreadLevel);
  MPI_Comm_size(MPI_COMM_WORLD, &JobSize);
  MPI_Comm_rank(MPI_COMM_WORLD, &OwnRank);
  MPI_Get_processor_name(NodeName, &NodeNameLength);
  NodeFileName = NodeNameForFiles(NodeName, CharactersNotAllowedInNames());
}

// A job that measured nothing must not pass for a completed one in a batch
// system: both refusals end every process with status 1.
constexpr int kRefusedStatus = 1;

void RefuseLowThreadLevel() {
  if (ProvidedThreadLevel == MPI_THREAD_MULTIPLE) return;
  std::printf("MPI do not Support Multiple thread\n");
  std::fflush(stdout);
  // Finalized, so that the launcher reports the status rather than a crash.
  MPI_Finalize();
  std::exit(kRefusedStatus);
}

void RefuseOversizedJob() {
  if (JobSizeAllowed(JobSize)) return;
  if (IsRootRank()) {
    BlankLine(Console());
    TextLine(Console(), kLimitTitle);
    TextLine(Console(), kNotice);
    TextLine(Console(), kSupport);
    BlankLine(Console());
    TextLine(Console(), "The number of threads has reached the limits, the program terminates.");
    BlankLine(Console());
  }
  MPI_Finalize();
  std::exit(kRefusedStatus);
}

// Two runs in one directory would measure each other's files: a job whose
// files another live run holds stops before it touches any, every rank with
// status 1, the root saying who holds what.
void RefuseFilesOfAnotherRun() {
  std::vector<std::string> notes;
  if (!GatherNotesAtRoot(HoldOwnFiles(), notes)) return;
  if (IsRootRank()) {
    BlankLine(Console());
    TextLine(Console(),
             "Another run is using files of this job in the same directory; the two would measure "
             "each other's files, so this run stops.");
    for (const std::string& note : notes) NoteLines(Console(), note);
    BlankLine(Console());
  }
  ReleaseOwnFiles();
  MPI_Finalize();
  std::exit(kRefusedStatus);
}

// The root's start directory by the names it has here: the resolved path
// and the one the launcher was started with, which other nodes may resolve
// differently.
std::vector<std::string> StartDirectoryNames() {
  std::vector<std::string> names;
  if (!StartDirectory.empty()) names.push_back(StartDirectory);
  const std::string named = CurrentDirectoryAsNamed();
  if (!named.empty() && named != StartDirectory) names.push_back(named);
  return names;
}

void WriteBanner() {
  BlankLine(Console());
  TextLine(Console(), kTitle);
  TextLine(Console(), kNotice);
  TextLine(Console(), kSupport);
  BlankLine(Console());
  BlankLine(Console());
  BlankLine(Console());
  ValueLine(Console(), "Thread(s): ", JobSize, "");
  BlankLine(Console());
  TextLine(FileSink(), kTitle);
  BlankLine(FileSink());
  ValueLine(FileSink(), "Thread(s): ", JobSize, "");
  BlankLine(FileSink());
}

void RunSingleNodeTests() {
  OpenSingleNodePhase();
  TestStreamHandling();
  TestDescriptorHandling();
  TestLowSpeed();
  TestHighSpeed();
}

// Where the report's file stands at the end, as the last lines tell it.
const char* ResultsFileFate(bool written, bool atItsPath) {
  if (!written) return "Results could not be saved in a file at: ";
  if (!atItsPath) return "Results were written, but the file is no longer at: ";
  return "Results have been saved in a file and you can find it at: ";
}

// Returns whether the report is saved where the console says.
bool EndOfRun() {
  // Closed first, so the line below can say truthfully whether every report
  // line reached the file, and whether the file is still where it is shown.
  const bool written = CloseResultsFile();
  const bool saved = written && ResultsFileStillAtItsPath(StartDirectory);
  const std::string location = ResultsFileFate(written, saved) + ResultsFilePath();
  BlankLine(Console());
  BlankLine(Console());
  TextLine(Console(), location.c_str());
  BlankLine(Console());
  BlankLine(Console());
  TextLine(Console(), "Press Enter to Exit.");
  std::cin.get();  // returns at once at end of input
  return saved;
}

// 0 for a clean run; 1 when this process wrote a "Warning:" line or could not
// save the report, so that a batch system sees what the console says.
int ExitStatus(bool reportSaved) { return AnyWarningWritten() || !reportSaved ? 1 : 0; }

}  // namespace

int RunBenchmark(int* argc, char*** argv) {
  // Before MPI starts: its own files are written under the same limit.
  IgnoreFileSizeLimitSignal();
  StartMpi(argc, argv);
  // After MPI's start-up, which could set handlers of its own.
  HandleStops();
  RefuseLowThreadLevel();
  RefuseOversizedJob();
  RefuseFilesOfAnotherRun();
  // Before the root's first test and the workers' first phase: a few
  // milliseconds, outside every timed span.
  if (JobSize > 1) {
    ShareStartDirectory(IsRootRank() ? StartDirectoryNames() : std::vector<std::string>());
  }
  if (IsRootRank()) {
    ResultsFileName();
    OpenResultsFile();
    WriteBanner();
    RunSingleNodeTests();
  }
  if (JobSize > 1) RunClusterSection();
  bool reportSaved = true;  // a worker has no report of its own
  if (IsRootRank()) {
    reportSaved = EndOfRun();
    if (JobSize > 1) ReleaseWorkers();
  } else {
    AwaitRelease();
  }
  ReleaseOwnFiles();
  MPI_Finalize();
  return ExitStatus(reportSaved);
}
