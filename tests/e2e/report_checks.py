"""A run's report against the report grammar of scripts/orvantic_results.py:
each sink line by line, the same numbers on both, and the arithmetic between
them, checked on the rows the grammar reads out of the lines."""

import files_left
import harness  # noqa: F401  (puts scripts/ on the path)
import orvantic_results as g


def default_format(token):
    """True when token is what a default-formatted stream writes for its own
    value: at most six significant digits, %g layout. C's %g writes the sign
    of a NaN (0 / 0 gives "-nan"), Python's never does."""
    return token.lstrip("-") == "nan" or "%g" % float(token) == token


def match_lines(test, expected, actual, sink, prefix_only=False):
    """Compares line by line (see orvantic_results.match); every number must
    be in the default format. Returns what matched."""
    try:
        found = g.match(expected, actual, prefix_only)
    except g.Mismatch as mismatch:
        index = mismatch.index
        context = "\n".join("  %3d: %r" % (i, actual[i])
                            for i in range(max(0, index - 4), min(len(actual), index + 3)))
        where = "%s ends after %d lines" % (sink, index) if index >= len(actual) else "%s line %d" % (sink, index)
        test.fail("%s: %s\n%s" % (where, mismatch.what, context))
    for token in g.numbers(found):
        test.assertTrue(default_format(token), "%s: %r is not in the default number format" % (sink, token))
    return found


def check_sink(test, expected, actual, sink, node, prefix_only=False):
    """match_lines, and the rows of what matched."""
    return g.rows_of(match_lines(test, expected, actual, sink, prefix_only), node)


def check_results(test, data, expected, node, console=None, prefix_only=False):
    """A results file's bytes against its expected lines: whole lines only,
    each the report's next file line; where the console's rows are given,
    with the numbers the console showed. Returns the rows and whether the
    file holds the whole report."""
    lines, whole = g.split_lines(data)
    test.assertTrue(whole, "results file ends inside a line, after %d whole lines: %r"
                    % (len(lines), data[-80:]))
    rows = check_sink(test, expected, lines, "results file", node, prefix_only)
    if console is not None:
        same_numbers(test, console, rows)
    return rows, len(lines) == len(expected)


NUMBER_FIELDS = ("seconds", "rate", "mb_per_sec", "speedup", "node", "valid")


def same_numbers(test, console, results):
    """Each measurement shows the same numbers on both sinks, as far as both
    got (a results file cut short may stop inside a measurement)."""
    on_console = dict(((r["measurement"], r["scope"], r["rank"]), r) for r in console)
    for row in results:
        key = (row["measurement"], row["scope"], row["rank"])
        test.assertIn(key, on_console, "results file has %r, the console not" % (key,))
        for field in NUMBER_FIELDS:
            if row[field] and on_console[key][field]:
                test.assertEqual(row[field], on_console[key][field],
                                 "console and results file differ in %s of %r" % (field, key))


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
        return [r for r in rows if r["measurement"] == measurement and r["scope"] == scope]

    def num(row, field):
        return float(row[field])

    for measurement, _ in g.MEASUREMENTS:
        handling = measurement in g.HANDLING
        (single,) = pick(measurement, g.SCOPE_SINGLE)
        ranks = pick(measurement, g.SCOPE_RANK)
        size = high_size if measurement.startswith("high") and high_size is not None else counts.first_pass
        single_work = counts.high_bytes if measurement.startswith("high") else counts.low_accesses
        for row in [single] + ranks:
            what = "%s rank %s" % (measurement, row["rank"])
            if handling:
                assert_close(test, num(row, "rate"), counts.handling / num(row, "seconds"), what + " rate")
                continue
            work = single_work if row is single else size + size // (int(row["rank"]) + 1)
            assert_close(test, num(row, "rate"), work / num(row, "seconds") / 1e6, what + " millions")
            assert_close(test, num(row, "mb_per_sec"), work / num(row, "seconds") / 1048576, what + " MB")
        if not ranks:
            continue
        (total,) = pick(measurement, g.SCOPE_TOTAL)
        (average,) = pick(measurement, g.SCOPE_AVERAGE)
        assert_close(test, num(total, "rate"), sum(num(r, "rate") for r in ranks), measurement + " total")
        assert_close(test, num(total, "speedup"), num(total, "rate") / num(single, "rate"),
                     measurement + " speed-up")
        shown = "rate" if handling else "mb_per_sec"
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
    console = check_sink(test, g.report_lines(g.CONSOLE, nodes, shown_path), console_lines, sink,
                         nodes[0])
    results, _ = check_results(test, results_data, g.report_lines(g.FILE, nodes), nodes[0], console)
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
