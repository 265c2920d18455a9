"""compare on series of made-up reports whose ratios are known: medians,
intervals bounded where the exact Mann-Whitney tables put them, verdicts,
runs left out, the same lines as CSV and JSON, environments that differ,
pictures, and input that is not two series of results files."""

import csv
import json
import os
import re
import statistics
import unittest

from testbed import files_left as f
from testbed import harness as h
from orvantic import probes, reading, records, texts
from testbed import report_checks as c
import test_plot_results as plots

TEMPLATE = SPACE = None
# Every scope at the same value: only a line's own runs move it.
SCALE = {("single", "0"): 1, ("rank", "1"): 1, ("rank", "2"): 1, ("total", ""): 1, ("average", ""): 1}
SPREAD = [100, 130, 90, 115, 105, 95, 125, 110, 120, 85]
SCOPES = [("single", "0"), ("rank", "1"), ("rank", "2"), ("total", ""), ("common-window", "")]
# The type of a key's JSON values where its CSV cell is not empty; every
# other key's are strings.
JSON_TYPES = dict([(key, int) for key in ("rank", "runs_a", "left_out_a", "runs_b", "left_out_b")]
                  + [(key, float) for key in ("median_a", "median_b", "ratio", "ci_low", "ci_high")])


def setUpModule():
    global TEMPLATE, SPACE
    SPACE = h.module_workspace(h.SMALL)
    TEMPLATE = reading.parse(f.results_of_run(3))


def series(name, values, broken=None, not_valid=()):
    """A directory of results files, one per value, a second apart; broken:
    {(run index, measurement, scope, rank): text} for numbers printed as
    given; not_valid: the runs whose stream-handling test failed."""
    directory = SPACE.subdir(name)
    for index, value in enumerate(values):
        rows = c.made_up_rows(TEMPLATE, value, SCALE, dict(
            (key[1:], text) for key, text in (broken or {}).items() if key[0] == index))
        if index in not_valid:
            c.with_root_failure(rows, "stream-handling")
        with open(os.path.join(directory, f.results_name(TEMPLATE.node, TEMPLATE.started.timestamp() + index)),
                  "w", encoding="utf-8") as handle:
            handle.write(c.report_text(rows))
    return directory


def compare(*args, **options):
    return h.run_script("compare", *args, **options)


LINE = re.compile(r"  (.{13}) +(\d+) +(\d+) +(\d+) +(\d+) +(\S+) +(\S+) +(\S+) +(\S+ - \S+|too few runs)  (.*)")


def table(done, measurement):
    """The lines of one measurement's table, keyed by scope label: runs and
    left out of A and B, the medians, the ratio, the interval, the verdict."""
    block = done.stdout.split("\n%s, " % measurement)[1].split("\n\n")[0].strip("\n").split("\n")[2:]
    cells = [LINE.fullmatch(line).groups() for line in block]
    return dict((line[0].strip(), list(line[1:])) for line in cells)


def interval(a, b, excluded):
    """The pairwise ratios of b's values to a's, less `excluded` at each end."""
    ratios = sorted(y / x for x in a for y in b)
    return "%.3g" % ratios[excluded - 1], "%.3g" % ratios[-excluded]


class Verdicts(unittest.TestCase):
    def test_faster_slower_and_no_difference(self):
        a = SPREAD[:5]
        cases = [
            # Five runs a side: the tables leave out 2 counts of 252 on each
            # side, so the 3rd smallest and largest of 25 ratios bound it.
            ("faster", [v * 2 for v in SPREAD[5:10]], 3, "B faster"),
            ("slower", [v / 2 for v in SPREAD[5:10]], 3, "B slower"),
            ("same", SPREAD[5:10], 3, "no difference shown at this spread"),
            # Six against eight: a critical count of 8, the 9th of 48 ratios.
            ("unequal", [v * 1.3 for v in SPREAD[2:10]], 9, None),
        ]
        a_dir = series("a", a)
        for name, b, excluded, says in cases:
            with self.subTest(name):
                first = SPREAD[:6] if name == "unequal" else a
                done = compare(series("a-" + name, first) if name == "unequal" else a_dir, series(name, b))
                self.assertEqual(done.returncode, 0, done.stderr)
                lines = table(done, "stream-handling")
                self.assertEqual(list(lines), ["single node", "rank 1", "rank 2", "total", "common window"])
                low, high = interval(first, b, excluded)
                ratio = statistics.median(b) / statistics.median(first)
                self.assertEqual(lines["single node"], [
                    str(len(first)), "0", str(len(b)), "0", "%g" % statistics.median(first),
                    "%g" % statistics.median(b), "%.3g" % ratio, "%s - %s" % (low, high),
                    says or ("B faster" if float(low) > 1 else "no difference shown at this spread")])
                self.assertEqual(lines["rank 2"], lines["single node"], "every scope made the same")
        # Bounds that three digits would round to 1 keep the side they lie on.
        barely = compare(series("a-barely", [100] * 5), series("barely", [100.01, 100.02, 100.03, 100.04, 100.05]))
        self.assertEqual(table(barely, "stream-handling")["total"][6:], ["1", "1.0001 - 1.0005", "B faster"])

    def test_too_few_runs_and_runs_left_out(self):
        # Three runs a side allow no 95 % interval. In B, a run whose test
        # failed is left out whole, and one rank 2 timed at zero only from
        # its own line and the common window that adds it.
        few = compare(series("few-a", SPREAD[:3]), series("few-b", [v * 10 for v in SPREAD[:3]]))
        self.assertEqual(few.returncode, 0, few.stderr)
        self.assertEqual(table(few, "low-read")["total"][7:], ["too few runs", "no difference shown at this spread"])
        b = series("left-out", SPREAD[:6], broken={(1, "high-write", "rank", "2"): "inf"}, not_valid=[4])
        done = compare(series("kept", SPREAD[:5]), b)
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertIn("B: %s, 6 run(s), 1 left out\n  left out %s: 2 rate(s) in the results file not valid; "
                      "the first warning: %s" % (b, sorted(os.listdir(b))[4], c.ROOT_FAILED), done.stdout)
        lines = table(done, "high-write")
        self.assertEqual([lines[scope][:4] for scope in lines],
                         [["5", "0", "5", "1"], ["5", "0", "5", "1"], ["5", "0", "4", "2"], ["5", "0", "5", "1"],
                          ["5", "0", "4", "2"]])

    def test_a_run_that_ended_early_is_left_out_and_told(self):
        # Cut before the last lines: every number it has stays out, and
        # the status says a file was not whole.
        a = series("whole", SPREAD[:5])
        b = series("one-cut", SPREAD[:5])
        cut = os.path.join(b, sorted(os.listdir(b))[2])
        f.copy_as(cut, b, os.path.basename(cut), lambda ls: ls[:-4])
        done = compare(a, b)
        self.assertEqual(done.returncode, 1, done.stderr)
        self.assertTrue(done.stderr.startswith("compare: %s: the report ends early after line " % cut), done.stderr)
        self.assertIn("B: %s, 5 run(s), 1 left out\n  left out %s: the report ends early after line "
                      % (b, os.path.basename(cut)), done.stdout)
        self.assertEqual(table(done, "stream-handling")["single node"][:4], ["5", "0", "4", "1"])


