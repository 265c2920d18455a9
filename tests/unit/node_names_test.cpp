// A node name as file names carry it and as report lines show it.
#include "state/node_names.h"

#include <gtest/gtest.h>

#include <string>

namespace {

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

}  // namespace
