"""A run's report against the report grammar of scripts/orvantic/grammar.py:
each sink line by line, the same numbers on both, and the arithmetic between
them, checked on the rows the grammar reads out of the lines."""

import csv
import io
import os
import tempfile

from testbed import files_left
from testbed import harness  # noqa: F401  (puts scripts/ on the path)
from orvantic import grammar, measured, reading, shapes, tables, texts
from testbed import report_expectations as expect


def failing_on(measurements, ranks):
    """The grammar's `failing` for the given tests failing on each of the
    given ranks: the root's by name, a worker's as (test, rank)."""
    return {measurement if rank == 0 else (measurement, rank) for measurement in measurements for rank in ranks}


def default_format(token):
    """True when token is what a default-formatted stream writes for its own
    value: at most six significant digits, %g layout. C's %g writes the sign
    of a NaN (0 / 0 gives "-nan"), Python's never does."""
    return token.lstrip("-") == "nan" or "%g" % float(token) == token


def match_lines(test, expected, actual, sink, prefix_only=False):
    """Compares line by line (see shapes.match); every number must
    be in the default format. Returns what matched."""
    try:
        found = shapes.match(expected, actual, prefix_only)
    except shapes.Mismatch as mismatch:
        index = mismatch.index
        context = "\n".join("  %3d: %r" % (i, actual[i])
                            for i in range(max(0, index - 4), min(len(actual), index + 3)))
        where = "%s ends after %d lines" % (sink, index) if index >= len(actual) else "%s line %d" % (sink, index)
        test.fail("%s: %s\n%s" % (where, mismatch.what, context))
    for token in shapes.numbers(found):
        test.assertTrue(default_format(token), "%s: %r is not in the default number format" % (sink, token))
    return found


class Stop:
    """The stop line a root told to terminate ends a sink with: `required`,
    or else it may end the sink; naming the request ("signal SIGTERM (15)")
    and the place ("during ...") where they are given."""

    def __init__(self, required=True, request=None, place=None):
        self.required = required
        self.line = grammar.stop_line(request, place)

    def split(self, test, lines, sink):
        """The sink's lines before the stop line, which it checks."""
        if lines and self.line.regex.fullmatch(lines[-1]):
            return lines[:-1]
        test.assertFalse(self.required, "%s does not end with %s but with %r"
                         % (sink, self.line.describe(), lines[-1:]))
        return lines


def check_sink(test, expected, actual, sink, node, prefix_only=False, stop=None):
    """match_lines, and the rows of what matched; before them, the stop
    line `stop` (a Stop) where it is given."""
    return measured.rows_of(checked_lines(test, expected, actual, sink, prefix_only, stop), node)


def checked_lines(test, expected, actual, sink, prefix_only=False, stop=None):
    if stop is not None:
        actual = stop.split(test, actual, sink)
    return match_lines(test, expected, actual, sink, prefix_only)


def check_results(test, data, expected, node, console=None, prefix_only=False, stop=None):
    """A results file's bytes against its expected lines: whole lines only,
    each the report's next file line, then the stop line `stop` where it is
    given; where the console's rows are given, with the numbers the console
    showed. Returns the rows and whether the file holds the whole report."""
    lines, whole = reading.split_lines(data)
    test.assertTrue(whole, "results file ends inside a line, after %d whole lines: %r"
                    % (len(lines), data[-80:]))
    found = checked_lines(test, expected, lines, "results file", prefix_only, stop)
    rows = measured.rows_of(found, node)
    if console is not None:
        # A file cut short may stop before the warning that follows the
        # lines of its last measurement, and not tell whether that is valid
        # (an empty field is not compared).
        same_numbers(test, console, rows)
    return rows, found.missing is None


NUMBER_FIELDS = ("seconds", "rate", "mb_per_sec", "speedup", "node", "valid")


def same_numbers(test, console, results):
    """Each measurement shows the same numbers on both sinks, as far as both
    got (a results file cut short may stop inside a measurement)."""
    on_console = dict((r.key, tables.cells(r.values())) for r in console)
    for row in results:
        test.assertIn(row.key, on_console, "results file has %r, the console not" % (row.key,))
        cells = tables.cells(row.values())
        for field in NUMBER_FIELDS:
            if cells[field] and on_console[row.key][field]:
                test.assertEqual(cells[field], on_console[row.key][field],
                                 "console and results file differ in %s of %r" % (field, row.key))


def assert_close(test, actual, expected, what, rel=2e-5):
    """Printed numbers carry six significant digits; a few rounding steps
    together stay well inside rel."""
    if expected == 0:
        test.assertEqual(actual, 0, what)
        return
    test.assertLessEqual(abs(actual - expected), rel * abs(expected),
                         "%s: printed %r, expected %r" % (what, actual, expected))


