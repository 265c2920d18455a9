"""Jobs of several processes: the root's cluster sections, the workers'
files and silence, and node names that differ between ranks, down to one
character, up to the longest a host may have, and holding bytes that would
lead file names elsewhere or split lines."""

import os
import subprocess
import sys
import unittest

from testbed import files_left as f
from testbed import harness as h
from orvantic import texts
from testbed import report_checks as c
from testbed import report_expectations as expect

MAX_HOST_NAME = 64  # the kernel's limit for a host name

# Sets the host name byte for byte (the hostname tool refuses what the kernel
# takes), then becomes the program.
_RENAME_AND_EXEC = "import os, socket, sys\nsocket.sethostname(os.fsencode(sys.argv[1]))\nos.execv(sys.argv[2], sys.argv[2:])\n"


class ClusterReportTests(unittest.TestCase):
    def run_job(self, size, stale=False):
        ws = h.Workspace(self, h.SMALL)
        node = h.host_name()
        if stale:
            # Files of an earlier run under the worker's names, longer and of
            # another byte: both must come out as a fresh run leaves them.
            for name, fill in zip(expect.rank_files(1, node), (b"\x77", b"\x33")):
                with open(os.path.join(ws.cwd, name), "wb") as f:
                    f.write(fill * 150001)
        run = ws.run_binary(size, output=True)
        c.check_run(self, run, h.SMALL_COUNTS, {k: node for k in range(size)})
        ws.check_workers_silent(size)

    def test_two_processes(self):
        self.run_job(2, stale=True)

    def test_four_processes(self):
        self.run_job(4)


class RefusalTests(unittest.TestCase):
    """Jobs that may not run measure nothing, write no file and end with
    status 1, so that a batch system does not record them as completed."""

    def test_more_processes_than_may_run(self):
        # The small build's limit is 8 processes.
        ws = h.Workspace(self, h.SMALL)
        run = ws.run_binary(9, output=True)
        c.check_exit_status(self, run, clean=False)
        c.match_lines(self, expect.limit_lines(), run.lines, "console")
        self.assertEqual(ws.files(), [], "files left by a job that may not run")
        ws.check_workers_silent(9)

    def test_thread_level_too_low(self):
        shim = os.environ.get("ORVANTIC_LOWER_THREAD_LEVEL")
        if not shim:
            self.fail("ORVANTIC_LOWER_THREAD_LEVEL not set")
        ws = h.Workspace(self, h.SMALL)
        # Preloaded into the ranks alone, not into the launcher. A sanitizer
        # build's runtime would insist on being loaded first.
        ranks = ["env", "LD_PRELOAD=" + shim,
                 "ASAN_OPTIONS=detect_leaks=0:verify_asan_link_order=0", ws.exe]
        run = ws.run(ws.job((2, ranks), output=True))
        c.check_exit_status(self, run, clean=False)
        for rank in range(2):
            self.assertEqual(ws.rank_output(rank), "MPI do not Support Multiple thread\n", "rank %d" % rank)
        self.assertEqual(ws.files(), [], "files left by a job that may not run")


class NodeNameTests(unittest.TestCase):
    def run_named(self, nodes, planted=(), silent=("stdout", "stderr")):
        """A job whose rank k runs on a node named nodes[k], each in a UTS
        namespace of its own, with a sentinel around its directory; planted:
        directories made in the run directory first; silent: the workers'
        streams that must stay empty."""
        h.require_root(self, "unshare")
        if subprocess.run(["unshare", "-u", "true"], stderr=subprocess.DEVNULL).returncode != 0:
            self.skipTest("unshare -u is not permitted here")
        ws = h.Workspace(self, h.SMALL)
        for directory in planted:
            os.mkdir(os.path.join(ws.cwd, directory))
        sentinel = f.Sentinel(self, ws.root)
        rename = ["unshare", "-u", sys.executable, "-c", _RENAME_AND_EXEC]
        run = ws.run(ws.job(*[(1, rename + [nodes[k], ws.exe]) for k in sorted(nodes)], output=True))
        c.check_run(self, run, h.SMALL_COUNTS, nodes, planted)
        ws.check_workers_silent(len(nodes), silent)
        sentinel.check()

    def test_short_and_long_node_names(self):
        # A worker name longer than the root's, then one-character ones: a
        # name buffer reused between receives would show leftover characters.
        self.run_named({0: "A", 1: "a-much-longer-worker-name-xyz", 2: "b", 3: "7"})

    def test_longest_node_names(self):
        if not h.open_mpi():
            self.skipTest("MPICH's UCX transport (libucs) aborts in its library constructor, before the "
                          "program starts, on a host name of %d characters" % MAX_HOST_NAME)
        longest = "n" * (MAX_HOST_NAME - 2) + "-0"
        # A short name between two longest ones: a name buffer reused
        # between receives would show the longer name's tail.
        self.run_named({0: "r" * MAX_HOST_NAME, 1: longest, 2: "s", 3: longest[:-1] + "3"})


    def test_node_names_that_would_lead_elsewhere_or_split_lines(self):
        # With the names used raw, "/" and ".." would put the root's results
        # file and the first worker's files beside the run directory, into
        # directories prepared for them; a newline would split lines and a
        # file name. File names get "_" for each, report lines "?" for
        # control characters alone.
        nodes = {0: "r/../../up", 1: "w/../../up", 2: "new\nline", 3: "..", 4: "back\\slash\tand\x7f"}
        # Open MPI names a shared-memory file after the host and says on
        # stderr that it cannot make it; it then uses another transport.
        self.run_named(nodes, planted=[texts.RESULTS_PREFIX + "r", "data64-windows-mx-1 @w"], silent=("stdout",))


class FullSizeClusterTests(unittest.TestCase):
    def test_shipped_counts_three_processes(self):
        ws = h.Workspace(self, h.SHIPPED)
        run = ws.run_binary(3, timeout=900, output=True)
        c.check_run(self, run, h.SHIPPED_COUNTS, {k: h.host_name() for k in range(3)})
        ws.check_workers_silent(3)


if __name__ == "__main__":
    unittest.main()
