#include "workloads/name_claims.h"

#include <string>

#include "platform/platform.h"
#include "report/line_shapes.h"

const char* RefusedName() { return ""; }

const char* ClaimFileName(std::ostream& console, const char* name) {
  switch (RemoveSymbolicLink(name)) {
    case LinkRemoval::NoLink:
      break;
    case LinkRemoval::Removed:
      TextLine(console, (std::string("Removed a symbolic link found at ") + name +
                         "; its target was left untouched.").c_str());
      break;
    case LinkRemoval::CannotRemove:
      TextLine(console, (std::string("Warning: cannot remove the symbolic link found at ") +
                         name + "; the benchmark will not use that name.").c_str());
      return RefusedName();
  }
  return name;
}

NameSource ClaimedNameSource(std::ostream& console, NameSource source) {
  return ClaimFileName(console, source()) == RefusedName() ? RefusedName : source;
}
