// The root's report of a pair of speed phases (low write/read, high
// read/write): per-rank lines of both phases, then totals, speed-ups over
// the single-node rates and averages per worker.
#pragma once

struct SpeedSection {
  const char* heading;
  int firstPhase;  // the phase whose rank lines come first
  const char* firstSecondsUnit;
  int secondPhase;
  const char* secondSecondsUnit;
  int writePhase;
  int readPhase;
  int blankLinesBeforeTotals;
  double singleNodeWriteRate;
  double singleNodeReadRate;
  const char* writeAverageLabel;
  const char* writeAverageUnit;
  const char* readAverageLabel;
  bool blankLineAfterAverages;
};

void ReportSpeedSection(const SpeedSection& section);
