"""repeat-runs: a series of real runs of the small build under the launcher,
and series of made-up reports whose medians and spreads are known, with
runs that must be left out and files that must not be taken for a run's."""

import csv
import json
import os
import re
import subprocess
import sys
import unittest

from testbed import files_left as f
from testbed import harness as h
from orvantic import reading, records, tables, texts
from testbed import report_checks as c

# Stands in for the launcher: plays the next of the runs queued in a JSON file (a text to write under
# the results-file name of this second, console lines, an exit status), after noting which benchmark
# files it found, and leaves scratch files as the benchmark does.
FAKE_RUN = r'''
import json, os, sys, time
sys.path.insert(0, sys.argv[3])
from testbed import files_left
queue_path, found_path = sys.argv[1], sys.argv[2]
with open(queue_path) as handle:
    queue = json.load(handle)
run = queue.pop(0)
with open(queue_path, "w") as handle:
    json.dump(queue, handle)
with open(found_path, "a") as handle:
    handle.write(json.dumps(sorted(n for n in os.listdir(".") if n.startswith("data64-"))) + "\n")
if run["report"] is not None:
    name = files_left.results_name(run["node"], time.time())
    with open(name, "w", encoding="utf-8") as handle:
        handle.write(run["report"])
for name in ("data64-windows-mx-single", "data64-windows-mx-single.tmp", "data64-windows-mx-1 @n1"):
    open(name, "w").close()
print(run["stdout"])
print(run["stderr"], file=sys.stderr)
sys.exit(run["status"])
'''

TEMPLATE = None
STOPPED = ("Warning: the run was stopped by signal SIGTERM (15) during cluster phase 6 (high write), after the last "
           "worker's results; the report ends here.")
LOAD = r"^\d+\.\d\d \d+\.\d\d \d+\.\d\d \(over 1, 5 and 15 minutes\)$"
PROGRESS = re.compile(r"run (\d+) of (\d+): [^,]+ s, (about .+ left|done)(; left out: .*)?")
LEFT_IN_PLACE = "before run "
# Stands in for a process of another run that has a scratch file open.
HOLDER = "import sys\nheld = open(sys.argv[1], 'rb')\n"
# Runs a command where /proc shows nothing, as on a system without it; the
# mount stays in a mount namespace of the command's own.
WITHOUT_PROC = ["unshare", "--mount", "--propagation", "private", "sh", "-c",
                'mount -t tmpfs no-proc /proc && exec "$@"', "without-proc"]


def setUpModule():
    global TEMPLATE
    os.environ.update(h.launcher_env())  # repeat-runs hands it to the launcher
    TEMPLATE = reading.parse(f.results_of_run(3))


def repeat(*args, prefix=(), stdout=subprocess.PIPE, env=None):
    return subprocess.run(list(prefix) + [sys.executable, os.path.join(h.SCRIPTS, "repeat-runs")] + list(args),
                          stdout=stdout, stderr=subprocess.PIPE, text=True, env=env, timeout=h.HANG_LIMIT,
                          check=False)


def summary_path(done):
    """The summary CSV, whose path repeat-runs names last."""
    last = done.stdout.rstrip("\n").split("\n")[-1]
    if not last.startswith("Summary as CSV: "):
        raise AssertionError("no summary CSV named:\n" + done.stdout + done.stderr)
    return last[len("Summary as CSV: "):]


def summary_rows(done):
    """The summary CSV's rows, keyed by (measurement, scope, rank)."""
    with open(summary_path(done), encoding="utf-8") as handle:
        return dict(((r["measurement"], r["scope"], r["rank"]), r) for r in csv.DictReader(handle))


def notes(done):
    """The notes of scratch files left in place before a run."""
    return [line for line in done.stderr.split("\n") if line.startswith(LEFT_IN_PLACE)]


def progress_lines(test, done, count):
    lines = [line for line in done.stderr.split("\n")[3:-1]  # after the command, directory and environment
             if not line.startswith(LEFT_IN_PLACE)]
    test.assertEqual([int(PROGRESS.fullmatch(l).group(1)) for l in lines], list(range(1, count + 1)),
                     done.stderr)
    return lines


