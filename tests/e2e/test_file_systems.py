"""Jobs of one node on local file systems made afresh on loop devices: xfs,
btrfs and ext4 with a journal. Their whole report and the files they leave
are checked as for any run, and where they ran as the kernel had it."""

import os
import unittest

from testbed import harness as h
from testbed import report_checks as c

# What each holds when fresh, beside which the job leaves its files.
FILE_SYSTEMS = {"xfs": (), "btrfs": (), "ext4": ("lost+found",)}
IMAGE_SIZE = 320 << 20  # above the smallest xfs and btrfs make; the image is sparse
PROCESSES = 3


class FileSystemTests(unittest.TestCase):
    def test_small_job_on_each(self):
        h.require_root(self, "unshare", "findmnt")
        for fstype, fresh in FILE_SYSTEMS.items():
            with self.subTest(fstype):
                self.run_on(fstype, fresh)

    def run_on(self, fstype, fresh):
        ws = h.Workspace(self, h.SMALL)
        prefix, left = ws.on_mounts((ws.cwd, fstype, IMAGE_SIZE, 0))
        # By path: the launcher starts out in the directory the mount covers.
        run = ws.run(ws.job((PROCESSES, ["-wdir", ws.cwd, ws.exe])), prefix=prefix)
        print("%s: %d processes, %.2f s" % (fstype, PROCESSES, run.ended - run.started), flush=True)
        c.check_exit_status(self, run)  # else nothing was copied out to check
        self.assertEqual(h.mounted_file_system(left, ws.cwd), (fstype, fstype == "ext4"),
                         "(file system, jbd2 journal) the job ran on")
        # Back where the job wrote them, so the run is checked as any other.
        os.rmdir(ws.cwd)
        os.rename(os.path.join(left, os.path.basename(ws.cwd)), ws.cwd)
        c.check_run(self, run, h.SMALL_COUNTS, {rank: h.host_name() for rank in range(PROCESSES)}, planted=fresh)


if __name__ == "__main__":
    unittest.main()