def check_arithmetic(test, rows, counts, high_size=None):
    """Every rate is its work over its printed time; totals are sums of the
    printed per-rank rates, averages the totals over the worker count,
    speed-ups the totals over the root's own printed rate. A worker moves
    one first pass and its (rank + 1)-th part again; high_size: the length
    the block phases found (the scratch file's) where it is not that."""
    def pick(measurement, scope):
        return [r for r in rows if r.measurement == measurement and r.scope == scope]

    def num(row, field):
        return getattr(row, field)

    for measurement, _ in texts.MEASUREMENTS:
        handling = measurement in texts.HANDLING
        (single,) = pick(measurement, texts.SCOPE_SINGLE)
        ranks = pick(measurement, texts.SCOPE_RANK)
        size = high_size if measurement.startswith("high") and high_size is not None else counts.first_pass
        single_work = counts.high_bytes if measurement.startswith("high") else counts.low_accesses
        for row in [single] + ranks:
            what = "%s rank %s" % (measurement, row.rank)
            if handling:
                assert_close(test, num(row, "rate"), counts.handling / num(row, "seconds"), what + " rate")
                continue
            work = single_work if row is single else size + size // (row.rank + 1)
            assert_close(test, num(row, "rate"), work / num(row, "seconds") / 1e6, what + " millions")
            assert_close(test, num(row, "mb_per_sec"), work / num(row, "seconds") / 1048576, what + " MB")
        if not ranks:
            continue
        (total,) = pick(measurement, texts.SCOPE_TOTAL)
        (average,) = pick(measurement, texts.SCOPE_AVERAGE)
        assert_close(test, num(total, "rate"), sum(num(r, "rate") for r in ranks), measurement + " total")
        assert_close(test, num(total, "speedup"), num(total, "rate") / num(single, "rate"),
                     measurement + " speed-up")
        shown = measured.shown_field(measurement)
        if not handling:
            assert_close(test, num(total, shown), sum(num(r, shown) for r in ranks), measurement + " total MB")
        assert_close(test, num(average, shown), num(total, shown) / len(ranks), measurement + " average")


def check_exit_status(test, run, clean=True):
    """0 for a clean run; 1 when a rank wrote a "Warning:" line or the root
    could not save its report: Open MPI's and MPICH's launchers both pass a
    rank's status of 1 on."""
    test.assertEqual(run.returncode, 0 if clean else 1, "exit status; stderr:\n" + run.stderr)


def check_report(test, console_lines, shown_path, results_data, nodes, counts, sink="console"):
    """A complete report: every line of the console (whose end-of-run line
    shows `shown_path`) and of the results file, the same numbers on both,
    and the arithmetic between them. Returns the console's rows."""
    console = check_sink(test, grammar.report_lines(grammar.CONSOLE, nodes, shown_path), console_lines, sink,
                         nodes[0])
    results, _ = check_results(test, results_data, grammar.report_lines(grammar.FILE, nodes), nodes[0], console)
    check_arithmetic(test, results, counts)
    return console


def check_run(test, run, counts, nodes, planted=()):
    """A complete run of len(nodes) ranks: exit status, results-file name and
    path, every line of both sinks, the arithmetic, and the files left
    beside the names in `planted`. Returns the console's rows."""
    directory = run.workspace.cwd
    check_exit_status(test, run)
    test.assertTrue(run.whole_lines, "console ends inside a line")
    name, data = files_left.results_file(test, directory)
    files_left.check_results_name(test, name, nodes[0], run)
    console = check_report(test, run.lines, directory + "/" + name, data, nodes, counts)
    files_left.check_files_left(test, directory, nodes, name, counts, planted)
    return console


# A job of three, as its root reports it when rank 1 works outside the root's
# start directory and its first phase failed as well, and rank 2's low write
# failed: the place and failure notes of the workers, and each phase's total
# and average warning, in the program's words.
ELSEWHERE, START = "/srv/elsewhere", "/srv/bench"
RANK_1_FAILED = "Warning: rank 1, phase 1: 4 file operations failed; the rate sent for this phase is not valid."
RANK_2_FAILED = "Warning: rank 2, phase 3: 7 file operations failed; the rate sent for this phase is not valid."
TOTAL_NOT_VALID = ("Warning: %d of the 2 workers' rates added in this total are not valid; "
                   "the total and the speed-up above are not valid.")
AVERAGE_NOT_VALID = "Warning: %d of the 2 workers' rates in this average are not valid; the average above is not valid."


def misplaced_note(node):
    return ("Warning: rank 1 on %s works in %s, not in the root's start directory %s; its rates are not valid."
            % (node, ELSEWHERE, START))


def worker_warnings(node):
    """The warning cell of each row those warnings make not valid, keyed by
    (measurement, scope, rank) as the rows give them: a worker's phase
    carries its own warning first, then the note about its whole rank."""
    cells = {}
    for measurement, _ in texts.MEASUREMENTS:
        count = 2 if measurement == "low-write" else 1
        cells[(measurement, texts.SCOPE_RANK, "1")] = misplaced_note(node)
        cells[(measurement, texts.SCOPE_TOTAL, "")] = TOTAL_NOT_VALID % count
        # The common window adds the same workers' work, and says so in the total's words.
        cells[(measurement, texts.SCOPE_COMMON_WINDOW, "")] = TOTAL_NOT_VALID % count
        cells[(measurement, texts.SCOPE_AVERAGE, "")] = AVERAGE_NOT_VALID % count
    cells[("stream-handling", texts.SCOPE_RANK, "1")] = RANK_1_FAILED + " " + misplaced_note(node)
    cells[("low-write", texts.SCOPE_RANK, "2")] = RANK_2_FAILED
    return cells


