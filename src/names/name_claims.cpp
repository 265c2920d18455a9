#include "names/name_claims.h"

#include "platform/platform.h"

namespace {

// How the console names what was found, and what of it was left alone.
struct FoundThing {
  const char* noun;
  const char* untouched;  // "" when nothing outside the name is involved
};

FoundThing Described(NameKind kind) {
  switch (kind) {
    case NameKind::SymbolicLink:
      return {"symbolic link", "; its target was left untouched"};
    case NameKind::LinkedFile:
      return {"file with other hard links", "; its other links were left untouched"};
    case NameKind::NamedPipe:
      return {"named pipe", ""};
    case NameKind::Socket:
      return {"socket", ""};
    case NameKind::Device:
      return {"device file", ""};
    default:
      return {"special file", ""};
  }
}

bool UsableAsItIs(NameKind kind) {
  return kind == NameKind::Nothing || kind == NameKind::PlainFile || kind == NameKind::Directory;
}

}  // namespace

const char* RefusedName() { return ""; }

ClaimedName ClaimName(const char* name) {
  const NameKind kind = KindOfName(name);
  if (UsableAsItIs(kind)) return {name, std::string(), false};
  const FoundThing found = Described(kind);
  if (RemoveName(name)) {
    return {name, std::string("Removed a ") + found.noun + " found at " + name + found.untouched + ".",
            false};
  }
  return {RefusedName(),
          std::string("Warning: cannot remove the ") + found.noun + " found at " + name +
              "; the benchmark will not use that name.",
          true};
}
