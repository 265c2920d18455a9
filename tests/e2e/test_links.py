"""What others left at the names the benchmark opens, in a directory anyone
may write in: symbolic links, files with a second hard link, named pipes,
sockets and devices. Each is removed, never what it refers to, the console
says so, and the job neither hangs nor writes outside its directory."""

import os
import socket
import stat
import time
import unittest

from testbed import files_left as f
from testbed import harness as h
from orvantic import grammar, texts
from testbed import report_checks as c
from testbed import report_expectations as expect

# A pipe or device that blocked an open would hang the job: ended long
# before the suite's own limit.
SPECIAL_FILE_LIMIT = 60
# Names are planted for each second the job's root may start in.
RESULTS_NAME_SECONDS = 40


def make_fifo(path):
    os.mkfifo(path)


def make_socket(path):
    with socket.socket(socket.AF_UNIX) as listener:
        listener.bind(path)


def make_null_device(path):
    os.mknod(path, stat.S_IFCHR | 0o666, os.makedev(1, 3))


class SpecialFileTests(unittest.TestCase):
    def setUp(self):
        self.node = h.host_name()
        self.nodes = {0: self.node, 1: self.node}

    def workspace(self):
        """A workspace for one case; results-file names are planted from now on."""
        self.first_second = int(time.time())
        ws = h.Workspace(self, h.SMALL)
        self.outside = os.path.join(ws.root, "outside")
        os.mkdir(self.outside)
        return ws

    def plant_link(self, ws, name, absolute):
        """A symbolic link at name in the run directory to a file outside."""
        target = self.outside_file(name)
        os.symlink(target if absolute else os.path.relpath(target, ws.cwd), os.path.join(ws.cwd, name))

    def plant_hard_link(self, ws, name):
        os.link(self.outside_file(name), os.path.join(ws.cwd, name))

    def outside_file(self, name):
        target = os.path.join(self.outside, name)
        with open(target, "wb") as other:
            other.write(os.urandom(3000))
        return target

    def results_names(self, number=1):
        """The results-file names of each second the root may start in."""
        return [f.results_name(self.node, second, h.RUN_ZONE_EAST_OF_UTC, number)
                for second in range(self.first_second, self.first_second + RESULTS_NAME_SECONDS)]

    def run_checked(self, ws, found, number=1):
        """Runs a job of two ranks within the time limit, with a sentinel
        around the run directory, and checks both consoles, the results file
        and the scratch files. found: {name: kind} of what the job must
        report as removed. Returns the results file's name."""
        sentinel = f.Sentinel(self, ws.root)
        run = ws.run(ws.job((2, ws.own_console([ws.exe]))), timeout=SPECIAL_FILE_LIMIT)
        c.check_exit_status(self, run)
        self.assertLess(run.ended, self.first_second + RESULTS_NAME_SECONDS - 1,
                        "the job ran past the seconds planted for")
        sentinel.check()

        # The file the console names; the grammar checks that line below.
        saved = [line for line in ws.console_of(0) if line.startswith(texts.SAVED)]
        self.assertEqual(len(saved), 1, "the line that names the results file")
        name = os.path.basename(saved[0])
        f.check_results_name(self, name, self.node, run, number)
        for scratch in f.scratch_names(self.nodes):
            path = os.path.join(ws.cwd, scratch)
            self.assertTrue(stat.S_ISREG(os.lstat(path).st_mode), "%s is no regular file" % scratch)
            f.assert_filled(self, path, h.SMALL_COUNTS.first_pass)

        # Each note comes right before the step that first opens the name.
        expected = grammar.report_lines(grammar.CONSOLE, self.nodes, ws.cwd + "/" + name, found=found)
        console = c.check_sink(self, expected, ws.console_of(0), "rank 0 console", self.node)
        with open(os.path.join(ws.cwd, name), "rb") as results:
            rows, complete = c.check_results(self, results.read(), grammar.report_lines(grammar.FILE, self.nodes),
                                             self.node, console)
        self.assertTrue(complete, "results file incomplete")
        c.check_arithmetic(self, rows, h.SMALL_COUNTS)
        c.match_lines(self, expect.worker_lines(1, self.node, found=found), ws.console_of(1), "rank 1 console")
        return name

    def test_special_files_at_every_name_the_job_opens(self):
        own = f.scratch_names(self.nodes)  # root's scratch and copy, then the worker's
        with self.subTest("named pipes"):
            ws = self.workspace()
            for name in own + self.results_names():
                make_fifo(os.path.join(ws.cwd, name))
            name = self.run_checked(ws, dict.fromkeys(own + self.results_names(), texts.NAMED_PIPE))
            for other in set(self.results_names()) - {name}:
                self.assertTrue(stat.S_ISFIFO(os.lstat(os.path.join(ws.cwd, other)).st_mode), "%s was touched" % other)

        with self.subTest("links, a device and a socket"):
            ws = self.workspace()
            # The root's scratch file is truncated by the first test: a
            # second hard link there would let it change a file outside.
            self.plant_hard_link(ws, own[0])
            make_null_device(os.path.join(ws.cwd, own[1]))
            self.plant_link(ws, own[2], absolute=False)
            make_socket(os.path.join(ws.cwd, own[3]))
            for index, name in enumerate(self.results_names()):
                self.plant_link(ws, name, absolute=index % 2 == 1)
            found = dict(zip(own, (texts.LINKED_FILE, texts.DEVICE, texts.SYMBOLIC_LINK, texts.SOCKET)))
            found.update(dict.fromkeys(self.results_names(), texts.SYMBOLIC_LINK))
            self.run_checked(ws, found)

    def test_results_file_of_a_run_in_the_same_second(self):
        # Another job started in the same second holds the name: its file
        # stays as it is, and this job writes under the next number, where
        # a named pipe was waiting.
        ws = self.workspace()
        taken = {}
        for name in self.results_names():
            path = os.path.join(ws.cwd, name)
            with open(path, "wb") as other:
                other.write(b"another job's report\n")
            taken[path] = f.snapshot(path)
        for name in self.results_names(2):
            make_fifo(os.path.join(ws.cwd, name))
        self.run_checked(ws, dict.fromkeys(self.results_names(2), texts.NAMED_PIPE), number=2)
        for path, before in taken.items():
            self.assertEqual(f.snapshot(path), before, "%s was changed" % path)

    def test_link_that_cannot_be_removed(self):
        # The run's user may not change the directory, so the link stays;
        # what it points at is that user's own file, which it could write.
        ws, env = h.Workspace.for_nobody(self, h.SMALL)
        self.outside = os.path.join(ws.root, "outside")
        os.mkdir(self.outside, 0o755)
        for name in (texts.SINGLE_SCRATCH, texts.SINGLE_COPY):
            self.plant_link(ws, name, absolute=True)
            os.chown(os.path.join(self.outside, name), h.NOBODY_UID, h.NOBODY_UID)
        sentinel = f.Sentinel(self, ws.root)
        run = ws.run(ws.mpiexec(1) + [ws.exe], env=env, prefix=h.UNPRIVILEGED)
        c.check_exit_status(self, run, clean=False)
        sentinel.check()

        for name in (texts.SINGLE_SCRATCH, texts.SINGLE_COPY):
            self.assertIn(texts.found_note(name, removed=False), run.lines)
            self.assertNotIn(texts.found_note(name), run.lines)
            self.assertTrue(os.path.islink(os.path.join(ws.cwd, name)))
        self.assertEqual(len([line for line in run.lines if line.startswith(texts.NOT_SAVED)]), 1,
                         "the results file not reported as unsaved")


if __name__ == "__main__":
    unittest.main()
