#include "cluster/speed_report.h"

#include <ostream>

#include "cluster/cluster_frame.h"
#include "report/line_shapes.h"
#include "report/report_sink.h"
#include "report/units.h"
#include "state/rank_state.h"

namespace {

void SpeedRankLines(std::ostream& sink, const ReceivedPhaseTables& tables, int rank,
                    const char* secondsUnit, const char* millionsUnit) {
  const int number = ReceivedRankTable[rank];
  const std::string& node = tables.NodeNames[rank];
  const double rate = tables.Rate[rank];
  RankLine(sink, number, node, " The system spent: ", tables.TimeSpent[rank], secondsUnit);
  RankLine(sink, number, node, " It was: ", ToMillions(rate), millionsUnit);
  ValueLine(sink, "Conventionally, it was: ", ToMegabytes(rate), " MB/sec.");
}

void ReportTotals(int blankLinesBefore, int phase, const char* millionsUnit,
                  const char* speedLabel, double singleNodeRate, long long singleNodeFailed) {
  const double total = OfPhase(ReceivedPhases, phase).Total;
  OnBothSinks([=](std::ostream& sink) {
    for (int i = 0; i < blankLinesBefore; ++i) BlankLine(sink);
    ValueLine(sink, "Overall, It was: ", ToMillions(total), millionsUnit);
    ValueLine(sink, speedLabel, ToMegabytes(total), " MB/sec.");
  });
  ReportSpeedUp(phase, singleNodeRate, singleNodeFailed);
}

}  // namespace

void OpenSpeedSection(const char* heading) {
  ReportText("Multi-Thread Enabled:");
  ReportHeading(heading);
}

void ReportSpeedPhase(int phase, const char* secondsUnit) {
  const ReceivedPhaseTables& tables = OfPhase(ReceivedPhases, phase);
  ReceivePhase(phase, [&tables, secondsUnit](int rank) {
    // "Access" on the console, "Accesses" in the file.
    SpeedRankLines(Console(), tables, rank, secondsUnit, " Millions Access/sec.");
    SpeedRankLines(FileSink(), tables, rank, secondsUnit, " Millions Accesses/sec.");
  });
}

void ReportWriteTotals(int blankLinesBefore, int phase, double singleNodeRate,
                       long long singleNodeFailed) {
  ReportTotals(blankLinesBefore, phase, " Millions Accesses/sec.to Write",
               "Conventionally, total writing speed was: ", singleNodeRate, singleNodeFailed);
}

void ReportReadTotals(int phase, double singleNodeRate, long long singleNodeFailed) {
  ReportTotals(0, phase, " Millions Accesses/sec.to Read",
               "Conventionally, total reading speed was: ", singleNodeRate, singleNodeFailed);
}

void ReportSpeedAverage(const char* label, int phase, const char* unit) {
  ReportAverage(label, phase, ToMegabytes(OfPhase(ReceivedPhases, phase).Average), unit);
}