class Outputs(unittest.TestCase):
    def test_csv_json_environments_and_pictures(self):
        a, b = series("out-a", SPREAD[:5]), series("out-b", [v * 2 for v in SPREAD[5:]])
        record = records.record(a, probes.Unknown("none here"))
        records.write(os.path.join(a, "repeat-runs-1.environment.txt"), record)
        out = SPACE.subdir("outputs")
        paths = [os.path.join(out, name) for name in ("c.csv", "c.json", "png")]
        done = compare("--csv", paths[0], "--json", paths[1], "--plots", paths[2], a, b)
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertIn("No environment record beside series B: environments not compared.", done.stdout)

        with open(paths[0], encoding="utf-8") as handle:
            rows = list(csv.DictReader(handle))
        with open(paths[1], encoding="utf-8") as handle:
            c.check_json_of_csv(self, json.load(handle, object_pairs_hook=list), rows, JSON_TYPES)
        self.assertEqual([(r["measurement"], r["scope"], r["rank"]) for r in rows],
                         [(m, scope, rank) for m, _ in texts.MEASUREMENTS for scope, rank in SCOPES])
        self.assertEqual({r["verdict"] for r in rows}, {"B faster"})
        self.assertEqual(rows[0]["ratio"], table(done, "stream-handling")["single node"][6])

        plots.assert_pictures(self, paths[2], [line for line in done.stdout.split("\n") if line.startswith(paths[2])])

        # Both records: the fields that differ, and no others.
        records.write(os.path.join(b, "repeat-runs-2.environment.txt"), dict(record, kernel="Other 1.0"))
        done = compare(a, b)
        self.assertIn("differ in:\n  kernel: A %s | B Other 1.0\n\n" % record["kernel"], done.stdout)

    def test_a_reader_that_stops_early_and_a_python_without_sched_getaffinity(self):
        # compare A B | head, and on macOS: status 0, nothing on the error stream.
        a, b = series("where-a", SPREAD[:4]), series("where-b", SPREAD[4:8])
        done = h.into_closed_pipe(compare, a, b)
        self.assertEqual((done.returncode, done.stderr), (0, ""))
        done = compare(a, b, env=h.without_sched_getaffinity())
        self.assertEqual((done.returncode, done.stderr), (0, ""))
        self.assertEqual(table(done, "low-read")["single node"][:4], ["4", "0", "4", "0"])


class Refusals(unittest.TestCase):
    def assert_refused(self, *args, says):
        done = compare(*args)
        self.assertEqual(done.returncode, 1)
        self.assertEqual(done.stdout, "")
        self.assertIn(says, done.stderr)

    def test_what_is_not_two_series_of_results_files(self):
        good = series("good", SPREAD[:4])
        first = os.path.join(good, sorted(os.listdir(good))[0])
        one = os.path.join(SPACE.subdir("one process"), f.results_name(TEMPLATE.node, 0))
        with open(one, "w", encoding="utf-8") as handle:
            handle.write(c.report_text([dict(r, job_size="1") for r in c.cells_of(TEMPLATE) if r["scope"] == "single"]))
        self.assert_refused("--a", first, "--b", first, f.copy_as(first, SPACE.subdir("notes"), "notes.txt",
                                                                 lambda ls: ["notes"] + ls), says="notes.txt: line 1:")
        self.assert_refused(good, SPACE.subdir("empty"), says="holds no results file")
        self.assert_refused("--a", first, one, "--b", first, says="holds jobs of 1 and 3 processes")


if __name__ == "__main__":
    unittest.main(verbosity=2)