class RealRuns(unittest.TestCase):
    def test_three_runs_of_the_small_build(self):
        ws = h.Workspace(self, h.SMALL)
        done = repeat("3", ws.cwd, "--", *(ws.mpiexec(3) + [ws.exe]))
        self.assertEqual(done.returncode, 0, done.stdout + done.stderr)
        progress_lines(self, done, 3)

        names = sorted(f.results_file_names(ws.cwd))
        self.assertEqual(len(names), 3, "one results file per run, none written over")
        runs = [reading.parse(os.path.join(ws.cwd, n)) for n in names]
        summary = summary_rows(done)
        record = records.beside(summary_path(done))
        self.assertEqual(set(ws.files()), set(names) | set(f.scratch_names(dict.fromkeys(range(3), runs[0].node)))
                         | {os.path.basename(summary_path(done)), os.path.basename(record)},
                         "the last run's scratch files stay")
        self.assertIn("environment: %s\n" % record, done.stderr)
        fields = records.read(record)
        self.assertEqual((fields["directory"], fields["program"]), (ws.cwd, ws.exe))
        self.assertRegex(fields["load at end"], LOAD)

        # Each summary line is the median and extremes of that measurement's
        # numbers in the three files, and the only one for it.
        self.assertEqual(len(summary), 6 * 5)
        for key, row in summary.items():
            values = sorted(r.shown for run in runs for r in run.rows
                            if (r.measurement, r.scope, tables.cell(r.rank)) == key)
            self.assertEqual((row["runs"], row["min"], row["median"], row["max"], row["iqr"]),
                             ("3", "%g" % values[0], "%g" % values[1], "%g" % values[2], ""), key)


# Known series: five runs of the stream handling test on one node, the
# figures the README quotes, scaled per scope so that a number taken from
# the wrong scope shows.
KNOWN = [8400, 57500, 20000, 30000, 10000]
SCALE = {("single", "0"): 1, ("rank", "1"): 1.5, ("rank", "2"): 2, ("total", ""): 3.5,
         ("average", ""): 1.75}


def made_up_report(value, broken=None):
    return c.made_up_rows(TEMPLATE, value, SCALE, broken)


def queued(rows=None, text=None, stdout="", stderr="", status=0):
    """A run to play: the report of rows, or else text, or no file at all."""
    report = c.report_text(rows) if rows else text
    return {"report": report, "node": TEMPLATE.node, "stdout": stdout, "stderr": stderr, "status": status}


