"""results-to-csv on results files of real runs: rows, numbers and refusals.
The rows of a file, written back through the report grammar, must give the
file again line for line: a value taken from the wrong line cannot pass.
Reports cut short keep the rows their lines hold whole, and nothing more.
Where the warnings about workers go in the report is pinned here too, as
one masked sequence of the grammar's lines."""

import csv
import io
import json
import os
import re
import subprocess
import sys
import unittest

from testbed import files_left as f
from testbed import harness as h
from orvantic import grammar, measured, reading, records, texts
from testbed import report_checks as c
from testbed import report_expectations as expect

MEASUREMENTS = [key for key, _ in texts.MEASUREMENTS]
SPACE = ONE = THREE = FAILED = WARNED = None
# The type of a key's JSON values where its CSV cell is not empty; every
# other key's are strings.
JSON_TYPES = {"job_size": int, "rank": int, "seconds": float, "rate": float, "mb_per_sec": float,
              "speedup": float, "valid": bool, "ended_early": bool}


def setUpModule():
    global SPACE, ONE, THREE, FAILED, WARNED
    SPACE = h.module_workspace(h.SMALL)
    ONE = f.results_of_run(1)
    THREE = f.results_of_run(3)
    WARNED = c.warned_copy(THREE, SPACE.subdir("warned"))

    # A directory where the single-node scratch file belongs makes the tests
    # that use it fail for real; the file inside keeps it from being removed.
    def block_scratch(directory):
        os.makedirs(os.path.join(directory, texts.SINGLE_SCRATCH, "keep"))

    FAILED = f.results_of_run(1, prepare=block_scratch)


def converted(*args):
    done = h.run_script("results-to-csv", *args, interpreter=sys.executable)
    if done.returncode != 0:
        raise AssertionError("results-to-csv failed: " + done.stderr)
    return done.stdout


def to_csv(*args):
    return list(csv.DictReader(io.StringIO(converted(*args))))


class RowsOfRealRuns(unittest.TestCase):
    def assert_rows_repeat_the_file(self, path, rows):
        self.assertEqual(expect.render_file(rows), f.text_lines(path))

    def test_one_process_gives_the_six_single_node_rows(self):
        rows = to_csv(ONE)
        node, started = reading.parse_file_name(ONE)
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
            for scope in ("total", "common-window", "average"):
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
        self.assertEqual([r["job_size"] for r in written], ["1"] * 6 + ["3"] * 36)

    def test_json_holds_the_rows_of_the_csv(self):
        # The keys in the columns' order, every value the CSV cell's as its
        # key's type; null for an empty cell and for inf, which a rate timed
        # at zero prints and a JSON number cannot hold.
        infinite = f.copy_as(THREE, SPACE.subdir("inf"), os.path.basename(THREE), with_rank_1_rate_infinite)
        objects = json.loads(converted("--json", ONE, WARNED, infinite), object_pairs_hook=list)
        rows = to_csv(ONE, WARNED, infinite)
        self.assertEqual([[key for key, _ in o] for o in objects], [list(measured.COLUMNS)] * len(rows))
        self.assertIn("inf", [row["rate"] for row in rows])
        c.check_json_of_csv(self, objects, rows, JSON_TYPES)

    def test_a_reader_that_stops_early_ends_it_quietly(self):
        # As "results-to-csv --json FILE | head -1" leaves it: no traceback.
        for args in (["--json", THREE], [THREE]):
            done = h.into_closed_pipe(h.run_script, "results-to-csv", *args, interpreter=sys.executable)
            self.assertEqual((done.returncode, done.stderr), (0, ""), args)

    def test_the_common_window_adds_the_work_over_the_slowest_time(self):
        # Each worker's work is the build's count, not what its rate and
        # time say, so a wrong divisor or a rank left out shows; the result
        # is never above the report's total, which adds shorter spans' rates.
        rows = to_csv(THREE)
        for m in MEASUREMENTS:
            ranks = [r for r in rows if r["measurement"] == m and r["scope"] == "rank"]
            (window,) = [r for r in rows if r["measurement"] == m and r["scope"] == "common-window"]
            (total,) = [r for r in rows if r["measurement"] == m and r["scope"] == "total"]
            slowest = max(ranks, key=lambda r: float(r["seconds"]))
            self.assertEqual((window["seconds"], window["valid"], window["speedup"]), (slowest["seconds"], "true", ""))
            if m in texts.HANDLING:
                work = {"rate": h.SMALL_COUNTS.handling * len(ranks)}
            else:
                moved = sum(h.SMALL_COUNTS.first_pass * (1 + 1 / (int(r["rank"]) + 1)) for r in ranks)
                work = {"rate": moved / 1e6, "mb_per_sec": moved / 1048576}
            for field, amount in work.items():
                c.assert_close(self, float(window[field]), amount / float(slowest["seconds"]), (m, field))
                self.assertLessEqual(float(window[field]), float(total[field]) * (1 + 2e-5), (m, field))

    def test_a_windows_file_with_crlf_reads_the_same(self):
        path = os.path.join(SPACE.subdir("crlf"), os.path.basename(THREE))
        with open(THREE, "rb") as source, open(path, "wb") as target:
            target.write(source.read().replace(b"\n", b"\r\n"))
        self.assertEqual(to_csv(path), to_csv(THREE))

    def test_node_names_with_blanks_at_signs_and_label_words(self):
        # Node names are whatever MPI reports; only the ends of a line can
        # tell where a name stops. All processes of these runs share a node.
        own = reading.parse_file_name(THREE)[0]
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

    def test_a_workers_warnings_flag_its_rows_and_the_totals_that_add_them(self):
        # Exactly the rows those warnings concern are flagged, each with its
        # text; every number stays what the run printed.
        rows = to_csv(WARNED)
        self.assertEqual(rows, c.with_worker_warnings(to_csv(THREE)))
        self.assertEqual(len([r for r in rows if r["valid"] == "false"]), 6 + 1 + 6 + 6 + 6)
        self.assert_rows_repeat_the_file(WARNED, rows)


