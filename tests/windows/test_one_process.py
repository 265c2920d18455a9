"""A one-process job of the Windows test build under Wine, on the stand-in
for MPI: every line of both sinks against the report grammar, text-mode line
ends, the end-of-run line with the Windows path, the files left byte for
byte, and the CSV script on the file Windows wrote.

Run by tests/lanes/test-windows, which builds the program and sets up Wine; by
hand: ORVANTIC_WINDOWS_PROGRAM=<.exe> WINEPREFIX=<dir> WINEDEBUG=-all
python3 tests/windows/test_one_process.py"""

import csv
import io
import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

sys.dont_write_bytecode = True  # keep the checkout clean

from testbed import files_left as f  # noqa: E402
from testbed import harness as h  # noqa: E402
from orvantic import texts  # noqa: E402
from testbed import report_checks as c  # noqa: E402

PROGRAM = os.environ.get("ORVANTIC_WINDOWS_PROGRAM")


def windows_path(path):
    """Where Wine shows a Unix path to Windows programs."""
    return subprocess.run(["winepath", "-w", path], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                          text=True, check=True, timeout=h.HANG_LIMIT).stdout.rstrip("\n")


class OneProcessRunTests(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        if not PROGRAM:
            raise unittest.SkipTest("ORVANTIC_WINDOWS_PROGRAM names no program (tests/lanes/test-windows sets it)")
        cls.root = tempfile.mkdtemp(prefix="orvantic-windows-", dir=os.path.dirname(PROGRAM))
        cls.addClassCleanup(shutil.rmtree, cls.root, ignore_errors=True)
        cls.cwd = os.path.join(cls.root, "run")
        os.mkdir(cls.cwd)
        started = time.time()
        # stdin at its end: the wait for Enter returns at once.
        done = subprocess.run(["wine", PROGRAM], cwd=cls.cwd, env=h.launcher_env(), stdin=subprocess.DEVNULL,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=h.HANG_LIMIT)
        cls.console = done.stdout
        cls.job = h.Run(done.returncode, done.stdout.decode("utf-8", "replace").replace("\r\n", "\n"),
                        started, time.time(), None, done.stderr.decode("utf-8", "replace"),
                        zone_east=h.RUN_ZONE_EAST_OF_UTC)
        cls.node = h.host_name().split(".")[0]
        cls.nodes = {0: cls.node}

    def results_file(self):
        return f.results_file(self, self.cwd)

    def test_every_line_of_both_sinks_and_their_numbers(self):
        self.assertEqual((self.job.returncode, self.job.stderr), (0, ""), "exit status and standard error")
        name, data = self.results_file()
        f.check_results_name(self, name, self.node, self.job)
        shown = windows_path(self.cwd) + "\\" + name
        self.assertRegex(shown, r"^[A-Z]:\\", "a Windows path")
        c.check_report(self, self.job.lines, shown, data, self.nodes, h.SMALL_COUNTS)

    def test_text_mode_ends_every_line_in_cr_lf(self):
        # What Windows users' editors and scripts expect of a text file.
        for sink, data in (("console", self.console), ("results file", self.results_file()[1])):
            self.assertTrue(data.endswith(b"\r\n"), sink)
            self.assertEqual(data.count(b"\n"), data.count(b"\r\n"), "%s: a line end without CR" % sink)
            self.assertEqual(data.count(b"\r"), data.count(b"\r\n"), "%s: a CR not ending a line" % sink)

    def test_files_left_byte_for_byte(self):
        name, _ = self.results_file()
        f.check_files_left(self, self.cwd, self.nodes, name, h.SMALL_COUNTS)

    def test_results_to_csv_reads_the_file_windows_wrote(self):
        name, _ = self.results_file()
        done = h.run_script("results-to-csv", os.path.join(self.cwd, name), interpreter=sys.executable)
        self.assertEqual(done.returncode, 0, done.stderr)
        rows = list(csv.DictReader(io.StringIO(done.stdout)))
        self.assertEqual([r["measurement"] for r in rows], [m for m, _ in texts.MEASUREMENTS])
        self.assertEqual({(r["run_node"], r["scope"], r["valid"]) for r in rows}, {(self.node, "single", "true")})


if __name__ == "__main__":
    unittest.main()
