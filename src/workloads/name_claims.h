// The benchmark truncates and removes files by its own names; a symbolic
// link planted at such a name must not lead it to someone else's file. A
// name is claimed before the step that creates or truncates it, outside any
// timed span.
#pragma once

#include <ostream>

using NameSource = const char* (*)();

// A link at `name` is removed (never its target) and one console line says
// so. Returns `name` when it is safe to use, or RefusedName() when a link
// stays there.
const char* ClaimFileName(std::ostream& console, const char* name);
// An empty name: every open and remove of it fails, so a step given it runs,
// counts its operations as failed and reaches no link's target.
const char* RefusedName();
// Claims the name `source` yields and returns the source to use: `source`
// itself, or one that yields the refused name.
NameSource ClaimedNameSource(std::ostream& console, NameSource source);
