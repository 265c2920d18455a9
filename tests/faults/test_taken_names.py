"""Places and names the benchmark cannot use as it means to: a directory it
may not write in, and scratch names already taken by a directory, by a
read-only file of another user, or by a file another process holds open.
The job still ends normally and says which tests went wrong."""

import os
import stat
import subprocess
import sys
import unittest

import faults_support as f
from faults_support import c, h, r

ALL_PHASES = {1, 2, 3, 4, 5, 6}


def own_names(node, ranks):
    """Every scratch name the job's ranks use in one directory."""
    names = [c.SINGLE_SCRATCH, c.SINGLE_COPY] if 0 in ranks else []
    for rank in ranks:
        if rank:
            names += list(c.rank_files(rank, node))
    return names


def without_unable(lines):
    return [line for line in lines if line != r.UNABLE]


class UnwritableDirectoryTests(unittest.TestCase):
    def test_whole_job_in_a_directory_it_cannot_write(self):
        # As nobody: root would write through any permission bits.
        f.require_root(self, "setpriv")
        ws = h.Workspace(self, h.SMALL, shared=True)
        env = f.nobody_env(ws)
        consoles = f.consoles_dir(ws, for_nobody=True)
        run = ws.run(f.job(ws, (3, f.own_console(consoles, [ws.exe]))), env=env, prefix=f.UNPRIVILEGED)
        self.assertEqual(run.returncode, 0, run.stderr)
        self.assertEqual(ws.files(), [], "files created in an unwritable directory")

        root = f.console_of(self, consoles, 0)
        line, saved = f.end_line(root)
        self.assertIs(saved, False, "end-of-run line: %r" % line)
        path = line[len(r.NOT_SAVED):]
        self.assertEqual(os.path.dirname(path), ws.cwd)
        h.check_results_name(self, os.path.basename(path), h.host_name(), run)
        nodes = {k: h.host_name() for k in range(3)}
        report = f.expected_report(nodes, path, failing=f.SINGLE_TESTS, unable={"lr", "hr"}, saved=False)
        h.match_lines(self, report.console, root, "rank 0 console")
        for rank in (1, 2):
            h.match_lines(self, f.expected_worker_lines(rank, ALL_PHASES, unable={4, 5}),
                          f.console_of(self, consoles, rank), "rank %d console" % rank)


class TakenNameTests(unittest.TestCase):
    def setUp(self):
        self.node = h.host_name()
        self.nodes = {0: self.node, 1: self.node}

    def test_directories_at_the_scratch_names(self):
        # Not empty, so that a remove() of the name cannot take them away.
        ws = h.Workspace(self, h.SMALL)
        names = own_names(self.node, [0, 1])
        for name in names:
            os.makedirs(os.path.join(ws.cwd, name, "kept"))
            with open(os.path.join(ws.cwd, name, "kept", "data"), "w") as kept:
                kept.write(name)
        consoles = f.consoles_dir(ws)
        run = ws.run(f.job(ws, (2, f.own_console(consoles, [ws.exe]))))
        self.assertEqual(run.returncode, 0, "exit status; stderr:\n" + run.stderr)

        name, file_lines = h.read_results(self, ws)
        report = f.expected_report(self.nodes, ws.cwd + "/" + name, failing=f.SINGLE_TESTS, saved=True)
        # Whether a directory opens as an input file differs between systems,
        # so "Unable to open file" may or may not come before the reads'
        # lines; that every test failed must show in either case.
        console = h.match_lines(self, report.console, without_unable(f.console_of(self, consoles, 0)),
                                "rank 0 console")
        results = h.match_lines(self, report.file, f.unsigned_nan(file_lines), "results file")
        c.same_numbers_on_both_sinks(self, console, results)
        h.match_lines(self, f.expected_worker_lines(1, ALL_PHASES),
                      without_unable(f.console_of(self, consoles, 1)), "rank 1 console")
        self.assertEqual(sorted(ws.files()), sorted(names + [name]))
        for taken in names:
            with open(os.path.join(ws.cwd, taken, "kept", "data")) as kept:
                self.assertEqual(kept.read(), taken)

    def test_read_only_files_of_another_user(self):
        # The root rank runs in a sticky, world-writable directory (it may
        # create files but neither change nor remove root's), the worker in
        # one it cannot write at all. Every scratch name is a root-owned
        # file of mode 0444 holding other data.
        f.require_root(self, "setpriv")
        ws = h.Workspace(self, h.SMALL, shared=True)
        env = f.nobody_env(ws)
        consoles = f.consoles_dir(ws, for_nobody=True)
        locked = os.path.join(ws.root, "locked")
        os.mkdir(locked, 0o755)
        os.chmod(ws.cwd, 0o1777)
        planted = {}
        for directory, ranks in ((ws.cwd, [0]), (locked, [1])):
            for name in own_names(self.node, ranks):
                path = os.path.join(directory, name)
                with open(path, "wb") as other:
                    other.write(os.urandom(1000))
                os.chmod(path, 0o444)
                planted[path] = f.snapshot(path)
        cmd = f.job(ws, (1, ["-wdir", ws.cwd] + f.own_console(consoles, [ws.exe])),
                    (1, ["-wdir", locked] + f.own_console(consoles, [ws.exe])))
        run = ws.run(cmd, env=env, prefix=f.UNPRIVILEGED)
        self.assertEqual(run.returncode, 0, run.stderr)

        for path, before in planted.items():
            self.assertEqual(f.snapshot(path), before, "%s was changed" % path)
        name, data = f.results_file(self, ws.cwd)
        # The block read finds the 1000 bytes and reads them whole; every
        # other test needed to write, or to read 65536 bytes.
        report = f.expected_report(self.nodes, ws.cwd + "/" + name,
                                   failing={"stream", "desc", "lw", "lr", "hw"}, saved=True)
        console = h.match_lines(self, report.console, f.console_of(self, consoles, 0), "rank 0 console")
        self.assertTrue(f.check_results_prefix(self, data, report, console), "results file incomplete")
        h.match_lines(self, f.expected_worker_lines(1, {1, 2, 3, 4, 6}), f.console_of(self, consoles, 1),
                      "rank 1 console")
        self.assertEqual(sorted(os.listdir(locked)), sorted(own_names(self.node, [1])))

    def test_files_held_open_by_another_process(self):
        # Another process has every scratch name open, locked, with data of
        # its own. Nothing stops the benchmark here: a complete, clean run.
        ws = h.Workspace(self, h.SMALL)
        paths = [os.path.join(ws.cwd, name) for name in own_names(self.node, [0, 1])]
        holder = subprocess.Popen(
            [sys.executable, "-c",
             "import fcntl, sys\n"
             "files = [open(p, 'w+b') for p in sys.argv[1:]]\n"
             "for held in files:\n"
             "    held.write(b'held' * 5000); held.flush(); fcntl.flock(held, fcntl.LOCK_EX)\n"
             "print('held', flush=True)\n"
             "sys.stdin.read()\n"] + paths,
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, start_new_session=True)
        self.addCleanup(ws.stop, holder)
        self.assertEqual(holder.stdout.readline(), b"held\n")
        run = ws.run(f.job(ws, (2, [ws.exe])))
        self.assertIsNone(holder.poll(), "the holding process ended early")
        c.check_run(self, run, h.SMALL_COUNTS, self.nodes)
        for path in paths:
            self.assertTrue(stat.S_ISREG(os.lstat(path).st_mode))
        holder.stdin.close()
        self.assertEqual(holder.wait(timeout=60), 0)


if __name__ == "__main__":
    unittest.main()
