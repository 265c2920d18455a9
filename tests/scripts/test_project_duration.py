"""project-duration: a short run of the bench build under the launcher in a
directory of the user's, scaled to the shipped counts, and that directory
left as it was."""

import math
import os
import re
import runpy
import unittest

from testbed import files_left as f
from testbed import harness as h
from orvantic import texts
from testbed import report_checks as c

PROGRAM = os.environ.get("ORVANTIC_BENCH_BINARY")
# measurement, the short run's seconds, the factor, the projected seconds
ROW = re.compile(r"  (\S+) +(\S+) s x (\S+) += +(\S+) s ")
TOTAL = re.compile(r"\((\S+) s\)")
PRINTED = 1e-3  # four significant digits, and sums of them


def setUpModule():
    # Without the variables that let Open MPI run as root: the script's own
    # launcher flags must.
    os.environ.update(h.launcher_env())
    for name in ("OMPI_ALLOW_RUN_AS_ROOT", "OMPI_ALLOW_RUN_AS_ROOT_CONFIRM"):
        os.environ.pop(name)
    # Inside a Slurm job it would weigh the projection against the job's
    # time left too (tested under Slurm, in tests/multinode).
    os.environ.pop("SLURM_JOB_ID", None)


def factor(measurement):
    """How many times a test's work in the shipped build is the bench
    build's, from the counts each is known by."""
    if measurement in texts.HANDLING:
        return h.SHIPPED_COUNTS.handling / h.SMALL_COUNTS.handling
    return h.SHIPPED_COUNTS.first_pass / h.SMALL_COUNTS.first_pass


class ProjectDuration(unittest.TestCase):
    def setUp(self):
        if not PROGRAM:
            self.fail("ORVANTIC_BENCH_BINARY not set")
        self.ws = h.Workspace(self, PROGRAM)

    def project(self, directory, processes, **options):
        return h.run_script("project-duration", "-n", str(processes), "--program", self.ws.exe, directory, **options)

    def test_three_processes(self):
        target = self.ws.subdir("target")
        with open(os.path.join(target, "notes.txt"), "w", encoding="utf-8") as notes:
            notes.write("the user's own file\n")
        around = f.Sentinel(self, self.ws.root)
        done = self.project(target, 3)
        self.assertEqual(done.returncode, 0, done.stdout + done.stderr)
        around.check()  # target too: its file untouched, nothing of the short run left

        rows = [ROW.match(line).groups() for line in done.stdout.split("\n") if ROW.match(line)]
        self.assertEqual([row[0] for row in rows], [m for m, _ in texts.MEASUREMENTS] * 2, done.stdout)
        for measurement, short, shown_factor, projected in rows:
            c.assert_close(self, float(shown_factor), factor(measurement), measurement, rel=PRINTED)
            c.assert_close(self, float(projected), float(short) * factor(measurement), measurement, rel=PRINTED)

        root, workers = [float(row[3]) for row in rows[:6]], [float(row[3]) for row in rows[6:]]
        ahead, waiting = [float(t) for t in TOTAL.findall(done.stdout.split("\nTotal: ")[1])]
        c.assert_close(self, ahead, max(sum(root), sum(workers)), "total", rel=PRINTED)
        c.assert_close(self, waiting, max(sum(root), workers[0]) + sum(workers[1:]), "upper bound", rel=PRINTED)
        self.assertIn("A projection, not a measurement", done.stdout)

    def test_a_reader_that_stops_early_ends_it_quietly(self):
        # project-duration | head: the note of the short run alone on the error stream.
        done = h.into_closed_pipe(self.project, self.ws.subdir("target"), 2)
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertRegex(done.stderr, r"\Aproject-duration: a short run [^\n]*\n\Z")

    def test_refuses_a_missing_directory(self):
        missing = os.path.join(self.ws.root, "missing")
        done = self.project(missing, 2)
        self.assertEqual(done.returncode, 2, done.stderr)
        self.assertIn("%s is not a directory" % missing, done.stderr)
        self.assertFalse(os.path.exists(missing))


class SlurmTimeLeftTests(unittest.TestCase):
    def test_squeue_formats(self):
        # squeue drops the hours below one and the days below one.
        slurm_seconds = runpy.run_path(os.path.join(h.SCRIPTS, "project-duration"))["slurm_seconds"]
        for shown, seconds in [("0:00", 0), ("4:05", 245), ("1:02:03", 3723), ("1-02:03:04", 93784),
                               ("12-00:00:00", 1036800), ("UNLIMITED", math.inf), ("NOT_SET", None),
                               ("INVALID", None)]:
            with self.subTest(shown):
                self.assertEqual(slurm_seconds(shown), seconds)


if __name__ == "__main__":
    unittest.main(verbosity=2)
