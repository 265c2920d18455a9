"""Runs that go wrong: a directory the benchmark may not write in, and a
worker killed in the middle of a job."""

import os
import shutil
import signal
import subprocess
import time
import unittest

import harness as h
import report_checks as c
import report_lines as r

UNPRIVILEGED = ["setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups"]


class UnwritableDirectoryTests(unittest.TestCase):
    """As an unprivileged user, because root writes through permission bits."""

    def setUp(self):
        if shutil.which("setpriv") is None or os.geteuid() != 0:
            self.skipTest("needs root and setpriv to run as nobody")
        self.ws = h.Workspace(self, h.SMALL, shared=True)
        home = os.path.join(self.ws.root, "home")
        os.mkdir(home)
        h.writable_by_nobody(home)
        self.env = h.launcher_env(HOME=home, TMPDIR=home)

    def test_single_node_in_unwritable_directory(self):
        ws = self.ws
        os.chmod(ws.cwd, 0o555)
        run = ws.run(ws.mpiexec(1) + [ws.exe], env=self.env, prefix=UNPRIVILEGED)
        self.assertEqual(run.returncode, 0, run.stderr)
        self.assertEqual(ws.files(), [], "files created in an unwritable directory")
        # No file to find the name by: take it from the console and check it.
        path_line = [l for l in run.lines if l.startswith(r.NOT_SAVED)]
        self.assertEqual(len(path_line), 1, "the \"could not be saved\" line:\n" + "\n".join(run.lines[-8:]))
        path = path_line[0][len(r.NOT_SAVED):]
        self.assertEqual(os.path.dirname(path), ws.cwd)
        h.check_results_name(self, os.path.basename(path), h.host_name(), run)

        report = r.full_report({0: h.host_name()}, path, failing=True, saved=False)
        values = h.match_lines(self, report.console, run.lines, "console")
        for test_name in ("stream", "desc", "lw", "lr", "hr", "hw"):
            self.assertGreater(int(values[("warning", test_name)][0]), 0, test_name)
        # The block tests found no file to size: nothing moved, rates of 0.
        for name in ("hr", "hw"):
            self.assertEqual(float(values[name + "_millions"][0]), 0, name)

    def test_worker_in_unwritable_directory(self):
        ws = self.ws
        h.writable_by_nobody(ws.cwd)
        launcher = ws.launcher(output=True)
        h.writable_by_nobody(ws.out)
        locked = os.path.join(ws.root, "locked")
        os.mkdir(locked, 0o555)
        cmd = launcher + ["-n", "1", "-wdir", ws.cwd, ws.exe, ":",
                                          "-n", "1", "-wdir", locked, ws.exe]
        run = ws.run(cmd, env=self.env, prefix=UNPRIVILEGED)
        self.assertEqual(run.returncode, 0, run.stderr)
        node = h.host_name()
        name, file_lines = h.read_results(self, ws)
        report = r.full_report({0: node, 1: node}, ws.cwd + "/" + name)
        # The launcher's own console mixes both ranks; the root's is apart.
        root_lines = h.split_lines(ws.rank_output(0))
        console = h.match_lines(self, report.console, root_lines, "rank 0 console")
        h.match_lines(self, report.file, file_lines, "results file")
        c.check_single_arithmetic(self, console, h.SMALL_COUNTS)
        c.check_cluster_arithmetic(self, console, h.SMALL_COUNTS, [1], high_size=0)

        worker = h.split_lines(ws.rank_output(1))
        notes = h.match_lines(self, r.worker_failure_lines(1), worker, "rank 1 console")
        for phase in range(1, 7):
            self.assertGreater(int(notes[phase][0]), 0, "phase %d" % phase)
        self.assertEqual(os.listdir(locked), [])
        self.assertEqual(set(ws.files()), {name, c.SINGLE_SCRATCH, c.SINGLE_COPY})


class KilledWorkerTests(unittest.TestCase):
    def test_job_ends_when_a_worker_is_killed(self):
        # Shipped counts: a worker's first phase lasts seconds, so the kill
        # lands in the middle of the run.
        ws = h.Workspace(self, h.SHIPPED)
        node = h.host_name()
        proc = ws.start(ws.mpiexec(3, output=True) + [ws.exe], stdout=subprocess.DEVNULL,
                        stderr=subprocess.DEVNULL)
        worker = None
        deadline = time.time() + 60
        while time.time() < deadline and (worker is None or not ws.results_files()):
            worker = next((pid for pid in h.benchmark_pids(ws.exe) if h.rank_of(pid) == 1), None)
            time.sleep(0.1)
        self.assertIsNotNone(worker, "rank 1 never started")
        time.sleep(2)
        self.assertIsNone(proc.poll(), "the job ended before the kill")
        os.kill(worker, signal.SIGKILL)
        try:
            proc.wait(timeout=60)
        except subprocess.TimeoutExpired:
            self.fail("the job hangs after a worker was killed")
        deadline = time.time() + 10
        while h.benchmark_pids(ws.exe) and time.time() < deadline:
            time.sleep(0.2)
        self.assertEqual(h.benchmark_pids(ws.exe), [], "benchmark processes left behind")

        name, lines = h.read_results(self, ws)
        report = r.full_report({k: node for k in range(3)}, ws.cwd + "/" + name)
        self.assertGreaterEqual(len(lines), 4, "results file lacks the banner")
        h.match_lines(self, report.file, lines, "results file", prefix_only=True)
        # The root's own console (apart from the launcher's notes on the
        # kill) holds its lines so far, whole.
        console = ws.rank_output(0)
        self.assertTrue(console.endswith("\n"), "console ends inside a line: %r" % console[-80:])
        h.match_lines(self, report.console, h.split_lines(console), "console", prefix_only=True)


if __name__ == "__main__":
    unittest.main()