class MadeUpRuns(unittest.TestCase):
    def setUp(self):
        self.ws = h.Workspace(self, h.SMALL)
        self.fake = os.path.join(self.ws.root, "fake-run.py")
        with open(self.fake, "w", encoding="utf-8") as handle:
            handle.write(FAKE_RUN)

    def series(self, runs, *options, prefix=(), **run):
        """Plays runs under repeat-runs (`run`: its stdout and environment,
        where given); returns it finished and, per run, the benchmark files
        the run found on starting."""
        queue, found = os.path.join(self.ws.root, "queue.json"), os.path.join(self.ws.root, "found")
        with open(queue, "w", encoding="utf-8") as handle:
            json.dump(runs, handle)
        done = repeat(*options, str(len(runs)), self.ws.cwd, "--", sys.executable, self.fake, queue, found,
                      h.TESTS, prefix=prefix, **run)
        if not os.path.exists(found):
            self.fail("repeat-runs started no run (status %d):\n%s" % (done.returncode, done.stderr))
        with open(found, encoding="utf-8") as handle:
            found_by_run = [json.loads(line) for line in handle]
        os.remove(found)
        return done, found_by_run

    def plant(self, names):
        """Scratch files an earlier run left, each holding its own name."""
        for name in names:
            with open(os.path.join(self.ws.cwd, name), "w", encoding="utf-8") as handle:
                handle.write(name)

    def hold_open(self, name):
        """A process of its own that has the file open until the test ends."""
        return self.ws.hold(HOLDER, os.path.join(self.ws.cwd, name))

    def test_medians_spreads_and_the_runs_left_out(self):
        # An older results file with numbers far off: never a run's.
        with open(os.path.join(self.ws.cwd, f.results_name(TEMPLATE.node, 0)), "w", encoding="utf-8") as old:
            old.write(c.report_text(made_up_report(1e9)))
        # A file of the user's beside the scratch files.
        open(os.path.join(self.ws.cwd, "data64-windows-mx-notes"), "w").close()

        with_warning = c.with_root_failure(made_up_report(1e9), "stream-handling")
        # Found on the console alone: the results file does not tell of it.
        not_claimed = texts.found_note("data64-windows-mx-single", texts.NAMED_PIPE, removed=False)
        no_time = {("high-write", "rank", "2"): "inf"}
        runs = [
            queued(made_up_report(KNOWN[0])),
            queued(with_warning, stdout=not_claimed),
            queued(made_up_report(KNOWN[1], broken=no_time)),
            queued(text="Velbrix\n"),  # a results-file name, but no report
            queued(made_up_report(KNOWN[2])),
            # The workers' warnings in the results file leave the run out on
            # their own; the one a worker's console shows as well is told once.
            queued(c.with_worker_warnings(made_up_report(1e9)), stdout=c.RANK_2_FAILED),
            queued(made_up_report(KNOWN[3])),
            queued(stderr="mpiexec: cannot start the job\n", status=1),
            queued(made_up_report(KNOWN[4])),
            # Told to terminate: every number before the cut stays out.
            queued(text=c.report_text(made_up_report(1e9))[:-300].rsplit("\n", 1)[0] + "\n" + STOPPED + "\n",
                   stdout=STOPPED, status=143),
        ]
        done, found = self.series(runs)

        self.assertEqual(done.returncode, 1, "runs were left out")
        lines = progress_lines(self, done, 10)
        self.assertEqual([n for n, l in enumerate(lines, 1) if "; left out: " in l], [2, 4, 6, 8, 10])
        self.assertRegex(lines[9], "; left out: %s.*: the report ends early after line "
                         % re.escape(os.path.join(self.ws.cwd, texts.RESULTS_PREFIX)))
        self.assertEqual(found, [["data64-windows-mx-notes"]] * 10, "scratch files removed before every run")
        self.assertEqual(len(f.results_file_names(self.ws.cwd)), 1 + 9,
                         "the older file and every run's file kept, each run in a second of its own")
        left_out = done.stdout.split("Left out of the statistics:\n")[1].split("\n\n")[0]
        for says in ("run 2 (results_", "2 rate(s) in the results file not valid; the first warning: " + c.ROOT_FAILED,
                     not_claimed, "run 4 (results_", "not a results file", "run 6 (results_",
                     "19 rate(s) in the results file not valid; the first warning: " + c.misplaced_note(TEMPLATE.node),
                     "exit status 1", "run 8 (no results file):",
                     "no results file written: mpiexec: cannot start the job", "run 10 (results_",
                     "the run was stopped by signal SIGTERM (15) during cluster phase 6 (high write), after the "
                     "last worker's results", "exit status 143"):
            self.assertIn(says, left_out)
        self.assertNotIn("run 1 ", left_out)
        self.assertNotIn(c.RANK_2_FAILED, left_out)
        self.assertNotIn(STOPPED, left_out, "the console's stop line told once, by the file")

        summary = summary_rows(done)
        # Five runs: the middle one, the extremes, and quartiles that
        # interpolate as spreadsheets do (10000 and 30000 here).
        self.assertEqual(summary[("stream-handling", "single", "0")],
                         dict(measurement="stream-handling", unit="Files/sec.", scope="single", rank="0",
                              node=TEMPLATE.node, runs="5", median="20000", min="8400", max="57500",
                              max_over_min="6.85", iqr="20000"))
        # Four runs (one timed zero, inf): the mean of the middle two, and
        # quartiles between values: 16800 20000 40000 60000 give 19200, 45000.
        self.assertEqual(summary[("high-write", "rank", "2")],
                         dict(measurement="high-write", unit="MB/sec.", scope="rank", rank="2",
                              node=TEMPLATE.node, runs="4", median="30000", min="16800", max="60000",
                              max_over_min="3.57", iqr="25800"))
        self.assertEqual(summary[("low-read", "total", "")]["median"], "70000")
        # The common window: both ranks' work (rate times the template's
        # seconds) over the slower one's seconds; the run whose rank 2 timed
        # zero has none.
        seconds = [r.seconds for r in TEMPLATE.select("stream-handling", "rank")]
        c.assert_close(self, float(summary[("stream-handling", "common-window", "")]["median"]),
                       20000 * (1.5 * seconds[0] + 2 * seconds[1]) / max(seconds), "common-window median")
        self.assertEqual(summary[("high-write", "common-window", "")]["runs"], "4")
        self.assertEqual({s for _, s, _ in summary}, {"single", "rank", "total", "common-window"})
        self.assertEqual(len(summary), 6 * 5)

        table = done.stdout.split("\nstream-handling, Files/sec.\n")[1].split("\n\n")[0].split("\n")
        self.assertEqual(table[1].split(), ["single", "node", "5", "20000", "8400", "57500", "6.85", "20000",
                                            TEMPLATE.node])

        missing = os.path.join(self.ws.root, "missing")  # a command that cannot start ends the series in one line
        done = repeat("2", self.ws.cwd, "--", missing)
        self.assertEqual((done.returncode, done.stderr.split("\n")[-2]),
                         (1, "repeat-runs: cannot start %s: No such file or directory" % missing))

    def test_scratch_files_held_open_or_kept_when_asked(self):
        # Another run's worker still has its file open: that file stays, the
        # ones nobody holds go, before each run.
        held = "data64-windows-mx-2 @n1"
        self.plant(["data64-windows-mx-single", "data64-windows-mx-single.tmp", held])
        before = f.snapshot(os.path.join(self.ws.cwd, held))
        holder = self.hold_open(held)
        done, found = self.series([queued(made_up_report(v)) for v in KNOWN[:2]], "--pause", "2")
        self.assertEqual(done.returncode, 0, done.stdout + done.stderr)
        self.assertEqual(found, [[held]] * 2, "every scratch file but the held one removed before each run")
        self.assertEqual(f.snapshot(os.path.join(self.ws.cwd, held)), before, "the held file was touched")
        self.assertEqual(notes(done), ['before run %d: left "%s" in place: process %d (%s) holds it open'
                                       % (run, held, holder.pid, os.path.basename(sys.executable)[:15])
                                       for run in (1, 2)])
        h.Workspace.stop(holder)
        # --pause 2: the second run started two seconds after the first
        # ended, and in a later clock second still.
        started = sorted(reading.parse_file_name(name)[1] for name in f.results_file_names(self.ws.cwd))
        self.assertGreaterEqual((started[1] - started[0]).total_seconds(), 3)

        # From here on nobody holds a file open; the last run's files and
        # the held one are there.
        scratch = sorted(["data64-windows-mx-1 @n1", "data64-windows-mx-single", "data64-windows-mx-single.tmp",
                          held])
        with self.subTest("without /proc to tell, every scratch file stays"):
            h.require_root(self, "unshare")
            done, found = self.series([queued(made_up_report(KNOWN[0]))], prefix=WITHOUT_PROC)
            self.assertEqual(done.returncode, 0, done.stdout + done.stderr)
            self.assertEqual(found, [scratch])
            self.assertEqual(notes(done), ['before run 1: left every scratch file in place (%s): there is no /proc '
                                           'here to tell which a live process holds open'
                                           % ", ".join('"%s"' % name for name in scratch)])

        with self.subTest("--keep-scratch"):
            done, found = self.series([queued(made_up_report(v)) for v in KNOWN[:3]], "--keep-scratch")
            self.assertEqual(done.returncode, 0, done.stdout + done.stderr)
            self.assertEqual(found, [scratch] * 3)
            self.assertEqual(summary_rows(done)[("stream-handling", "single", "0")]["iqr"], "", "no quartiles of 3")

    def test_a_reader_that_stops_early_and_a_python_without_sched_getaffinity(self):
        # repeat-runs ... | head, and on macOS: status 0, nothing but the
        # progress on the error stream; the same summary.
        done, _ = h.into_closed_pipe(self.series, [queued(made_up_report(KNOWN[0]))])
        self.assertEqual(done.returncode, 0, done.stderr)
        progress_lines(self, done, 1)
        done, _ = self.series([queued(made_up_report(KNOWN[0]))], env=h.without_sched_getaffinity())
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertEqual(summary_rows(done)[("stream-handling", "single", "0")]["median"], "8400")


