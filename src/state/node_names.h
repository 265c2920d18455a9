// Node names come from the system, and a host name may hold any byte but
// NUL. They become parts of file names and of report lines, so each use gets
// a copy in which the bytes that would change its meaning are replaced.
// Every other byte, printable UTF-8 included, stays as it is, so an ordinary
// name reads the same everywhere.
#pragma once

#include <string>

// "/" and "\" would put the file in another directory, a control character
// would split or hide a line that shows the name; each becomes "_", as does
// any of `notAllowed`, the characters the system forbids in a name.
std::string NodeNameForFiles(const std::string& node, const char* notAllowed);
// A node name or a directory as a report line shows it. A control character
// would split or garble the line: each becomes "?", which reads as "a
// character that cannot be shown" and, unlike "_", is never part of a real
// host name.
std::string PrintableInLines(const std::string& text);
