// The two sinks of the report: the console and the results file. A line meant
// for both is written twice, console first; OnBothSinks does exactly that for
// the lines whose texts are the same on both sinks.
#pragma once

#include <ostream>

std::ostream& Console();
std::ostream& FileSink();

// Runs `lines`, a callable taking a sink, on the console, then on the file.
template <typename Lines>
void OnBothSinks(const Lines& lines) {
  lines(Console());
  lines(FileSink());
}

void ReportText(const char* text);
void ReportBlankLines();  // one blank line on the console, then one in the file
void ReportHeading(const char* text);
