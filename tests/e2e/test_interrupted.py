"""Jobs cut off from outside: a worker killed in the middle of a phase, and
the launcher told to terminate. The job must end soon after, leave none of
its processes behind, and leave consoles and results file with whole lines
only, each the report's next one. The shipped build is used so that the
phases last long enough to be hit in the middle."""

import os
import signal
import subprocess
import time
import unittest

import faults_support as f
from faults_support import c, h, r

ENDS_WITHIN = 60  # seconds after the signal; only there to catch a hang


class InterruptedJobTests(unittest.TestCase):
    def setUp(self):
        self.ws = h.Workspace(self, h.SHIPPED)
        self.node = h.host_name()
        self.consoles = f.consoles_dir(self.ws)
        self.launcher = self.ws.start(f.job(self.ws, (3, f.own_console(self.consoles, [self.ws.exe]))),
                                      stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def wait_for_file(self, name):
        """Blocks until the job has written into the named file: the byte-wise
        write phase is then under way (the handling phases leave it empty)."""
        path = os.path.join(self.ws.cwd, name)
        deadline = time.time() + h.HANG_LIMIT
        while time.time() < deadline:
            self.assertIsNone(self.launcher.poll(), "the job ended before %s was written" % name)
            try:
                if 0 < os.path.getsize(path) < h.SHIPPED_COUNTS.first_pass // 2:
                    return
            except OSError:
                pass
            time.sleep(0.05)
        self.fail("%s was never written" % name)

    def check_cut_short(self):
        try:
            self.launcher.wait(timeout=ENDS_WITHIN)
        except subprocess.TimeoutExpired:
            self.fail("the job still runs %d s after the signal" % ENDS_WITHIN)
        deadline = time.time() + 10
        while h.benchmark_pids(self.ws.exe) and time.time() < deadline:
            time.sleep(0.2)
        self.assertEqual(h.benchmark_pids(self.ws.exe), [], "benchmark processes left behind")

        name, data = f.results_file(self, self.ws.cwd)
        nodes = {k: self.node for k in range(3)}
        report = r.full_report(nodes, self.ws.cwd + "/" + name)
        console = h.match_lines(self, report.console, f.console_of(self, self.consoles, 0), "rank 0 console",
                                prefix_only=True)
        self.assertFalse(f.check_results_prefix(self, data, report, console), "the report was complete")
        # The banner and the first single-node lines were written long before.
        self.assertIn(b"Force to be single thread.\n", data)

    def test_worker_killed_in_the_middle_of_a_phase(self):
        self.wait_for_file(c.rank_files(2, self.node)[0])
        victims = [pid for pid in h.benchmark_pids(self.ws.exe) if h.rank_of(pid) == 2]
        self.assertEqual(len(victims), 1, "rank 2 among %s" % h.benchmark_pids(self.ws.exe))
        os.kill(victims[0], signal.SIGKILL)
        self.check_cut_short()

    def test_launcher_terminated(self):
        self.wait_for_file(c.SINGLE_SCRATCH)
        self.launcher.send_signal(signal.SIGTERM)
        self.check_cut_short()


if __name__ == "__main__":
    unittest.main()
