"""Reads the results file that orvantic-drives leaves on the root rank's node.

The parser walks the file line by line against the exact shapes the program
writes and refuses anything else: a number taken from a line that only looks
similar would be worse than no number. Numbers are kept as the text the file
shows, so a CSV or a plot label repeats the report character for character;
`as_float` converts when arithmetic is needed.

Shared by results-to-csv and plot-results.
"""

import datetime
import os
import re

TITLE = "Velbrix :: Orvantic Benchmark Drives for Windows Clusters on Mac Mx system 2023.03.06."

FILE_NAME = re.compile(
    r"^results_drives_windows_clusters_mac_mx @ (?P<node>.*) @ local date "
    r"(?P<Y>\d{4})\.(?P<m>\d{2})\.(?P<d>\d{2}) time (?P<H>\d{2})\.(?P<M>\d{2})\.(?P<S>\d{2})\.txt$"
)

# The streams' default format: six significant digits, general notation;
# a division by a zero time prints inf, and a failed one may print nan.
NUMBER = r"(-?(?:inf|nan|\d+(?:\.\d+)?(?:e[-+]\d+)?))"

SCOPE_SINGLE = "single"
SCOPE_RANK = "rank"
SCOPE_TOTAL = "total"
SCOPE_AVERAGE = "average"

HANDLING_UNIT = "Files/sec."
ACCESS_UNIT = "Millions Accesses/sec."
MB_UNIT = "MB/sec."

HANDLING_LOWER = "Power of Handling Files -- Lower"
HANDLING_HIGHER = "Power of Handling Files -- Higher"
LOW_SPEEDS = "Low writing and reading speeds:"
HIGH_SPEEDS = "High writing and reading speeds:"

# The six measurements in the order the single-node part of the report holds
# them, each with the heading of its section.
MEASUREMENTS = [
    ("stream-handling", HANDLING_LOWER),
    ("descriptor-handling", HANDLING_HIGHER),
    ("low-write", LOW_SPEEDS),
    ("low-read", LOW_SPEEDS),
    ("high-read", HIGH_SPEEDS),
    ("high-write", HIGH_SPEEDS),
]
SECTION_OF = dict(MEASUREMENTS)

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


class NotAResultsFile(Exception):
    """The file is not one that orvantic-drives wrote, or not all of one."""


def as_float(text):
    """The value of a number as the report prints it; None for an empty cell."""
    return float(text) if text else None


class Run:
    """Everything one results file says."""

    def __init__(self, path, node, started, job_size, rows):
        self.path = path
        self.node = node
        self.started = started
        self.job_size = job_size
        self.rows = rows

    def select(self, measurement, scope):
        return [r for r in self.rows if r["measurement"] == measurement and r["scope"] == scope]


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


class _Lines:
    """A cursor over the file's lines. "Warning: " lines follow the lines of
    the measurement they judge, wherever its block ends, so they are taken out
    of the stream here and pinned on the measurement read last."""

    def __init__(self, path, lines):
        self.path = path
        self.lines = lines
        self.index = 0
        self.last_row = None

    def _collect_warnings(self):
        while self.index < len(self.lines) and self.lines[self.index].startswith("Warning: "):
            if self.last_row is None:
                self.fail("a warning follows no measurement")
            row = self.last_row
            row["valid"] = "false"
            text = self.lines[self.index]
            row["warning"] = text if not row["warning"] else row["warning"] + " | " + text
            self.index += 1

    def fail(self, what):
        if self.index < len(self.lines):
            raise NotAResultsFile(
                "%s: line %d: %s; the line reads %r"
                % (self.path, self.index + 1, what, self.lines[self.index])
            )
        raise NotAResultsFile("%s: the file ends early: %s" % (self.path, what))

    def at_end(self):
        self._collect_warnings()
        return self.index >= len(self.lines)

    def take(self, pattern, what):
        """The groups of the next line, which must match `pattern` whole."""
        self._collect_warnings()
        if self.index >= len(self.lines):
            self.fail("expected %s" % what)
        match = re.fullmatch(pattern, self.lines[self.index])
        if not match:
            self.fail("expected %s" % what)
        self.index += 1
        return match.groups()

    def text(self, literal):
        self.take(re.escape(literal), repr(literal))

    def blank(self):
        self.take("", "an empty line")

    def value(self, label, unit):
        return self.take(re.escape(label) + NUMBER + re.escape(unit), repr(label + "N" + unit))[0]

    def heading(self, literal):
        self.text(literal)
        self.blank()


