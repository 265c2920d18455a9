"""Checks shared by the end-to-end scripts: a whole run's report against the
expected lines, the arithmetic between its printed numbers, and the files the
run leaves behind."""

import os

import harness as h
import report_lines as r

SINGLE_SCRATCH = "data64-windows-mx-single.tmp"
SINGLE_COPY = "data64-windows-mx-single"


def rank_files(rank, node):
    base = "data64-windows-mx-%d @%s" % (rank, node)
    return base + ".tmp", base


def same_numbers_on_both_sinks(test, console, results):
    for key, value in console.items():
        if key in results:
            test.assertEqual(value, results[key], "console and results file differ for %r" % (key,))


def check_single_arithmetic(test, v, counts):
    def num(key):
        return float(v[key][0])

    for name in ("stream", "desc"):
        h.assert_close(test, num(name + "_rate"), counts.handling / num(name + "_secs"), name + " rate")
    for name, work in (("lw", counts.low_accesses), ("lr", counts.low_accesses),
                       ("hr", counts.high_bytes), ("hw", counts.high_bytes)):
        rate = work / num(name + "_secs")
        h.assert_close(test, num(name + "_millions"), rate / 1e6, name + " millions")
        h.assert_close(test, num(name + "_mb"), rate / 1048576, name + " MB")


def check_cluster_arithmetic(test, v, counts, workers, high_size=None):
    """Totals are sums of the printed per-rank rates, averages the totals over
    the worker count, speed-ups the totals over the root's own printed rate.
    high_size: the length the block phases found (the scratch file's)."""
    def num(*key):
        return float(v[key if len(key) > 1 else key[0]][0])

    n = len(workers)
    for phase, divisor in ((1, "stream_rate"), (2, "desc_rate")):
        p = "p%d" % phase
        for k in workers:
            h.assert_close(test, num(p, k, "rate"), counts.handling / num(p, k, "secs"), "%s rank %d rate" % (p, k))
        total = sum(num(p, k, "rate") for k in workers)
        h.assert_close(test, num(p, "total"), total, p + " total")
        h.assert_close(test, num(p, "speedup"), num(p, "total") / num(divisor), p + " speed-up")
        h.assert_close(test, num(p, "average"), num(p, "total") / n, p + " average")
    for phase, divisor in ((3, "lw_millions"), (4, "lr_millions"), (5, "hr_millions"), (6, "hw_millions")):
        p = "p%d" % phase
        size = counts.first_pass if phase < 5 or high_size is None else high_size
        for k in workers:
            rate = (size + size // (k + 1)) / num(p, k, "secs")
            h.assert_close(test, num(p, k, "millions"), rate / 1e6, "%s rank %d millions" % (p, k))
            h.assert_close(test, num(p, k, "mb"), num(p, k, "millions") * 1e6 / 1048576, "%s rank %d MB" % (p, k))
        h.assert_close(test, num(p, "total_millions"), sum(num(p, k, "millions") for k in workers),
                       p + " total millions")
        h.assert_close(test, num(p, "total_mb"), sum(num(p, k, "mb") for k in workers), p + " total MB")
        h.assert_close(test, num(p, "speedup"), num(p, "total_millions") / num(divisor), p + " speed-up")
        h.assert_close(test, num(p, "average_mb"), num(p, "total_mb") / n, p + " average")


def check_run(test, run, counts, nodes):
    """A complete run of len(nodes) ranks: exit status, results-file name and
    path, every line of both sinks, the arithmetic, and the files left.
    Returns the console numbers."""
    ws = run.workspace
    test.assertEqual(run.returncode, 0, "exit status; stderr:\n" + run.stderr)
    test.assertTrue(run.whole_lines, "console ends inside a line")
    name, file_lines = h.read_results(test, ws)
    h.check_results_name(test, name, nodes[0], run)
    report = r.full_report(nodes, ws.cwd + "/" + name)
    console = h.match_lines(test, report.console, run.lines, "console")
    results = h.match_lines(test, report.file, file_lines, "results file")
    same_numbers_on_both_sinks(test, console, results)
    check_single_arithmetic(test, console, counts)
    workers = sorted(k for k in nodes if k > 0)
    if workers:
        check_cluster_arithmetic(test, console, counts, workers)

    expected_files = {name, SINGLE_SCRATCH, SINGLE_COPY}
    for k in workers:
        expected_files.update(rank_files(k, nodes[k]))
    test.assertEqual(set(ws.files()), expected_files, "files left in the run directory")
    for f in expected_files - {name}:
        h.assert_filled(test, os.path.join(ws.cwd, f), counts.first_pass)
    return console
