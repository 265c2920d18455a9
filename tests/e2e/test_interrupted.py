"""Jobs cut off from outside: a worker killed in the middle of a phase, a
worker told to terminate, and the launcher told to terminate. The job must
end soon after, leave none of its processes behind, leave consoles and
results file with whole lines only, each the report's next one, and no claim
file that keeps the next run out. The shipped build is used so that the
phases last long enough to be hit in the middle."""

import fcntl
import os
import signal
import subprocess
import time
import unittest

import files_left as f
import harness as h
from orvantic import grammar
import report_checks as c
import report_expectations as expect

ENDS_WITHIN = 60  # seconds after the signal; only there to catch a hang


class InterruptedJobTests(unittest.TestCase):
    def setUp(self):
        self.ws = h.Workspace(self, h.SHIPPED)
        self.node = h.host_name()
        self.launcher = self.ws.start(self.ws.job((3, self.ws.own_console([self.ws.exe]))),
                                      stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def wait_for_rank(self, rank):
        """Blocks until the results file is open and the given rank runs,
        then two seconds more: its first phase, tens of seconds long at
        shipped counts, is then under way."""
        deadline = time.time() + h.HANG_LIMIT
        while time.time() < deadline:
            self.assertIsNone(self.launcher.poll(), "the job ended before rank %d started" % rank)
            ranks = [pid for pid in h.benchmark_pids(self.ws.exe) if h.rank_of(pid) == rank]
            if ranks and f.results_file_names(self.ws.cwd):
                time.sleep(2)
                self.assertIsNone(self.launcher.poll(), "the job ended before the signal")
                return ranks
            time.sleep(0.05)
        self.fail("rank %d never started" % rank)

    def check_cut_short(self):
        try:
            self.launcher.wait(timeout=ENDS_WITHIN)
        except subprocess.TimeoutExpired:
            self.fail("the job still runs %d s after the signal" % ENDS_WITHIN)
        self.ws.wait_until_gone()

        name, data = f.results_file(self, self.ws.cwd)
        nodes = {k: self.node for k in range(3)}
        console = c.check_sink(self, grammar.report_lines(grammar.CONSOLE, nodes, self.ws.cwd + "/" + name),
                               self.ws.console_of(0), "rank 0 console", self.node, prefix_only=True)
        _, complete = c.check_results(self, data, grammar.report_lines(grammar.FILE, nodes), self.node, console,
                                      prefix_only=True)
        self.assertFalse(complete, "the report was complete")
        # The banner and the first single-node lines were written long before.
        self.assertIn(b"Force to be single thread.\n", data)

    def check_claims_left(self, removed_by=None):
        """A claim file the job left is held by no process, so the next run
        takes it over. A rank killed outright cannot remove its own, and the
        launchers kill the other ranks once one has gone (MPICH's may send
        SIGKILL right after its SIGTERM), so only the rank that was itself
        told to terminate, `removed_by`, must have removed its own."""
        left = [name for name in self.ws.files() if name.endswith(".claim")]
        if removed_by is not None:
            self.assertNotIn(expect.claim_name(removed_by, self.node), left,
                             "rank %d, told to terminate, left its claim file" % removed_by)
        for name in left:
            fd = os.open(os.path.join(self.ws.cwd, name), os.O_RDONLY)
            try:
                fcntl.flock(fd, fcntl.LOCK_EX | fcntl.LOCK_NB)
            except BlockingIOError:
                self.fail("%s is still held after the job ended" % name)
            finally:
                os.close(fd)

    def cut_short(self, rank, how):
        victims = self.wait_for_rank(rank)
        self.assertEqual(len(victims), 1, "rank %d among %s" % (rank, h.benchmark_pids(self.ws.exe)))
        os.kill(victims[0], how)
        self.check_cut_short()

    def test_worker_killed_in_the_middle_of_a_phase(self):
        self.cut_short(2, signal.SIGKILL)
        self.check_claims_left()

    def test_worker_terminated_in_the_middle_of_a_phase(self):
        # As a batch system ends a job: SIGTERM to every task, from outside
        # the launcher.
        self.cut_short(2, signal.SIGTERM)
        self.check_claims_left(removed_by=2)

    def test_launcher_terminated(self):
        self.wait_for_rank(0)
        self.launcher.send_signal(signal.SIGTERM)
        self.check_cut_short()
        self.check_claims_left()


if __name__ == "__main__":
    unittest.main()
