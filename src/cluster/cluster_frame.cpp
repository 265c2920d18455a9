#include "cluster/cluster_frame.h"

#include "report/failure_notes.h"
#include "report/line_shapes.h"
#include "report/report_sink.h"
#include "state/node_names.h"
#include "state/process_state.h"
#include "state/rank_state.h"

namespace {

// Where a worker works concerns all its rates, so it is received once, with
// the worker's first set, and kept for the later phases.
const std::string& ReceivedPlaceWarning(Phase phase, int rank) {
  if (phase == Phase::StreamHandling) {
    ReceivedPlaceWarnings[rank] = PrintableInLines(ReceivePlaceWarning(rank));
  }
  return ReceivedPlaceWarnings[rank];
}

bool IsMeasurement(const WorkerPhaseResult& result) {
  return result.FailedOperations == 0 && result.PlaceWarning.empty();
}

}  // namespace

Measurement OwnPhaseMeasurement(Phase phase) {
  RankPhaseTables& tables = OfPhase(RankPhases, phase);
  return {tables.StartTime[OwnRank], tables.EndTime[OwnRank], tables.TimeSpent[OwnRank],
          tables.Rate[OwnRank]};
}

void SendPhaseResults(Phase phase, long long failed) {
  const RankPhaseTables& tables = OfPhase(RankPhases, phase);
  SendResultSet(tables.Rate, tables.TimeSpent, failed);
  if (phase == Phase::StreamHandling) SendPlaceWarning(OwnPlaceWarning);
  WarningLine(Console(), FailedPhaseWarning(OwnRank, PhaseNumber(phase), failed));
}

WorkerPhaseResult ReceiveRankResult(Phase phase, int rank) {
  StopLineWaitingForRank(phase, rank);
  WorkerPhaseResult result = ReceiveResultSet(rank);
  // A control character in a host name would split the rank's lines.
  result.Node = PrintableInLines(result.Node);
  result.PlaceWarning = ReceivedPlaceWarning(phase, rank);
  return result;
}

void AddToPhaseTotal(ReceivedPhase& received, const WorkerPhaseResult& result) {
  received.Total += result.Rate;
  received.InvalidRates += !IsMeasurement(result);
}

void ReportRankWarnings(Phase phase, const WorkerPhaseResult& result) {
  // Said once, after the rank's first lines.
  if (phase == Phase::StreamHandling) ReportWarning(result.PlaceWarning);
  ReportWarning(FailedPhaseWarning(result.Rank, PhaseNumber(phase), result.FailedOperations));
}

int WorkerCount() { return JobSize - 1; }

void ReportSpeedUp(const ReceivedPhase& received) {
  const SingleNodeResult& own = SingleNodeResultOf(received.Measured);
  OnBothSinks([&received, &own](std::ostream& sink) {
    ValueLine(sink, "Multi-Thread Improvements: ", received.Total / own.Rate, " times.");
  });
  WarnOfInvalidDivisor(own.Failed);
  WarnOfInvalidTotal(received.InvalidRates, WorkerCount());
}

void ReportAverage(const char* label, const ReceivedPhase& received, double shownAverage,
                   const char* unit) {
  OnBothSinks([=](std::ostream& sink) {
    BlankLine(sink);
    ValueLine(sink, label, shownAverage, unit);
  });
  WarnOfInvalidAverage(received.InvalidRates, WorkerCount());
}
