"""Jobs across the three simulated nodes on CephFS (tests/testbed/
ceph_volume.py), the second shared file system beside GlusterFS: one
metadata server decides every create, open and lock, and each node's FUSE
client holds capabilities the server must take back before another client
may use the same file. The jobs and their checks are the GlusterFS cases'."""

import os
import signal
import subprocess
import time
import unittest

from testbed import ceph_volume as cv
from testbed import job_checks as jc
from testbed import simulated_nodes as sn
from testbed.job_checks import SHARED_DIRECTORY, ThreeNodeJob, f, h

# The root alone on node01, one worker on each other node: every case needs
# no more, and a rank more makes a job on CephFS seconds longer.
SLOTS = (1, 1, 1)
# Seconds a lost server (the MDS, the OSD) stays away in its case: longer
# than a whole job of the test build takes, so that its absence shows.
SERVER_ABSENCE = 10


class CephFsTests(unittest.TestCase):
    def ceph_directory(self):
        """A cluster of three nodes, each mounting the file system at
        SHARED_DIRECTORY through its own client. Returns the cluster, the
        volume and where the machine sees the volume: through node01's
        mount."""
        cluster = sn.Cluster.start_for(self)
        started = time.time()
        volume = cv.CephVolume.mount_for(self, cluster, SHARED_DIRECTORY)
        print("Ceph cluster up and mounted on %d nodes in %.1f s" % (len(cluster.nodes), time.time() - started))
        return cluster, volume, volume.view(cluster.nodes[0])

    def test_job_on_a_ceph_volume(self):
        # All ranks in one directory of the file system.
        cluster, _, view = self.ceph_directory()
        job = ThreeNodeJob(self, cluster, h.FUSE, SHARED_DIRECTORY, slots=SLOTS)
        status, stderr, seconds = job.wait()
        print("job of %d ranks on CephFS: %.1f s" % (len(job.nodes), seconds))
        self.assertEqual(status, 0, stderr)
        jc.check_nothing_left(self, cluster)
        jc.check_whole_run(self, job, view)

    def test_two_jobs_on_a_ceph_volume(self):
        # The second job's root, on node02, finds the first's root's claim
        # held from node01: a process it cannot look for.
        cluster, _, view = self.ceph_directory()
        jc.check_two_jobs_in_one_directory(self, cluster, view, h.FUSE)

    def test_killed_job_then_another_on_a_ceph_volume(self):
        # node03's client is killed under a running job and then every rank,
        # as when node03 goes down and the job is ended: the MDS keeps
        # node03's claims locked for the lost client. node03 mounts again
        # and the next job, started at once, finds them so. Its rank there
        # is not refused: its open of the claim waits until the MDS, which
        # cannot take back the lost client's write capabilities, evicts it
        # once it has gone unheard for cv.SESSION_TIMEOUT s, and its locks
        # with it. Then it takes the claim over and the job runs whole. The
        # killed job's root waits for Enter at the end, so the kills come
        # before it.
        cluster, volume, view = self.ceph_directory()
        node03 = cluster.nodes[2]
        killed = ThreeNodeJob(self, cluster, h.FUSE, SHARED_DIRECTORY, slots=SLOTS, output="out-killed",
                              stdin=subprocess.PIPE)
        claims = jc.wait_until_claimed(self, killed, view)
        lost = {session for session, name in volume.sessions().items() if name == node03.name}
        down = time.time()
        os.kill(volume.client_of(node03), signal.SIGKILL)
        jc.kill_every_rank(cluster)
        status, _, _ = killed.wait()
        self.assertNotEqual(status, 0)
        jc.check_nothing_left(self, cluster)
        volume.mount(node03)
        self.assertLessEqual(claims, set(os.listdir(view)), "claim files left by the killed job")
        self.assertLessEqual(lost, set(volume.sessions()), "the MDS gave the lost client up before the next job "
                             "(%.0f s after the loss)" % (time.time() - down))

        left = f.results_file_names(view)
        job = ThreeNodeJob(self, cluster, h.FUSE, SHARED_DIRECTORY, slots=SLOTS)
        status, stderr, seconds = job.wait()
        print("the next job started %.1f s after node03 went down and took %.1f s" % (job.started - down, seconds))
        self.assertEqual(status, 0, stderr)
        jc.check_whole_run(self, job, view, planted=left)
        self.assertEqual(lost & set(volume.sessions()), set(), "the lost client's session is still open")

    def test_ceph_client_of_a_node_lost_mid_run(self):
        # node03's client is killed while its worker is in its first phase:
        # its file operations fail from then on ("Transport endpoint is not
        # connected"), and those of the other nodes that need what the lost
        # client held (the directory) wait until the MDS gives it up.
        cluster, volume, view = self.ceph_directory()
        jc.check_client_of_node03_lost(self, cluster, volume, view, slots=SLOTS)

    def test_ceph_metadata_server_lost_mid_run(self):
        # With no standby MDS to take over, every rank's next create, open
        # or remove waits for it, with no error and no end.
        self.check_server_away("mds", always_waits=True)

    def test_ceph_object_store_lost_mid_run(self):
        # The one OSD holds every file's data and the MDS's journal, but
        # the clients keep what they write in their caches and the MDS
        # answers before its journal is written: seen here, either ranks
        # wait in a write (pwrite) their client cannot finish, and the
        # others for them, or the job ends meanwhile, its files not yet
        # stored. No error either way.
        self.check_server_away("osd", always_waits=False)

    def check_server_away(self, kind, always_waits):
        """The hub's ceph-KIND daemon is killed while the workers work and
        started again SERVER_ABSENCE s later: the job waits meanwhile (or
        may end, unless always_waits), then the clients reconnect, and it
        ends whole, the pause inside the times of the tests it fell in."""
        cluster, volume, view = self.ceph_directory()
        job = ThreeNodeJob(self, cluster, h.FUSE, SHARED_DIRECTORY, slots=SLOTS)
        jc.wait_until_claimed(self, job, view)
        os.kill(volume.daemon(kind), signal.SIGKILL)
        time.sleep(SERVER_ABSENCE)
        waited = job.proc.poll() is None
        if always_waits:
            self.assertTrue(waited, "the job ended while the %s was away" % kind)
        volume.start_daemon(kind)
        back = time.time()
        status, stderr, _ = job.wait()
        print("job ended %.1f s after the %s was back" % (time.time() - back, kind) if waited
              else "job ended while the %s was away" % kind)
        self.assertEqual(status, 0, stderr)
        jc.check_nothing_left(self, cluster)
        jc.check_whole_run(self, job, view)


if __name__ == "__main__":
    unittest.main()
