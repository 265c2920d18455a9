"""Names at the edges of their sizes: a start directory longer than any
path the system accepts in one call, and node names of 1 and of 64
characters. Everything is shown and used whole; run on a sanitizer build
as well, where an overflow anywhere ends the job."""

import os
import subprocess
import sys
import unittest

import faults_support as f
from faults_support import c, h, r

# The launcher cannot start in a directory this deep; each rank's own
# Python walks down one component at a time and then becomes the benchmark.
_WALK_AND_EXEC = "import os, sys\nfor part in sys.argv[2:]:\n    os.chdir(part)\nos.execv(sys.argv[1], sys.argv[1:2])\n"
MAX_HOST_NAME = 64  # the kernel's limit for a host name


class DeepDirectoryTests(unittest.TestCase):
    def test_start_directory_longer_than_a_path_may_be(self):
        ws = h.Workspace(self, h.SMALL)
        parts = ["level%02d-" % i + "d" * 92 for i in range(42)]
        deep = ws.cwd + "/" + "/".join(parts)
        self.assertGreater(len(deep), 4096)
        fd = os.open(ws.cwd, os.O_RDONLY | os.O_DIRECTORY)
        for part in parts:
            os.mkdir(part, dir_fd=fd)
            inner = os.open(part, os.O_RDONLY | os.O_DIRECTORY, dir_fd=fd)
            os.close(fd)
            fd = inner
        self.addCleanup(os.close, fd)
        node = h.host_name()
        nodes = {0: node, 1: node}

        run = ws.run(f.job(ws, (2, [sys.executable, "-c", _WALK_AND_EXEC, ws.exe] + parts)))
        self.assertEqual(run.returncode, 0, "exit status; stderr:\n" + run.stderr)
        names = [n for n in os.listdir(fd) if n.startswith(h.RESULTS_PREFIX)]
        self.assertEqual(len(names), 1, "results files in the deep directory: %s" % names)
        name = names[0]
        h.check_results_name(self, name, node, run)
        report = r.full_report(nodes, deep + "/" + name)
        console = h.match_lines(self, report.console, run.lines, "console")
        with open(name, "rb", opener=lambda path, flags: os.open(path, flags, dir_fd=fd)) as results:
            data = results.read()
        self.assertTrue(f.check_results_prefix(self, data, report, console), "results file incomplete")
        c.check_single_arithmetic(self, console, h.SMALL_COUNTS)
        c.check_cluster_arithmetic(self, console, h.SMALL_COUNTS, [1])
        expected = {name, c.SINGLE_SCRATCH, c.SINGLE_COPY} | set(c.rank_files(1, node))
        self.assertEqual(set(os.listdir(fd)), expected)
        for scratch in expected - {name}:
            self.assertEqual(os.stat(scratch, dir_fd=fd).st_size, h.SMALL_COUNTS.first_pass, scratch)


class NodeNameTests(unittest.TestCase):
    def run_named(self, nodes):
        """A job whose rank k runs on a node named nodes[k], each in a UTS
        namespace of its own."""
        f.require_root(self, "unshare")
        if subprocess.run(["unshare", "-u", "true"], stderr=subprocess.DEVNULL).returncode != 0:
            self.skipTest("unshare -u is not permitted here")
        ws = h.Workspace(self, h.SMALL)
        rename = ["unshare", "-u", "sh", "-c", 'hostname "$0" && exec "$1"']
        run = ws.run(f.job(ws, *[(1, rename + [nodes[k], ws.exe]) for k in sorted(nodes)]))
        c.check_run(self, run, h.SMALL_COUNTS, nodes)

    def test_one_character_node_names(self):
        self.run_named({0: "A", 1: "b", 2: "7"})

    def test_longest_node_names(self):
        if not h.open_mpi():
            self.skipTest("MPICH's UCX transport (libucs) aborts in its library constructor, before the "
                          "program starts, on a host name of %d characters" % MAX_HOST_NAME)
        longest = "n" * (MAX_HOST_NAME - 2) + "-0"
        # A short name between two longest ones: a name buffer reused
        # between receives would show the longer name's tail.
        self.run_named({0: "r" * MAX_HOST_NAME, 1: longest, 2: "s", 3: longest[:-1] + "3"})


if __name__ == "__main__":
    unittest.main()
