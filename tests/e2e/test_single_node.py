"""One-process jobs: the root rank's whole report, the files it leaves, the
arithmetic between its numbers, and the wait for Enter at the end: none at
end of input, and on a terminal a real wait until the key is pressed."""

import os
import shlex
import shutil
import subprocess
import time
import unittest

from testbed import files_left as f
from testbed import harness as h
from orvantic import grammar, texts
from testbed import report_checks as c


class ReportTests(unittest.TestCase):
    def test_every_line_file_and_number_of_a_run(self):
        ws = h.Workspace(self, h.SMALL)
        run = ws.run_binary(1)
        c.check_run(self, run, h.SMALL_COUNTS, {0: h.host_name()})

    def test_scratch_files_of_an_earlier_run_are_rewritten(self):
        ws = h.Workspace(self, h.SMALL)
        # Longer than a run writes and of another byte: a missing truncation
        # or a wrong seek shows in the size or the content.
        with open(os.path.join(ws.cwd, texts.SINGLE_SCRATCH), "wb") as scratch:
            scratch.write(b"\xa5" * 200000)
        with open(os.path.join(ws.cwd, texts.SINGLE_COPY), "wb") as copy:
            copy.write(b"\x5a" * 300001)
        run = ws.run_binary(1)
        c.check_run(self, run, h.SMALL_COUNTS, {0: h.host_name()})


class StdinTests(unittest.TestCase):
    def test_input_at_its_end_ends_the_run_at_once(self):
        ws = h.Workspace(self, h.SMALL)
        empty = os.path.join(ws.root, "empty")
        open(empty, "w").close()
        with open(empty) as stdin:
            run = ws.run(ws.mpiexec(2) + [ws.exe], stdin=stdin)
        c.check_run(self, run, h.SMALL_COUNTS, {0: h.host_name(), 1: h.host_name()})

    def tmux(self, *args, check=True):
        return subprocess.run(["tmux", "-L", self.server] + list(args), env=h.launcher_env(),
                              stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                              check=check, timeout=60)

    def pane(self):
        return self.tmux("capture-pane", "-p", "-J", "-t", "bench").stdout.decode("utf-8", "replace")

    def test_waits_for_enter_on_a_terminal(self):
        if shutil.which("tmux") is None:
            self.skipTest("tmux is not installed")
        ws = h.Workspace(self, h.SMALL)
        self.server = "orvantic-e2e-%d" % os.getpid()
        self.addCleanup(self.tmux, "kill-server", check=False)
        status = os.path.join(ws.root, "status")
        # The pane stays after the job (until the server goes), so that it
        # can be read at the end.
        command = "cd %s && %s; echo $? > %s; exec sleep %d" % (
            shlex.quote(ws.cwd), shlex.join(ws.mpiexec(1) + [ws.exe]), shlex.quote(status), h.HANG_LIMIT)
        self.tmux("new-session", "-d", "-s", "bench", "-x", "200", "-y", "50", command)

        deadline = time.time() + h.HANG_LIMIT
        while texts.PRESS_ENTER not in self.pane():
            self.assertLess(time.time(), deadline, "no %r on the terminal:\n%s" % (texts.PRESS_ENTER, self.pane()))
            self.assertFalse(os.path.exists(status), "the job ended without asking for Enter")
            time.sleep(0.2)
        time.sleep(2)
        self.assertFalse(os.path.exists(status), "the job ended without waiting for Enter")
        self.assertNotEqual(h.benchmark_pids(ws.exe), [], "no benchmark process waits")
        # Closed, complete and truthfully announced before the wait.
        name, data = f.results_file(self, ws.cwd)
        _, complete = c.check_results(self, data, grammar.report_lines(grammar.FILE, {0: h.host_name()}), h.host_name())
        self.assertTrue(complete, "results file incomplete while waiting for Enter")
        self.assertIn(texts.SAVED + ws.cwd + "/" + name, self.pane().replace("\n", ""))

        self.tmux("send-keys", "-t", "bench", "Enter")
        deadline = time.time() + 60
        while not f.read_text(status).endswith("\n"):
            self.assertLess(time.time(), deadline, "the job did not end after Enter")
            time.sleep(0.2)
        self.assertEqual(f.read_text(status), "0\n", "exit status")
        after = self.pane().rstrip("\n").split(texts.PRESS_ENTER)[-1]
        self.assertEqual(after.strip(), "", "the job wrote after %r" % texts.PRESS_ENTER)


class FullSizeTests(unittest.TestCase):
    def test_shipped_counts(self):
        ws = h.Workspace(self, h.SHIPPED)
        run = ws.run_binary(1, timeout=900)
        c.check_run(self, run, h.SHIPPED_COUNTS, {0: h.host_name()})


if __name__ == "__main__":
    unittest.main()