def run_tool(tool, *args):
    """One of the tools that read results files, by its own interpreter; the
    timeout turns a tool waiting on a named pipe into a failure, not a hang."""
    return subprocess.run([os.path.join(h.SCRIPTS, tool)] + list(args), stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, text=True, timeout=60, check=False)


def tools_given(space, given):
    """Every tool that reads results files, with what it is given and where
    it writes; compare has it on both sides."""
    return [("results-to-csv", [given]), ("plot-results", ["-d", space, given]), ("slow-nodes", [given]),
            ("results-page", ["-o", os.path.join(space, "page.html"), given]), ("compare", [given, given])]


class Refusals(unittest.TestCase):
    def assert_refused(self, *paths, says):
        done = h.run_script("results-to-csv", *paths, interpreter=sys.executable)
        self.assertNotEqual(done.returncode, 0)
        self.assertEqual(done.stdout, "", "no half table on a refusal")
        self.assertIn("not a results file", done.stderr)
        self.assertIn(says, done.stderr)

    def test_a_good_report_under_another_name(self):
        # A copy, or a mail attachment whose blanks became underscores: read
        # by its content, without the node and start time its name held.
        whole = [dict(row, run_node="", run_datetime="", node="" if row["scope"] == "single" else row["node"])
                 for row in to_csv(THREE)]
        for name in ("slow1.txt", os.path.basename(THREE).replace(" ", "_")):
            path = f.copy_as(THREE, SPACE.subdir("renamed " + name), name)
            done = h.run_script("results-to-csv", path, interpreter=sys.executable)
            self.assertEqual(done.returncode, 0, done.stderr)
            self.assertEqual(list(csv.DictReader(io.StringIO(done.stdout))), whole)
            self.assertEqual(done.stderr, "results-to-csv: %s: the name does not have the results-file form '%s'; "
                             "the run's node and start time are unknown\n" % (path, reading.FILE_NAME_FORM))
            self.assertEqual([o["run_node"] for o in json.loads(converted("--json", path))], [None] * len(whole))
        # Every tool reads it so, and says so once.
        space = SPACE.subdir("renamed, every tool")
        for tool, options in tools_given(space, path):
            with self.subTest(tool=tool):
                done = run_tool(tool, *options)
                self.assertEqual(done.returncode, 0, done.stderr)
                self.assertEqual(done.stderr.count("%s: the name does not have" % path), 1 + (tool == "compare"))

    def test_a_series_takes_only_names_of_the_results_form(self):
        # As results-to-csv writes a file's CSV beside it, and an editor its
        # backup: passed over, and told in one line.
        series = SPACE.subdir("series with its CSV")
        results = f.copy_as(THREE, series, os.path.basename(THREE))
        for beside in (results[:-len(".txt")] + ".csv", results + "~"):
            converted(results, "-o", beside)
        passed_over = "%s: passed over 2 name(s) not in the results-file form '%s': %s, %s\n" % (
            series, reading.FILE_NAME_FORM, repr(os.path.basename(results)[:-len(".txt")] + ".csv"),
            repr(os.path.basename(results) + "~"))
        for tool in ("slow-nodes", "results-page", "compare"):
            with self.subTest(tool=tool):
                done = run_tool(tool, *dict(tools_given(series, series))[tool])
                self.assertEqual(done.returncode, 0, done.stderr)
                self.assertEqual(done.stderr, "%s: %s" % (tool, passed_over) * (1 + (tool == "compare")))

    def test_what_no_tool_reads(self):
        # Each given as a file, or inside a directory given as a series: a
        # line naming the tool and the path, status 1, within the timeout.
        space = SPACE.subdir("unreadable")
        name = os.path.basename(THREE)
        fifo_directory, zero_directory = os.path.join(space, "fifo"), os.path.join(space, "zero")
        os.makedirs(fifo_directory)
        os.makedirs(zero_directory)
        os.mkfifo(os.path.join(fifo_directory, name))
        os.symlink("/dev/zero", os.path.join(zero_directory, name))
        node = reading.parse_file_name(THREE)[0]
        first_worker = first(f.text_lines(THREE), "Thread:1 @")
        escaped = f.copy_as(THREE, SPACE.subdir("escape"), name,
                            lambda ls: edited(ls, "Thread:1 @", node, node + "\x1b[31m"))
        inputs = [(os.path.join(fifo_directory, name), "is a named pipe, not a regular file"),
                  (os.path.join(zero_directory, name), "is a device, not a regular file"),
                  (os.path.join(space, name), "does not exist"),
                  (escaped, "line %d: holds the control character '\\x1b'" % (first_worker + 1)),
                  (fifo_directory, "is a named pipe"), (zero_directory, "is a device")]
        for given, says in inputs:
            for tool, args in tools_given(space, given):
                # A series is no input of the tools of single files.
                series_refused = os.path.isdir(given) and tool in ("results-to-csv", "plot-results")
                with self.subTest(tool=tool, given=given):
                    done = run_tool(tool, *args)
                    self.assertEqual((done.returncode, done.stdout), (1, ""))
                    self.assertRegex(done.stderr, "^%s: not a results file: %s.*: %s[^\n]*\n$" % (
                        tool, re.escape(given), re.escape("is a directory" if series_refused else says)))

    def test_outputs_that_cannot_be_written(self):
        space = SPACE.subdir("outputs")
        missing = os.path.join(space, "missing", "out")
        record = records.beside(missing)  # repeat-runs writes it first, beside its CSV
        cases = [("results-to-csv", ["-o", missing, THREE], missing), ("results-to-csv", ["-o", space, THREE], space),
                 ("results-page", ["-o", missing, THREE], missing), ("results-page", ["-o", space, THREE], space),
                 ("plot-results", ["-d", THREE, THREE], THREE),
                 ("compare", ["--a", THREE, "--b", THREE, "--csv", missing], missing),
                 ("compare", ["--a", THREE, "--b", THREE, "--json", space], space),
                 ("repeat-runs", ["--csv", missing, "1", space, "--", "false"], record),
                 ("repeat-runs", ["--csv", space, "1", space, "--", "false"], space)]
        for tool, args, path in cases:
            with self.subTest(tool=tool, args=args):
                done = run_tool(tool, *args)
                self.assertEqual(done.returncode, 1)
                self.assertRegex(done.stderr, "^%s: cannot write %s: [^\n]+\n$" % (tool, re.escape(path)))

    def test_files_that_are_not_the_report(self):
        name = os.path.basename(THREE)
        console = os.path.join(os.path.dirname(os.path.dirname(THREE)), "console.txt")
        cases = [
            # The console copy of the report is close, but not the file.
            (f.copy_as(console, SPACE.subdir("console"), name), "line 1:"),
            # A report may end early, but only with its own stop line.
            (f.copy_as(THREE, SPACE.subdir("cut"), name, lambda ls: ls[:-6] + [STOPPED_BY_NOBODY]),
             "line %d:" % (len(f.text_lines(THREE)) - 5)),
            (f.copy_as(THREE, SPACE.subdir("stop inside"), name, lambda ls: ls[:9] + [STOPPED_AT_START] + ls[9:]),
             "line 10:"),
            (f.copy_as(THREE, SPACE.subdir("swapped"), name, swap_first_ranks), "rank 1"),
            (f.copy_as(THREE, SPACE.subdir("bad"), name, lambda ls: [l.replace("Secs. to Write.", "Secs.")
                                                              for l in ls]), "Secs. to Write."),
            (f.copy_as(ONE, SPACE.subdir("more"), os.path.basename(ONE),
                     lambda ls: ls + ["Multi-Thread Enabled:"]), "more than the report has"),
            (f.copy_as(THREE, SPACE.subdir("too many"), name,
                     lambda ls: ls[:2] + ["Thread(s): %d" % (texts.MAX_JOB_SIZE + 1)] + ls[3:]), "processes"),
            # Warnings about workers: each at its place, with counts that
            # agree with the rank lines above and the job's worker count.
            (f.copy_as(WARNED, SPACE.subdir("place after failure"), name,
                       lambda ls: swapped(ls, "Warning: rank 1 on ")), "expected 'Thread:2 @"),
            (f.copy_as(WARNED, SPACE.subdir("other node"), name,
                       lambda ls: edited(ls, "Warning: rank 1 on ", " on ", " on elsewhere ")), "different nodes"),
            (f.copy_as(WARNED, SPACE.subdir("rank warning gone"), name,
                       lambda ls: without(ls, c.RANK_2_FAILED)), "counts 2 low-write rate(s) not valid"),
            (f.copy_as(WARNED, SPACE.subdir("wrong phase"), name,
                       lambda ls: edited(ls, c.RANK_2_FAILED, "phase 3", "phase 4")), "Secs. to Read."),
            (f.copy_as(WARNED, SPACE.subdir("workers"), name,
                       lambda ls: edited(ls, "Warning: 1 of the 2 workers'", "of the 2", "of the 3")),
             "of the 2 workers' rates added in this total"),
            (f.copy_as(WARNED, SPACE.subdir("average warning gone"), name,
                       lambda ls: without(ls, c.AVERAGE_NOT_VALID % 1)), "rates in this average"),
            (f.copy_as(THREE, SPACE.subdir("warning of nothing"), name,
                       lambda ls: after(ls, "Multi-Thread Improvements: ", c.TOTAL_NOT_VALID % 1)),
             "the rank lines above warn of 0"),
        ]
        for path, says in cases:
            with self.subTest(says=says):
                self.assert_refused(path, says=says)

    def test_one_bad_file_among_good_ones(self):
        path = f.copy_as(THREE, SPACE.subdir("one-bad"), "notes.txt", lambda ls: ["notes"] + ls)
        self.assert_refused(ONE, path, THREE, says="notes.txt")
        self.assert_refused("--json", ONE, path, says="notes.txt")

    def test_a_missing_file_and_one_without_a_whole_line(self):
        self.assert_refused(os.path.join(SPACE.root, os.path.basename(ONE)), says="does not exist")
        cut = os.path.join(SPACE.subdir("no whole line"), os.path.basename(ONE))
        with open(cut, "w", encoding="utf-8") as handle:
            handle.write(texts.TITLE)
        self.assert_refused(cut, says="holds no whole line")


