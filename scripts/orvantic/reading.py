"""Results files read whole: `parse` gives the Run a results file holds,
its lines matched against the report's grammar and turned into rows, and
refuses anything else (NotAResultsFile): a number taken from a line that
only looks similar would be worse than no number. Every script reads
results files here, by one rule: a report is told by its content, the run's
node and start time by the name, where it has the form the program gives it
(a copy renamed by hand or by a mail program is read all the same, its node
and time unknown, which is told on standard error); only regular files of
at most MAX_BYTES are read, and no line with a control character. A report
that ends early (its run stopped, its node lost, its time up) is a Run too,
of the rows its lines hold whole, marked as ended early."""

import dataclasses
import datetime
import gc
import os
import re
import stat
from typing import Optional

from . import grammar, measured, shapes, terminal, texts

# The program replaces every control character in what a line shows (node
# names, directories) with "?", and in the node name a file name carries
# with "_" (texts.file_node): one found in either was put there by hand.
CONTROL_CHARACTERS = r"\x00-\x1f\x7f"
CONTROL_CHARACTER = re.compile("[%s]" % CONTROL_CHARACTERS)
FILE_NAME = re.compile(
    "^" + re.escape(texts.RESULTS_PREFIX) + r"(?P<node>[^%s]*) @ local date " % CONTROL_CHARACTERS +
    r"(?P<Y>\d{4})\.(?P<m>\d{2})\.(?P<d>\d{2}) time (?P<H>\d{2})\.(?P<M>\d{2})\.(?P<S>\d{2})"
    # A run that found its name taken (another run in the same second) numbers it.
    r"(?: \((?:[2-9]|[1-9]\d+)\))?\.txt$"
)
FILE_NAME_FORM = texts.RESULTS_PREFIX + "<node> @ local date YYYY.MM.DD time hh.mm.ss.txt"
# A report of the largest job, 4,096 processes, is about 4 MB (some 900
# bytes a worker, its node named in ten characters), and stays below this
# even where every line names a node of 256 characters and every worker
# works outside the root's directory, both paths 4,096 long; the limit
# keeps a link to a device or a runaway file from filling the memory.
MAX_BYTES = 64 * 1024 * 1024
# How many of the names a directory's series passes over are shown.
NAMES_SHOWN = 3


class Refused(Exception):
    """Input a tool does not read, and why."""


class NotAResultsFile(Refused):
    """The file is not one that orvantic-drives wrote, or not all of one."""


def _refused(path, why, kind=NotAResultsFile):
    return kind("%s: %s" % (terminal.shown(path), why))


@dataclasses.dataclass
class Run:
    """Everything one results file says; its rows are those of the report's
    lines and each phase's common-window total. node and started (the
    root's node and the local start time) are None where the file's name
    does not have the results-file form."""

    path: str
    node: Optional[str]
    started: Optional[datetime.datetime]
    job_size: int
    rows: list
    warnings: list  # the file's "Warning: " lines, in its order
    # Where a report that ends early stops, and why where its last line
    # says (what stopped the run, and where it was); None for a whole one.
    early_end: Optional[str] = None
    stopped_by: Optional[str] = None
    stopped_during: Optional[str] = None

    @property
    def ended_early(self):
        return self.early_end is not None

    def select(self, measurement, scope):
        return [r for r in self.rows if r.measurement == measurement and r.scope == scope]

    def not_valid(self):
        """The rows whose rate a Warning line makes no measurement."""
        return [r for r in self.rows if r.valid is measured.Validity.NOT_VALID]

    def why_not_valid(self):
        """Why the run's rates are not all measurements, in one line: how
        many rows are not valid, and the file's first warning, which the
        rest of them follow from or repeat. None for a clean run."""
        printed = [r for r in self.not_valid() if r.scope != texts.SCOPE_COMMON_WINDOW]
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


