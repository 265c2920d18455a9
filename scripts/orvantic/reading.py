"""Results files read whole: `parse` gives the Run a results file holds,
its lines matched against the report's grammar and turned into rows, and
refuses anything else (NotAResultsFile): a number taken from a line that
only looks similar would be worse than no number. A report that ends early
(its run stopped, its node lost, its time up) is a Run too, of the rows its
lines hold whole, marked as ended early."""

import datetime
import os
import re

from . import grammar, measured, shapes, texts

FILE_NAME = re.compile(
    "^" + re.escape(texts.RESULTS_PREFIX) + r"(?P<node>.*) @ local date "
    r"(?P<Y>\d{4})\.(?P<m>\d{2})\.(?P<d>\d{2}) time (?P<H>\d{2})\.(?P<M>\d{2})\.(?P<S>\d{2})"
    # A run that found its name taken (another run in the same second) numbers it.
    r"(?: \((?:[2-9]|[1-9]\d+)\))?\.txt$"
)


class NotAResultsFile(Exception):
    """The file is not one that orvantic-drives wrote, or not all of one."""


class Run:
    """Everything one results file says; its rows are those of the report's
    lines and each phase's common-window total."""

    def __init__(self, path, node, started, job_size, rows, warnings, early_end=None, stopped_by=None,
                 stopped_during=None):
        self.path = path
        self.node = node
        self.started = started
        self.job_size = job_size
        self.rows = rows
        self.warnings = warnings  # the file's "Warning: " lines, in its order
        # Where a report that ends early stops, and why where its last line
        # says (what stopped the run, and where it was); None for a whole one.
        self.early_end = early_end
        self.stopped_by = stopped_by
        self.stopped_during = stopped_during

    @property
    def ended_early(self):
        return self.early_end is not None

    def select(self, measurement, scope):
        return [r for r in self.rows if r["measurement"] == measurement and r["scope"] == scope]

    def not_valid(self):
        """The rows whose rate a Warning line makes no measurement."""
        return [r for r in self.rows if r["valid"] == "false"]

    def why_not_valid(self):
        """Why the run's rates are not all measurements, in one line: how
        many rows are not valid, and the file's first warning, which the
        rest of them follow from or repeat. None for a clean run."""
        printed = [r for r in self.not_valid() if r["scope"] != texts.SCOPE_COMMON_WINDOW]
        if not printed:
            return None
        return "%d rate(s) in the results file not valid; the first warning: %s" % (len(printed), self.warnings[0])

    def why_left_out(self):
        """Why statistics over several runs leave this one out: it ended
        early, and so measured part of what the others did, or a rate of it
        is not valid. None for a run that counts."""
        return self.early_end or self.why_not_valid()


def early_ends(runs):
    """A line for each run whose report ends early: its file, where the
    report stops and why, where it says."""
    return ["%s: %s" % (run.path, run.early_end) for run in runs if run.ended_early]


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
    """The file's whole lines, and whether it ends with one: a file cut
    inside a line is a report that ends early, without that line."""
    try:
        with open(path, "rb") as handle:
            data = handle.read()
    except OSError as error:
        raise NotAResultsFile("%s: cannot be read: %s" % (path, error.strerror or error))
    lines, whole = split_lines(data)
    if not lines:
        raise NotAResultsFile("%s: holds no whole line, so no report" % path)
    return lines, whole


def _job_size(path, lines):
    """The job size the banner names; 1 where it names none, so that the
    banner's own check tells what is wrong."""
    size = re.fullmatch(r"Thread\(s\): (\d+)", lines[2]) if len(lines) > 2 else None
    if not size:
        return 1
    if not 1 <= int(size.group(1)) <= texts.MAX_JOB_SIZE:
        raise NotAResultsFile("%s: line 3: a job has 1 to %d processes; the line reads %r"
                              % (path, texts.MAX_JOB_SIZE, lines[2]))
    return int(size.group(1))


def _early_end(found, count, whole, stop):
    """Where a report of `count` lines that ends early stops, and why where
    its stop line says; None for a whole report."""
    said = []
    if found.missing is not None:
        next_line = found.missing.describe() if found.missing.masked() else "an empty line"
        said.append("the report ends early after line %d, before %s" % (count, next_line))
    if stop:
        said.append("the run was stopped by %s %s" % stop.groups())
    if not whole:
        said.append("line %d is cut short and left out" % (count + (2 if stop else 1)))
    if not said:
        return None
    if found.missing is None:
        return "the report is whole, but " + "; ".join(said)
    return "; ".join(said)


def parse(path):
    """The Run that the results file at `path` holds; NotAResultsFile when its
    name or any line is not what the program writes. A report may end early,
    at any whole line or inside one, with or without the stop line the
    program writes when it is told to terminate: the Run then has the rows
    of the lines there are (see measured.cut_short), all ended_early."""
    node, started = parse_file_name(path)
    lines, whole = _read_lines(path)
    stop = grammar.stop_line().regex.fullmatch(lines[-1])
    report = lines[:-1] if stop else lines
    size = _job_size(path, report)
    expected = grammar.report_lines(grammar.FILE, dict((k, node if k == 0 else None) for k in range(size)),
                                    failing=grammar.MAYBE)
    try:
        found = shapes.match(expected, report, prefix_only=True)
    except shapes.Mismatch as error:
        raise NotAResultsFile("%s: line %d: %s; the line reads %r"
                              % (path, error.index + 1, error.what, report[error.index]))
    rows = measured.with_common_windows(measured.rows_of(found, node, started.isoformat(), size),
                                        measured.unsettled(found))
    early_end = _early_end(found, len(report), whole, stop)
    for row in rows:
        row["ended_early"] = "false" if early_end is None else "true"
    return Run(path, node, started, size, rows, [m.text for m in found if m.line.warning] + lines[len(report):],
               early_end, *(stop.groups() if stop else ()))


def results_paths(given):
    """The results files of a run or a series, and the directory an
    environment record of them would lie in: a directory's results files
    (as repeat-runs leaves a series), or the files named."""
    if len(given) == 1 and os.path.isdir(given[0]):
        directory = given[0]
        paths = sorted(os.path.join(directory, name) for name in os.listdir(directory)
                       if name.startswith(texts.RESULTS_PREFIX))
        if not paths:
            raise NotAResultsFile("%s holds no results file" % directory)
        return paths, directory
    return list(given), os.path.dirname(given[0]) or "."
