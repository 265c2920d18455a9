"""Results files read whole: `parse` gives the Run a results file holds,
its lines matched against the report's grammar and turned into rows, and
refuses anything else (NotAResultsFile): a number taken from a line that
only looks similar would be worse than no number."""

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
        printed = [r for r in self.not_valid() if r["scope"] != texts.SCOPE_COMMON_WINDOW]
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
    if not 1 <= int(size.group(1)) <= texts.MAX_JOB_SIZE:
        raise NotAResultsFile("%s: line 3: a job has 1 to %d processes; the line reads %r"
                              % (path, texts.MAX_JOB_SIZE, lines[2]))
    return int(size.group(1))


def parse(path):
    """The Run that the results file at `path` holds; NotAResultsFile when its
    name or any line is not what the program writes, or when it stops early."""
    node, started = parse_file_name(path)
    lines = _read_lines(path)
    size = _job_size(path, lines)
    expected = grammar.report_lines(grammar.FILE, dict((k, node if k == 0 else None) for k in range(size)),
                                    failing=grammar.MAYBE)
    try:
        found = shapes.match(expected, lines)
    except shapes.Mismatch as error:
        if error.index >= len(lines):
            raise NotAResultsFile("%s: the file ends early: %s" % (path, error.what))
        raise NotAResultsFile("%s: line %d: %s; the line reads %r"
                              % (path, error.index + 1, error.what, lines[error.index]))
    rows = measured.with_common_windows(measured.rows_of(found, node, started.isoformat(), size))
    return Run(path, node, started, size, rows, [m.text for m in found if m.line.warning])


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