def refused(error):
    """A tool's end on a Refused `error`: one line, status 1."""
    terminal.tell(("not a results file: %s" if isinstance(error, NotAResultsFile) else "%s") % error)
    return 1


def tell_early_ends(runs):
    """Names each run whose report ends early on standard error, and gives
    the status a tool ends with: 1 where any did, for its output is then of
    less than whole reports."""
    early = early_ends(runs)
    for line in early:
        terminal.tell(line)
    return 1 if early else 0


def parse_file_name(path):
    """The run's node and local start time, from the name the program gives
    the results file."""
    match = FILE_NAME.match(os.path.basename(path))
    if not match:
        raise _refused(path, "the name does not have the results-file form '%s'" % FILE_NAME_FORM)
    try:
        started = datetime.datetime(*(int(match.group(g)) for g in "YmdHMS"))
    except ValueError as error:
        raise _refused(path, "the date and time in the name are not valid (%s)" % error)
    return match.group("node"), started


def split_lines(data):
    """Text lines of a file or console: the Windows runtime writes CR LF;
    node names are taken as UTF-8 and any byte that is not shows as a
    replacement character rather than failing. Returns the lines and
    whether the last one is whole."""
    text = data.decode("utf-8", errors="replace").replace("\r\n", "\n")
    lines = text.split("\n")
    return lines[:-1], lines[-1] == ""


def _not_regular(mode):
    """Why a file of this mode is not read."""
    if stat.S_ISDIR(mode):
        return "is a directory"
    kinds = ((stat.S_ISFIFO, "a named pipe"), (stat.S_ISCHR, "a device"), (stat.S_ISBLK, "a device"),
             (stat.S_ISSOCK, "a socket"))
    return "is %s, not a regular file" % next((kind for test, kind in kinds if test(mode)), "a special file")


