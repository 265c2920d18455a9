#include "cluster/speed_report.h"

#include <ostream>

#include "cluster/cluster_frame.h"
#include "report/line_shapes.h"
#include "report/report_sink.h"
#include "report/units.h"
#include "state/rank_state.h"
#include "state/run_identity.h"

namespace {

void SpeedRankLines(std::ostream& sink, int phase, int rank, const char* secondsUnit,
                    const char* millionsUnit) {
  const ReceivedPhaseTables& tables = ReceivedPhases[phase - 1];
  const int number = ReceivedRankTable[rank];
  const std::string& node = tables.NodeNames[rank];
  const double rate = tables.Rate[rank];
  RankLine(sink, number, node, " The system spent: ", tables.TimeSpent[rank], secondsUnit);
  RankLine(sink, number, node, " It was: ", ToMillions(rate), millionsUnit);
  ValueLine(sink, "Conventionally, it was: ", ToMegabytes(rate), " MB/sec.");
}

void ReceiveSpeedPhase(int phase, const char* secondsUnit) {
  for (int rank = kFirstWorkerRank; rank < JobSize; ++rank) {
    ReceivePhaseFromRank(phase, rank);
    SpeedRankLines(Console(), phase, rank, secondsUnit, " Millions Access/sec.");
    SpeedRankLines(FileSink(), phase, rank, secondsUnit, " Millions Accesses/sec.");
  }
  ReceivedPhases[phase - 1].Average = ReceivedPhases[phase - 1].Total / WorkerCount();
}

void WriteTotalLines(std::ostream& sink, double total) {
  ValueLine(sink, "Overall, It was: ", ToMillions(total), " Millions Accesses/sec.to Write");
  ValueLine(sink, "Conventionally, total writing speed was: ", ToMegabytes(total), " MB/sec.");
}

void ReadTotalLines(std::ostream& sink, double total) {
  ValueLine(sink, "Overall, It was: ", ToMillions(total), " Millions Accesses/sec.to Read");
  ValueLine(sink, "Conventionally, total reading speed was: ", ToMegabytes(total), " MB/sec.");
}

void BlankLines(std::ostream& sink, int count) {
  for (int i = 0; i < count; ++i) BlankLine(sink);
}

void ReportTotals(const SpeedSection& section) {
  const ReceivedPhaseTables& write = ReceivedPhases[section.writePhase - 1];
  const ReceivedPhaseTables& read = ReceivedPhases[section.readPhase - 1];
  BlankLines(Console(), section.blankLinesBeforeTotals);
  WriteTotalLines(Console(), write.Total);
  BlankLines(FileSink(), section.blankLinesBeforeTotals);
  WriteTotalLines(FileSink(), write.Total);
  ReportValue("Multi-Thread Improvements: ", write.Total / section.singleNodeWriteRate, " times.");
  ReadTotalLines(Console(), read.Total);
  ReadTotalLines(FileSink(), read.Total);
  ReportValue("Multi-Thread Improvements: ", read.Total / section.singleNodeReadRate, " times.");
}

void ReportAverages(const SpeedSection& section) {
  const double writeAverage = ToMegabytes(ReceivedPhases[section.writePhase - 1].Average);
  const double readAverage = ToMegabytes(ReceivedPhases[section.readPhase - 1].Average);
  ReportBlankLines();
  BlankLine(Console());
  ValueLine(Console(), section.writeAverageLabel, writeAverage, section.writeAverageUnit);
  BlankLine(FileSink());
  ValueLine(FileSink(), section.writeAverageLabel, writeAverage, section.writeAverageUnit);
  BlankLine(Console());
  ValueLine(Console(), section.readAverageLabel, readAverage, "  MB/sec.");
  BlankLine(FileSink());
  ValueLine(FileSink(), section.readAverageLabel, readAverage, "  MB/sec.");
  if (section.blankLineAfterAverages) ReportBlankLines();
}

}  // namespace

void ReportSpeedSection(const SpeedSection& section) {
  ReportText("Multi-Thread Enabled:");
  ReportHeading(section.heading);
  ReceiveSpeedPhase(section.firstPhase, section.firstSecondsUnit);
  ReceiveSpeedPhase(section.secondPhase, section.secondSecondsUnit);
  ReportTotals(section);
  ReportAverages(section);
}
