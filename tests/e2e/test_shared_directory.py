"""Two runs in one directory. The scratch names repeat from run to run, so a
run whose files a live run holds stops before it touches any file, says
which process holds them, and ends with status 1, while the first run goes
on unharmed. What a killed run leaves is no obstacle to the next."""

import os
import shutil
import signal
import subprocess
import unittest

from testbed import files_left as f
from testbed import harness as h
from orvantic import texts
from testbed import report_checks as c
from testbed import report_expectations as expect


class SharedDirectory:
    """Cases shared by the small and the shipped build: the first run is of
    `binary`, the second of the other build."""

    binary = None
    second_binary = None
    counts = None
    processes = None

    def setUp(self):
        self.ws = h.Workspace(self, self.binary)
        self.node = h.host_name()
        self.nodes = {k: self.node for k in range(self.processes)}
        self.second = os.path.join(os.path.dirname(self.ws.exe), "orvantic-drives-second")
        shutil.copy2(self.second_binary, self.second)

    def start_first(self, stdin=subprocess.DEVNULL):
        ws = self.ws
        return ws.start(ws.job((self.processes, ws.own_console([ws.exe]))), stdin=stdin,
                        stdout=subprocess.DEVNULL)

    def wait_for_console(self, first, line):
        """Waits until the first run's root has written `line`; returns the
        first run's pids by rank."""
        self.ws.wait_for_line(first, line)
        return {h.rank_of(pid): pid for pid in h.benchmark_pids(self.ws.exe)}

    def directory_state(self, idle):
        """What is in the run directory: every file's snapshot while the
        first run is idle, only the names while it still writes its own."""
        return {name: f.snapshot(os.path.join(self.ws.cwd, name)) if idle else None for name in self.ws.files()}

    def check_second_refused(self, pids, first_idle):
        """A second run of as many processes in the same directory: refused,
        naming the first run's process of each rank, and nothing in the
        directory added, removed or (while the first run is idle) changed."""
        ws = self.ws
        before = self.directory_state(first_idle)
        second = ws.run(ws.mpiexec(self.processes) + [self.second])
        c.check_exit_status(self, second, clean=False)
        holds = [(k, self.node, ws.cwd, "process %d on %s" % (pids[k], self.node)) for k in sorted(self.nodes)]
        c.match_lines(self, expect.held_lines(holds), second.lines, "second run's console")
        self.assertEqual(self.directory_state(first_idle), before, "the run directory")

    def check_first_clean(self, first):
        """The first run ended on its own: a whole report without warnings,
        its files as a lone run leaves them, no claim file."""
        ws = self.ws
        try:
            first.wait(timeout=h.HANG_LIMIT * 3)
        except subprocess.TimeoutExpired:
            self.fail("the first run did not end")
        self.assertEqual(first.returncode, 0, "the first run's exit status")
        name, data = f.results_file(self, ws.cwd)
        c.check_report(self, ws.console_of(0), ws.cwd + "/" + name, data, self.nodes, self.counts,
                       sink="first run's console")
        f.check_files_left(self, ws.cwd, self.nodes, name, self.counts)


class SmallBuildSharedDirectoryTests(SharedDirectory, unittest.TestCase):
    binary = h.SMALL
    second_binary = h.SHIPPED  # it stops at start-up: seconds, whatever its counts
    counts = h.SMALL_COUNTS
    processes = 2

    def test_full_run_while_a_small_one_waits_for_enter(self):
        # The first run holds its files until it ends, here after its whole
        # report, while it waits for Enter.
        first = self.start_first(stdin=subprocess.PIPE)
        pids = self.wait_for_console(first, texts.PRESS_ENTER)
        self.check_second_refused(pids, first_idle=True)
        first.stdin.write(b"\n")
        first.stdin.close()
        self.check_first_clean(first)

    def test_hold_left_by_a_killed_run(self):
        # Killed without a chance to clean up: its claim files stay, but no
        # process holds them any more, and the next run takes them over.
        ws = self.ws
        first = self.start_first(stdin=subprocess.PIPE)
        pids = self.wait_for_console(first, texts.PRESS_ENTER)
        for pid in pids.values():
            os.kill(pid, signal.SIGKILL)
        os.killpg(first.pid, signal.SIGKILL)
        first.wait()
        ws.wait_until_gone()
        claims = [expect.claim_name(k, self.node) for k in sorted(self.nodes)]
        self.assertTrue(set(claims) <= set(ws.files()), "claim files of the killed run: %s" % ws.files())
        for name in f.results_file_names(ws.cwd):
            os.remove(os.path.join(ws.cwd, name))
        c.check_run(self, ws.run_binary(self.processes), self.counts, self.nodes)


    def test_claims_whose_holders_cannot_be_seen_running(self):
        # What a client of a shared file system that was lost leaves behind,
        # as far as a run can tell: claims locked, and the process each names
        # gone from this node (rank 0's) or on another node, out of sight
        # (rank 1's). The file system's own lock cannot be made here; a live
        # process holds the claims in its stead.
        ws = self.ws
        ended = subprocess.Popen(["true"])
        ended.wait()
        holders = {0: "process %d on %s" % (ended.pid, self.node), 1: "process 4711 on node-elsewhere"}
        claims = [arg for k, text in sorted(holders.items())
                  for arg in (os.path.join(ws.cwd, expect.claim_name(k, self.node)), text)]
        holder = ws.hold("import fcntl, os, sys\n"
                         "for path, text in zip(sys.argv[1::2], sys.argv[2::2]):\n"
                         "    held = os.open(path, os.O_RDWR | os.O_CREAT)\n"
                         "    fcntl.flock(held, fcntl.LOCK_EX)\n"
                         "    os.write(held, text.encode())\n", *claims)
        run = ws.run(ws.mpiexec(self.processes) + [ws.exe])
        c.check_exit_status(self, run, clean=False)
        holds = [(k, self.node, ws.cwd, holders[k]) for k in sorted(self.nodes)]
        c.match_lines(self, expect.held_lines(holds, ended={0}), run.lines, "console")
        holder.stdin.close()
        self.assertEqual(holder.wait(timeout=60), 0)


class ShippedBuildSharedDirectoryTests(SharedDirectory, unittest.TestCase):
    binary = h.SHIPPED
    second_binary = h.SMALL
    counts = h.SHIPPED_COUNTS
    processes = 1

    def test_small_run_during_a_full_runs_low_write(self):
        # The byte-wise write of the first run's scratch file takes seconds:
        # a second run then would have removed and rewritten that file.
        first = self.start_first()
        pids = self.wait_for_console(first, texts.LOW_SPEEDS)
        self.check_second_refused(pids, first_idle=False)
        self.check_first_clean(first)


if __name__ == "__main__":
    unittest.main()
