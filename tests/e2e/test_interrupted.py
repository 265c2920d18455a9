"""Jobs cut off from outside: a worker killed in the middle of a phase, a
worker told to terminate, the launcher told to terminate, and the root
told to terminate in its single-node tests and while it waits for a
worker. The job must end soon after, leave none of its processes behind,
leave consoles and results file with whole lines only, each the report's
next one, then, where the root was told to terminate, the line that says
so, and no claim file that keeps the next run out. The shipped build is
used so that the tests and phases last long enough to be hit in the
middle."""

import fcntl
import os
import shutil
import signal
import subprocess
import time
import unittest

from testbed import files_left as f
from testbed import harness as h
from orvantic import grammar, reading
from testbed import report_checks as c
from testbed import report_expectations as expect

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
        ended_by(self, self.launcher)
        self.ws.wait_until_gone()
        # The launcher may tell the root to terminate before it kills it.
        check_report_cut(self, self.ws, {k: self.node for k in range(3)}, c.Stop(required=False))

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


def ended_by(test, launcher):
    """Waits for the job to end after its signal."""
    try:
        launcher.wait(timeout=ENDS_WITHIN)
    except subprocess.TimeoutExpired:
        test.fail("the job still runs %d s after the signal" % ENDS_WITHIN)


def check_report_cut(test, ws, nodes, stop):
    """The root's console and results file: the report's lines up to where
    it was cut, then the stop line `stop` (a report_checks.Stop). Returns
    the results file's name and bytes."""
    node = nodes[0]
    name, data = f.results_file(test, ws.cwd)
    console = c.check_sink(test, grammar.report_lines(grammar.CONSOLE, nodes, ws.cwd + "/" + name),
                           ws.console_of(0), "rank 0 console", node, prefix_only=True, stop=stop)
    _, complete = c.check_results(test, data, grammar.report_lines(grammar.FILE, nodes), node, console,
                                  prefix_only=True, stop=stop)
    test.assertFalse(complete, "the report was complete")
    # The banner and the first single-node lines were written long before.
    test.assertIn(b"Force to be single thread.\n", data)
    return name, data


STOPS = [(signal.SIGTERM, "signal SIGTERM (15)"), (signal.SIGINT, "signal SIGINT (2)"),
         (signal.SIGHUP, "signal SIGHUP (1)")]


class RootStoppedTests(unittest.TestCase):
    """The root told to terminate, as a batch system or a user at the
    console tells it, in each of the two parts of the report: its console
    and results file end with the line that says by what and where, the
    results file reads as a report that ends early, and its claim file is
    gone."""

    def stop_root(self, ws, job, heading_lines, how):
        """Waits until the root's console ends with heading_lines, then tells
        the root to terminate and waits for the job to end."""
        deadline = time.time() + h.HANG_LIMIT
        console = os.path.join(ws.consoles, "rank.0")
        while h.read_text(console).split("\n")[-len(heading_lines) - 1:-1] != heading_lines:
            self.assertIsNone(job.poll(), "the job ended before the root wrote %r" % heading_lines)
            self.assertLess(time.time(), deadline, "the root never wrote %r" % heading_lines)
            time.sleep(0.05)
        # Past the heading, the root measures or waits for seconds.
        time.sleep(0.5)
        (root,) = [pid for pid in h.benchmark_pids(ws.exe) + h.benchmark_pids(self.small) if h.rank_of(pid) == 0]
        os.kill(root, how)
        ended_by(self, job)

    def check_stopped(self, ws, nodes, request, place):
        name, _ = check_report_cut(self, ws, nodes, c.Stop(True, request, place))
        run = reading.parse(os.path.join(ws.cwd, name))
        self.assertEqual((run.ended_early, run.stopped_by, run.stopped_during), (True, request, place))
        self.assertNotIn(expect.claim_name(0, nodes[0]), ws.files(), "the root left its claim file")

    def workspace(self):
        """A workspace of the shipped build with a copy of the small one
        beside it, whose processes are ended at the end too."""
        ws = h.Workspace(self, h.SHIPPED)
        self.small = os.path.join(os.path.dirname(ws.exe), "small-" + os.path.basename(h.SMALL))
        shutil.copy2(h.SMALL, self.small)
        self.addCleanup(kill_all, self.small)
        return ws

    def test_in_a_single_node_test(self):
        for how, request in STOPS:
            with self.subTest(request):
                ws = self.workspace()
                job = ws.start(ws.job((1, ws.own_console([ws.exe]))), stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)
                self.stop_root(ws, job, ["Power of Handling Files -- Lower", ""], how)
                ws.wait_until_gone()
                self.check_stopped(ws, {0: h.host_name()}, request, "during the single-node stream handling test")

    def test_while_waiting_for_a_worker(self):
        # A root of the small build is through its own tests at once, and
        # waits for workers of the shipped build in their first phase.
        for how, request in STOPS:
            with self.subTest(request):
                ws = self.workspace()
                job = ws.start(ws.job((1, ws.own_console([self.small])), (2, ws.own_console([ws.exe]))),
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
                self.stop_root(ws, job, ["Multi-Thread Enabled:", "Power of Handling Files -- Lower", ""], how)
                ws.wait_until_gone()
                self.assertEqual(h.benchmark_pids(self.small), [], "the root left running")
                self.check_stopped(ws, {k: h.host_name() for k in range(3)}, request,
                                   "during cluster phase 1 (stream handling), waiting for rank 1")


def kill_all(exe):
    for pid in h.benchmark_pids(exe):
        try:
            os.kill(pid, signal.SIGKILL)
        except OSError:  # gone meanwhile
            pass


if __name__ == "__main__":
    unittest.main()
