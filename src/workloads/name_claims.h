// The benchmark creates, truncates, opens and removes files by its own names
// in directories others may write in. What someone left at such a name must
// neither lead it to someone else's file (a symbolic link, a file with
// another hard link) nor hang it or fake a rate (a named pipe, a socket, a
// device). A name is claimed before each step that creates, truncates or
// opens it, outside any timed span. The kernel settings fs.protected_* close
// the window between the claim and the open.
#pragma once

#include <ostream>

using NameSource = const char* (*)();

// Nothing at `name`, a plain regular file or a directory: the name is used
// as it is (a directory's opens fail and are counted). Anything else is
// removed, never what it refers to, and one console line says so. Returns
// `name`, or RefusedName() when something stays there.
const char* ClaimFileName(std::ostream& console, const char* name);
// An empty name: every open and remove of it fails, so a step given it runs,
// counts its operations as failed and reaches nothing planted.
const char* RefusedName();
// Claims the name `source` yields and returns the source to use: `source`
// itself, or one that yields the refused name.
NameSource ClaimedNameSource(std::ostream& console, NameSource source);
