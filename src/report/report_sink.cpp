#include "report/report_sink.h"

#include <iostream>

#include "report/line_shapes.h"
#include "state/process_state.h"

std::ostream& Console() { return std::cout; }
std::ostream& FileSink() { return ResultsFile; }

void ReportText(const char* text) {
  TextLine(Console(), text);
  TextLine(FileSink(), text);
}

void ReportValue(const char* label, double value, const char* unit) {
  ValueLine(Console(), label, value, unit);
  ValueLine(FileSink(), label, value, unit);
}

void ReportBlankLines() {
  BlankLine(Console());
  BlankLine(FileSink());
}

void ReportHeading(const char* text) { SectionHeading(Console(), text, FileSink(), text); }
