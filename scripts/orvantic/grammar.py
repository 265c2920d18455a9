"""The report orvantic-drives writes, as one grammar.

`report_lines` yields the lines a job of a given size writes on one sink
(the root's console or the results file), with what went wrong in the run
(the root's tests and the workers' phases whose file operations failed,
workers outside the root's start directory, reads that could not open their
file, links, pipes and other special files found at the benchmark's names,
where the results file ended up) as inputs. `match` walks
actual lines against them and `rows_of` turns what matched into one row
per measurement, valid or not; `parse` does both for a results file on disk
and refuses anything else: a number taken from a line that only looks
similar would be worse than no number. Numbers are kept as the text the
report shows, so a CSV or a plot label repeats it character for character;
`as_float` converts when arithmetic is needed.

Shared by results-to-csv, plot-results, repeat-runs, compare and the
end-to-end tests.
"""

import csv
import datetime
import json
import math
import os
import re

TITLE = "Velbrix :: Orvantic Benchmark Drives for Windows Clusters on Mac Mx system 2023.03.06."
NOTICE = "Notice: measures the drive of the current directory and leaves its scratch files there."
SUPPORT = "Support: see the README of orvantic-drives."
UNABLE = "Unable to open file"
SAVED = "Results have been saved in a file and you can find it at: "
NOT_SAVED = "Results could not be saved in a file at: "
MOVED = "Results were written, but the file is no longer at: "
PRESS_ENTER = "Press Enter to Exit."
RESULTS_PREFIX = "results_drives_windows_clusters_mac_mx @ "
MAX_JOB_SIZE = 4096

FILE_NAME = re.compile(
    "^" + re.escape(RESULTS_PREFIX) + r"(?P<node>.*) @ local date "
    r"(?P<Y>\d{4})\.(?P<m>\d{2})\.(?P<d>\d{2}) time (?P<H>\d{2})\.(?P<M>\d{2})\.(?P<S>\d{2})"
    # A run that found its name taken (another run in the same second) numbers it.
    r"(?: \((?:[2-9]|[1-9]\d+)\))?\.txt$"
)

# The streams' default format: six significant digits, general notation
# with an exponent of at least two digits; a division by a zero time prints
# inf, and a failed one may print nan.
NUMBER = r"-?(?:inf|nan|\d+(?:\.\d+)?(?:e[-+]\d\d+)?)"

CONSOLE = "console"
FILE = "file"

SCOPE_SINGLE = "single"
SCOPE_RANK = "rank"
SCOPE_TOTAL = "total"
SCOPE_AVERAGE = "average"
# Not a line of the report: each phase's workers' work over the slowest
# worker's time (see common_window_row).
SCOPE_COMMON_WINDOW = "common-window"

HANDLING_UNIT = "Files/sec."
ACCESS_UNIT = "Millions Accesses/sec."
MB_UNIT = "MB/sec."

HANDLING_LOWER = "Power of Handling Files -- Lower"
HANDLING_HIGHER = "Power of Handling Files -- Higher"
LOW_SPEEDS = "Low writing and reading speeds:"
HIGH_SPEEDS = "High writing and reading speeds:"

# The six measurements in the order the single-node part of the report holds
# them, each with the heading of its section; a worker's phases 1 to 6 run
# them in the same order.
MEASUREMENTS = [
    ("stream-handling", HANDLING_LOWER),
    ("descriptor-handling", HANDLING_HIGHER),
    ("low-write", LOW_SPEEDS),
    ("low-read", LOW_SPEEDS),
    ("high-read", HIGH_SPEEDS),
    ("high-write", HIGH_SPEEDS),
]
SECTION_OF = dict(MEASUREMENTS)
HANDLING = ("stream-handling", "descriptor-handling")
ALL_TESTS = frozenset(SECTION_OF)


def phase_of(measurement):
    return [m for m, _ in MEASUREMENTS].index(measurement) + 1


CSV_COLUMNS = [
    "run_node",
    "run_datetime",
    "job_size",
    "section",
    "scope",
    "rank",
    "node",
    "measurement",
    "seconds",
    "rate",
    "rate_unit",
    "mb_per_sec",
    "speedup",
    "valid",
    "warning",
]


