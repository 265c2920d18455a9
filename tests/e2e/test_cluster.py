"""Jobs of several processes: the root's cluster sections, the workers'
files and silence, and node names that differ between ranks."""

import os
import shutil
import subprocess
import unittest

import harness as h
import report_checks as c


def check_workers_silent(test, ws, size):
    for rank in range(1, size):
        for stream in ("stdout", "stderr"):
            test.assertEqual(ws.rank_output(rank, stream), "", "rank %d wrote to its %s" % (rank, stream))


class ClusterReportTests(unittest.TestCase):
    def run_job(self, size, stale=False):
        ws = h.Workspace(self, h.SMALL)
        node = h.host_name()
        if stale:
            # Files of an earlier run under the worker's names, longer and of
            # another byte: both must come out as a fresh run leaves them.
            for name, fill in zip(c.rank_files(1, node), (b"\x77", b"\x33")):
                with open(os.path.join(ws.cwd, name), "wb") as f:
                    f.write(fill * 150001)
        cmd = ws.mpiexec(size, output=True) + [ws.exe]
        run = ws.run(cmd)
        c.check_run(self, run, h.SMALL_COUNTS, {k: node for k in range(size)})
        check_workers_silent(self, ws, size)

    def test_two_processes(self):
        self.run_job(2, stale=True)

    def test_four_processes(self):
        self.run_job(4)


class NodeNameTests(unittest.TestCase):
    def test_every_rank_reports_its_own_node_name(self):
        if shutil.which("unshare") is None or \
                subprocess.run(["unshare", "-u", "true"], stderr=subprocess.DEVNULL).returncode != 0:
            self.skipTest("unshare -u is not permitted here")
        ws = h.Workspace(self, h.SMALL)
        # A worker name longer than the root's, then a shorter one: a name
        # buffer reused between receives would show leftover characters.
        nodes = {0: "root-node-long-name", 1: "a-much-longer-worker-name-xyz", 2: "w2"}
        cmd = ws.launcher(output=True)
        for rank, name in sorted(nodes.items()):
            if rank:
                cmd.append(":")
            cmd += ["-n", "1", "unshare", "-u", "sh", "-c", 'hostname "$0" && exec "$1"', name, ws.exe]
        run = ws.run(cmd)
        c.check_run(self, run, h.SMALL_COUNTS, nodes)
        check_workers_silent(self, ws, len(nodes))


class FullSizeClusterTests(unittest.TestCase):
    def test_shipped_counts_three_processes(self):
        ws = h.Workspace(self, h.SHIPPED)
        cmd = ws.mpiexec(3, output=True) + [ws.exe]
        run = ws.run(cmd, timeout=900)
        c.check_run(self, run, h.SHIPPED_COUNTS, {k: h.host_name() for k in range(3)})
        check_workers_silent(self, ws, 3)


if __name__ == "__main__":
    unittest.main()
