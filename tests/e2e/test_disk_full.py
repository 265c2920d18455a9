"""A disk that fills up during a run, or a file-size limit: the tests whose
files no longer fit say so in Warning lines, the job still ends normally
with a status that says so, and the results file keeps every whole line
that reached it before the disk was full."""

import os
import unittest

from testbed import files_left as f
from testbed import harness as h
from orvantic import grammar, texts
from testbed import report_checks as c
from testbed import report_expectations as expect

PAGE = 4096  # tmpfs hands out space a page at a time
# A scratch file that does not fit is short: its byte-wise write and read
# fail, the block read finds less than its work, and the copy of that block
# is no measurement either.
SPEED_TESTS = {"low-write", "low-read", "high-read", "high-write"}


class DiskFull:
    """Cases shared by the small and the shipped build."""

    binary = None

    def setUp(self):
        h.require_root(self, "unshare")
        self.node = h.host_name()

    def run_in(self, mounts, apps):
        """A job whose app contexts, given as (process count, directory),
        run in directories turned into tmpfs mounts, given as (directory,
        size, bytes taken before the start). Directories are relative to a
        fresh workspace; "." is its run directory."""
        ws = h.Workspace(self, self.binary)
        self.ws = ws
        where = lambda directory: os.path.normpath(os.path.join(ws.cwd, directory))
        prefix, self.left = ws.on_tmpfs(*[(where(d), size, fill) for d, size, fill in mounts])
        cmd = ws.job(*[(count, ["-wdir", where(d)] + ws.own_console([ws.exe])) for count, d in apps])
        run = ws.run(cmd, prefix=prefix, timeout=h.HANG_LIMIT)
        c.check_exit_status(self, run, clean=False)
        return run

    def left_in(self, directory, *name):
        """Where the copy of what the job left in directory is."""
        mount = os.path.normpath(os.path.join(self.ws.cwd, directory))
        return os.path.join(self.left, os.path.basename(mount), *name)

    def elsewhere(self, directory, ranks):
        """The grammar's `misplaced` for worker ranks run in a directory
        apart from the root's."""
        where = os.path.normpath(os.path.join(self.ws.cwd, directory))
        return {rank: (where, self.ws.cwd) for rank in ranks}

    def check_root(self, run, ranks, failing, saved, directory=None, misplaced=None):
        """Root console against the report with the given Warning lines; the
        results file, in directory (default: the copy of the run directory's
        tmpfs), a whole-line prefix of the file side. Returns its bytes."""
        name, data = f.results_file(self, directory or self.left_in("."))
        f.check_results_name(self, name, self.node, run)
        nodes = {k: self.node for k in range(ranks)}
        expected = grammar.report_lines(grammar.CONSOLE, nodes, self.ws.cwd + "/" + name, failing=failing,
                                        misplaced=misplaced, saved=texts.SAVED if saved else texts.NOT_SAVED)
        console = c.check_sink(self, expected, self.ws.console_of(0), "rank 0 console", self.node)
        _, complete = c.check_results(self, data,
                                      grammar.report_lines(grammar.FILE, nodes, failing=failing, misplaced=misplaced),
                                      self.node, console, prefix_only=True)
        self.assertEqual(complete, saved, "end-of-run line against the results file")
        return data

    def test_scratch_files_do_not_fit(self):
        # Root and worker each on a tmpfs smaller than one scratch file: the
        # byte-wise writes and the copies fail, the block reads find the
        # shorter file: less than their work, so no measurement either. The
        # worker's failures reach the report. The results file took its
        # first page with the banner, before the scratch file filled the
        # rest: the warnings take the report past that page, so the end of
        # the run says it could not be saved.
        run = self.run_in([(".", self.tmpfs_size, 0), ("../worker", self.tmpfs_size, 0)],
                          [(1, "."), (1, "../worker")])
        misplaced = self.elsewhere("../worker", [1])
        self.check_root(run, 2, failing=c.failing_on(SPEED_TESTS, [0, 1]), saved=False, misplaced=misplaced)
        c.match_lines(self, expect.worker_lines(1, self.node, SPEED_TESTS, misplaced=misplaced[1]),
                      self.ws.console_of(1), "rank 1 console")
        for directory, name in ((".", texts.SINGLE_SCRATCH), ("../worker", expect.rank_files(1, self.node)[0])):
            written = os.path.getsize(self.left_in(directory, name))
            self.assertTrue(0 < written < self.scratch_size, "%s is %d bytes" % (name, written))


