// The shapes every report line takes. Each line ends with a newline and a
// flush, so a run cut short leaves every line written so far on the sink,
// and a stop line (stop_line.h) comes only between two lines.
// Numbers use the stream's default format: six significant digits, general
// notation, as the people parsing the report expect.
#pragma once

#include <ostream>
#include <string>

void BlankLine(std::ostream& sink);
void TextLine(std::ostream& sink, const char* text);
void ValueLine(std::ostream& sink, const char* label, double value, const char* unit);
void ValueLine(std::ostream& sink, const char* label, int value, const char* unit);
// Heading text and an empty line on the console, then the same in the file.
void SectionHeading(std::ostream& console, const char* consoleText, std::ostream& file,
                    const char* fileText);
// "Thread:<rank> @<node>" followed by label, number and unit.
void RankLine(std::ostream& sink, int rank, const std::string& node, const char* label,
              double value, const char* unit);