def _row(run_info, section, scope, measurement, **values):
    """One measurement: a single-node test, one worker rank's phase, or a
    phase's total or average over all workers, keyed by CSV_COLUMNS."""
    row = dict((column, "") for column in CSV_COLUMNS)
    row.update(run_info)
    row.update(section=section, scope=scope, measurement=measurement, valid="true")
    row.update(values)
    return row


def _single_handling(lines, run_info, rows, measurement):
    seconds = lines.value("The system spent: ", " Secs.")
    rate = lines.value("The system could process  ", " Files/sec.")
    lines.blank()
    row = _row(run_info, SECTION_OF[measurement], SCOPE_SINGLE, measurement, rank="0",
               node=run_info["run_node"], seconds=seconds, rate=rate, rate_unit=HANDLING_UNIT)
    rows.append(row)
    lines.last_row = row


def _single_speed(lines, run_info, rows, measurement, seconds_unit):
    seconds = lines.value("The system spent: ", seconds_unit)
    accesses = lines.value("It was: ", " Millions Accesses/sec.")
    mb = lines.value("Conventionally, it was: ", " MB/sec.")
    row = _row(run_info, SECTION_OF[measurement], SCOPE_SINGLE, measurement, rank="0",
               node=run_info["run_node"], seconds=seconds, rate=accesses, rate_unit=ACCESS_UNIT,
               mb_per_sec=mb)
    rows.append(row)
    lines.last_row = row


def _single_node(lines, run_info, rows):
    lines.heading("Force to be single thread.")
    lines.heading(HANDLING_LOWER)
    _single_handling(lines, run_info, rows, "stream-handling")
    lines.heading(HANDLING_HIGHER)
    _single_handling(lines, run_info, rows, "descriptor-handling")
    lines.heading(LOW_SPEEDS)
    _single_speed(lines, run_info, rows, "low-write", " Secs. to Write.")
    _single_speed(lines, run_info, rows, "low-read", " Secs. to Read:")
    lines.blank()
    lines.heading(HIGH_SPEEDS)
    _single_speed(lines, run_info, rows, "high-read", " Secs. to Read:")
    _single_speed(lines, run_info, rows, "high-write", " Secs. to Write.")
    lines.blank()
    lines.blank()


def _rank_line(lines, rank, after_node, label, unit, what):
    """One "Thread:k @NODE..." line of worker `rank`: its node name and number.
    The node name may hold any character, so it is whatever lies between
    " @" and the label that ends the line."""
    pattern = r"Thread:(-?\d+) @(.*)" + re.escape(after_node + label) + NUMBER + re.escape(unit)
    shown_rank, node, number = lines.take(pattern, what % rank)
    if int(shown_rank) != rank:
        lines.index -= 1
        lines.fail("expected the line of rank %d, found rank %s" % (rank, shown_rank))
    return node, number


def _same_node(lines, rank, first, second):
    if first != second:
        lines.index -= 1
        lines.fail("rank %d's two lines name different nodes (%r, %r)" % (rank, first, second))


def _cluster_handling(lines, run_info, rows, measurement):
    section = SECTION_OF[measurement]
    lines.heading(section)
    for rank in range(1, int(run_info["job_size"])):
        node, seconds = _rank_line(lines, rank, "", "The system spent: ", " Secs.",
                                   "the time line of rank %d")
        node2, rate = _rank_line(lines, rank, "", "The system could process ", " Files/sec.",
                                 "the rate line of rank %d")
        _same_node(lines, rank, node, node2)
        row = _row(run_info, section, SCOPE_RANK, measurement, rank=str(rank), node=node,
                   seconds=seconds, rate=rate, rate_unit=HANDLING_UNIT)
        rows.append(row)
        lines.last_row = row
    total = lines.value("Overall, The system could process: ", " Files/sec.")
    speedup = lines.value("Multi-Thread Improvements: ", " times.")
    lines.blank()
    lines.blank()
    average = lines.value("Among all nodes, the average process per thread was: ", " Files/sec.")
    lines.blank()
    rows.append(_row(run_info, section, SCOPE_TOTAL, measurement, rate=total,
                     rate_unit=HANDLING_UNIT, speedup=speedup))
    rows.append(_row(run_info, section, SCOPE_AVERAGE, measurement, rate=average,
                     rate_unit=HANDLING_UNIT))
    lines.last_row = None


