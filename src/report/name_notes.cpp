#include "report/name_notes.h"

#include "names/name_claims.h"
#include "report/failure_notes.h"
#include "report/line_shapes.h"

const char* ClaimFileName(std::ostream& console, const char* name) {
  const ClaimedName claimed = ClaimName(name);
  if (claimed.name == RefusedName()) {
    WarningLine(console, claimed.note);
  } else if (!claimed.note.empty()) {
    TextLine(console, claimed.note.c_str());
  }
  return claimed.name;
}
