"""results-to-csv on results files of real runs: rows, numbers and refusals."""

import csv
import io
import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import benchmark_runs  # noqa: E402
from benchmark_runs import copy_as, file_lines, run_script  # noqa: E402

import orvantic_results  # noqa: E402  (from scripts/, put on the path by benchmark_runs)

MEASUREMENTS = [key for key, _ in orvantic_results.MEASUREMENTS]
HANDLING = ("stream-handling", "descriptor-handling")
RUNS = None
ONE = THREE = FAILED = None


def setUpModule():
    global RUNS, ONE, THREE, FAILED
    RUNS = benchmark_runs.Runs()
    ONE = RUNS.results_file(1, "one")
    THREE = RUNS.results_file(3, "three")

    # A directory where the single-node scratch file belongs makes the tests
    # that use it fail for real; the file inside keeps it from being removed.
    def block_scratch(directory):
        os.makedirs(os.path.join(directory, "data64-windows-mx-single.tmp", "keep"))

    FAILED = RUNS.results_file(1, "failed", prepare=block_scratch)


def tearDownModule():
    RUNS.close()


def to_csv(*args):
    done = run_script("results-to-csv", *args, interpreter=sys.executable)
    if done.returncode != 0:
        raise AssertionError("results-to-csv failed: " + done.stderr)
    return list(csv.DictReader(io.StringIO(done.stdout)))


def close(a, b):
    """Equal up to the six significant digits the report prints."""
    return abs(a - b) <= 2e-5 * max(abs(a), abs(b))


def expected_lines(row):
    """The file lines a row's numbers come from, rebuilt from the row."""
    m, single = row["measurement"], row["scope"] == "single"
    if m in HANDLING:
        if single:
            return ["The system spent: %s Secs." % row["seconds"],
                    "The system could process  %s Files/sec." % row["rate"]]
        head = "Thread:%s @%s" % (row["rank"], row["node"])
        return [head + "The system spent: %s Secs." % row["seconds"],
                head + "The system could process %s Files/sec." % row["rate"]]
    direction = "Write." if m.endswith("write") else ("Read:" if single else "Read.")
    head = "" if single else "Thread:%s @%s " % (row["rank"], row["node"])
    return [head + "The system spent: %s Secs. to %s" % (row["seconds"], direction),
            head + "It was: %s Millions Accesses/sec." % row["rate"],
            "Conventionally, it was: %s MB/sec." % row["mb_per_sec"]]


