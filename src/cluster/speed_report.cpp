#include "cluster/speed_report.h"

#include <ostream>

#include "report/line_shapes.h"
#include "report/report_sink.h"
#include "report/units.h"

namespace {

void SpeedRankLines(std::ostream& sink, const WorkerPhaseResult& result, const char* secondsUnit,
                    const char* millionsUnit) {
  RankLine(sink, result.Rank, result.Node, " The system spent: ", result.Seconds, secondsUnit);
  RankLine(sink, result.Rank, result.Node, " It was: ", ToMillions(result.Rate), millionsUnit);
  ValueLine(sink, "Conventionally, it was: ", ToMegabytes(result.Rate), " MB/sec.");
}

void ReportTotals(int blankLinesBefore, const ReceivedPhase& received, const char* millionsUnit,
                  const char* speedLabel) {
  const double total = received.Total;
  OnBothSinks([=](std::ostream& sink) {
    for (int i = 0; i < blankLinesBefore; ++i) BlankLine(sink);
    ValueLine(sink, "Overall, It was: ", ToMillions(total), millionsUnit);
    ValueLine(sink, speedLabel, ToMegabytes(total), " MB/sec.");
  });
  ReportSpeedUp(received);
}

}  // namespace

void OpenSpeedSection(const char* heading) {
  ReportText("Multi-Thread Enabled:");
  ReportHeading(heading);
}

ReceivedPhase ReportSpeedPhase(Phase phase, const char* secondsUnit) {
  return ReceivePhase(phase, [secondsUnit](const WorkerPhaseResult& result) {
    // "Access" on the console, "Accesses" in the file.
    SpeedRankLines(Console(), result, secondsUnit, " Millions Access/sec.");
    SpeedRankLines(FileSink(), result, secondsUnit, " Millions Accesses/sec.");
  });
}

void ReportWriteTotals(int blankLinesBefore, const ReceivedPhase& received) {
  ReportTotals(blankLinesBefore, received, " Millions Accesses/sec.to Write",
               "Conventionally, total writing speed was: ");
}

void ReportReadTotals(const ReceivedPhase& received) {
  ReportTotals(0, received, " Millions Accesses/sec.to Read",
               "Conventionally, total reading speed was: ");
}

void ReportSpeedAverage(const char* label, const ReceivedPhase& received, const char* unit) {
  ReportAverage(label, received, ToMegabytes(received.Average), unit);
}
