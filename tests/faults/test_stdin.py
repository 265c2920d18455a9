"""The wait for Enter at the end of a run: none at end of input, and on a
terminal a real wait until the key is pressed."""

import os
import shlex
import shutil
import subprocess
import time
import unittest

import faults_support as f
from faults_support import c, h, r


def read_text(path):
    try:
        with open(path) as f:
            return f.read()
    except FileNotFoundError:
        return ""


class EndOfInputTests(unittest.TestCase):
    def test_input_closed_before_the_job_starts(self):
        ws = h.Workspace(self, h.SMALL)
        reader, writer = os.pipe()
        os.close(writer)
        try:
            run = ws.run(f.job(ws, (2, [ws.exe])), stdin=reader)
        finally:
            os.close(reader)
        c.check_run(self, run, h.SMALL_COUNTS, {0: h.host_name(), 1: h.host_name()})


class TerminalTests(unittest.TestCase):
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
        self.server = "orvantic-faults-%d" % os.getpid()
        self.addCleanup(self.tmux, "kill-server", check=False)
        status = os.path.join(ws.root, "status")
        command = "cd %s && %s; echo $? > %s" % (shlex.quote(ws.cwd), shlex.join(f.job(ws, (1, [ws.exe]))),
                                                 shlex.quote(status))
        self.tmux("new-session", "-d", "-s", "bench", "-x", "200", "-y", "50", command)

        deadline = time.time() + h.HANG_LIMIT
        while r.PRESS_ENTER not in self.pane():
            self.assertLess(time.time(), deadline, "no %r on the terminal:\n%s" % (r.PRESS_ENTER, self.pane()))
            self.assertFalse(os.path.exists(status), "the job ended without asking for Enter")
            time.sleep(0.2)
        time.sleep(2)
        self.assertFalse(os.path.exists(status), "the job ended without waiting for Enter")
        self.assertNotEqual(h.benchmark_pids(ws.exe), [], "no benchmark process waits")
        # Closed, complete and truthfully announced before the wait.
        name, file_lines = h.read_results(self, ws)
        report = r.full_report({0: h.host_name()}, ws.cwd + "/" + name)
        h.match_lines(self, report.file, file_lines, "results file")
        self.assertIn(r.SAVED + ws.cwd + "/" + name, self.pane().replace("\n", ""))

        self.tmux("send-keys", "-t", "bench", "Enter")
        deadline = time.time() + 60
        while not read_text(status).endswith("\n"):
            self.assertLess(time.time(), deadline, "the job did not end after Enter")
            time.sleep(0.2)
        self.assertEqual(read_text(status), "0\n", "exit status")


if __name__ == "__main__":
    unittest.main()
