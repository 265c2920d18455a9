"""Directories the benchmark may not write in, for the whole job or for one
worker, and a directory moved away during the run: the job still ends
normally, and every test that went wrong, or a report no longer where the
console shows it, says so. As an unprivileged user, because root writes
through permission bits."""

import os
import shutil
import subprocess
import unittest

from testbed import files_left as f
from testbed import harness as h
from orvantic import grammar, texts
from testbed import report_checks as c
from testbed import report_expectations as expect

READS = {"low-read", "high-read"}


class UnwritableDirectoryTests(unittest.TestCase):
    def setUp(self):
        self.ws, self.env = h.Workspace.for_nobody(self, h.SMALL)
        self.node = h.host_name()

    def test_whole_job_in_a_directory_it_cannot_write(self):
        ws = self.ws
        run = ws.run(ws.job((3, ws.own_console([ws.exe], for_nobody=True))), env=self.env, prefix=h.UNPRIVILEGED)
        c.check_exit_status(self, run, clean=False)
        self.assertEqual(ws.files(), [], "files created in an unwritable directory")

        # No file to find the name by: take it from the console and check it.
        root = ws.console_of(0)
        path_lines = [line for line in root if line.startswith(texts.NOT_SAVED)]
        self.assertEqual(len(path_lines), 1, "the \"could not be saved\" line:\n" + "\n".join(root[-8:]))
        path = path_lines[0][len(texts.NOT_SAVED):]
        self.assertEqual(os.path.dirname(path), ws.cwd)
        f.check_results_name(self, os.path.basename(path), self.node, run)
        nodes = {k: self.node for k in range(3)}
        expected = grammar.report_lines(grammar.CONSOLE, nodes, path, failing=c.failing_on(texts.ALL_TESTS, nodes),
                                        unable=READS, saved=texts.NOT_SAVED)
        rows = c.check_sink(self, expected, root, "rank 0 console", self.node)
        # The block tests found no file to size: nothing moved, rates of 0.
        for row in rows:
            if row.scope == texts.SCOPE_SINGLE and row.measurement.startswith("high"):
                self.assertEqual(row.rate, 0, row.measurement)
        for rank in (1, 2):
            c.match_lines(self, expect.worker_lines(rank, self.node, texts.ALL_TESTS, READS), ws.console_of(rank),
                          "rank %d console" % rank)

    def test_worker_in_a_directory_it_cannot_write(self):
        ws = self.ws
        h.writable_by_nobody(ws.cwd)
        os.mkdir(ws.out)
        h.writable_by_nobody(ws.out)  # the launcher's output files, made as nobody
        locked = os.path.join(ws.root, "locked")
        os.mkdir(locked, 0o555)
        cmd = ws.job((1, ["-wdir", ws.cwd, ws.exe]), (1, ["-wdir", locked, ws.exe]), output=True)
        run = ws.run(cmd, env=self.env, prefix=h.UNPRIVILEGED)
        c.check_exit_status(self, run, clean=False)
        nodes = {0: self.node, 1: self.node}
        name, data = f.results_file(self, ws.cwd)
        # The worker's failures and the directory it works in reach the
        # report, not only its own console.
        failing = c.failing_on(texts.ALL_TESTS, [1])
        misplaced = {1: (locked, ws.cwd)}
        # The launcher's own console mixes both ranks; the root's is apart.
        console = c.check_sink(self, grammar.report_lines(grammar.CONSOLE, nodes, ws.cwd + "/" + name,
                                                          failing=failing, misplaced=misplaced),
                               h.split_lines(ws.rank_output(0)), "rank 0 console", self.node)
        results, _ = c.check_results(self, data,
                                     grammar.report_lines(grammar.FILE, nodes, failing=failing, misplaced=misplaced),
                                     self.node, console)
        c.check_arithmetic(self, results, h.SMALL_COUNTS, high_size=0)
        c.match_lines(self, expect.worker_lines(1, self.node, texts.ALL_TESTS, READS, misplaced=misplaced[1]),
                      h.split_lines(ws.rank_output(1)), "rank 1 console")
        self.assertEqual(os.listdir(locked), [])
        self.assertEqual(set(ws.files()), {name, texts.SINGLE_SCRATCH, texts.SINGLE_COPY})

    def test_directory_moved_away_during_the_run(self):
        # The root's directory is renamed while the root waits for its
        # worker's first phase. The worker runs the shipped build, whose
        # first phase lasts seconds, in a directory of its own that is then
        # removed, so that its remaining phases fail at once.
        ws = self.ws
        shipped = os.path.join(os.path.dirname(ws.exe), "orvantic-drives-shipped")
        shutil.copy2(h.SHIPPED, shipped)
        worker = ws.subdir("worker")
        h.writable_by_nobody(worker)
        h.writable_by_nobody(ws.cwd)
        cmd = ws.job((1, ws.own_console([ws.exe], for_nobody=True)),
                     (1, ["-wdir", worker] + ws.own_console([shipped])))
        job = ws.start(cmd, stdout=subprocess.DEVNULL, env=self.env, prefix=h.UNPRIVILEGED)
        ws.wait_for_line(job, "Multi-Thread Enabled:")
        moved = ws.cwd + "-moved"
        os.rename(ws.cwd, moved)
        while os.path.exists(worker):
            shutil.rmtree(worker, ignore_errors=True)  # the worker may create a file meanwhile
        try:
            _, stderr = job.communicate(timeout=h.HANG_LIMIT)
        except subprocess.TimeoutExpired:
            self.fail("the job still runs %d s after its directory was moved" % h.HANG_LIMIT)
        self.assertEqual(job.returncode, 1, "exit status; stderr:\n" + stderr.decode("utf-8", "replace"))

        name, data = f.results_file(self, moved)
        nodes = {0: self.node, 1: self.node}
        # The worker's directory went in its first phase: from there on its
        # file operations fail, and the report says so.
        failing = c.failing_on(texts.ALL_TESTS, [1])
        misplaced = {1: (worker, ws.cwd)}
        expected = grammar.report_lines(grammar.CONSOLE, nodes, ws.cwd + "/" + name, failing=failing,
                                        misplaced=misplaced, saved=texts.MOVED)
        rows = c.check_sink(self, expected, ws.console_of(0), "rank 0 console", self.node)
        _, complete = c.check_results(self, data,
                                      grammar.report_lines(grammar.FILE, nodes, failing=failing, misplaced=misplaced),
                                      self.node, rows)
        self.assertTrue(complete, "results file incomplete")


if __name__ == "__main__":
    unittest.main()
