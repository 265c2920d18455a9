"""Runs of the arm64 test build under qemu-aarch64 at 16 KiB pages, as on
Apple's arm64 machines: one process started without a launcher (an MPICH
singleton) and a job of three under the host's MPICH launcher, each checked
line by line against the report grammar, with its arithmetic and the files
it leaves byte for byte.

Run by tests/lanes/test-arm64, which builds the program and its arm64 MPICH; by
hand: ORVANTIC_ARM64_PROGRAM=<program> ORVANTIC_ARM64_EMULATOR="qemu-aarch64
-p 16384" ORVANTIC_MPIEXEC=/usr/bin/mpiexec.mpich python3 tests/arm64/test_runs.py"""

import os
import shlex
import sys
import unittest

sys.dont_write_bytecode = True  # keep the checkout clean

from testbed import harness as h  # noqa: E402
from testbed import report_checks as c  # noqa: E402

PROGRAM = os.environ.get("ORVANTIC_ARM64_PROGRAM")
EMULATOR = shlex.split(os.environ.get("ORVANTIC_ARM64_EMULATOR", "qemu-aarch64 -p 16384"))


class EmulatedRunTests(unittest.TestCase):
    def setUp(self):
        if not PROGRAM:
            self.skipTest("ORVANTIC_ARM64_PROGRAM names no program (tests/lanes/test-arm64 sets it)")
        self.ws = h.Workspace(self, PROGRAM)

    def test_one_process_without_a_launcher(self):
        run = self.ws.run(EMULATOR + [self.ws.exe])
        c.check_run(self, run, h.SMALL_COUNTS, {0: h.host_name()})

    def test_three_processes_under_the_launcher(self):
        if h.open_mpi():
            self.skipTest("the program is built on MPICH; ORVANTIC_MPIEXEC names Open MPI's launcher")
        run = self.ws.run(self.ws.job((3, EMULATOR + [self.ws.exe])))
        c.check_run(self, run, h.SMALL_COUNTS, {rank: h.host_name() for rank in range(3)})


if __name__ == "__main__":
    unittest.main()
