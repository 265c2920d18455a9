// The benchmark creates, truncates, opens and removes files by its own names
// in directories others may write in. What someone left at such a name must
// neither lead it to someone else's file (a symbolic link, a file with
// another hard link) nor hang it or fake a rate (a named pipe, a socket, a
// device). A name is claimed before each step that creates, truncates or
// opens it, outside any timed span. The kernel settings fs.protected_* close
// the window between the claim and the open.
#pragma once

#include <string>

// What became of a name, and the console line that says so (empty when
// nothing was found there; a warning when the name is refused).
struct ClaimedName {
  const char* name;  // the name to use: the one asked for, or RefusedName()
  std::string note;
  bool refused;
};

// Nothing at `name`, a plain regular file or a directory: the name is used
// as it is (a directory's opens fail and are counted). Anything else is
// removed, never what it refers to; what cannot be removed leaves the name
// refused.
ClaimedName ClaimName(const char* name);
// An empty name: every open and remove of it fails, so a step given it runs,
// counts its operations as failed and reaches nothing planted.
const char* RefusedName();
