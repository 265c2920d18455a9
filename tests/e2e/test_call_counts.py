"""The system calls the low and high tests make on their files, counted with
strace in a one-process run of the small build, and held to what the C++
library the binary uses does today. "Millions Accesses/sec." means a
different amount of system work on each library, so a change of class is a
change of what the figures mean, on either side: a buffered low read that
turned into a call per byte, or the other way round, fails here."""

import collections
import os
import re
import shutil
import subprocess
import unittest

from testbed import harness as h
from orvantic import texts

READS = ("read", "readv", "pread64", "preadv", "preadv2")
WRITES = ("write", "writev", "pwrite64", "pwritev", "pwritev2")
SEEKS = ("lseek",)
TRACED = ("openat", "close") + READS + WRITES + SEEKS

# With -y every descriptor shows the path it leads to: name(fd<path>, ...) = result
_CALL = re.compile(r"^(\w+)\((\d+)<([^>]*)>.* = (-?\d+)")
_OPEN = re.compile(r"^openat\(.*, (O_[A-Z_|]+)[,)].* = (\d+)<([^>]*)>$")

COUNTS = h.SMALL_COUNTS
LIBSTDCXX, LIBCXX = "libstdc++", "libc++"


def cxx_library(binary):
    """The C++ library the binary loads: libstdc++ (GCC's), libc++ (LLVM's,
    Apple's), or None when it names neither."""
    dynamic = subprocess.run(["readelf", "-d", binary], stdout=subprocess.PIPE, text=True, check=True,
                             timeout=60).stdout
    needed = re.findall(r"\(NEEDED\)\s+Shared library: \[(.+?)\]", dynamic)
    for prefix, library in (("libc++.so", LIBCXX), ("libstdc++.so", LIBSTDCXX)):
        if any(name.startswith(prefix) for name in needed):
            return library
    return None


class Opening:
    """One opening of a scratch file and the calls made on it until its close."""

    def __init__(self, name, flags):
        self.name = name
        self.writable = "O_WRONLY" in flags or "O_RDWR" in flags
        self.calls = []

    def results(self, kinds):
        """What each call of the kinds returned that moved data: its bytes."""
        return [result for call, result in self.calls if call in kinds and result > 0]

    def count(self, kinds):
        return sum(call in kinds for call, _ in self.calls)


def openings(trace, names):
    """Every opening of the files named, in the order of the trace."""
    found, open_now = [], {}
    for line in trace.splitlines():
        opened = _OPEN.match(line)
        if opened:
            name = os.path.basename(opened.group(3))
            if name in names:
                open_now[opened.group(2)] = Opening(name, opened.group(1))
                found.append(open_now[opened.group(2)])
            continue
        call = _CALL.match(line)
        if call and call.group(2) in open_now:
            if call.group(1) == "close":
                del open_now[call.group(2)]
            else:
                open_now[call.group(2)].calls.append((call.group(1), int(call.group(4))))
    return found


class CallCountTests(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        if shutil.which("strace") is None or shutil.which("readelf") is None:
            raise unittest.SkipTest("needs strace and readelf (Debian's strace and binutils)")
        if subprocess.run(["strace", "-qq", "-o", os.devnull, "true"], stdout=subprocess.DEVNULL,
                          stderr=subprocess.DEVNULL, timeout=60).returncode != 0:
            raise unittest.SkipTest("strace cannot trace here (ptrace not permitted)")
        ws = h.module_workspace(h.SMALL)
        cls.library = cxx_library(ws.exe)
        trace = os.path.join(ws.root, "trace")
        # The main thread does all the file work; MPI's own threads are not
        # followed. -s 0: the data itself is not wanted, only the sizes.
        strace = ["strace", "-qq", "-y", "-s", "0", "-e", "signal=none", "-e", "trace=" + ",".join(TRACED),
                  "-o", trace]
        cls.job = ws.run(ws.mpiexec(1) + strace + [ws.exe])
        with open(trace, encoding="utf-8", errors="replace") as f:
            moving = [o for o in openings(f.read(), (texts.SINGLE_SCRATCH, texts.SINGLE_COPY))
                      if o.results(READS + WRITES)]
        cls.phases = dict(zip(("low write", "low read", "high read", "high write"), moving))
        cls.moving = [(o.name, o.writable) for o in moving]

    def setUp(self):
        self.assertEqual(self.job.returncode, 0, "the run under strace failed:\n" + self.job.stderr)
        self.assertIn(self.library, (LIBSTDCXX, LIBCXX), "the binary loads no C++ library known here")
        # Handling tests open and close without moving data: only the four
        # phases below move any.
        self.assertEqual(self.moving, [(texts.SINGLE_SCRATCH, True), (texts.SINGLE_SCRATCH, False),
                                       (texts.SINGLE_SCRATCH, False), (texts.SINGLE_COPY, True)],
                         "openings of the scratch files that moved data")

    def test_low_write_is_one_call_per_byte_on_every_library(self):
        phase = self.phases["low write"]
        self.assertEqual(collections.Counter(phase.results(WRITES)), {1: COUNTS.low_accesses})
        self.assertEqual(phase.count(SEEKS), 2, "the seeks between the passes")

    def test_low_read_is_buffered_on_libstdcxx_and_calls_per_byte_on_libcxx(self):
        phase = self.phases["low read"]
        reads, seeks = len(phase.results(READS)), phase.count(SEEKS)
        accesses = COUNTS.low_accesses
        if self.library == LIBSTDCXX:
            # get() refills a buffer of 8 KiB less one byte, and sync() leaves
            # an input buffer as it is: one read per 8 KiB of the passes.
            self.assertTrue(accesses // 8192 <= reads <= accesses // 8192 + 4, "%d reads" % reads)
            self.assertLessEqual(max(phase.results(READS)), 8192)
            self.assertLessEqual(seeks, 5, "the seeks between the passes")
        else:
            # sync() hands the unread rest of the buffer back with fseek,
            # which drops stdio's buffer: after each byte the C library seeks
            # back to the block's start and reads up to the byte again, and
            # the next get() reads a whole block.
            self.assertTrue(1.9 * accesses <= reads <= 2 * accesses, "%d reads" % reads)
            self.assertTrue(accesses <= seeks <= accesses + 8, "%d seeks" % seeks)

    def test_high_passes_are_one_call_each_on_libstdcxx_and_4_kib_calls_on_libcxx(self):
        passes = [COUNTS.first_pass, COUNTS.first_pass // 2]
        for name, kinds in (("high read", READS), ("high write", WRITES)):
            moved = self.phases[name].results(kinds)
            if self.library == LIBSTDCXX:
                # A block larger than the stream's buffer goes past it.
                self.assertEqual(moved, passes, name)
            else:
                self.assertEqual(moved, [4096] * (sum(passes) // 4096), name)


if __name__ == "__main__":
    unittest.main()