class SmallBuildDiskFullTests(DiskFull, unittest.TestCase):
    binary = h.SMALL
    scratch_size = h.SMALL_COUNTS.first_pass
    tmpfs_size = 12 * PAGE

    def test_no_room_even_for_the_results_file(self):
        # Every page taken before the start: files can still be created,
        # not one byte written.
        run = self.run_in([(".", 16 * PAGE, 16 * PAGE)], [(1, ".")])
        data = self.check_root(run, 1, failing=SPEED_TESTS, saved=False)
        self.assertEqual(data, b"")

    def test_results_file_cut_short(self):
        # Two pages left to the root: the banner takes the first for the
        # results file, the byte-wise write the second, so the file stops at
        # one page, in the cluster section. Where that falls within a line
        # depends on the widths of the numbers before it; jobs of several
        # sizes put it into different lines, so that a cut that happens to
        # fall on a line end in one of them cannot hide a half line.
        # The workers run on a roomy tmpfs of their own.
        for workers in (3, 4, 5, 6):
            with self.subTest(workers=workers):
                run = self.run_in([(".", 16 * PAGE, 14 * PAGE), ("../workers", 2 << 20, 0)],
                                  [(1, "."), (workers, "../workers")])
                misplaced = self.elsewhere("../workers", range(1, workers + 1))
                data = self.check_root(run, workers + 1, failing=SPEED_TESTS, saved=False, misplaced=misplaced)
                self.assertLessEqual(len(data), PAGE)
                for rank in range(1, workers + 1):
                    c.match_lines(self, expect.worker_lines(rank, self.node, misplaced=misplaced[rank]),
                                  self.ws.console_of(rank), "rank %d console" % rank)


    def test_file_size_limit(self):
        # Limited ranks may write files of half a scratch file: the writes
        # past that fail and are counted, where the limit's signal would end
        # the rank in the middle of a test. The block tests read the shorter
        # file whole, which is less than their work, and their copies fit.
        # Not on the launcher, whose own files do not fit under such a
        # limit. With the root alone limited, its workers' rates stand, but
        # every speed-up divides by a rate of the root's that does not.
        h.require_root(self, "prlimit")
        if not h.open_mpi():
            self.skipTest("MPICH's UCX transport cannot start under a limit smaller than its own shared-memory "
                          "files")
        limit = self.scratch_size // 2
        for limited_ranks, size in (([0, 1], 2), ([0], 3)):
            with self.subTest(limited=limited_ranks):
                ws = self.ws = h.Workspace(self, self.binary)
                limited = ["prlimit", "--fsize=%d:%d" % (limit, limit), ws.exe]
                apps = [(len(limited_ranks), ws.own_console(limited)),
                        (size - len(limited_ranks), ws.own_console([ws.exe]))]
                run = ws.run(ws.job(*[app for app in apps if app[0]]))
                c.check_exit_status(self, run, clean=False)
                failing = c.failing_on(SPEED_TESTS, limited_ranks)
                data = self.check_root(run, size, failing=failing, saved=True, directory=ws.cwd)
                c.check_csv_validity(self, f.results_file(self, ws.cwd)[0], data, failing)
                nodes = {rank: self.node for rank in range(size)}
                for rank in range(1, size):
                    own = SPEED_TESTS if rank in limited_ranks else ()
                    c.match_lines(self, expect.worker_lines(rank, self.node, own), ws.console_of(rank),
                                  "rank %d console" % rank)
                for rank in range(size):
                    for scratch in f.scratch_names(nodes, [rank]):
                        f.assert_filled(self, os.path.join(ws.cwd, scratch),
                                        limit if rank in limited_ranks else self.scratch_size)


class ShippedBuildDiskFullTests(DiskFull, unittest.TestCase):
    binary = h.SHIPPED
    scratch_size = h.SHIPPED_COUNTS.first_pass
    tmpfs_size = 1 << 20  # a sixteenth of a scratch file: seconds of byte-wise writing


if __name__ == "__main__":
    unittest.main()