ROOT_FAILED = "Warning: 3 file operations failed in this test; the rate above is not valid."


def with_root_failure(rows, measurement):
    """The rows, as a run reports them whose root saw 3 operations of its own
    `measurement` fail: that test's row, and the total whose speed-up
    divides by its rate, not valid (two rates)."""
    warnings = {texts.SCOPE_SINGLE: ROOT_FAILED, texts.SCOPE_TOTAL: texts.DIVISOR_NOT_VALID}
    for row in rows:
        if row["measurement"] == measurement and row["scope"] in warnings:
            row.update(valid="false", warning=warnings[row["scope"]])
    return rows


def with_worker_warnings(rows):
    """Copies of the rows of a job of three, marked as worker_warnings has
    them."""
    cells = worker_warnings(rows[0]["run_node"])
    marked = [dict(row) for row in rows]
    for row in marked:
        cell = cells.get((row["measurement"], row["scope"], row["rank"]))
        if cell:
            row.update(valid="false", warning=cell)
    return marked


def warned_copy(source, directory, name=None):
    """The results file of a job of three at source, as its root would have
    written it with the warnings of worker_warnings, written into directory
    (under the source's name by default)."""
    rows = with_worker_warnings(cells_of(reading.parse(source)))
    return files_left.copy_as(source, directory, name or os.path.basename(source), lambda _: expect.render_file(rows))


def made_up_rows(template, value, scale, broken=None):
    """The rows the report of the template run prints, every rate (handling)
    or MB/sec. (speed) set to value times its scope's scale, {(scope, rank):
    factor}. broken: {(measurement, scope, rank): text} for numbers to print
    as given."""
    rows = [r for r in cells_of(template) if r["scope"] != texts.SCOPE_COMMON_WINDOW]
    for row in rows:
        key = (row["measurement"], row["scope"], row["rank"])
        made_up = "%g" % (value * scale[(row["scope"], row["rank"])])
        row[measured.shown_field(row["measurement"])] = (broken or {}).get(key) or made_up
    return rows


def cells_of(run):
    """A run's rows as results-to-csv writes them, texts a test may change
    to write a report of its own (see report_text)."""
    return [tables.cells(row.values()) for row in run.rows]


def report_text(rows):
    return "".join(line + "\n" for line in expect.render_file(rows))


def check_json_of_csv(test, objects, rows, types):
    """A script's JSON objects, as (key, value) pairs, against its CSV rows
    of the same table: the CSV's keys in its order, every value the cell's
    read as its key's type in `types` (else a string); null for an empty
    cell and for inf, which a JSON number cannot hold."""
    test.assertEqual(len(objects), len(rows))
    for pairs, row in zip(objects, rows):
        test.assertEqual([key for key, _ in pairs], list(row))
        for key, value in pairs:
            cell, kind = row[key], types.get(key, str)
            if cell in ("", "inf"):
                test.assertIsNone(value, (key, cell))
                continue
            test.assertIs(type(value), kind, (key, cell))
            test.assertEqual(value, cell == "true" if kind is bool else kind(cell), key)


def csv_rows(test, name, data):
    """results-to-csv's rows of a results file, given by its name (which the
    rows take the run's node and time from) and its bytes."""
    with tempfile.TemporaryDirectory() as directory:
        path = os.path.join(directory, name)
        with open(path, "wb") as copy:
            copy.write(data)
        done = harness.run_script("results-to-csv", path)
    test.assertEqual(done.returncode, 0, done.stderr)
    return list(csv.DictReader(io.StringIO(done.stdout)))


def check_csv_validity(test, name, data, failing):
    """results-to-csv on a results file: valid=false exactly on the rows of
    what failed (report_lines's `failing`), on the totals and averages that
    add a worker's rate that failed (the common window adds the same), and
    on the totals whose speed-up divides by a rate of the root's that
    failed. Returns the rows."""
    rows = csv_rows(test, name, data)
    for row in rows:
        measurement, scope = row["measurement"], row["scope"]
        workers_failed = any(isinstance(k, tuple) and k[0] == measurement for k in failing)
        valid = {texts.SCOPE_SINGLE: measurement not in failing,
                 texts.SCOPE_RANK: (measurement, int(row["rank"] or 0)) not in failing,
                 texts.SCOPE_TOTAL: not workers_failed and measurement not in failing,
                 texts.SCOPE_AVERAGE: not workers_failed,
                 texts.SCOPE_COMMON_WINDOW: not workers_failed}[scope]
        test.assertEqual(row["valid"], "true" if valid else "false", row)
    return rows