def write_table(rows, columns, out, as_json=False):
    """Rows (dicts) as CSV with a header line, or as a JSON list of objects
    with the same keys. Values stay text, also in JSON: the report's own
    digits, and inf and nan, which JSON numbers cannot hold."""
    if as_json:
        json.dump([dict((column, row[column]) for column in columns) for row in rows], out, indent=1)
        out.write("\n")
        return
    writer = csv.DictWriter(out, fieldnames=columns, lineterminator="\n", extrasaction="ignore")
    writer.writeheader()
    writer.writerows(rows)


# Scratch files: the root's, and each worker's named after its rank and node.
SINGLE_SCRATCH = "data64-windows-mx-single.tmp"
SINGLE_COPY = "data64-windows-mx-single"
SINGLE_CLAIM = "data64-windows-mx-single.claim"


def file_node(node):
    """A node name as file names carry it: what could lead into another
    directory or split the name replaced."""
    return re.sub(r"[\x00-\x1f\x7f/\\]", "_", node)


def line_node(node):
    """A node name as report lines show it: control characters replaced."""
    return re.sub(r"[\x00-\x1f\x7f]", "?", node)


def rank_files(rank, node):
    """A worker's scratch file and its copy."""
    base = "data64-windows-mx-%d @%s" % (rank, file_node(node))
    return base + ".tmp", base


def claim_name(rank, node):
    """The file a rank holds while it runs, beside its scratch files."""
    if rank == 0:
        return SINGLE_CLAIM
    return "data64-windows-mx-%d @%s.claim" % (rank, file_node(node))


def is_scratch_name(name):
    """Whether a file name is one the benchmark writes its scratch data to
    (or holds while it runs), whatever the rank and node."""
    return name in (SINGLE_SCRATCH, SINGLE_COPY, SINGLE_CLAIM) or re.fullmatch(
        r"data64-windows-mx-[1-9]\d* @.*", name, re.DOTALL) is not None


# What the benchmark may find at a name it is about to open, and says it
# removed (or could not remove).
SYMBOLIC_LINK = "symbolic link"
LINKED_FILE = "file with other hard links"
NAMED_PIPE = "named pipe"
SOCKET = "socket"
DEVICE = "device file"
_LEFT_UNTOUCHED = {SYMBOLIC_LINK: "; its target was left untouched",
                   LINKED_FILE: "; its other links were left untouched"}


def found_note(name, kind=SYMBOLIC_LINK, removed=True):
    if removed:
        return "Removed a %s found at %s%s." % (kind, name, _LEFT_UNTOUCHED.get(kind, ""))
    return "Warning: cannot remove the %s found at %s; the benchmark will not use that name." % (kind, name)


# ---- lines ---------------------------------------------------------------


class Slot:
    """A variable piece of a line. `check` tells what is wrong with the text
    it matched, given what the lines before it said (None when nothing is);
    `owed` whether those lines make an optional line carrying it required."""

    field = None

    def check(self, text, seen):
        return None

    def owed(self, seen):
        return False


class Value(Slot):
    """A number in the default format, kept in its row under `field`."""

    def __init__(self, field):
        self.field = field
        self.pattern = NUMBER

    def describe(self):
        return "<number>"

    def render(self, row):
        return row[self.field]


class NodeOf(Slot):
    """The node name of a rank: given, or any text when the job's node names
    are not known beforehand (only the ends of a line tell where it stops).
    It must read the same on every line of its rank."""

    field = "node"

    def __init__(self, rank, name=None):
        self.rank = rank
        self.name = None if name is None else line_node(name)
        self.pattern = ".*" if name is None else re.escape(self.name)

    def describe(self):
        return "<node of rank %d>" % self.rank if self.name is None else self.name

    def render(self, row):
        return row["node"]

    def check(self, text, seen):
        if seen.nodes.setdefault(self.rank, text) != text:
            return "rank %d's lines name different nodes (%r, %r)" % (self.rank, seen.nodes[self.rank], text)
        return None


class Count(Slot):
    """A count of failed file operations; a warning is only written for one."""

    pattern = r"[1-9]\d*"

    def describe(self):
        return "<count>"


class NotValidCount(Count):
    """How many workers' rates of a phase are not valid, where the lines
    before it tell: a total or average that adds one of them must say so,
    and count each of them."""

    def __init__(self, measurement):
        self.measurement = measurement

    def describe(self):
        return "<count of %s rates not valid>" % self.measurement

    def check(self, text, seen):
        warned = len(seen.not_valid.get(self.measurement, ()))
        if int(text) != warned:
            return "the warning counts %s %s rate(s) not valid, the rank lines above warn of %d" % (
                text, self.measurement, warned)
        return None

    def owed(self, seen):
        return bool(seen.not_valid.get(self.measurement))


