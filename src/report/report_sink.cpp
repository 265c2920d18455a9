#include "report/report_sink.h"

#include <iostream>

#include "report/line_shapes.h"
#include "state/process_state.h"

std::ostream& Console() { return std::cout; }
std::ostream& FileSink() { return ResultsFile; }

void ReportText(const char* text) {
  OnBothSinks([text](std::ostream& sink) { TextLine(sink, text); });
}

void ReportBlankLines() { OnBothSinks(BlankLine); }

void ReportHeading(const char* text) { SectionHeading(Console(), text, FileSink(), text); }
