// Claims a name (names/name_claims.h) and says on the console what was found
// there, as a note or, where the name stays refused, as a warning.
#pragma once

#include <ostream>
#include <string>

#include "names/name_claims.h"

// What became of `name`, after its note on the console.
ClaimedName ClaimAndNote(std::ostream& console, const char* name);
// Returns the name to use: `name`, or RefusedName().
const char* ClaimFileName(std::ostream& console, const char* name);
// A note of several lines in one text, as one rank sends it to the root
// (separated by newlines, none in a line itself): each as a line of its own.
void NoteLines(std::ostream& console, const std::string& note);