class Text(Slot):
    """Text from outside the program, such as a directory: given, shown with
    control characters replaced as node names are, or any text."""

    def __init__(self, text=None):
        self.text = None if text is None else line_node(text)
        self.pattern = ".*" if text is None else re.escape(self.text)

    def describe(self):
        return "<text>" if self.text is None else self.text


class Line:
    """One line of the report: literal pieces and slots. `row` names the
    measurement its numbers belong to, as (measurement, scope, rank);
    a `warning` line marks the rows in `marks` (its own row by default) as
    not valid. Optional lines are those a report may or may not hold at
    that place, unless a slot finds them owed."""

    def __init__(self, *pieces, row=None, warning=False, optional=False, marks=None):
        self.pieces = pieces
        self.row = row
        self.warning = warning
        self.optional = optional
        self.marks = tuple(marks) if marks is not None else (row,) if warning else ()
        self.slots = [p for p in pieces if not isinstance(p, str)]
        self.regex = re.compile("".join(
            re.escape(p) if isinstance(p, str) else "(%s)" % p.pattern for p in pieces))

    def masked(self):
        """The line with each slot shown as what it stands for."""
        return "".join(p if isinstance(p, str) else p.describe() for p in self.pieces)

    def describe(self):
        return repr(self.masked())

    __repr__ = describe

    def owed(self, seen):
        return any(slot.owed(seen) for slot in self.slots)

    def render(self, row):
        if self.warning:
            # A row's warning cell may hold more than one warning line (see
            # rows_of); each line is the part its own pattern finds there.
            hit = self.regex.search(row["warning"]) if row else None
            if not hit:
                raise ValueError("the row of %r holds no warning %s" % (self.row, self.describe()))
            return hit.group(0)
        return "".join(p if isinstance(p, str) else p.render(row) for p in self.pieces)


class _Sink:
    """Collects the lines of one sink; `console` tells the two apart where
    their texts differ."""

    def __init__(self, sink, nodes, failing, unable, found, misplaced):
        if sink not in (CONSOLE, FILE):
            raise ValueError("sink is %r or %r" % (CONSOLE, FILE))
        self.console = sink == CONSOLE
        self.nodes = nodes
        self.maybe = failing is MAYBE
        self.failing = () if self.maybe else failing
        self.misplaced = misplaced
        self.unable = unable
        self.found = found
        self.lines = []

    def text(self, *texts):
        self.lines.extend(Line(t) for t in texts)

    def console_text(self, *texts):
        if self.console:
            self.text(*texts)

    def heading(self, text, console_text=None):
        self.text(console_text if self.console and console_text else text, "")

    def value(self, row, label, field, unit):
        self.lines.append(Line(label, Value(field), unit, row=row))

    def rank_value(self, row, label, field, unit):
        rank = row[2]
        self.lines.append(Line("Thread:%d @" % rank, NodeOf(rank, self.nodes.get(rank)), label,
                               Value(field), unit, row=row))

    def warning(self, measurement):
        """The note after a single-node test whose file operations failed."""
        if self.maybe or measurement in self.failing:
            self.lines.append(Line(
                "Warning: ", Count(), " file operations failed in this test; the rate above is not valid.",
                row=(measurement, SCOPE_SINGLE, 0), warning=True, optional=self.maybe))

    def rank_warnings(self, measurement, rank):
        """What the root learnt of a worker's phase, after that phase's
        lines: whether the worker works elsewhere (told once, with its first
        phase) and whether the phase's file operations failed."""
        if phase_of(measurement) == 1 and (self.maybe or rank in self.misplaced):
            self.lines.append(_misplaced_note(
                rank, NodeOf(rank, self.nodes.get(rank)), self.misplaced.get(rank, ANYWHERE),
                row=(measurement, SCOPE_RANK, rank), warning=True, optional=self.maybe,
                marks=[(m, SCOPE_RANK, rank) for m, _ in MEASUREMENTS]))
        if self.maybe or (measurement, rank) in self.failing:
            self.lines.append(_failure_note(rank, measurement, row=(measurement, SCOPE_RANK, rank),
                                            warning=True, optional=self.maybe))

    def not_valid_ranks(self, measurement):
        """The workers whose rate of a phase is not valid."""
        return [k for k in _workers(self) if (measurement, k) in self.failing or k in self.misplaced]

    def sum_warning(self, measurement, scope, text):
        """The note after a phase's total or average that adds a rate that
        is not valid."""
        count = len(self.not_valid_ranks(measurement))
        if self.maybe or count:
            self.lines.append(Line(
                "Warning: ", NotValidCount(measurement) if self.maybe else str(count),
                text % len(_workers(self)), row=(measurement, scope, None), warning=True, optional=self.maybe))

    def total_warning(self, measurement):
        self.sum_warning(measurement, SCOPE_TOTAL, " of the %d workers' rates added in this total are not "
                                                   "valid; the total and the speed-up above are not valid.")

    def average_warning(self, measurement):
        self.sum_warning(measurement, SCOPE_AVERAGE, " of the %d workers' rates in this average are not valid; "
                                                     "the average above is not valid.")

    def unable_to_open(self, measurement):
        if self.console and measurement in self.unable:
            self.text(UNABLE)

    def claim(self, name):
        """The console note of what was found where `name` is first opened;
        it is gone by the next claim of the name."""
        if self.console and name in self.found:
            self.text(found_note(name, self.found.pop(name)))


