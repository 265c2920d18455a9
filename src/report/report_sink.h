// The two sinks of the report: the console and the results file. A line meant
// for both is written twice, console first; the helpers here do exactly that
// for the lines whose texts are the same on both sinks.
#pragma once

#include <ostream>

std::ostream& Console();
std::ostream& FileSink();

void ReportText(const char* text);
void ReportValue(const char* label, double value, const char* unit);
void ReportBlankLines();  // one blank line on the console, then one in the file
void ReportHeading(const char* text);
