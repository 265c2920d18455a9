#include "report/line_shapes.h"

namespace {

void EndOfLine(std::ostream& sink) {
  sink << '\n';
  sink.flush();
}

}  // namespace

void BlankLine(std::ostream& sink) { EndOfLine(sink); }

void TextLine(std::ostream& sink, const char* text) {
  sink << text;
  EndOfLine(sink);
}

void ValueLine(std::ostream& sink, const char* label, double value, const char* unit) {
  sink << label << value << unit;
  EndOfLine(sink);
}

void ValueLine(std::ostream& sink, const char* label, int value, const char* unit) {
  sink << label << value << unit;
  EndOfLine(sink);
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
  sink << "Thread:" << rank << " @" << node << label << value << unit;
  EndOfLine(sink);
}
