"""What the tests expect beyond the report the scripts read, in the
grammar's line shapes: a worker's own console, the root's console when a
job is refused (too many processes, files held by another run), the
scratch and claim files of a rank, and a results file written back from
its rows."""

import re

from testbed import harness  # noqa: F401  (puts scripts/ on the path)
from orvantic import grammar, texts
from orvantic.shapes import Line, NodeOf, Text


def rank_files(rank, node):
    """A worker's scratch file and its copy."""
    base = "data64-windows-mx-%d @%s" % (rank, texts.file_node(node))
    return base + ".tmp", base


def claim_name(rank, node):
    """The file a rank holds while it runs, beside its scratch files."""
    if rank == 0:
        return texts.SINGLE_CLAIM
    return "data64-windows-mx-%d @%s.claim" % (rank, texts.file_node(node))


def limit_lines():
    """The root's whole console when the job has more processes than may run;
    its title has two blanks after "::"."""
    return [Line(text) for text in ("", texts.TITLE.replace(":: ", "::  "), texts.NOTICE, texts.SUPPORT, "",
                                    "The number of threads has reached the limits, the program terminates.", "")]


HELD_BY_ANOTHER_RUN = ("Another run is using files of this job in the same directory; the two would measure "
                       "each other's files, so this run stops.")


def held_lines(holds, ended=()):
    """The root's whole console when another live run holds files of the
    job: `holds` lists, in rank order, each rank that found its claim file
    held as (rank, node, directory, holder), the holder as the other run's
    claim file tells it ("process PID on NODE"), None for any text. A line
    on what to do follows a holder on another node, and one on its own node
    that no longer runs: the ranks in `ended`."""
    lines = [Line(""), Line(HELD_BY_ANOTHER_RUN)]
    for rank, node, directory, holder in holds:
        lines.append(Line("Rank %d on %s: %s in %s is held by " % (
            rank, texts.line_node(node), claim_name(rank, node), texts.line_node(directory)), Text(holder), "."))
        lines += _holder_advice(holder, node, rank in ended)
    return lines + [Line("")]


def _holder_advice(holder, node, ended):
    named = re.fullmatch(r"process (\d+) on (.+)", holder or "")
    if not named:
        return []
    pid, holder_node = named.groups()
    if holder_node != node:
        return [Line("Whether process %s still runs can only be seen on " % pid, Text(holder_node),
                     "; if it does not, the lock is the file system's, held for ", Text(holder_node),
                     "'s client until the file system evicts that client or its administrator does.")]
    if ended:
        return [Line("Process %s no longer runs on " % pid, Text(holder_node),
                     ": the lock is the file system's, held for a client it has not yet given up, until the file "
                     "system evicts that client or its administrator does.")]
    return []


def worker_lines(rank, node, failing=(), unable=(), found=None, misplaced=None):
    """A worker's own console: first, where `misplaced` is given (its own and
    the root's directory, either None for any text, or True for both), the
    note that it works outside the root's start directory; then notes on
    what it found at its names as it claims them ({name: kind}), the open
    failure of the read phases in `unable`, and a note after every phase
    whose measurement, or (measurement, rank), is in `failing`, so that the
    set given to report_lines serves here as well."""
    found = found or {}
    scratch, copy = rank_files(rank, node)
    claims = {"stream-handling": scratch, "high-write": copy}
    lines = []
    if misplaced:
        lines.append(grammar.misplaced_note(rank, NodeOf(rank, node),
                                            grammar.ANYWHERE if misplaced is True else misplaced))
    for measurement, _ in texts.MEASUREMENTS:
        name = claims.get(measurement)
        if name in found:
            lines.append(Line(texts.found_note(name, found[name])))
        if measurement in unable:
            lines.append(Line(texts.UNABLE))
        if measurement in failing or (measurement, rank) in failing:
            lines.append(grammar.failure_note(rank, measurement))
    return lines


# ---- results files written back from rows ------------------------------------------


def _warned(rows, nodes):
    """What the rows' warnings tell went wrong, as report_lines takes it:
    the failing tests and phases, and the workers outside the root's start
    directory."""
    failing, misplaced = set(), {}
    for r in rows:
        if r["valid"] != "false":
            continue
        if r["scope"] == texts.SCOPE_SINGLE:
            failing.add(r["measurement"])
        elif r["scope"] == texts.SCOPE_RANK:
            rank = int(r["rank"])
            if grammar.failure_note(rank, r["measurement"]).regex.match(r["warning"]):
                failing.add((r["measurement"], rank))
            if grammar.misplaced_note(rank, NodeOf(rank, nodes[rank]), grammar.ANYWHERE).regex.search(r["warning"]):
                misplaced[rank] = grammar.ANYWHERE
    return failing, misplaced


def _rendered(line, row):
    """The text of an expected line with the row's values in its slots."""
    if line.warning:
        # A row's warning cell may hold more than one warning line (see
        # measured.rows_of); each line is the part its own pattern finds there.
        hit = line.regex.search(row["warning"]) if row else None
        if not hit:
            raise ValueError("the row of %r holds no warning %s" % (line.row, line.describe()))
        return hit.group(0)
    return "".join(p if isinstance(p, str) else row[p.field] if p.field else p.describe() for p in line.pieces)


def render_file(rows):
    """The results-file lines that the rows of one run stand for."""
    size = int(rows[0]["job_size"])
    nodes = {0: rows[0]["run_node"]}
    nodes.update((int(r["rank"]), r["node"]) for r in rows if r["scope"] == texts.SCOPE_RANK)
    if len(nodes) != size:
        raise ValueError("rows of %d ranks for a job of %d" % (len(nodes), size))
    failing, misplaced = _warned(rows, nodes)
    by_key = dict(((r["measurement"], r["scope"], int(r["rank"]) if r["rank"] else None), r) for r in rows)
    return [_rendered(line, by_key.get(line.row))
            for line in grammar.report_lines(grammar.FILE, nodes, failing=failing, misplaced=misplaced)]