def run_environment(test, directory, *command, prefix=(), env=None):
    """run-environment's record of a directory, for the command given."""
    done = subprocess.run(list(prefix) + [sys.executable, os.path.join(h.SCRIPTS, "run-environment"), directory]
                          + (["--"] + list(command) if command else []), stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, text=True, timeout=h.HANG_LIMIT, env=env, check=False)
    test.assertEqual(done.returncode, 0, done.stderr)
    return records.parse(done.stdout)


def told(*command):
    return subprocess.run(command, stdout=subprocess.PIPE, text=True, check=True).stdout


class EnvironmentRecords(unittest.TestCase):
    """What run-environment (and so repeat-runs) records, against what other
    tools tell, and fields that cannot be read saying why."""

    def test_a_directory_and_the_build_of_the_shipped_program(self):
        ws = h.Workspace(self, h.SMALL)
        fields = run_environment(self, ws.cwd, *(ws.mpiexec(1) + [h.SHIPPED]))
        self.assertEqual(list(fields), [name for name, _, _ in records.FIELDS])
        self.assertEqual(fields["directory"], ws.cwd)
        self.assertEqual(fields["file system"], " on ".join(told("findmnt", "-n", "-o", "FSTYPE,SOURCE", "-T",
                                                                 ws.cwd).split()))
        if fields["file system"].startswith("ext4 "):
            # The kernel keeps a jbd2 entry per journal it runs.
            name = os.path.basename(os.path.realpath(fields["file system"].split(" on ")[1]))
            journals = os.listdir("/proc/fs/jbd2") if os.path.isdir("/proc/fs/jbd2") else []
            journalled = any(entry.startswith(name + "-") for entry in journals)
            self.assertEqual(fields["ext4 journal"].split(",")[0], "yes" if journalled else "no")
        self.assertRegex(fields["load at start"], LOAD)
        self.assertEqual(fields["load at end"], "not taken yet")
        version = told(h.MPIEXEC, "--version").strip().split("\n")[0]
        self.assertTrue(fields["MPI launcher"].startswith(version.rstrip(":")), fields["MPI launcher"])
        # The build record beside the program: a commit of this repository.
        self.assertEqual(fields["program"], os.path.realpath(h.SHIPPED))
        commit = re.fullmatch(r"\d+\.\d+\.\d+, commit ([0-9a-f]{12})( with local changes)?",
                              fields["program version"])
        self.assertTrue(commit, fields["program version"])
        told("git", "-C", h.SCRIPTS, "cat-file", "-e", commit.group(1) + "^{commit}")
        self.assertRegex(fields["C++ library"], r"^lib(std)?c\+\+\.so\.")
        self.assertRegex(fields["MPI library"], r"^libmpi")

    def test_what_cannot_be_read_says_why(self):
        h.require_root(self, "unshare")
        ws = h.Workspace(self, h.SMALL)
        prefix, _ = ws.on_tmpfs((ws.cwd, 8 << 20, 0))
        fields = run_environment(self, ws.cwd, prefix=prefix,
                                 env=dict(os.environ, ORVANTIC_PROGRAM=os.path.join(ws.root, "none")))
        self.assertEqual(list(fields), [name for name, _, _ in records.FIELDS])
        self.assertEqual(fields["file system"], "tmpfs on orvantic-faults")
        self.assertEqual(fields["ext4 journal"], "unknown (not ext4 but tmpfs)")
        for name in ("device model", "rotational", "scheduler"):
            self.assertEqual(fields[name], "unknown (tmpfs has no block device)", name)
        self.assertEqual(fields["free space"], "8.0 MiB free of 8.0 MiB")
        self.assertTrue(fields["program"].startswith("unknown (no benchmark binary at %s:" % os.path.join(ws.root,
                                                                                                      "none")))
        for name in ("MPI launcher", "program version", "compiler", "C++ library", "MPI library"):
            self.assertEqual(fields[name], "unknown (no command of a run)", name)

    def test_the_default_command_on_a_python_without_sched_getaffinity(self):
        # As on macOS: the default command's processes, and those usable
        # here, counted from all the machine's; and run-environment | head.
        ws = h.Workspace(self, h.SMALL)
        env = h.without_sched_getaffinity(ORVANTIC_PROGRAM=ws.exe)
        env.pop("ORVANTIC_PROCESSES", None)
        fields = run_environment(self, ws.cwd, env=env)
        self.assertEqual(fields["program"], ws.exe)
        self.assertRegex(fields["processors"], r", %d usable here$" % os.cpu_count())
        done = h.into_closed_pipe(h.run_script, "run-environment", ws.cwd, interpreter=sys.executable, env=env)
        self.assertEqual((done.returncode, done.stderr), (0, ""))


if __name__ == "__main__":
    unittest.main(verbosity=2)
