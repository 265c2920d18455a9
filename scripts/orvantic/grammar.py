"""The report orvantic-drives writes, as one grammar: `report_lines`
yields the lines a job of a given size writes on one sink (the root's
console or the results file), with what went wrong in the run (the root's
tests and the workers' phases whose file operations failed, workers
outside the root's start directory, reads that could not open their file,
links, pipes and other special files found at the benchmark's names, where
the results file ended up) as inputs. Reading a results file matches its
lines against them (see reading). A root told to terminate ends both sinks
early, with `stop_line`.
"""

import os

from . import texts
from .shapes import Count, Fixed, Form, Line, NodeOf, NotValidCount, Text, Value

CONSOLE = "console"
FILE = "file"


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

    def text(self, *literal):
        self.lines.extend(Line(t) for t in literal)

    def console_text(self, *literal):
        if self.console:
            self.text(*literal)

    def heading(self, text, console_text=None):
        self.text(console_text if self.console and console_text else text, "")

    def value(self, row, label, field, unit):
        self.lines.append(Line(label, Value(field), unit, row=row))

    def rank_value(self, row, label, field, unit):
        rank = row[2]
        self.lines.append(Line("Thread:", Fixed(rank), " @", NodeOf(rank, self.nodes.get(rank)), label,
                               Value(field), unit, row=row))

    def warning(self, measurement):
        """The note after a single-node test whose file operations failed."""
        if self.maybe or measurement in self.failing:
            self.lines.append(Line(
                "Warning: ", Count(), " file operations failed in this test; the rate above is not valid.",
                row=(measurement, texts.SCOPE_SINGLE, 0), warning=True, optional=self.maybe))

    def rank_warnings(self, measurement, rank):
        """What the root learnt of a worker's phase, after that phase's
        lines: whether the worker works elsewhere (told once, with its first
        phase) and whether the phase's file operations failed."""
        if texts.phase_of(measurement) == 1 and (self.maybe or rank in self.misplaced):
            self.lines.append(misplaced_note(
                rank, NodeOf(rank, self.nodes.get(rank)), self.misplaced.get(rank, ANYWHERE),
                row=(measurement, texts.SCOPE_RANK, rank), warning=True, optional=self.maybe,
                marks=[(m, texts.SCOPE_RANK, rank) for m, _ in texts.MEASUREMENTS]))
        if self.maybe or (measurement, rank) in self.failing:
            self.lines.append(failure_note(rank, measurement, row=(measurement, texts.SCOPE_RANK, rank),
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

    def divisor_warning(self, measurement):
        """The note after a speed-up that divides by the root's own rate of
        a test whose file operations failed."""
        if self.maybe or measurement in self.failing:
            self.lines.append(Line(texts.DIVISOR_NOT_VALID, row=(measurement, texts.SCOPE_TOTAL, None),
                                   warning=True, optional=self.maybe))

    def total_warning(self, measurement):
        self.sum_warning(measurement, texts.SCOPE_TOTAL, " of the %d workers' rates added in this total are "
                                                         "not valid; the total and the speed-up above are not valid.")

    def average_warning(self, measurement):
        self.sum_warning(measurement, texts.SCOPE_AVERAGE, " of the %d workers' rates in this average are not "
                                                           "valid; the average above is not valid.")

    def unable_to_open(self, measurement):
        if self.console and measurement in self.unable:
            self.text(texts.UNABLE)

    def claim(self, name):
        """The console note of what was found where `name` is first opened;
        it is gone by the next claim of the name."""
        if self.console and name in self.found:
            self.text(texts.found_note(name, self.found.pop(name)))


MAYBE = object()  # failing tests not known: every warning line optional
ANYWHERE = (None, None)  # a worker's and the root's directory, both any text


def failure_note(rank, measurement, **line):
    """A worker's note of a phase whose file operations failed, on its own
    console and, passed on, in the root's report."""
    return Line("Warning: rank ", Fixed(rank), ", phase %d: " % texts.phase_of(measurement), Count(),
                " file operations failed; the rate sent for this phase is not valid.", **line)


def misplaced_note(rank, node, directories, **line):
    """A worker's note that it does not work in the root's start directory,
    and so measures another drive, perhaps: (its directory, the root's),
    None for any text."""
    worker, root = directories
    return Line("Warning: rank ", Fixed(rank), " on ", node, " works in ", Text(worker),
                ", not in the root's start directory ", Text(root), "; its rates are not valid.", **line)


def _alternatives(choices):
    return "(?:%s)" % "|".join(choices)


# What can stop a run, and where the run can be, as the stop line names them.
REQUEST = r"signal SIG[A-Z]+ \(\d+\)|console event CTRL_[A-Z]+_EVENT"
_TESTS = [texts.test_words(m) for m, _ in texts.MEASUREMENTS]
PLACE = "|".join([
    "at the start of the report",
    "during the single-node %s test" % _alternatives(_TESTS),
    r"during cluster phase %s, (?:waiting for rank [1-9]\d*|after the last worker's results)"
    % _alternatives(r"%d \(%s\)" % (phase, words) for phase, words in enumerate(_TESTS, 1)),
])


def stop_line(request=None, place=None):
    """The last line of both sinks of a root told to terminate: what
    stopped it ("signal SIGTERM (15)") and where the run was ("during the
    single-node low write test", "during cluster phase 3 (low write),
    waiting for rank 5"); each given, or any the program writes. It follows
    any whole line of the report, and marks no row: the rows before it
    stand."""
    return Line(texts.STOPPED, Form(REQUEST, "request", request), " ", Form(PLACE, "place", place), texts.STOP_END,
                warning=True, marks=())


def _banner(out, size):
    out.console_text("", texts.TITLE, texts.NOTICE, texts.SUPPORT, "", "", "")
    if not out.console:
        out.text(texts.TITLE, "")
    out.text("Thread(s): %d" % size, "")


def _single_handling(out, measurement, console_heading=None):
    row = (measurement, texts.SCOPE_SINGLE, 0)
    out.heading(texts.SECTION_OF[measurement], console_heading)
    out.claim(texts.SINGLE_SCRATCH)
    out.value(row, "The system spent: ", "seconds", " Secs.")
    out.value(row, "The system could process " if out.console else "The system could process  ",
              "rate", " Files/sec.")
    out.text("")
    out.warning(measurement)


def _single_speed(out, measurement, seconds_unit):
    row = (measurement, texts.SCOPE_SINGLE, 0)
    out.value(row, "The system spent: ", "seconds", seconds_unit)
    out.value(row, "It was: ", "rate", " Millions Accesses/sec.")
    out.value(row, "Conventionally, it was: ", "mb_per_sec", " MB/sec.")


def _single_node(out):
    out.heading("Force to be single thread.")
    _single_handling(out, "stream-handling")
    _single_handling(out, "descriptor-handling", console_heading="Power of Handling Files -- Hihger")

    out.heading(texts.LOW_SPEEDS)
    _single_speed(out, "low-write", " Secs. to Write.")
    out.warning("low-write")
    out.unable_to_open("low-read")
    _single_speed(out, "low-read", " Secs. to Read:")
    out.text("")
    out.warning("low-read")

    out.heading(texts.HIGH_SPEEDS)
    out.unable_to_open("high-read")
    _single_speed(out, "high-read", " Secs. to Read:")
    out.warning("high-read")
    out.claim(texts.SINGLE_COPY)
    _single_speed(out, "high-write", " Secs. to Write.")
    out.text("", "")
    out.warning("high-write")


def _workers(out):
    return sorted(k for k in out.nodes if k > 0)


def _cluster_handling(out, measurement):
    out.heading(texts.SECTION_OF[measurement])
    blank = " " if out.console else ""
    for k in _workers(out):
        row = (measurement, texts.SCOPE_RANK, k)
        out.rank_value(row, blank + "The system spent: ", "seconds", " Secs.")
        out.rank_value(row, blank + "The system could process ", "rate", " Files/sec.")
        out.rank_warnings(measurement, k)
    total = (measurement, texts.SCOPE_TOTAL, None)
    out.value(total, "Overall, The system could process: ", "rate", " Files/sec.")
    out.value(total, "Multi-Thread Improvements: ", "speedup", " times.")
    out.divisor_warning(measurement)
    out.total_warning(measurement)
    out.text("", "")
    out.console_text("")
    out.value((measurement, texts.SCOPE_AVERAGE, None),
              "Among all nodes, the average process per thread was: ", "rate", " Files/sec.")
    out.average_warning(measurement)
    out.text("")


def _rank_speeds(out, measurement, direction):
    unit = " Millions Access/sec." if out.console else " Millions Accesses/sec."
    for k in _workers(out):
        row = (measurement, texts.SCOPE_RANK, k)
        out.rank_value(row, " The system spent: ", "seconds", " Secs. to %s." % direction)
        out.rank_value(row, " It was: ", "rate", unit)
        out.value(row, "Conventionally, it was: ", "mb_per_sec", " MB/sec.")
        out.rank_warnings(measurement, k)


def _speed_totals(out, measurement, direction, noun):
    row = (measurement, texts.SCOPE_TOTAL, None)
    out.value(row, "Overall, It was: ", "rate", " Millions Accesses/sec.to " + direction)
    out.value(row, "Conventionally, total %s speed was: " % noun, "mb_per_sec", " MB/sec.")
    out.value(row, "Multi-Thread Improvements: ", "speedup", " times.")
    out.divisor_warning(measurement)
    out.total_warning(measurement)


def _speed_average(out, measurement, noun, unit):
    kind = measurement.split("-")[0]
    out.text("")
    out.value((measurement, texts.SCOPE_AVERAGE, None),
              "Among all nodes, the average %s %s process per thread was: " % (kind, noun),
              "mb_per_sec", unit)
    out.average_warning(measurement)


def _cluster_low(out):
    out.text("Multi-Thread Enabled:")
    out.heading(texts.LOW_SPEEDS)
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
    out.heading(texts.HIGH_SPEEDS)
    _rank_speeds(out, "high-read", "Read")
    _rank_speeds(out, "high-write", "Write")
    out.text("")
    # Totals name writing first, although the rank lines come read first.
    _speed_totals(out, "high-write", "Write", "writing")
    _speed_totals(out, "high-read", "Read", "reading")
    out.text("")
    _speed_average(out, "high-write", "writing", "  MB/sec.")
    _speed_average(out, "high-read", "reading", "  MB/sec.")


def report_lines(sink, nodes, path="", failing=(), unable=(), found=None, saved=texts.SAVED, misplaced=None):
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
    where the results file is: SAVED, NOT_SAVED or MOVED (see texts)."""
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
        out.text("", "", saved + path, "", "", texts.PRESS_ENTER)
    return out.lines
