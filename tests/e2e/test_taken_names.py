"""Scratch names already taken by a directory, by a read-only file of
another user, or by a file another process holds open. The job still ends
normally, says which tests went wrong, and its exit status tells."""

import os
import stat
import unittest

from testbed import files_left as f
from testbed import harness as h
from orvantic import grammar, texts
from testbed import report_checks as c
from testbed import report_expectations as expect


def without_unable(lines):
    return [line for line in lines if line != texts.UNABLE]


class TakenNameTests(unittest.TestCase):
    def setUp(self):
        self.node = h.host_name()
        self.nodes = {0: self.node, 1: self.node}

    def test_directories_at_the_scratch_names(self):
        # Not empty, so that a remove() of the name cannot take them away.
        # The copies' names stay free: the block that the reads could not
        # fill is written there, and that write is no measurement either.
        ws = h.Workspace(self, h.SMALL)
        names = f.scratch_names(self.nodes)
        taken = [name for name in names if name.endswith(".tmp")]
        for name in taken:
            os.makedirs(os.path.join(ws.cwd, name, "kept"))
            with open(os.path.join(ws.cwd, name, "kept", "data"), "w") as kept:
                kept.write(name)
        run = ws.run(ws.job((2, ws.own_console([ws.exe]))))
        c.check_exit_status(self, run, clean=False)

        name, data = f.results_file(self, ws.cwd)
        # Whether a directory opens as an input file differs between systems,
        # so "Unable to open file" may or may not come before the reads'
        # lines; that every test failed must show in either case.
        failing = c.failing_on(texts.ALL_TESTS, self.nodes)
        expected = grammar.report_lines(grammar.CONSOLE, self.nodes, ws.cwd + "/" + name, failing=failing)
        console = c.check_sink(self, expected, without_unable(ws.console_of(0)), "rank 0 console", self.node)
        _, complete = c.check_results(self, data, grammar.report_lines(grammar.FILE, self.nodes, failing=failing),
                                      self.node, console)
        self.assertTrue(complete, "results file incomplete")
        c.match_lines(self, expect.worker_lines(1, self.node, texts.ALL_TESTS), without_unable(ws.console_of(1)),
                      "rank 1 console")
        self.assertEqual(sorted(ws.files()), sorted(names + [name]))
        for directory in taken:
            with open(os.path.join(ws.cwd, directory, "kept", "data")) as kept:
                self.assertEqual(kept.read(), directory)
        for copy in set(names) - set(taken):
            self.assertEqual(os.path.getsize(os.path.join(ws.cwd, copy)), 0, copy)

    def test_read_only_files_of_another_user(self):
        # The root rank runs in a sticky, world-writable directory (it may
        # create files but neither change nor remove root's), the worker in
        # one it cannot write at all. Every scratch name is a root-owned
        # file of mode 0444 holding other data.
        ws, env = h.Workspace.for_nobody(self, h.SMALL)
        locked = os.path.join(ws.root, "locked")
        os.mkdir(locked, 0o755)
        os.chmod(ws.cwd, 0o1777)
        planted = {}
        for directory, ranks in ((ws.cwd, [0]), (locked, [1])):
            for name in f.scratch_names(self.nodes, ranks):
                path = os.path.join(directory, name)
                with open(path, "wb") as other:
                    other.write(os.urandom(1000))
                os.chmod(path, 0o444)
                planted[path] = f.snapshot(path)
        cmd = ws.job((1, ["-wdir", ws.cwd] + ws.own_console([ws.exe], for_nobody=True)),
                     (1, ["-wdir", locked] + ws.own_console([ws.exe])))
        run = ws.run(cmd, env=env, prefix=h.UNPRIVILEGED)
        c.check_exit_status(self, run, clean=False)

        for path, before in planted.items():
            self.assertEqual(f.snapshot(path), before, "%s was changed" % path)
        name, data = f.results_file(self, ws.cwd)
        # Every test needed to write, or to read 65536 bytes where the block
        # read finds the 1000 planted ones. The worker works in a directory
        # of its own, and says so.
        failing = c.failing_on(texts.ALL_TESTS, self.nodes)
        misplaced = {1: (locked, ws.cwd)}
        expected = grammar.report_lines(grammar.CONSOLE, self.nodes, ws.cwd + "/" + name, failing=failing,
                                        misplaced=misplaced)
        console = c.check_sink(self, expected, ws.console_of(0), "rank 0 console", self.node)
        _, complete = c.check_results(
            self, data, grammar.report_lines(grammar.FILE, self.nodes, failing=failing, misplaced=misplaced), self.node,
            console)
        self.assertTrue(complete, "results file incomplete")
        c.match_lines(self, expect.worker_lines(1, self.node, texts.ALL_TESTS, misplaced=misplaced[1]),
                      ws.console_of(1), "rank 1 console")
        self.assertEqual(sorted(os.listdir(locked)), sorted(f.scratch_names(self.nodes, [1])))

    def test_files_held_open_by_another_process(self):
        # Another process has every scratch name open, locked, with data of
        # its own. Nothing stops the benchmark here: a complete, clean run.
        ws = h.Workspace(self, h.SMALL)
        paths = [os.path.join(ws.cwd, name) for name in f.scratch_names(self.nodes)]
        holder = ws.hold("import fcntl, sys\n"
                         "files = [open(p, 'w+b') for p in sys.argv[1:]]\n"
                         "for held in files:\n"
                         "    held.write(b'held' * 5000); held.flush(); fcntl.flock(held, fcntl.LOCK_EX)\n", *paths)
        run = ws.run_binary(2)
        self.assertIsNone(holder.poll(), "the holding process ended early")
        c.check_run(self, run, h.SMALL_COUNTS, self.nodes)
        for path in paths:
            self.assertTrue(stat.S_ISREG(os.lstat(path).st_mode))
        holder.stdin.close()
        self.assertEqual(holder.wait(timeout=60), 0)


if __name__ == "__main__":
    unittest.main()
