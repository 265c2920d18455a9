// The report's lines are parsed by people's scripts: every shape must put
// exactly the pieces it is given on one line, in the streams' default number
// format, with nothing inserted between them.
#include "report/line_shapes.h"

#include <gtest/gtest.h>

#include <limits>
#include <sstream>

#include "report/units.h"

namespace {

std::string Value(double number) {
  std::ostringstream sink;
  ValueLine(sink, "", number, "");
  return sink.str();
}

TEST(NumberFormat, SixSignificantDigitsGeneralNotation) {
  EXPECT_EQ(Value(131072.0), "131072\n");
  EXPECT_EQ(Value(25165824.0), "2.51658e+07\n");
  EXPECT_EQ(Value(0.0000123456), "1.23456e-05\n");
  EXPECT_EQ(Value(2.5), "2.5\n");
  EXPECT_EQ(Value(0.0), "0\n");
}

TEST(NumberFormat, RateOverZeroSecondsIsInf) {
  const double zeroSeconds = 0.0;
  EXPECT_EQ(Value(131072.0 / zeroSeconds), "inf\n");
  EXPECT_EQ(Value(std::numeric_limits<double>::infinity()), "inf\n");
}

TEST(UnitScaling, MegabytesAreBinaryMillionsAreDecimal) {
  EXPECT_DOUBLE_EQ(ToMegabytes(25165824.0), 24.0);
  EXPECT_DOUBLE_EQ(ToMillions(25165824.0), 25.165824);
  EXPECT_EQ(Value(ToMegabytes(3.0 * 1048576.0)), "3\n");
}

TEST(LineShapes, EachShapeWritesExactlyItsPieces) {
  std::ostringstream sink;
  BlankLine(sink);
  TextLine(sink, "Multi-Thread Enabled:");
  ValueLine(sink, "The system could process  ", 131072.0, " Files/sec.");
  ValueLine(sink, "Thread(s): ", 4, "");
  RankLine(sink, 3, "NODE7", " The system spent: ", 0.5, " Secs.");
  RankLine(sink, 12, "n", "The system spent: ", 1e-7, " Secs. to Read.");
  EXPECT_EQ(sink.str(),
            "\n"
            "Multi-Thread Enabled:\n"
            "The system could process  131072 Files/sec.\n"
            "Thread(s): 4\n"
            "Thread:3 @NODE7 The system spent: 0.5 Secs.\n"
            "Thread:12 @nThe system spent: 1e-07 Secs. to Read.\n");
}

TEST(LineShapes, HeadingGoesToConsoleThenFileWithItsOwnText) {
  std::ostringstream console;
  std::ostringstream file;
  SectionHeading(console, "Power of Handling Files -- Hihger", file,
                 "Power of Handling Files -- Higher");
  EXPECT_EQ(console.str(), "Power of Handling Files -- Hihger\n\n");
  EXPECT_EQ(file.str(), "Power of Handling Files -- Higher\n\n");
}

TEST(LineShapes, EveryLineIsFlushedAtOnce) {
  // A sink whose buffer only reaches the target on flush shows whether each
  // line was flushed: a run cut short must keep every line written.
  struct CountingBuf : std::stringbuf {
    int syncs = 0;
    int sync() override {
      ++syncs;
      return 0;
    }
  } counting;
  std::ostream counted(&counting);
  TextLine(counted, "a");
  BlankLine(counted);
  ValueLine(counted, "b", 1.0, "c");
  RankLine(counted, 1, "n", "d", 2.0, "e");
  EXPECT_EQ(counting.syncs, 4);
}

}  // namespace
