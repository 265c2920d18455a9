#include "report/name_notes.h"

#include <algorithm>

#include "report/failure_notes.h"
#include "report/line_shapes.h"

ClaimedName ClaimAndNote(std::ostream& console, const char* name) {
  const ClaimedName claimed = ClaimName(name);
  if (claimed.refused) {
    WarningLine(console, claimed.note);
  } else if (!claimed.note.empty()) {
    TextLine(console, claimed.note.c_str());
  }
  return claimed;
}

const char* ClaimFileName(std::ostream& console, const char* name) {
  return ClaimAndNote(console, name).name;
}

void NoteLines(std::ostream& console, const std::string& note) {
  for (std::size_t start = 0; start <= note.size();) {
    const std::size_t end = std::min(note.find('\n', start), note.size());
    TextLine(console, note.substr(start, end - start).c_str());
    start = end + 1;
  }
}