def _cluster_speed_ranks(lines, run_info, rows, measurement, seconds_unit):
    for rank in range(1, int(run_info["job_size"])):
        node, seconds = _rank_line(lines, rank, " ", "The system spent: ", seconds_unit,
                                   "the time line of rank %d")
        node2, accesses = _rank_line(lines, rank, " ", "It was: ", " Millions Accesses/sec.",
                                     "the accesses line of rank %d")
        _same_node(lines, rank, node, node2)
        mb = lines.value("Conventionally, it was: ", " MB/sec.")
        row = _row(run_info, SECTION_OF[measurement], SCOPE_RANK, measurement, rank=str(rank),
                   node=node, seconds=seconds, rate=accesses, rate_unit=ACCESS_UNIT,
                   mb_per_sec=mb)
        rows.append(row)
        lines.last_row = row


def _cluster_speed_total(lines, run_info, rows, measurement, direction, noun):
    accesses = lines.value("Overall, It was: ", " Millions Accesses/sec.to " + direction)
    mb = lines.value("Conventionally, total %s speed was: " % noun, " MB/sec.")
    speedup = lines.value("Multi-Thread Improvements: ", " times.")
    rows.append(_row(run_info, SECTION_OF[measurement], SCOPE_TOTAL, measurement, rate=accesses,
                     rate_unit=ACCESS_UNIT, mb_per_sec=mb, speedup=speedup))


def _cluster_speed_average(lines, run_info, rows, measurement, label, unit):
    mb = lines.value(label, unit)
    rows.append(_row(run_info, SECTION_OF[measurement], SCOPE_AVERAGE, measurement,
                     mb_per_sec=mb))


def _cluster_speeds(lines, run_info, rows, kind, heading, rank_order, totals_blanks,
                    write_average_unit, trailing_blank):
    """One speed section: rank lines of both phases, totals (writing first), averages."""
    lines.text("Multi-Thread Enabled:")
    lines.heading(heading)
    for direction in rank_order:
        _cluster_speed_ranks(lines, run_info, rows, "%s-%s" % (kind, direction.lower()),
                             " Secs. to %s." % direction)
    lines.last_row = None
    for _ in range(totals_blanks):
        lines.blank()
    _cluster_speed_total(lines, run_info, rows, kind + "-write", "Write", "writing")
    _cluster_speed_total(lines, run_info, rows, kind + "-read", "Read", "reading")
    lines.blank()
    lines.blank()
    _cluster_speed_average(lines, run_info, rows, kind + "-write",
                           "Among all nodes, the average %s writing process per thread was: " % kind,
                           write_average_unit)
    lines.blank()
    _cluster_speed_average(lines, run_info, rows, kind + "-read",
                           "Among all nodes, the average %s reading process per thread was: " % kind,
                           "  MB/sec.")
    if trailing_blank:
        lines.blank()


def _cluster_low(lines, run_info, rows):
    _cluster_speeds(lines, run_info, rows, "low", LOW_SPEEDS, ("Write", "Read"), 2,
                    " MB/sec.", True)


def _cluster_high(lines, run_info, rows):
    # The rank lines come read first; the totals name writing first all the same.
    _cluster_speeds(lines, run_info, rows, "high", HIGH_SPEEDS, ("Read", "Write"), 1,
                    "  MB/sec.", False)


def _read_lines(path):
    try:
        with open(path, "rb") as handle:
            data = handle.read()
    except OSError as error:
        raise NotAResultsFile("%s: cannot be read: %s" % (path, error.strerror or error))
    # The Windows runtime writes CR LF; node names are taken as UTF-8 and any
    # byte that is not shows as a replacement character rather than failing.
    text = data.decode("utf-8", errors="replace").replace("\r\n", "\n")
    if not text.endswith("\n"):
        if text:
            raise NotAResultsFile("%s: the last line has no end of line" % path)
    return text.split("\n")[:-1] if text else []


def parse(path):
    """The Run that the results file at `path` holds; NotAResultsFile when its
    name or any line is not what the program writes, or when it stops early."""
    node, started = parse_file_name(path)
    lines = _Lines(path, _read_lines(path))
    lines.text(TITLE)
    lines.blank()
    (size_text,) = lines.take(r"Thread\(s\): (\d+)", "'Thread(s): N'")
    size = int(size_text)
    if size < 1:
        lines.index -= 1
        lines.fail("a job has at least one process")
    lines.blank()
    run_info = {
        "run_node": node,
        "run_datetime": started.isoformat(),
        "job_size": str(size),
    }
    rows = []
    _single_node(lines, run_info, rows)
    if size > 1:
        lines.text("Multi-Thread Enabled:")
        _cluster_handling(lines, run_info, rows, "stream-handling")
        _cluster_handling(lines, run_info, rows, "descriptor-handling")
        _cluster_low(lines, run_info, rows)
        _cluster_high(lines, run_info, rows)
    if not lines.at_end():
        lines.fail("expected the end of the file")
    return Run(path, node, started, size, rows)