class RowsOfRealRuns(unittest.TestCase):
    def assert_rows_repeat_the_file(self, path, rows):
        # Each row's lines stand together in the file, and rows follow the
        # file's order: a value taken from the wrong line cannot pass.
        lines = file_lines(path)
        position = 0
        for row in rows:
            if row["scope"] not in ("single", "rank"):
                continue
            block = expected_lines(row)
            for start in range(position, len(lines)):
                if lines[start:start + len(block)] == block:
                    position = start + len(block)
                    break
            else:
                self.fail("%s: no lines %r after line %d" % (path, block, position))

    def test_one_process_gives_the_six_single_node_rows(self):
        rows = to_csv(ONE)
        node, started = orvantic_results.parse_file_name(ONE)
        self.assertEqual([r["measurement"] for r in rows], MEASUREMENTS)
        for row in rows:
            self.assertEqual((row["scope"], row["rank"], row["node"], row["valid"]),
                             ("single", "0", node, "true"))
            self.assertEqual((row["run_node"], row["run_datetime"], row["job_size"]),
                             (node, started.isoformat(), "1"))
        self.assert_rows_repeat_the_file(ONE, rows)

    def test_three_processes_give_a_row_per_worker_and_phase(self):
        rows = to_csv(THREE)
        self.assertEqual(len([r for r in rows if r["scope"] == "single"]), 6)
        for m in MEASUREMENTS:
            ranks = [r["rank"] for r in rows if r["measurement"] == m and r["scope"] == "rank"]
            self.assertEqual(ranks, ["1", "2"], m)
            for scope in ("total", "average"):
                self.assertEqual(len([r for r in rows if r["measurement"] == m
                                      and r["scope"] == scope]), 1, (m, scope))
        self.assert_rows_repeat_the_file(THREE, rows)

    def test_totals_agree_with_the_rank_rows_they_sum(self):
        # Pairs every total with the right phase: the high section prints its
        # totals write first, its rank lines read first.
        rows = to_csv(THREE)
        for m in MEASUREMENTS:
            def pick(scope):
                return [r for r in rows if r["measurement"] == m and r["scope"] == scope]
            (single,), ranks, (total,), (average,) = (
                pick("single"), pick("rank"), pick("total"), pick("average"))
            column = "rate" if m in HANDLING else "mb_per_sec"
            summed = sum(float(r[column]) for r in ranks)
            self.assertTrue(close(float(total[column]), summed), (m, total[column], summed))
            self.assertTrue(close(float(average[column]), summed / len(ranks)), m)
            self.assertTrue(close(float(total["speedup"]),
                                  float(total["rate"]) / float(single["rate"])), m)
            if m not in HANDLING:
                for row in ranks + [single, total]:
                    self.assertTrue(close(float(row["mb_per_sec"]),
                                          float(row["rate"]) * 1e6 / 1048576), (m, row["scope"]))

    def test_several_files_and_output_option(self):
        directory = RUNS.workdir("several")
        out = os.path.join(directory, "all.csv")
        done = run_script("results-to-csv", ONE, THREE, "-o", out, interpreter=sys.executable)
        self.assertEqual((done.returncode, done.stdout), (0, ""), done.stderr)
        with open(out, encoding="utf-8") as handle:
            written = list(csv.DictReader(handle))
        self.assertEqual(written, to_csv(ONE) + to_csv(THREE))
        self.assertEqual([r["job_size"] for r in written], ["1"] * 6 + ["3"] * 30)

    def test_a_windows_file_with_crlf_reads_the_same(self):
        directory = RUNS.workdir("crlf")
        path = os.path.join(directory, os.path.basename(THREE))
        with open(THREE, "rb") as source, open(path, "wb") as target:
            target.write(source.read().replace(b"\n", b"\r\n"))
        self.assertEqual(to_csv(path), to_csv(THREE))

    def test_node_names_with_blanks_at_signs_and_label_words(self):
        # Node names are whatever MPI reports; only the ends of a line can
        # tell where a name stops. All processes of these runs share a node.
        own = orvantic_results.parse_file_name(THREE)[0]
        node = "rack 7 @ lab The system"
        renamed = os.path.basename(THREE).replace(" @ %s @ " % own, " @ %s @ " % node)
        path = copy_as(THREE, RUNS.workdir("names"), renamed,
                       lambda ls: [l.replace(" @" + own, " @" + node, 1)
                                   if l.startswith("Thread:") else l for l in ls])
        rows, original = to_csv(path), to_csv(THREE)
        self.assertEqual({r["node"] for r in rows if r["rank"]}, {node})
        self.assertEqual({r["run_node"] for r in rows}, {node})
        for got, was in zip(rows, original):
            self.assertEqual((got["seconds"], got["rate"], got["mb_per_sec"]),
                             (was["seconds"], was["rate"], was["mb_per_sec"]))

    def test_a_failed_test_is_flagged_by_its_warning(self):
        rows = to_csv(FAILED)
        warnings = [l for l in file_lines(FAILED) if l.startswith("Warning: ")]
        flagged = [r for r in rows if r["valid"] == "false"]
        self.assertTrue(warnings, "the blocked scratch file made no test fail")
        self.assertEqual(len(flagged), len(warnings))
        self.assertEqual([r["warning"] for r in flagged], warnings)
        self.assertEqual(rows[0]["valid"], "false", "stream handling cannot open a directory")
        self.assertEqual({r["warning"] for r in rows if r["valid"] == "true"}, {""})
        self.assert_rows_repeat_the_file(FAILED, rows)


class Refusals(unittest.TestCase):
    def assert_refused(self, *paths, says):
        done = run_script("results-to-csv", *paths, interpreter=sys.executable)
        self.assertNotEqual(done.returncode, 0)
        self.assertEqual(done.stdout, "", "no half table on a refusal")
        self.assertIn("not a results file", done.stderr)
        self.assertIn(says, done.stderr)

    def test_a_good_report_under_another_name(self):
        path = copy_as(THREE, RUNS.workdir("renamed"), "results.txt")
        self.assert_refused(path, says="name")

    def test_files_that_are_not_the_report(self):
        directory = RUNS.workdir("bad")
        name = os.path.basename(THREE)
        console = os.path.join(os.path.dirname(THREE), "console.txt")
        cases = [
            # The console copy of the report is close, but not the file.
            (copy_as(console, RUNS.workdir("console"), name), "line 1:"),
            (copy_as(THREE, RUNS.workdir("cut"), name, lambda ls: ls[:-6]), "ends early"),
            (copy_as(THREE, RUNS.workdir("swapped"), name, swap_first_ranks), "rank 1"),
            (copy_as(THREE, directory, name, lambda ls: [l.replace("Secs. to Write.", "Secs.")
                                                         for l in ls]), "Secs. to Write."),
            (copy_as(ONE, RUNS.workdir("more"), os.path.basename(ONE),
                     lambda ls: ls + ["Multi-Thread Enabled:"]), "end of the file"),
        ]
        for path, says in cases:
            with self.subTest(says=says):
                self.assert_refused(path, says=says)

    def test_one_bad_file_among_good_ones(self):
        path = copy_as(THREE, RUNS.workdir("one-bad"), "notes.txt")
        self.assert_refused(ONE, path, THREE, says="notes.txt")

    def test_a_missing_file(self):
        self.assert_refused(os.path.join(RUNS.root, os.path.basename(ONE)), says="cannot be read")


def swap_first_ranks(lines):
    first = next(i for i, l in enumerate(lines) if l.startswith("Thread:1 @"))
    second = next(i for i, l in enumerate(lines) if l.startswith("Thread:2 @"))
    lines[first], lines[second] = lines[second], lines[first]
    return lines


if __name__ == "__main__":
    unittest.main(verbosity=2)
