"""One-process jobs: the root rank's whole report, the files it leaves, the
arithmetic between its numbers, and the wait for Enter at the end."""

import os
import queue
import subprocess
import threading
import time
import unittest

import harness as h
import report_checks as c
import report_lines as r


class ReportTests(unittest.TestCase):
    def test_every_line_file_and_number_of_a_run(self):
        ws = h.Workspace(self, h.SMALL)
        run = ws.run_binary(1)
        c.check_run(self, run, h.SMALL_COUNTS, {0: h.host_name()})

    def test_scratch_files_of_an_earlier_run_are_rewritten(self):
        ws = h.Workspace(self, h.SMALL)
        # Longer than a run writes and of another byte: a missing truncation
        # or a wrong seek shows in the size or the content.
        with open(os.path.join(ws.cwd, c.SINGLE_SCRATCH), "wb") as f:
            f.write(b"\xa5" * 200000)
        with open(os.path.join(ws.cwd, c.SINGLE_COPY), "wb") as f:
            f.write(b"\x5a" * 300001)
        run = ws.run_binary(1)
        c.check_run(self, run, h.SMALL_COUNTS, {0: h.host_name()})


class StdinTests(unittest.TestCase):
    def test_empty_input_ends_the_run_at_once(self):
        ws = h.Workspace(self, h.SMALL)
        empty = os.path.join(ws.root, "empty")
        open(empty, "w").close()
        with open(empty) as stdin:
            run = ws.run_binary(1, stdin=stdin)
        c.check_run(self, run, h.SMALL_COUNTS, {0: h.host_name()})

    def test_open_input_waits_for_enter(self):
        ws = h.Workspace(self, h.SMALL)
        node = h.host_name()
        started = time.time()
        proc = ws.start(ws.mpiexec(1) + [ws.exe], stdin=subprocess.PIPE, stderr=subprocess.DEVNULL)
        lines = queue.Queue()

        def read_console():
            for line in proc.stdout:
                lines.put(line.decode("utf-8", "replace"))
            lines.put(None)

        threading.Thread(target=read_console, daemon=True).start()
        deadline = time.time() + h.HANG_LIMIT
        seen = []
        while not seen or seen[-1] != "Press Enter to Exit.\n":
            try:
                seen.append(lines.get(timeout=max(0.1, deadline - time.time())))
            except queue.Empty:
                self.fail("no \"Press Enter to Exit.\" line; got %r" % seen[-5:])
            self.assertIsNotNone(seen[-1], "console ended before \"Press Enter to Exit.\"")
        time.sleep(1.0)
        self.assertIsNone(proc.poll(), "the run ended without waiting for Enter")
        # The results file is closed and complete before the wait.
        name, file_lines = h.read_results(self, ws)
        report = r.full_report({0: node}, ws.cwd + "/" + name)
        h.match_lines(self, report.file, file_lines, "results file")

        proc.stdin.write(b"\n")
        proc.stdin.close()
        try:
            returncode = proc.wait(timeout=60)
        except subprocess.TimeoutExpired:
            self.fail("the run did not end after Enter")
        rest = lines.get(timeout=60)
        self.assertIsNone(rest, "console line after \"Press Enter to Exit.\"")
        run = h.Run(returncode, "".join(seen), started, time.time(), ws)
        c.check_run(self, run, h.SMALL_COUNTS, {0: node})


class FullSizeTests(unittest.TestCase):
    def test_shipped_counts(self):
        ws = h.Workspace(self, h.SHIPPED)
        run = ws.run_binary(1, timeout=900)
        c.check_run(self, run, h.SHIPPED_COUNTS, {0: h.host_name()})


if __name__ == "__main__":
    unittest.main()