MAYBE = object()  # failing tests not known: every warning line optional
ANYWHERE = (None, None)  # a worker's and the root's directory, both any text


def _failure_note(rank, measurement, **line):
    """A worker's note of a phase whose file operations failed, on its own
    console and, passed on, in the root's report."""
    return Line("Warning: rank %d, phase %d: " % (rank, phase_of(measurement)), Count(),
                " file operations failed; the rate sent for this phase is not valid.", **line)


def _misplaced_note(rank, node, directories, **line):
    """A worker's note that it does not work in the root's start directory,
    and so measures another drive, perhaps: (its directory, the root's),
    None for any text."""
    worker, root = directories
    return Line("Warning: rank %d on " % rank, node, " works in ", Text(worker),
                ", not in the root's start directory ", Text(root), "; its rates are not valid.", **line)


def _banner(out, size):
    out.console_text("", TITLE, NOTICE, SUPPORT, "", "", "")
    if not out.console:
        out.text(TITLE, "")
    out.text("Thread(s): %d" % size, "")


def _single_handling(out, measurement, console_heading=None):
    row = (measurement, SCOPE_SINGLE, 0)
    out.heading(SECTION_OF[measurement], console_heading)
    out.claim(SINGLE_SCRATCH)
    out.value(row, "The system spent: ", "seconds", " Secs.")
    out.value(row, "The system could process " if out.console else "The system could process  ",
              "rate", " Files/sec.")
    out.text("")
    out.warning(measurement)


def _single_speed(out, measurement, seconds_unit):
    row = (measurement, SCOPE_SINGLE, 0)
    out.value(row, "The system spent: ", "seconds", seconds_unit)
    out.value(row, "It was: ", "rate", " Millions Accesses/sec.")
    out.value(row, "Conventionally, it was: ", "mb_per_sec", " MB/sec.")


def _single_node(out):
    out.heading("Force to be single thread.")
    _single_handling(out, "stream-handling")
    _single_handling(out, "descriptor-handling", console_heading="Power of Handling Files -- Hihger")

    out.heading(LOW_SPEEDS)
    _single_speed(out, "low-write", " Secs. to Write.")
    out.warning("low-write")
    out.unable_to_open("low-read")
    _single_speed(out, "low-read", " Secs. to Read:")
    out.text("")
    out.warning("low-read")

    out.heading(HIGH_SPEEDS)
    out.unable_to_open("high-read")
    _single_speed(out, "high-read", " Secs. to Read:")
    out.warning("high-read")
    out.claim(SINGLE_COPY)
    _single_speed(out, "high-write", " Secs. to Write.")
    out.text("", "")
    out.warning("high-write")


def _workers(out):
    return sorted(k for k in out.nodes if k > 0)


def _cluster_handling(out, measurement):
    out.heading(SECTION_OF[measurement])
    blank = " " if out.console else ""
    for k in _workers(out):
        row = (measurement, SCOPE_RANK, k)
        out.rank_value(row, blank + "The system spent: ", "seconds", " Secs.")
        out.rank_value(row, blank + "The system could process ", "rate", " Files/sec.")
        out.rank_warnings(measurement, k)
    total = (measurement, SCOPE_TOTAL, None)
    out.value(total, "Overall, The system could process: ", "rate", " Files/sec.")
    out.value(total, "Multi-Thread Improvements: ", "speedup", " times.")
    out.total_warning(measurement)
    out.text("", "")
    out.console_text("")
    out.value((measurement, SCOPE_AVERAGE, None),
              "Among all nodes, the average process per thread was: ", "rate", " Files/sec.")
    out.average_warning(measurement)
    out.text("")