def read_regular(path, kind=NotAResultsFile, what="a results file (a report of %d processes is about 4 MB)"
                 % texts.MAX_JOB_SIZE):
    """The whole file, if it is a regular file of at most MAX_BYTES; else
    the Refused `kind`, which says why. Opened without waiting for a
    writer, so that a named pipe is refused rather than waited on; what it
    is, is asked of the file opened."""
    try:
        handle = os.open(path, os.O_RDONLY | getattr(os, "O_NONBLOCK", 0) | getattr(os, "O_BINARY", 0))
    except FileNotFoundError:
        raise _refused(path, "does not exist", kind)
    except OSError as error:
        raise _refused(path, "cannot be read: %s" % (error.strerror or error), kind)
    try:
        mode = os.fstat(handle).st_mode
        if not stat.S_ISREG(mode):
            raise _refused(path, _not_regular(mode), kind)
        with open(handle, "rb", closefd=False) as file:
            data = file.read(MAX_BYTES + 1)
    except OSError as error:
        raise _refused(path, "cannot be read: %s" % (error.strerror or error), kind)
    finally:
        os.close(handle)
    if len(data) > MAX_BYTES:
        raise _refused(path, "is larger than %d MiB, the limit for %s" % (MAX_BYTES // (1024 * 1024), what), kind)
    return data


def _read_lines(path):
    """The file's whole lines, and whether it ends with one: a file cut
    inside a line is a report that ends early, without that line."""
    lines, whole = split_lines(read_regular(path))
    if not lines:
        raise _refused(path, "holds no whole line, so no report")
    for number, line in enumerate(lines, 1):
        found = CONTROL_CHARACTER.search(line)
        if found:
            raise _refused(path, "line %d: holds the control character %r, which the program never writes; "
                                 "the line reads %r" % (number, found.group(), line))
    return lines, whole


def _job_size(path, lines):
    """The job size the banner names; 1 where it names none, so that the
    banner's own check tells what is wrong."""
    size = re.fullmatch(r"Thread\(s\): (\d+)", lines[2]) if len(lines) > 2 else None
    if not size:
        return 1
    if not 1 <= int(size.group(1)) <= texts.MAX_JOB_SIZE:
        raise _refused(path, "line 3: a job has 1 to %d processes; the line reads %r" % (texts.MAX_JOB_SIZE, lines[2]))
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


def _known_from_name(path):
    """The run's node and start time from the file's name; both None, and
    that told, where the name is not one the program gives."""
    try:
        return parse_file_name(path)
    except NotAResultsFile as why:
        terminal.tell("%s; the run's node and start time are unknown" % why)
        return None, None


def parse(path):
    """The Run that the results file at `path` holds; NotAResultsFile when
    it is no regular file or any line is not what the program writes. A
    report may end early, at any whole line or inside one, with or without
    the stop line the program writes when it is told to terminate: the Run
    then has the rows of the lines there are (see measured.cut_short), all
    ended_early."""
    # A report of 4,096 ranks makes some 300,000 objects, none in a cycle:
    # the cyclic collector would walk them again and again, half the time.
    collecting = gc.isenabled()
    gc.disable()
    try:
        lines, whole = _read_lines(path)
        stop = grammar.stop_line().regex.fullmatch(lines[-1])
        report = lines[:-1] if stop else lines
        size = _job_size(path, report)
        expected = grammar.report_lines(grammar.FILE, dict.fromkeys(range(size)), failing=grammar.MAYBE)
        try:
            found = shapes.match(expected, report, prefix_only=True)
        except shapes.Mismatch as error:
            raise _refused(path, "line %d: %s; the line reads %r" % (error.index + 1, error.what,
                                                                      report[error.index]))
        node, started = _known_from_name(path)
        rows = measured.with_common_windows(measured.rows_of(found, node, started, size), measured.unsettled(found))
        early_end = _early_end(found, len(report), whole, stop)
        for row in rows:
            row.ended_early = early_end is not None
        return Run(path, node, started, size, rows, [m.text for m in found if m.line.warning] + lines[len(report):],
                   early_end, *(stop.groups() if stop else ()))
    finally:
        if collecting:
            gc.enable()


def results_files(directory):
    """{name: (modification time, size)} of the results files in directory."""
    stamps = {}
    for entry in os.scandir(directory):
        if FILE_NAME.match(entry.name) and entry.is_file(follow_symlinks=False):
            info = entry.stat(follow_symlinks=False)
            stamps[entry.name] = (info.st_mtime_ns, info.st_size)
    return stamps


def written_since(directory, before):
    """The results file a run wrote, given results_files(directory) before
    it: a new name, or a file that changed (a run may reuse the name of one
    started in the same clock second); the newest of several, else None."""
    after = results_files(directory)
    changed = [name for name, stamp in after.items() if before.get(name) != stamp]
    return max(changed, key=lambda name: after[name]) if changed else None


def results_paths(given):
    """The results files of a run or a series, and the directory an
    environment record of them would lie in: a directory's files named in
    the results-file form (as repeat-runs leaves a series), or the files
    named. Names in a directory that begin like a results file's but are
    not in its form (a CSV written beside, an editor's backup) are passed
    over, and that told."""
    if len(given) == 1 and os.path.isdir(given[0]):
        directory = given[0]
        try:
            names = sorted(os.listdir(directory))
        except OSError as error:
            raise _refused(directory, "cannot be read: %s" % (error.strerror or error))
        passed_over = [name for name in names if name.startswith(texts.RESULTS_PREFIX) and not FILE_NAME.match(name)]
        if passed_over:
            terminal.tell("%s: passed over %d name(s) not in the results-file form '%s': %s" % (
                directory, len(passed_over), FILE_NAME_FORM,
                ", ".join(repr(name) for name in passed_over[:NAMES_SHOWN]) + (
                    ", ..." if len(passed_over) > NAMES_SHOWN else "")))
        paths = [os.path.join(directory, name) for name in names if FILE_NAME.match(name)]
        if not paths:
            raise _refused(directory, "holds no results file")
        return paths, directory
    return list(given), os.path.dirname(given[0]) or "."