STOPPED_AT_START = texts.STOPPED + "signal SIGTERM (15) at the start of the report" + texts.STOP_END
STOPPED_BY_NOBODY = texts.STOPPED + "nobody at the start of the report" + texts.STOP_END


def key(row):
    return row["measurement"], row["scope"], row["rank"]


class EarlyEnds(unittest.TestCase):
    """Reports cut from a real one at whole lines or inside one, with and
    without the stop line: the rows of the lines before the cut with the
    whole report's numbers, no row of a group of lines the cut splits, no
    total or common window of a phase whose totals are not printed, no
    validity where the warning that would follow is cut off; ended_early on
    every row, exit status 1, and where the file stops and why on standard
    error."""

    @classmethod
    def setUpClass(cls):
        cls.lines = f.text_lines(THREE)
        cls.whole = to_csv(THREE)

    def after(self, start, nth=1, end=""):
        """How many lines there are up to the nth that begins with start and
        ends with end."""
        return [i for i, line in enumerate(self.lines, 1) if line.startswith(start) and line.endswith(end)][nth - 1]

    def cut(self, name, count, end=""):
        """THREE's first count lines, then end: a piece of a line, or a line."""
        path = os.path.join(SPACE.subdir("cut " + name), os.path.basename(THREE))
        with open(path, "w", encoding="utf-8", newline="") as handle:
            handle.write("".join(line + "\n" for line in self.lines[:count]) + end)
        return path

    def kept(self, wanted, unsettled=()):
        """The whole report's rows that `wanted(row)` keeps, as a report
        that ends early has them: the rows keyed in `unsettled` with no
        validity."""
        return [dict(row, ended_early="true", valid="" if key(row) in unsettled else row["valid"])
                for row in self.whole if wanted(row)]

    def assert_rows(self, path, expected, *says):
        done = h.run_script("results-to-csv", path, interpreter=sys.executable)
        self.assertEqual(done.returncode, 1, done.stderr)
        self.assertEqual(list(csv.DictReader(io.StringIO(done.stdout))), expected)
        self.assertEqual(done.stderr.split("\n")[:-1],
                         ["results-to-csv: %s: the report ends early after line %s" % (path, "".join(says))])

    def test_cut_at_whole_lines(self):
        single = lambda row: row["scope"] == texts.SCOPE_SINGLE
        # Inside the single-node part: the low write's first line of three.
        low_write = self.after("The system spent: ", end="Secs. to Write.")
        self.assert_rows(self.cut("single", low_write), self.kept(lambda r: single(r) and r["measurement"] in
                                                                   texts.HANDLING),
                         "%d, before 'It was: <number> Millions Accesses/sec.'" % low_write)

        # After a worker's lines: the warnings that may follow them are cut off.
        rank_1 = self.after("Thread:1 @", 2)
        first_phase = ("stream-handling", texts.SCOPE_RANK, "1")
        kept = self.kept(lambda r: single(r) or key(r) == first_phase, unsettled=[first_phase])
        self.assert_rows(self.cut("worker", rank_1), kept,
                         "%d, before 'Thread:2 @<node of rank 2>The system spent: <number> Secs.'" % rank_1)

        # The same, where the root was told to terminate.
        stop = texts.STOPPED + "signal SIGTERM (15) during cluster phase 1 (stream handling), waiting for rank 2"
        self.assert_rows(self.cut("stopped", rank_1, stop + texts.STOP_END + "\n"), kept,
                         "%d, before 'Thread:2 @<node of rank 2>The system spent: <number> Secs.'; "
                         "the run was stopped by signal SIGTERM (15) during cluster phase 1 (stream handling), "
                         "waiting for rank 2" % rank_1)

    def test_cut_at_a_total(self):
        # All ranks of the low phases have reported, but their totals are not
        # printed, or half: no total, no common window.
        before = self.after("Overall, It was: ") - 1
        kept = self.kept(lambda r: r["scope"] == texts.SCOPE_SINGLE or r["measurement"] in texts.HANDLING
                         or r["scope"] == texts.SCOPE_RANK and r["measurement"] in ("low-write", "low-read"))
        self.assertEqual([key(r) for r in kept if r["scope"] == texts.SCOPE_TOTAL],
                         [(m, texts.SCOPE_TOTAL, "") for m in texts.HANDLING])
        self.assert_rows(self.cut("total", before + 1), kept,
                         "%d, before 'Conventionally, total writing speed was: <number> MB/sec.'" % (before + 1))
        self.assert_rows(self.cut("in a total", before, "Overall, It was: 0."), kept,
                         "%d, before 'Overall, It was: <number> Millions Accesses/sec.to Write'; line %d is cut "
                         "short and left out" % (before, before + 1))

    def test_json_says_so_too(self):
        rank_1 = self.after("Thread:1 @", 2)
        path = self.cut("json", rank_1)
        done = h.run_script("results-to-csv", "--json", path, interpreter=sys.executable)
        self.assertEqual(done.returncode, 1, done.stderr)
        objects = json.loads(done.stdout, object_pairs_hook=list)
        c.check_json_of_csv(self, objects, self.kept(lambda r: r["scope"] == texts.SCOPE_SINGLE or key(r) == (
            "stream-handling", texts.SCOPE_RANK, "1"), unsettled=[("stream-handling", texts.SCOPE_RANK, "1")]),
                            JSON_TYPES)
        self.assertEqual({dict(o)["ended_early"] for o in objects}, {True})
        self.assertIsNone(dict(objects[-1])["valid"])