def _rank_speeds(out, measurement, direction):
    unit = " Millions Access/sec." if out.console else " Millions Accesses/sec."
    for k in _workers(out):
        row = (measurement, SCOPE_RANK, k)
        out.rank_value(row, " The system spent: ", "seconds", " Secs. to %s." % direction)
        out.rank_value(row, " It was: ", "rate", unit)
        out.value(row, "Conventionally, it was: ", "mb_per_sec", " MB/sec.")
        out.rank_warnings(measurement, k)


def _speed_totals(out, measurement, direction, noun):
    row = (measurement, SCOPE_TOTAL, None)
    out.value(row, "Overall, It was: ", "rate", " Millions Accesses/sec.to " + direction)
    out.value(row, "Conventionally, total %s speed was: " % noun, "mb_per_sec", " MB/sec.")
    out.value(row, "Multi-Thread Improvements: ", "speedup", " times.")
    out.total_warning(measurement)


def _speed_average(out, measurement, noun, unit):
    kind = measurement.split("-")[0]
    out.text("")
    out.value((measurement, SCOPE_AVERAGE, None),
              "Among all nodes, the average %s %s process per thread was: " % (kind, noun),
              "mb_per_sec", unit)
    out.average_warning(measurement)


def _cluster_low(out):
    out.text("Multi-Thread Enabled:")
    out.heading(LOW_SPEEDS)
    _rank_speeds(out, "low-write", "Write")
    _rank_speeds(out, "low-read", "Read")
    out.text("", "")
    _speed_totals(out, "low-write", "Write", "writing")
    _speed_totals(out, "low-read", "Read", "reading")
    out.text("")
    _speed_average(out, "low-write", "writing", " MB/sec.")
    _speed_average(out, "low-read", "reading", "  MB/sec.")
    out.text("")


def _cluster_high(out):
    out.text("Multi-Thread Enabled:")
    out.heading(HIGH_SPEEDS)
    _rank_speeds(out, "high-read", "Read")
    _rank_speeds(out, "high-write", "Write")
    out.text("")
    # Totals name writing first, although the rank lines come read first.
    _speed_totals(out, "high-write", "Write", "writing")
    _speed_totals(out, "high-read", "Read", "reading")
    out.text("")
    _speed_average(out, "high-write", "writing", "  MB/sec.")
    _speed_average(out, "high-read", "reading", "  MB/sec.")


def report_lines(sink, nodes, path="", failing=(), unable=(), found=None, saved=SAVED, misplaced=None):
    """The lines of one sink of a whole run.

    nodes: {rank: node name} for every rank, 0 included; a name may be None
    where it is not known. path: the results-file path the end of the run
    shows. failing: what had file operations fail, each followed by a
    Warning line: the root's single-node tests as measurement names, a
    worker's phases as (measurement, rank); MAYBE where that is not known,
    which makes every Warning line optional, the counts and directories in
    them any text. misplaced: {rank: (worker's directory, root's directory)}
    for the workers that work outside the root's start directory, either
    directory None for any text; their note follows their first phase's
    lines, and all their rates are not valid. A phase's total and average
    that add rates that are not valid are each followed by a Warning line
    that counts them. unable: the reads ("low-read", "high-read") that could
    not open their file. found: {name: kind} for the root's names at which
    something was found and removed. saved: how the end of the run tells
    where the results file is: SAVED, NOT_SAVED or MOVED."""
    out = _Sink(sink, nodes, failing, unable, dict(found or {}), misplaced or {})
    out.claim(os.path.basename(path))
    _banner(out, len(nodes))
    _single_node(out)
    if len(nodes) > 1:
        out.text("Multi-Thread Enabled:")
        _cluster_handling(out, "stream-handling")
        _cluster_handling(out, "descriptor-handling")
        _cluster_low(out)
        _cluster_high(out)
    if out.console:
        out.text("", "", saved + path, "", "", PRESS_ENTER)
    return out.lines


def limit_lines():
    """The root's whole console when the job has more processes than may run;
    its title has two blanks after "::"."""
    return [Line(text) for text in ("", TITLE.replace(":: ", "::  "), NOTICE, SUPPORT, "",
                                    "The number of threads has reached the limits, the program terminates.", "")]


