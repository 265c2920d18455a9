"""results-to-csv on results files of real runs: rows, numbers and refusals.
The rows of a file, written back through the report grammar, must give the
file again line for line: a value taken from the wrong line cannot pass."""

import csv
import io
import os
import sys
import unittest

import files_left as f
import harness as h
from report_checks import g

MEASUREMENTS = [key for key, _ in g.MEASUREMENTS]
SPACE = ONE = THREE = FAILED = None


def setUpModule():
    global SPACE, ONE, THREE, FAILED
    SPACE = h.module_workspace(h.SMALL)
    ONE = f.results_of_run(1)
    THREE = f.results_of_run(3)

    # A directory where the single-node scratch file belongs makes the tests
    # that use it fail for real; the file inside keeps it from being removed.
    def block_scratch(directory):
        os.makedirs(os.path.join(directory, g.SINGLE_SCRATCH, "keep"))

    FAILED = f.results_of_run(1, prepare=block_scratch)


def to_csv(*args):
    done = h.run_script("results-to-csv", *args, interpreter=sys.executable)
    if done.returncode != 0:
        raise AssertionError("results-to-csv failed: " + done.stderr)
    return list(csv.DictReader(io.StringIO(done.stdout)))


class RowsOfRealRuns(unittest.TestCase):
    def assert_rows_repeat_the_file(self, path, rows):
        self.assertEqual(g.render_file(rows), f.text_lines(path))

    def test_one_process_gives_the_six_single_node_rows(self):
        rows = to_csv(ONE)
        node, started = g.parse_file_name(ONE)
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

    def test_several_files_and_output_option(self):
        out = os.path.join(SPACE.subdir("several"), "all.csv")
        done = h.run_script("results-to-csv", ONE, THREE, "-o", out, interpreter=sys.executable)
        self.assertEqual((done.returncode, done.stdout), (0, ""), done.stderr)
        with open(out, encoding="utf-8") as handle:
            written = list(csv.DictReader(handle))
        self.assertEqual(written, to_csv(ONE) + to_csv(THREE))
        self.assertEqual([r["job_size"] for r in written], ["1"] * 6 + ["3"] * 30)

    def test_a_windows_file_with_crlf_reads_the_same(self):
        path = os.path.join(SPACE.subdir("crlf"), os.path.basename(THREE))
        with open(THREE, "rb") as source, open(path, "wb") as target:
            target.write(source.read().replace(b"\n", b"\r\n"))
        self.assertEqual(to_csv(path), to_csv(THREE))

    def test_node_names_with_blanks_at_signs_and_label_words(self):
        # Node names are whatever MPI reports; only the ends of a line can
        # tell where a name stops. All processes of these runs share a node.
        own = g.parse_file_name(THREE)[0]
        node = "rack 7 @ lab The system"
        renamed = os.path.basename(THREE).replace(" @ %s @ " % own, " @ %s @ " % node)
        path = f.copy_as(THREE, SPACE.subdir("names"), renamed,
                       lambda ls: [l.replace(" @" + own, " @" + node, 1)
                                   if l.startswith("Thread:") else l for l in ls])
        rows, original = to_csv(path), to_csv(THREE)
        self.assertEqual({r["node"] for r in rows if r["rank"]}, {node})
        self.assertEqual({r["run_node"] for r in rows}, {node})
        for got, was in zip(rows, original):
            self.assertEqual((got["seconds"], got["rate"], got["mb_per_sec"]),
                             (was["seconds"], was["rate"], was["mb_per_sec"]))
        self.assert_rows_repeat_the_file(path, rows)

    def test_a_failed_test_is_flagged_by_its_warning(self):
        rows = to_csv(FAILED)
        warnings = [l for l in f.text_lines(FAILED) if l.startswith("Warning: ")]
        flagged = [r for r in rows if r["valid"] == "false"]
        self.assertTrue(warnings, "the blocked scratch file made no test fail")
        self.assertEqual([r["warning"] for r in flagged], warnings)
        self.assertEqual(rows[0]["valid"], "false", "stream handling cannot open a directory")
        self.assertLessEqual({r["warning"] for r in rows if r["valid"] == "true"}, {""})
        self.assert_rows_repeat_the_file(FAILED, rows)


class Refusals(unittest.TestCase):
    def assert_refused(self, *paths, says):
        done = h.run_script("results-to-csv", *paths, interpreter=sys.executable)
        self.assertNotEqual(done.returncode, 0)
        self.assertEqual(done.stdout, "", "no half table on a refusal")
        self.assertIn("not a results file", done.stderr)
        self.assertIn(says, done.stderr)

    def test_a_good_report_under_another_name(self):
        path = f.copy_as(THREE, SPACE.subdir("renamed"), "results.txt")
        self.assert_refused(path, says="name")

    def test_files_that_are_not_the_report(self):
        name = os.path.basename(THREE)
        console = os.path.join(os.path.dirname(os.path.dirname(THREE)), "console.txt")
        cases = [
            # The console copy of the report is close, but not the file.
            (f.copy_as(console, SPACE.subdir("console"), name), "line 1:"),
            (f.copy_as(THREE, SPACE.subdir("cut"), name, lambda ls: ls[:-6]), "ends early"),
            (f.copy_as(THREE, SPACE.subdir("swapped"), name, swap_first_ranks), "rank 1"),
            (f.copy_as(THREE, SPACE.subdir("bad"), name, lambda ls: [l.replace("Secs. to Write.", "Secs.")
                                                              for l in ls]), "Secs. to Write."),
            (f.copy_as(ONE, SPACE.subdir("more"), os.path.basename(ONE),
                     lambda ls: ls + ["Multi-Thread Enabled:"]), "more than the report has"),
            (f.copy_as(THREE, SPACE.subdir("too many"), name,
                     lambda ls: ls[:2] + ["Thread(s): %d" % (g.MAX_JOB_SIZE + 1)] + ls[3:]), "processes"),
        ]
        for path, says in cases:
            with self.subTest(says=says):
                self.assert_refused(path, says=says)

    def test_one_bad_file_among_good_ones(self):
        path = f.copy_as(THREE, SPACE.subdir("one-bad"), "notes.txt")
        self.assert_refused(ONE, path, THREE, says="notes.txt")

    def test_a_missing_file(self):
        self.assert_refused(os.path.join(SPACE.root, os.path.basename(ONE)), says="cannot be read")


def swap_first_ranks(lines):
    first = next(i for i, l in enumerate(lines) if l.startswith("Thread:1 @"))
    second = next(i for i, l in enumerate(lines) if l.startswith("Thread:2 @"))
    lines[first], lines[second] = lines[second], lines[first]
    return lines


if __name__ == "__main__":
    unittest.main(verbosity=2)
