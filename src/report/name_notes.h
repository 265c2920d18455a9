// Claims a name (names/name_claims.h) and says on the console what was found
// there, as a note or, where the name stays refused, as a warning.
#pragma once

#include <ostream>

// Returns the name to use: `name`, or RefusedName().
const char* ClaimFileName(std::ostream& console, const char* name);