HELD_BY_ANOTHER_RUN = ("Another run is using files of this job in the same directory; the two would measure "
                       "each other's files, so this run stops.")


def held_lines(holds):
    """The root's whole console when another live run holds files of the
    job: `holds` lists, in rank order, each rank that found its claim file
    held as (rank, node, directory, holder), the holder as the other run's
    claim file tells it ("process PID on NODE"), None for any text."""
    lines = [Line(""), Line(HELD_BY_ANOTHER_RUN)]
    for rank, node, directory, holder in holds:
        lines.append(Line("Rank %d on %s: %s in %s is held by " % (rank, line_node(node), claim_name(rank, node),
                                                                   line_node(directory)), Text(holder), "."))
    return lines + [Line("")]


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
        lines.append(_misplaced_note(rank, NodeOf(rank, node), ANYWHERE if misplaced is True else misplaced))
    for measurement, _ in MEASUREMENTS:
        name = claims.get(measurement)
        if name in found:
            lines.append(Line(found_note(name, found[name])))
        if measurement in unable:
            lines.append(Line(UNABLE))
        if measurement in failing or (measurement, rank) in failing:
            lines.append(_failure_note(rank, measurement))
    return lines


# ---- matching -------------------------------------------------------------


class Mismatch(Exception):
    """Actual lines that are not the expected ones; `index` is the line."""

    def __init__(self, index, what):
        Exception.__init__(self, what)
        self.index = index
        self.what = what


class Matched:
    def __init__(self, line, text, groups):
        self.line = line
        self.text = text
        self.groups = groups


class _Seen:
    """What the lines matched so far said: the node of each rank, and per
    phase the workers whose rate a warning made not valid."""

    def __init__(self):
        self.nodes = {}
        self.not_valid = {}

    def note(self, line):
        for measurement, scope, rank in line.marks:
            if scope == SCOPE_RANK:
                self.not_valid.setdefault(measurement, set()).add(rank)


def match(expected, actual, prefix_only=False):
    """Matches actual lines one by one against the expected ones and returns
    a Matched per actual line. With prefix_only the actual lines may stop
    early (a run cut short). A node name must read the same on every line
    of its rank, and a warning about a total or average must count the
    workers' rates that the lines above it made not valid."""
    found = []
    seen = _Seen()
    index = 0
    for line in expected:
        skippable = line.optional and not line.owed(seen)
        if index >= len(actual):
            if prefix_only or skippable:
                continue
            raise Mismatch(index, "expected %s" % line.describe())
        hit = line.regex.fullmatch(actual[index])
        if not hit:
            if skippable:
                continue
            raise Mismatch(index, "expected %s" % line.describe())
        for slot, text in zip(line.slots, hit.groups()):
            problem = slot.check(text, seen)
            if problem:
                raise Mismatch(index, problem)
        seen.note(line)
        found.append(Matched(line, actual[index], hit.groups()))
        index += 1
    if index < len(actual):
        raise Mismatch(index, "%d line(s) more than the report has" % (len(actual) - index))
    return found


def numbers(found):
    """Every number token that matched, for checks of their format."""
    return [text for m in found for slot, text in zip(m.line.slots, m.groups) if isinstance(slot, Value)]


def rows_of(found, run_node, run_datetime="", job_size=""):
    """One row per measurement, keyed by CSV_COLUMNS, in the order the lines
    name them: a single-node test, one worker rank's phase, or a phase's
    total or average over all workers. A row that a Warning line concerns is
    valid=false, with the warning's text; where two concern it (a worker's
    failed phase, and its note that it works outside the root's start
    directory), the phase's own warning comes first, one blank, then the
    one about the whole rank."""
    rows = {}
    notes = {}
    for m in found:
        for key in m.line.marks:
            notes.setdefault(key, []).append(m)
        key = m.line.row
        if key is None:
            continue
        measurement, scope, rank = key
        row = rows.get(key)
        if row is None:
            row = rows[key] = dict((column, "") for column in CSV_COLUMNS)
            row.update(run_node=run_node, run_datetime=run_datetime, job_size=str(job_size),
                       section=SECTION_OF[measurement], scope=scope, measurement=measurement,
                       valid="true", rank="" if rank is None else str(rank),
                       node=run_node if scope == SCOPE_SINGLE else "")
        for slot, text in zip(m.line.slots, m.groups):
            if slot.field:
                row[slot.field] = text
                if slot.field == "rate":
                    row["rate_unit"] = HANDLING_UNIT if measurement in HANDLING else ACCESS_UNIT
    for key, warnings in notes.items():
        if key in rows:
            # A note about a whole rank marks each of its rows.
            warnings.sort(key=lambda m: len(m.line.marks) > 1)
            rows[key].update(valid="false", warning=" ".join(m.text for m in warnings))
    return list(rows.values())


