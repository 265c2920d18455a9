"""Jobs across three simulated nodes, launched as on a real cluster
(testbed.job_checks), with the build's own launcher, Open MPI's or MPICH's."""

import json
import os
import signal
import subprocess
import time
import unittest

from testbed import gluster_volume as gv
from testbed import job_checks as jc
from testbed import simulated_nodes as sn

from testbed.job_checks import RUN_DIRECTORY, SHARED_DIRECTORY, c, f, h
from orvantic import texts

NODE_HOME = "/root"  # the home directory the agent logs in to


class ThreeNodeTests(unittest.TestCase):
    def test_job_over_three_nodes(self):
        cluster = sn.Cluster.start_for(self)
        job = jc.ThreeNodeJob(self, cluster, h.SMALL)
        status, stderr, seconds = job.wait()
        print("three-node job of %d ranks: %.1f s" % (len(job.nodes), seconds))
        self.assertEqual(status, 0, stderr)
        jc.check_nothing_left(self, cluster)
        head = cluster.nodes[0]
        jc.check_report_and_files(self, cluster, job.nodes, job.root_console(), others=[jc.OUTPUT])

        # Per-rank output files: where the launcher puts them, and empty but
        # for rank 0's standard output.
        layout = job.launch.output_layout(job.nodes, head.name)
        for node in cluster.nodes:
            files = cluster.scratch_files(node, jc.OUTPUT, recursive=True)
            self.assertEqual(set(files), layout.get(node.name, set()), "output files on %s" % node.name)
            for relative in files:
                relative = os.path.join(jc.OUTPUT, relative)
                if relative != job.console_path():
                    self.assertEqual(cluster.read_scratch(node, relative), b"", relative)

        # Teardown, checked here as well as after a failure: nothing of the
        # nodes is left on the machine.
        cluster.close()

    def test_slowed_node_named_by_the_tool_and_the_page(self):
        # node03's daemon and ranks run under strace, every system call held
        # 100 µs: slow in phases of microseconds as in long ones, where a CPU
        # quota binds only phases longer than its slice. slow-nodes and the
        # results page name node03, and node03 alone (bench/slow-nodes
        # --traced --slots 1,2,2: 5 of 5 jobs, the deciding ratio at most 0.054).
        cluster = sn.Cluster.start_for(self)
        why = cluster.trace_every_call("node03")
        if why:
            self.skipTest(why)
        job = jc.ThreeNodeJob(self, cluster, h.SMALL)
        status, stderr, _ = job.wait()
        self.assertEqual(status, 0, stderr)
        head = cluster.nodes[0]
        name = jc.results_file_on(self, cluster, head, "")
        ws = h.Workspace(self, h.SMALL)
        path = os.path.join(ws.cwd, name)
        with open(path, "wb") as results:
            results.write(cluster.read_scratch(head, name))

        done = h.run_script("slow-nodes", "--json", path)
        self.assertEqual(done.returncode, 0, done.stderr)
        judged = json.loads(done.stdout)
        self.assertEqual(list(judged["runs"][0]["slow"]), ["node03"], done.stdout)
        page = os.path.join(ws.root, "page.html")
        done = h.run_script("results-page", "-o", page, path)
        self.assertEqual(done.returncode, 0, done.stderr)
        with open(page, encoding="utf-8") as f:
            self.assertIn("<p>Slow nodes: node03.</p>", f.read())

    def run_in_directory(self, prepare):
        """A small-build job started on node01 in RUN_DIRECTORY below the
        scratch path; `prepare(cluster)` sets the nodes up first. Returns
        the cluster, the job and its (status, stderr, seconds)."""
        cluster = sn.Cluster.start_for(self)
        prepare(cluster)
        job = jc.ThreeNodeJob(self, cluster, h.SMALL, RUN_DIRECTORY)
        return cluster, job, job.wait()

    def test_node_whose_run_directory_is_read_only(self):
        # node03's run directory is a read-only mount: its two workers
        # create no file at all, and every one of their phases fails.
        def prepare(cluster):
            for node in cluster.nodes:
                node.sh('mkdir "$1"', os.path.join(cluster.scratch, RUN_DIRECTORY))
            cluster.nodes[2].sh('mount --bind "$1" "$1" && mount -o remount,bind,ro "$1"',
                                os.path.join(cluster.scratch, RUN_DIRECTORY))

        cluster, job, (status, stderr, _) = self.run_in_directory(prepare)
        self.assertEqual(status, 1, stderr)
        on_node03 = [rank for rank, node in job.nodes.items() if node == cluster.nodes[2].name]
        failing = {(measurement, rank) for measurement in texts.ALL_TESTS for rank in on_node03}
        jc.check_warned_report(self, cluster, job, failing=failing)
        self.assertEqual(cluster.scratch_files(cluster.nodes[2], RUN_DIRECTORY), [])
        jc.check_nothing_left(self, cluster)

    def test_start_directory_missing_on_a_node(self):
        # The run directory exists on node01 and node02 only. node03's home
        # is a tmpfs of its own, so that a launcher falling back to it
        # leaves nothing in the machine's real home.
        def prepare(cluster):
            for node in cluster.nodes[:2]:
                node.sh('mkdir "$1"', os.path.join(cluster.scratch, RUN_DIRECTORY))
            cluster.nodes[2].sh('mount -t tmpfs -o size=16m home-node03 "$1"', NODE_HOME)

        cluster, job, (status, stderr, _) = self.run_in_directory(prepare)
        node03 = cluster.nodes[2]
        on_node03 = [rank for rank, node in job.nodes.items() if node == node03.name]
        if not h.open_mpi():
            # MPICH refuses to start ranks where it cannot enter the directory.
            # Its proxies on the other nodes outlive the refusal here, where no
            # ssh session ends with the launcher; the teardown ends them.
            self.assertNotEqual(status, 0, "MPICH started a job whose directory is missing on a node")
            self.assertEqual(node03.sh('ls -A "$1"', NODE_HOME).split(), [], "files in node03's home")
            return
        # Open MPI starts node03's ranks in the home directory, without a
        # word: they measure there, and the report says so.
        self.assertEqual(status, 1, stderr)
        misplaced = {rank: (NODE_HOME, job.directory) for rank in on_node03}
        jc.check_warned_report(self, cluster, job, misplaced=misplaced)
        left = node03.sh('ls -A "$1"', NODE_HOME).split("\n")
        self.assertEqual(set(filter(None, left)), set(f.scratch_names(job.nodes, on_node03)))
        jc.check_nothing_left(self, cluster)

    def bound_directory(self, cluster):
        """One directory of the machine mounted at SHARED_DIRECTORY below the
        scratch path on every node: one kernel's file system, shared as a
        shared file system would be. Returns where the machine sees it."""
        shared = os.path.join(cluster.root, SHARED_DIRECTORY)
        os.mkdir(shared)
        for node in cluster.nodes:
            node.sh('mkdir "$1" && mount --bind "$2" "$1"', os.path.join(cluster.scratch, SHARED_DIRECTORY), shared)
        return shared

    def gluster_directory(self, cluster):
        """A GlusterFS volume mounted at SHARED_DIRECTORY on every node by a
        FUSE client of each node's own. Returns the volume and where the
        machine sees the volume: through node01's mount."""
        volume = gv.GlusterVolume.mount_for(self, cluster, SHARED_DIRECTORY)
        return volume, volume.view(cluster.nodes[0])

    def test_two_jobs_in_one_shared_directory(self):
        cluster = sn.Cluster.start_for(self)
        jc.check_two_jobs_in_one_directory(self, cluster, self.bound_directory(cluster))

    def test_two_jobs_on_a_gluster_volume(self):
        # The same on a real shared file system, where the second job's
        # clients learn of the first's locks through the volume's servers.
        cluster = sn.Cluster.start_for(self)
        _, view = self.gluster_directory(cluster)
        jc.check_two_jobs_in_one_directory(self, cluster, view, h.FUSE)

    def test_job_on_a_gluster_volume(self):
        # Root on node01, two workers each on node02 and node03, all in one
        # directory of the volume.
        cluster = sn.Cluster.start_for(self)
        _, view = self.gluster_directory(cluster)
        job = jc.ThreeNodeJob(self, cluster, h.FUSE, SHARED_DIRECTORY)
        status, stderr, seconds = job.wait()
        print("job of %d ranks on the GlusterFS volume: %.1f s" % (len(job.nodes), seconds))
        self.assertEqual(status, 0, stderr)
        jc.check_nothing_left(self, cluster)
        jc.check_whole_run(self, job, view)

    def test_killed_job_then_another_on_a_gluster_volume(self):
        # Every rank killed outright holds its claim to the end: the claim
        # files stay, and the next job in the directory takes them over. The
        # root waits for Enter at the end, so the kill comes before it.
        cluster = sn.Cluster.start_for(self)
        _, view = self.gluster_directory(cluster)
        killed = jc.ThreeNodeJob(self, cluster, h.FUSE, SHARED_DIRECTORY, output="out-killed", stdin=subprocess.PIPE)
        claims = jc.wait_until_claimed(self, killed, view)
        jc.kill_every_rank(cluster)
        status, _, _ = killed.wait()
        self.assertNotEqual(status, 0)
        jc.check_nothing_left(self, cluster)
        self.assertLessEqual(claims, set(os.listdir(view)), "claim files left by the killed job")

        left = f.results_file_names(view)
        job = jc.ThreeNodeJob(self, cluster, h.FUSE, SHARED_DIRECTORY)
        status, stderr, _ = job.wait()
        self.assertEqual(status, 0, stderr)
        jc.check_whole_run(self, job, view, planted=left)

    def test_gluster_client_of_a_node_lost_mid_run(self):
        # node03's FUSE client is killed while its workers are in their
        # first phase: every file operation of theirs fails from then on,
        # fast ("Transport endpoint is not connected"), and the job ends in
        # its usual time with their failures in the report.
        cluster = sn.Cluster.start_for(self)
        volume, view = self.gluster_directory(cluster)
        jc.check_client_of_node03_lost(self, cluster, volume, view)

    def test_gluster_brick_lost_mid_run(self):
        # One of the volume's two brick servers is killed while the workers
        # run: the names the volume places on that brick can no longer be
        # made or used, those on the other one can. Every rate of work on a
        # lost name is warned, every other one stands; the high write writes
        # what the high read read, so it needs both names. The brick killed
        # is the one without the results file, which would go with it (and
        # the root then says the report could not be saved).
        cluster = sn.Cluster.start_for(self)
        volume, view = self.gluster_directory(cluster)
        job = jc.ThreeNodeJob(self, cluster, h.FUSE, SHARED_DIRECTORY)
        jc.wait_until_claimed(self, job, view)
        jc.wait_while_running(self, job, lambda: f.results_file_names(view), "the root made its results file")
        kept = volume.brick_holding(f.results_file_names(view)[0])
        lost = time.time()
        os.kill(volume.brick_servers()[1 - kept], signal.SIGKILL)
        status, stderr, _ = job.wait()
        print("job ended %.1f s after a brick was lost" % (time.time() - lost))
        self.assertLess(time.time() - lost, jc.LOST_VOLUME_BOUND, "the job outlived the lost brick by too long")
        self.assertEqual(status, 1, stderr)
        jc.check_nothing_left(self, cluster)
        name = jc.results_file_on(self, cluster, cluster.nodes[0], SHARED_DIRECTORY)
        with open(os.path.join(view, name), "rb") as results:
            rows = c.csv_rows(self, name, results.read())
        left = set(os.listdir(view))
        lost_work = set()
        for row in rows:
            if row["scope"] in (texts.SCOPE_SINGLE, texts.SCOPE_RANK) and texts.phase_of(row["measurement"]) > 2:
                files = f.scratch_names(job.nodes, [int(row["rank"])])
                on_lost_brick = not set(files if row["measurement"] == "high-write" else files[:1]) <= left
                self.assertEqual(row["valid"], "false" if on_lost_brick else "true", row)
                lost_work.add(on_lost_brick)
        self.assertEqual(lost_work, {True, False}, "the lost brick held every name or none")

    def test_node_whose_daemon_is_killed(self):
        if jc.launch_of_build().lost_daemon is None:
            self.skipTest("this launcher does not end the job when a node's daemon dies: the node's ranks run "
                          "on to the end of the job, and only then does it report the lost daemon")
        cluster = sn.Cluster.start_for(self)
        # The shipped counts keep the workers busy for a minute, so the kill
        # lands in the middle of the run; and the root waits for Enter at
        # the end, so it lands before the end however fast the machine.
        job = jc.ThreeNodeJob(self, cluster, h.SHIPPED, stdin=subprocess.PIPE)
        victim = cluster.nodes[1]
        deadline = time.time() + 60
        while not victim.processes_named(h.SHIPPED) and time.time() < deadline and job.proc.poll() is None:
            time.sleep(0.1)
        self.assertTrue(victim.processes_named(h.SHIPPED), "no worker started on %s" % victim.name)
        time.sleep(1)
        self.assertIsNone(job.proc.poll(), "the job ended before the kill")
        daemons = victim.processes_named(job.launch.daemon)
        self.assertEqual(len(daemons), 1, "%s daemons on %s" % (job.launch.daemon, victim.name))
        killed = time.time()
        os.kill(daemons[0], signal.SIGKILL)
        status, stderr, _ = job.wait()
        print("launcher ended %.1f s after the kill of %s's daemon" % (time.time() - killed, victim.name))
        self.assertNotEqual(status, 0)
        self.assertIn(job.launch.lost_daemon, stderr)
        jc.check_nothing_left(self, cluster)
        # The killed daemon cleaned nothing up: its node's session directory
        # and shared-memory segments go with the nodes.
        cluster.close()
        self.assertEqual(cluster.mpi_files.left(), set(), "Open MPI's files of the nodes left on the machine")


if __name__ == "__main__":
    unittest.main()
