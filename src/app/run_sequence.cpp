#include "app/run_sequence.h"

#include <mpi.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>

#include "cluster/cluster_frame.h"
#include "report/line_shapes.h"
#include "report/report_sink.h"
#include "report/results_file.h"
#include "single/single_node.h"
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
}

void RefuseLowThreadLevel() {
  if (ProvidedThreadLevel == MPI_THREAD_MULTIPLE) return;
  std::printf("MPI do not Support Multiple thread\n");
  std::fflush(stdout);
  // Without MPI_Finalize the launcher reports the whole job as failed.
  MPI_Finalize();
  std::exit(0);
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
  std::exit(0);
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

void EndOfRun() {
  // Closed first, so the line below can say truthfully whether every report
  // line reached the file.
  const bool saved = CloseResultsFile();
  const std::string location =
      (saved ? "Results have been saved in a file and you can find it at: "
             : "Results could not be saved in a file at: ") +
      ResultsFilePath();
  BlankLine(Console());
  BlankLine(Console());
  TextLine(Console(), location.c_str());
  BlankLine(Console());
  BlankLine(Console());
  TextLine(Console(), "Press Enter to Exit.");
  std::cin.get();  // returns at once at end of input
}

}  // namespace

int RunBenchmark(int* argc, char*** argv) {
  StartMpi(argc, argv);
  RefuseLowThreadLevel();
  RefuseOversizedJob();
  if (IsRootRank()) {
    ResultsFileName();
    OpenResultsFile();
    WriteBanner();
    RunSingleNodeTests();
  }
  if (JobSize > 1) RunClusterSection();
  if (IsRootRank()) EndOfRun();
  MPI_Finalize();
  return 0;
}