def _warned(rows, nodes):
    """What the rows' warnings tell went wrong, as report_lines takes it:
    the failing tests and phases, and the workers outside the root's start
    directory."""
    failing, misplaced = set(), {}
    for r in rows:
        if r["valid"] != "false":
            continue
        if r["scope"] == SCOPE_SINGLE:
            failing.add(r["measurement"])
        elif r["scope"] == SCOPE_RANK:
            rank = int(r["rank"])
            if _failure_note(rank, r["measurement"]).regex.match(r["warning"]):
                failing.add((r["measurement"], rank))
            if _misplaced_note(rank, NodeOf(rank, nodes[rank]), ANYWHERE).regex.search(r["warning"]):
                misplaced[rank] = ANYWHERE
    return failing, misplaced


def render_file(rows):
    """The results-file lines that the rows of one run stand for."""
    size = int(rows[0]["job_size"])
    nodes = {0: rows[0]["run_node"]}
    nodes.update((int(r["rank"]), r["node"]) for r in rows if r["scope"] == SCOPE_RANK)
    if len(nodes) != size:
        raise ValueError("rows of %d ranks for a job of %d" % (len(nodes), size))
    failing, misplaced = _warned(rows, nodes)
    by_key = dict(((r["measurement"], r["scope"], int(r["rank"]) if r["rank"] else None), r) for r in rows)
    return [line.render(by_key.get(line.row))
            for line in report_lines(FILE, nodes, failing=failing, misplaced=misplaced)]


# ---- results files ---------------------------------------------------------


class NotAResultsFile(Exception):
    """The file is not one that orvantic-drives wrote, or not all of one."""


def as_float(text):
    """The value of a number as the report prints it; None for an empty cell."""
    return float(text) if text else None


def shown_value(row):
    """The number a row is read by, and its unit: files per second for the
    handling tests, MB per second for the speed tests."""
    if row["measurement"] in HANDLING:
        return as_float(row["rate"]), HANDLING_UNIT
    return as_float(row["mb_per_sec"]), MB_UNIT


class Counts:
    """The amounts of work a build is compiled with (src/state/work_counts.h);
    every rate divides one of them by measured seconds."""

    def __init__(self, handling, first_pass):
        self.handling = handling  # create/open/close/remove cycles per handling test
        self.first_pass = first_pass  # one-byte accesses of the low tests' first pass; the scratch file's size
        self.low_accesses = first_pass + first_pass // 2
        self.high_bytes = first_pass * 1.5  # block read or written once, then its half

    def of(self, measurement):
        """The single-node test's work, in what its rate counts: cycles, or
        accesses (bytes, in the high tests)."""
        if measurement in HANDLING:
            return self.handling
        return self.high_bytes if measurement.startswith("high") else self.low_accesses


# The shipped build's. The full-size end-to-end runs check every rate against
# them, so a change of work_counts.h not made here fails there.
SHIPPED_COUNTS = Counts(0x20000, 0x1000000)


def work_of(row):
    """The work a row's rate and seconds stand for, in the unit of
    Counts.of: the rate counts files, or millions of accesses."""
    per_unit = 1 if row["measurement"] in HANDLING else 1e6
    return as_float(row["rate"]) * per_unit * as_float(row["seconds"])


def _divided(amount, seconds):
    """As the program divides: a zero time gives no number."""
    return amount / seconds if seconds else math.nan


def common_window_row(total, ranks):
    """A phase's conservative total: the work every worker did (its printed
    rate times its printed seconds, so that any build's counts serve) added
    up and divided by the slowest worker's seconds. That is the rate the
    drive sustained had all started together, a lower bound that, unlike
    the report's total, adds no rates measured over different spans of
    time. It takes the total's valid flag and warning, which count the
    same workers' rates."""
    slowest = max(ranks, key=lambda r: as_float(r["seconds"]))
    row = dict(total, scope=SCOPE_COMMON_WINDOW, seconds=slowest["seconds"], speedup="")
    for field in ("rate", "mb_per_sec"):
        if total[field]:
            work = sum(as_float(r[field]) * as_float(r["seconds"]) for r in ranks)
            row[field] = "%g" % _divided(work, as_float(slowest["seconds"]))
    return row


