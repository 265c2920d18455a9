#include "report/results_file.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/platform.h"
#include "state/node_names.h"
#include "state/process_state.h"
#include "state/work_counts.h"

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

TEST(NodeNames, OrdinaryNamesStayByteForByte) {
  for (const std::string node : {"node-07.cluster_A", "n\xC5\x93ud-\xC3\xA9t\xC3\xA9", "7"}) {
    EXPECT_EQ(NodeNameForFiles(node, "/\\<>:\"|?*"), node);
    EXPECT_EQ(PrintableInLines(node), node);
  }
}

TEST(NodeNames, FileNamesLoseWhatLeadsElsewhereOrSplitsThem) {
  EXPECT_EQ(NodeNameForFiles("r/../../x", ""), "r_.._.._x");
  EXPECT_EQ(NodeNameForFiles("back\\slash", ""), "back_slash");
  EXPECT_EQ(NodeNameForFiles("new\nline\x7f\x01", ""), "new_line__");
  EXPECT_EQ(NodeNameForFiles("a<b>c:d\"e|f?g*h", "<>:\"|?*"), "a_b_c_d_e_f_g_h");
  EXPECT_EQ(NodeNameForFiles("a<b>c:d", ""), "a<b>c:d");
}

TEST(NodeNames, ReportLinesLoseOnlyControlCharacters) {
  EXPECT_EQ(PrintableInLines("r/..\\x<y>"), "r/..\\x<y>");
  EXPECT_EQ(PrintableInLines("a\nb\tc\x7f\r"), "a?b?c??");
}

TEST(ResultsFilePath, JoinsDirectoryAndNameWithTheSeparator) {
  EXPECT_EQ(JoinPath("/scratch/run", "r.txt", '/'), "/scratch/run/r.txt");
  EXPECT_EQ(JoinPath("C:\\", "r.txt", '\\'), "C:\\\\r.txt");
  // A start directory longer than any fixed buffer is shown whole.
  const std::string deep = "/" + std::string(6000, 'd');
  EXPECT_EQ(JoinPath(deep, "r.txt", '/'), deep + "/r.txt");
}

TEST(ResultsFilePath, UsesThisPlatformsSeparator) {
#ifdef _WIN32
  EXPECT_EQ(PathSeparator(), '\\');
#else
  EXPECT_EQ(PathSeparator(), '/');
#endif
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

TEST(JobSize, LargestTableSizeRunsOneMoreIsRefused) {
  EXPECT_TRUE(JobSizeAllowed(1));
  EXPECT_TRUE(JobSizeAllowed(kMaxRanks));
  EXPECT_FALSE(JobSizeAllowed(kMaxRanks + 1));
}

}  // namespace
