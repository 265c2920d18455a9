#include "report/results_file.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/platform.h"
#include "state/process_state.h"

namespace {

std::tm FixedTime() {
  std::tm time{};
  time.tm_year = 2023 - 1900;
  time.tm_mon = 2;  // March
  time.tm_mday = 6;
  time.tm_hour = 7;
  time.tm_min = 5;
  time.tm_sec = 9;
  return time;
}

TEST(ResultsFileName, CarriesNodeDateAndTime) {
  FormatResultsFileName("NODE7", FixedTime());
  EXPECT_STREQ(DateText, "local date 2023.03.06 time 07.05.09.txt");
  EXPECT_EQ(std::strlen(DateText), 39u);
  EXPECT_STREQ(ResultsFileNameBuffer,
               "results_drives_windows_clusters_mac_mx @ NODE7 @ local date 2023.03.06 time "
               "07.05.09.txt");
}

TEST(ResultsFileName, OverlongNodeNameIsCutInsideTheBuffer) {
  const std::string node(5000, 'n');
  FormatResultsFileName(node.c_str(), FixedTime());
  EXPECT_EQ(std::strlen(ResultsFileNameBuffer), sizeof ResultsFileNameBuffer - 1);
}

TEST(ResultsFileName, ATakenNameGetsANumberBeforeTheExtension) {
  const std::string name = "results_drives_windows_clusters_mac_mx @ n @ local date x.txt";
  EXPECT_EQ(NumberedName(name, 1), name);
  EXPECT_EQ(NumberedName(name, 2),
            "results_drives_windows_clusters_mac_mx @ n @ local date x (2).txt");
  EXPECT_EQ(NumberedName("cut short", 3), "cut short (3).txt");
}

TEST(ResultsFilePath, JoinsDirectoryAndNameWithTheSeparator) {
  EXPECT_EQ(JoinPath("/scratch/run", "r.txt", '/'), "/scratch/run/r.txt");
  EXPECT_EQ(JoinPath("C:\\", "r.txt", '\\'), "C:\\\\r.txt");
  // A start directory longer than any fixed buffer is shown whole.
  const std::string deep = "/" + std::string(6000, 'd');
  EXPECT_EQ(JoinPath(deep, "r.txt", '/'), deep + "/r.txt");
}

TEST(ResultsFilePath, LeadsToTheFileWithThisPlatformsSeparator) {
  const std::filesystem::path directory = std::filesystem::temp_directory_path();
  const std::filesystem::path file = directory / "orvantic-path-test.txt";
  std::ofstream(file) << "found";
  std::ifstream in(JoinPath(directory.string(), "orvantic-path-test.txt", PathSeparator()));
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "found");
  in.close();
  std::filesystem::remove(file);
}

TEST(TrimToWholeLines, CutsAHalfLineLeftByAFullDisk) {
  const std::filesystem::path file =
      std::filesystem::temp_directory_path() / "orvantic-trim-test.txt";
  const auto trimmed = [&](const std::string& contents) {
    std::ofstream(file, std::ios::binary) << contents;
    TrimToWholeLines(file.string().c_str());
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  };
  EXPECT_EQ(trimmed("Thread(s): 4\n\nThread:3 @vm It was: 896.025 Millions Acces"),
            "Thread(s): 4\n\n");
  EXPECT_EQ(trimmed("whole\nlines\n"), "whole\nlines\n");
  EXPECT_EQ(trimmed("no line end at all"), "");
  // The last line end lies more than one read block back.
  const std::string head = std::string(100, 'a') + "\n";
  EXPECT_EQ(trimmed(head + std::string(10000, 'b')), head);
  std::filesystem::remove(file);
}

}  // namespace