def with_common_windows(rows):
    """The rows with each phase's common-window row after its total."""
    extended = []
    for row in rows:
        extended.append(row)
        if row["scope"] == SCOPE_TOTAL:
            extended.append(common_window_row(row, [r for r in rows if r["scope"] == SCOPE_RANK
                                                    and r["measurement"] == row["measurement"]]))
    return extended


class Run:
    """Everything one results file says; its rows are those of the report's
    lines and each phase's common-window total."""

    def __init__(self, path, node, started, job_size, rows, warnings):
        self.path = path
        self.node = node
        self.started = started
        self.job_size = job_size
        self.rows = rows
        self.warnings = warnings  # the file's "Warning: " lines, in its order

    def select(self, measurement, scope):
        return [r for r in self.rows if r["measurement"] == measurement and r["scope"] == scope]

    def not_valid(self):
        """The rows whose rate a Warning line makes no measurement."""
        return [r for r in self.rows if r["valid"] == "false"]

    def why_not_valid(self):
        """Why the run's rates are not all measurements, in one line: how
        many rows are not valid, and the file's first warning, which the
        rest of them follow from or repeat. None for a clean run."""
        printed = [r for r in self.not_valid() if r["scope"] != SCOPE_COMMON_WINDOW]
        if not printed:
            return None
        return "%d rate(s) in the results file not valid; the first warning: %s" % (len(printed), self.warnings[0])


def parse_file_name(path):
    """The run's node and local start time, from the name the program gives
    the results file."""
    name = os.path.basename(path)
    match = FILE_NAME.match(name)
    if not match:
        raise NotAResultsFile(
            "%s: the name does not have the results-file form "
            "'results_drives_windows_clusters_mac_mx @ <node> @ local date YYYY.MM.DD time hh.mm.ss.txt'"
            % path
        )
    try:
        started = datetime.datetime(*(int(match.group(g)) for g in "YmdHMS"))
    except ValueError as error:
        raise NotAResultsFile("%s: the date and time in the name are not valid (%s)" % (path, error))
    return match.group("node"), started


def split_lines(data):
    """Text lines of a file or console: the Windows runtime writes CR LF;
    node names are taken as UTF-8 and any byte that is not shows as a
    replacement character rather than failing. Returns the lines and
    whether the last one is whole."""
    text = data.decode("utf-8", errors="replace").replace("\r\n", "\n")
    lines = text.split("\n")
    return lines[:-1], lines[-1] == ""


def _read_lines(path):
    try:
        with open(path, "rb") as handle:
            data = handle.read()
    except OSError as error:
        raise NotAResultsFile("%s: cannot be read: %s" % (path, error.strerror or error))
    lines, whole = split_lines(data)
    if not whole:
        raise NotAResultsFile("%s: the last line has no end of line" % path)
    return lines


def _job_size(path, lines):
    """The job size the banner names; 1 where it names none, so that the
    banner's own check tells what is wrong."""
    size = re.fullmatch(r"Thread\(s\): (\d+)", lines[2]) if len(lines) > 2 else None
    if not size:
        return 1
    if not 1 <= int(size.group(1)) <= MAX_JOB_SIZE:
        raise NotAResultsFile("%s: line 3: a job has 1 to %d processes; the line reads %r"
                              % (path, MAX_JOB_SIZE, lines[2]))
    return int(size.group(1))


def parse(path):
    """The Run that the results file at `path` holds; NotAResultsFile when its
    name or any line is not what the program writes, or when it stops early."""
    node, started = parse_file_name(path)
    lines = _read_lines(path)
    size = _job_size(path, lines)
    expected = report_lines(FILE, dict((k, node if k == 0 else None) for k in range(size)), failing=MAYBE)
    try:
        found = match(expected, lines)
    except Mismatch as error:
        if error.index >= len(lines):
            raise NotAResultsFile("%s: the file ends early: %s" % (path, error.what))
        raise NotAResultsFile("%s: line %d: %s; the line reads %r"
                              % (path, error.index + 1, error.what, lines[error.index]))
    return Run(path, node, started, size, with_common_windows(rows_of(found, node, started.isoformat(), size)),
               [m.text for m in found if m.line.warning])
