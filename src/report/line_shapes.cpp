#include "report/line_shapes.h"

#include "report/stop_line.h"

namespace {

// The one way a line is written: its pieces, a newline and a flush, all
// between the brackets that keep a stop line out of it.
template <typename... Pieces>
void WholeLine(std::ostream& sink, const Pieces&... pieces) {
  BeginReportLine();
  (sink << ... << pieces) << '\n';
  sink.flush();
  EndReportLine(sink);
}

}  // namespace

void BlankLine(std::ostream& sink) { WholeLine(sink); }

void TextLine(std::ostream& sink, const char* text) { WholeLine(sink, text); }

void ValueLine(std::ostream& sink, const char* label, double value, const char* unit) {
  WholeLine(sink, label, value, unit);
}

void ValueLine(std::ostream& sink, const char* label, int value, const char* unit) {
  WholeLine(sink, label, value, unit);
}

void SectionHeading(std::ostream& console, const char* consoleText, std::ostream& file,
                    const char* fileText) {
  TextLine(console, consoleText);
  BlankLine(console);
  TextLine(file, fileText);
  BlankLine(file);
}

void RankLine(std::ostream& sink, int rank, const std::string& node, const char* label,
              double value, const char* unit) {
  WholeLine(sink, "Thread:", rank, " @", node, label, value, unit);
}
