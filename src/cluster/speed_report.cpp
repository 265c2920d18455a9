#include "cluster/speed_report.h"

#include <ostream>

#include "cluster/cluster_frame.h"
#include "report/line_shapes.h"
#include "report/report_sink.h"
#include "report/units.h"
#include "state/rank_state.h"

namespace {

void SpeedRankLines(std::ostream& sink, const WorkerPhaseResult& result, const char* secondsUnit,
                    const char* millionsUnit) {
  RankLine(sink, result.Rank, result.Node, " The system spent: ", result.Seconds, secondsUnit);
  RankLine(sink, result.Rank, result.Node, " It was: ", ToMillions(result.Rate), millionsUnit);
  ValueLine(sink, "Conventionally, it was: ", ToMegabytes(result.Rate), " MB/sec.");
}

void ReportTotals(int blankLinesBefore, Phase phase, const char* millionsUnit,
                  const char* speedLabel) {
  const double total = OfPhase(ReceivedPhases, phase).Total;
  OnBothSinks([=](std::ostream& sink) {
    for (int i = 0; i < blankLinesBefore; ++i) BlankLine(sink);
    ValueLine(sink, "Overall, It was: ", ToMillions(total), millionsUnit);
    ValueLine(sink, speedLabel, ToMegabytes(total), " MB/sec.");
  });
  ReportSpeedUp(phase);
}

}  // namespace

void OpenSpeedSection(const char* heading) {
  ReportText("Multi-Thread Enabled:");
  ReportHeading(heading);
}

void ReportSpeedPhase(Phase phase, const char* secondsUnit) {
  ReceivePhase(phase, [secondsUnit](const WorkerPhaseResult& result) {
    // "Access" on the console, "Accesses" in the file.
    SpeedRankLines(Console(), result, secondsUnit, " Millions Access/sec.");
    SpeedRankLines(FileSink(), result, secondsUnit, " Millions Accesses/sec.");
  });
}

void ReportWriteTotals(int blankLinesBefore, Phase phase) {
  ReportTotals(blankLinesBefore, phase, " Millions Accesses/sec.to Write",
               "Conventionally, total writing speed was: ");
}

void ReportReadTotals(Phase phase) {
  ReportTotals(0, phase, " Millions Accesses/sec.to Read",
               "Conventionally, total reading speed was: ");
}

void ReportSpeedAverage(const char* label, Phase phase, const char* unit) {
  ReportAverage(label, phase, ToMegabytes(OfPhase(ReceivedPhases, phase).Average), unit);
}
