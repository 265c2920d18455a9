// The stop line: what a process told to terminate leaves on both sinks, and
// that a request which comes while a line is being written waits for the
// line's end. Each case runs in a process of its own, which the request
// ends as it would have without the line.
#include "report/stop_line.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "platform/platform.h"

#ifndef _WIN32  // a console event cannot be sent to the process itself

namespace {

namespace fs = std::filesystem;

std::string Contents(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

class StopLine : public testing::Test {
 protected:
  void SetUp() override {
    fs::remove_all(directory);
    fs::create_directories(directory);
    console = directory / "console";
    file = directory / "file";
  }
  void TearDown() override { fs::remove_all(directory); }

  // In the dying process: the console is a file, the results file another.
  void Arm() const {
    FileIdentity created;
    CreateNewFile(file.string().c_str(), created);
    if (std::freopen(console.string().c_str(), "w", stdout) == nullptr) std::abort();
    // A run leaves a signal it was started with ignored (nohup, a background
    // job's SIGINT) ignored; the cases are about ones that are not.
    for (const int request : {SIGTERM, SIGINT, SIGHUP}) std::signal(request, SIG_DFL);
    HandleStops();
    ArmStopLine(OpenToAppend(file.string().c_str(), created));
  }

  const fs::path directory = fs::temp_directory_path() / "orvantic-stop-line";
  fs::path console;
  fs::path file;
};

TEST_F(StopLine, ARequestDuringALineWaitsForTheLinesEnd) {
  EXPECT_EXIT(
      {
        Arm();
        StopLineInSingleNodeTest(Phase::LowWrite);
        BeginReportLine();
        std::raise(SIGTERM);
        std::cout << "a line" << '\n' << std::flush;
        EndReportLine(std::cout);
        std::exit(0);
      },
      testing::KilledBySignal(SIGTERM), "");
  const std::string stop =
      "Warning: the run was stopped by signal SIGTERM (15) during the single-node low write test; "
      "the report ends here.\n";
  EXPECT_EQ(Contents(console), "a line\n" + stop);
  EXPECT_EQ(Contents(file), stop);
}

TEST_F(StopLine, ARequestBetweenLinesStopsAtOnceWithWhereTheRunWas) {
  EXPECT_EXIT(
      {
        Arm();
        StopLineWaitingForRank(Phase::LowWrite, 5);
        std::raise(SIGINT);
        std::exit(0);
      },
      testing::KilledBySignal(SIGINT), "");
  EXPECT_EQ(Contents(file),
            "Warning: the run was stopped by signal SIGINT (2) during cluster phase 3 (low write), "
            "waiting for rank 5; the report ends here.\n");
}

TEST_F(StopLine, AWholeReportTakesNone) {
  EXPECT_EXIT(
      {
        Arm();
        StopLineAfterLastWorker(Phase::HighWrite);
        DisarmStopLine();
        std::raise(SIGHUP);
        std::exit(0);
      },
      testing::KilledBySignal(SIGHUP), "");
  EXPECT_EQ(Contents(console), "");
  EXPECT_EQ(Contents(file), "");
}

}  // namespace

#endif