def with_rank_1_rate_infinite(lines):
    """Rank 1's first rate as a division by a zero time prints it."""
    i = next(i for i, l in enumerate(lines) if l.startswith("Thread:1 @") and " could process " in l)
    lines[i] = re.sub(r" could process \S+ ", " could process inf ", lines[i])
    return lines


def swap_first_ranks(lines):
    first = next(i for i, l in enumerate(lines) if l.startswith("Thread:1 @"))
    second = next(i for i, l in enumerate(lines) if l.startswith("Thread:2 @"))
    lines[first], lines[second] = lines[second], lines[first]
    return lines


def first(lines, start):
    return next(i for i, l in enumerate(lines) if l.startswith(start))


def swapped(lines, start):
    """The first line that begins with start and the one after it swapped."""
    i = first(lines, start)
    lines[i], lines[i + 1] = lines[i + 1], lines[i]
    return lines


def edited(lines, start, old, new):
    i = first(lines, start)
    lines[i] = lines[i].replace(old, new, 1)
    return lines


def without(lines, start):
    del lines[first(lines, start)]
    return lines


def after(lines, start, text):
    lines.insert(first(lines, start) + 1, text)
    return lines


class WarningPlaces(unittest.TestCase):
    """Rank 1 works outside the root's start directory and its first phase
    failed, rank 2's low write failed: the cluster section of the results
    file, numbers and counts of failed operations masked."""

    NODES = {0: "n", 1: "n", 2: "n"}
    FAILING = {("stream-handling", 1), ("low-write", 2)}
    MISPLACED = {1: ("/w", "/r")}
    PLACE = "Warning: rank 1 on n works in /w, not in the root's start directory /r; its rates are not valid."
    FAILED_1 = ("Warning: rank 1, phase 1: <count> file operations failed; "
                "the rate sent for this phase is not valid.")
    FAILED_2 = ("Warning: rank 2, phase 3: <count> file operations failed; "
                "the rate sent for this phase is not valid.")
    TOTAL_1, TOTAL_2 = c.TOTAL_NOT_VALID % 1, c.TOTAL_NOT_VALID % 2
    AVERAGE_1, AVERAGE_2 = c.AVERAGE_NOT_VALID % 1, c.AVERAGE_NOT_VALID % 2

    def expected(self, sink):
        return grammar.report_lines(sink, self.NODES, failing=self.FAILING, misplaced=self.MISPLACED)

    def handling(self, heading, first_rank_warnings):
        return [heading, "",
                "Thread:1 @nThe system spent: <number> Secs.",
                "Thread:1 @nThe system could process <number> Files/sec."] + first_rank_warnings + [
                "Thread:2 @nThe system spent: <number> Secs.",
                "Thread:2 @nThe system could process <number> Files/sec.",
                "Overall, The system could process: <number> Files/sec.",
                "Multi-Thread Improvements: <number> times.",
                self.TOTAL_1, "", "",
                "Among all nodes, the average process per thread was: <number> Files/sec.",
                self.AVERAGE_1, ""]

    @staticmethod
    def ranks(direction, warnings_after_rank_2):
        lines = []
        for rank in (1, 2):
            lines += ["Thread:%d @n The system spent: <number> Secs. to %s." % (rank, direction),
                      "Thread:%d @n It was: <number> Millions Accesses/sec." % rank,
                      "Conventionally, it was: <number> MB/sec."]
        return lines + warnings_after_rank_2

    @staticmethod
    def totals(direction, noun, warning):
        return ["Overall, It was: <number> Millions Accesses/sec.to %s" % direction,
                "Conventionally, total %s speed was: <number> MB/sec." % noun,
                "Multi-Thread Improvements: <number> times.", warning]

    def test_each_warning_follows_what_it_is_about(self):
        cluster = (["Multi-Thread Enabled:"]
                   + self.handling("Power of Handling Files -- Lower", [self.PLACE, self.FAILED_1])
                   + self.handling("Power of Handling Files -- Higher", [])
                   + ["Multi-Thread Enabled:", "Low writing and reading speeds:", ""]
                   + self.ranks("Write", [self.FAILED_2]) + self.ranks("Read", []) + ["", ""]
                   + self.totals("Write", "writing", self.TOTAL_2) + self.totals("Read", "reading", self.TOTAL_1)
                   + ["", "", "Among all nodes, the average low writing process per thread was: <number> MB/sec.",
                      self.AVERAGE_2, "",
                      "Among all nodes, the average low reading process per thread was: <number>  MB/sec.",
                      self.AVERAGE_1, "",
                      "Multi-Thread Enabled:", "High writing and reading speeds:", ""]
                   + self.ranks("Read", []) + self.ranks("Write", []) + [""]
                   + self.totals("Write", "writing", self.TOTAL_1) + self.totals("Read", "reading", self.TOTAL_1)
                   + ["", "", "Among all nodes, the average high writing process per thread was: <number>  MB/sec.",
                      self.AVERAGE_1, "",
                      "Among all nodes, the average high reading process per thread was: <number>  MB/sec.",
                      self.AVERAGE_1])
        masked = [line.masked() for line in self.expected(grammar.FILE)]
        self.assertEqual(masked[masked.index("Multi-Thread Enabled:"):], cluster)

    def test_the_console_has_the_same_warnings_after_the_same_lines(self):
        def warnings(sink):
            lines = self.expected(sink)
            return [(before.row, line.masked()) for before, line in zip(lines, lines[1:])
                    if line.warning and not before.warning]

        self.assertEqual(warnings(grammar.CONSOLE), warnings(grammar.FILE))

    def test_a_misplaced_workers_note_comes_first_on_its_own_console(self):
        lines = expect.worker_lines(1, "n", failing=self.FAILING, misplaced=self.MISPLACED[1])
        self.assertEqual([line.masked() for line in lines], [self.PLACE, self.FAILED_1])
        anywhere = expect.worker_lines(1, "n", misplaced=True)
        self.assertIsNotNone(anywhere[0].regex.fullmatch(c.misplaced_note("n")))


if __name__ == "__main__":
    unittest.main(verbosity=2)
