"""The records of a job's nodes side by side (see jobs), and the fields in
which records differ: for a person, for a script, and between two series
for compare."""

import collections

from orvantic.records import FIELDS
from orvantic.terminal import shown

# Fields that tell nodes apart by nature, never a difference of set-up.
OWN_TO_EACH = ("recorded", "host")
NO_RECORD = "unknown (no record from this node: "


# The record of one node of a job (its fields), or why there is none; the
# name is the node's as the host file or the allocation lists it.
NodeRecord = collections.namedtuple("NodeRecord", "name fields why", defaults=(None, None))


def grouped(nodes, name):
    """{value: [names of the recorded nodes with it]}, in the nodes' order."""
    groups = {}
    for node in nodes:
        if node.fields is not None:
            groups.setdefault(node.fields[name], []).append(node.name)
    return groups


def differing(nodes):
    """The fields, in the order of FIELDS, in which the records of a job's
    nodes do not all read alike; but the time of recording and the host."""
    return [name for name, _, _ in FIELDS if name not in OWN_TO_EACH and len(grouped(nodes, name)) > 1]


def nodes_json(nodes):
    """The nodes' records for a script: a node without one has every field
    "unknown" with the reason, and is left out of the comparison."""
    return {"nodes": [{"host": node.fields["host"] if node.fields else node.name,
                       "fields": node.fields or {name: NO_RECORD + node.why + ")" for name, _, _ in FIELDS}}
                      for node in nodes],
            "differing": differing(nodes)}


def recorded(fields):
    """Whether a node's fields in nodes_json are its record, not its absence."""
    return not str(fields.get("host", "")).startswith(NO_RECORD)


def nodes_text(nodes):
    """The nodes' records for a person: a field per line where every node
    has the same value, else the nodes grouped by value below it; a star
    marks the fields in which they differ."""
    lines = ["%d node(s); * marks a field in which they differ." % len(nodes)]
    lines += ["%s: no record (%s)" % (shown(node.name), shown(node.why)) for node in nodes if node.fields is None]
    for name, _, _ in FIELDS:
        groups = grouped(nodes, name)
        if len(groups) == 1:
            lines.append("  %s: %s" % (name, shown(next(iter(groups)))))
        elif groups:
            lines.append("%s %s:" % (" " if name in OWN_TO_EACH else "*", name))
            lines += ["      %s: %s" % (shown(", ".join(names)), shown(value)) for value, names in groups.items()]
    return "".join(line + "\n" for line in lines)


def differences(first, second):
    """The fields two records hold that read differently, but the time of
    recording, which always does."""
    return [(name, first[name], second[name]) for name in first
            if name in second and name != "recorded" and first[name] != second[name]]
