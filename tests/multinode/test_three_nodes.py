"""A job across three simulated nodes, launched as on a real cluster: the
launcher on node01 with a host file, its daemons on the other nodes started
through an agent in place of ssh, MPI traffic over TCP on the nodes' subnet.
Works with the build's own launcher, Open MPI's or MPICH's."""

import json
import os
import signal
import subprocess
import time
import unittest

from testbed import gluster_volume as gv
from testbed import job_checks as jc
from testbed import simulated_nodes as sn

from testbed.job_checks import c, f, h
from orvantic import grammar, reading, texts
from testbed import report_expectations as expect

JOB_LIMIT = 300  # seconds; only there to turn a hang into a failure
# Seconds within which a small job ends once a node has lost the shared
# volume or the volume a brick: its usual length, with room for a loaded machine.
LOST_VOLUME_BOUND = 120
SLOTS = (1, 2, 2)  # ranks per node: the root alone, two workers on each other node
OUTPUT = "out"  # per-rank output files, below the scratch path
RUN_DIRECTORY = "run"  # where the jobs that set their directory up start, below the scratch path
NODE_HOME = "/root"  # the home directory the agent logs in to
SHARED_DIRECTORY = "shared"  # one directory of the machine, below the scratch path on every node


class OpenMpi:
    """mpiexec reaches the nodes through plm_rsh_agent; both its daemons'
    wire-up and the ranks' messages are held to the nodes' subnet."""

    daemon = "orted"
    lost_daemon = "ORTE has lost communication with a remote daemon"
    env = {"OMPI_ALLOW_RUN_AS_ROOT": "1", "OMPI_ALLOW_RUN_AS_ROOT_CONFIRM": "1"}
    console = "1/rank.0/stdout"  # below the output directory

    @staticmethod
    def console_node(nodes, head):
        """Where rank 0's output file is: on rank 0's node."""
        return nodes[0]

    @staticmethod
    def command(cluster, slots, output, env):
        # Only variables named with -x reach the ranks on other nodes.
        passed = [flag for name in sorted(env) if name.endswith("SAN_OPTIONS") for flag in ("-x", name)]
        hostfile = cluster.hostfile(slots, "%s slots=%d", os.path.basename(output) + ".hosts")
        return [h.MPIEXEC, "--hostfile", hostfile,
                "--mca", "plm_rsh_agent", cluster.agent,
                "--mca", "btl", "tcp,vader,self",
                "--mca", "btl_tcp_if_include", sn.SUBNET, "--mca", "oob_tcp_if_include", sn.SUBNET,
                "--output-filename", output] + passed + ["-n", str(sum(slots))]

    @staticmethod
    def output_layout(nodes, head):
        """{node: files under out/}: each node's daemon writes its own
        ranks' output on that node."""
        layout = {}
        for rank, node in nodes.items():
            layout.setdefault(node, set()).update("1/rank.%d/%s" % (rank, stream) for stream in ("stdout", "stderr"))
        return layout


class Mpich:
    """Hydra's ssh launcher with the agent as the program it runs."""

    daemon = "hydra_pmi_proxy"
    # Seen with MPICH 4.0: the ranks of a node whose proxy dies run on, and
    # the launcher reports the lost proxy only when the whole job has ended.
    lost_daemon = None
    env = {}
    console = "stdout.0"  # below the output directory

    @staticmethod
    def console_node(nodes, head):
        """Where rank 0's output file is: on the launcher's node."""
        return head

    @staticmethod
    def command(cluster, slots, output, env):
        # Hydra hands the launcher's whole environment to every rank.
        return [h.MPIEXEC, "-f", cluster.hostfile(slots, "%s:%d", os.path.basename(output) + ".hosts"),
                "-launcher", "ssh", "-launcher-exec", cluster.agent, "-iface", "eth0",
                "-outfile-pattern", os.path.join(output, "stdout.%r"),
                "-errfile-pattern", os.path.join(output, "stderr.%r"), "-n", str(sum(slots))]

    @staticmethod
    def output_layout(nodes, head):
        """The launcher writes every rank's output where it runs, and no
        file for a rank that wrote nothing."""
        return {head: {"stdout.0"}}


def launch_of_build():
    return OpenMpi if h.open_mpi() else Mpich


class ThreeNodeJob:
    """A job of the given binary over `slots`, started on node01 from the
    common scratch path (or a directory below it) with a login's clean
    environment; its ranks' output in `output` below the scratch path.
    before, options and env: a command the launcher runs under (timeout),
    and the launcher's options and variables beyond the suite's own."""

    def __init__(self, test, cluster, binary, directory="", slots=SLOTS, output=OUTPUT, stdin=subprocess.DEVNULL,
                 before=(), options=(), env=None):
        if not binary:
            test.fail("ORVANTIC_BINARY / ORVANTIC_SMALL_BINARY / ORVANTIC_FUSE_BINARY not set")
        self.test = test
        self.counts = h.counts_of(binary)
        self.cluster = cluster
        self.launch = launch_of_build()
        self.nodes = jc.ranks_by_slots(cluster, slots)
        self.head = cluster.nodes[0]
        self.output = output
        output = os.path.join(cluster.scratch, output)
        # MPICH's launcher makes no directory for the output files.
        self.head.sh('mkdir "$1"', output)
        env = jc.login_env(**dict(self.launch.env, **(env or {})))
        self.started = time.time()
        self.directory = os.path.join(cluster.scratch, directory)
        self.proc = subprocess.Popen(self.head.enter(wd=self.directory, env=env) + list(before) +
                                     self.launch.command(cluster, slots, output, env) + list(options) + [binary],
                                     stdin=stdin, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                     start_new_session=True)
        test.addCleanup(h.Workspace.stop, self.proc)

    def console_path(self):
        """Rank 0's output file, below the scratch path."""
        return os.path.join(self.output, self.launch.console)

    def root_console(self, so_far=False):
        """What rank 0 wrote to its standard output (bytes); with so_far,
        what it wrote until now, nothing while its file is not there yet."""
        node = self.cluster.node(self.launch.console_node(self.nodes, self.head.name))
        try:
            return self.cluster.read_scratch(node, self.console_path())
        except RuntimeError:
            if so_far:
                return b""
            raise

    def wait(self, stdin=None):
        """(exit status, stderr, seconds) of the launcher, once `stdin` (if
        any) is written to the job's standard input."""
        try:
            _, err = self.proc.communicate(input=stdin, timeout=JOB_LIMIT)
        except subprocess.TimeoutExpired:
            self.test.fail("job still running after %d s; processes: %s"
                           % (JOB_LIMIT, self.cluster.leftover_processes()))
        return self.proc.returncode, err.decode("utf-8", "replace"), time.time() - self.started


class ThreeNodeTests(unittest.TestCase):
    def test_job_over_three_nodes(self):
        cluster = sn.Cluster.start_for(self)
        job = ThreeNodeJob(self, cluster, h.SMALL)
        status, stderr, seconds = job.wait()
        print("three-node job of %d ranks: %.1f s" % (len(job.nodes), seconds))
        self.assertEqual(status, 0, stderr)
        jc.check_nothing_left(self, cluster)
        head = cluster.nodes[0]
        jc.check_report_and_files(self, cluster, job.nodes, job.root_console(), others=[OUTPUT])

        # Per-rank output files: where the launcher puts them, and empty but
        # for rank 0's standard output.
        layout = job.launch.output_layout(job.nodes, head.name)
        for node in cluster.nodes:
            files = cluster.scratch_files(node, OUTPUT, recursive=True)
            self.assertEqual(set(files), layout.get(node.name, set()), "output files on %s" % node.name)
            for relative in files:
                relative = os.path.join(OUTPUT, relative)
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
        job = ThreeNodeJob(self, cluster, h.SMALL)
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
        job = ThreeNodeJob(self, cluster, h.SMALL, RUN_DIRECTORY)
        return cluster, job, job.wait()

    def check_warned_report(self, cluster, job, failing=(), misplaced=None, directory=RUN_DIRECTORY):
        """Rank 0's console and results file against the report with the
        given workers' warnings, and the CSV made from the file: exactly
        the rows of the ranks warned about, and the totals and averages
        they enter, are not valid. Returns the CSV rows."""
        head = cluster.nodes[0]
        name = jc.results_file_on(self, cluster, head, directory)
        path = os.path.join(job.directory, name)
        data = cluster.read_scratch(head, os.path.join(directory, name))
        lines, whole = reading.split_lines(job.root_console())
        self.assertTrue(whole, "rank 0's console ends inside a line")
        console = c.check_sink(self, grammar.report_lines(grammar.CONSOLE, job.nodes, path, failing=failing,
                                                          misplaced=misplaced), lines, "rank 0's console", head.name)
        c.check_results(self, data, grammar.report_lines(grammar.FILE, job.nodes, failing=failing, misplaced=misplaced),
                        head.name, console)
        misplaced_ranks = {(m, rank) for m in texts.ALL_TESTS for rank in misplaced or ()}
        return c.check_csv_validity(self, name, data, set(failing) | misplaced_ranks)

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
        self.check_warned_report(cluster, job, failing=failing)
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
        self.check_warned_report(cluster, job, misplaced=misplaced)
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

    def check_whole_run(self, job, view, planted=()):
        """A job that ended in order in the shared directory: its report on
        both sinks, a CSV of valid rows, every scratch file whole and no
        claim file left."""
        name = [n for n in f.results_file_names(view) if n not in planted]
        self.assertEqual(len(name), 1, "new results files: %s" % name)
        with open(os.path.join(view, name[0]), "rb") as results:
            data = results.read()
        lines, whole = reading.split_lines(job.root_console())
        self.assertTrue(whole, "rank 0's console ends inside a line")
        c.check_report(self, lines, os.path.join(job.directory, name[0]), data, job.nodes, job.counts,
                       sink="rank 0's console")
        c.check_csv_validity(self, name[0], data, failing=())
        f.check_files_left(self, view, job.nodes, name[0], job.counts, planted=planted)

    def check_two_jobs_in_one_directory(self, cluster, view, binary=h.SMALL):
        # The first job's root runs on node01, the second's on node02, the
        # workers of both on node03 under the same ranks: every file the
        # second would use is the first's. The first holds them while it
        # waits for Enter.
        first = ThreeNodeJob(self, cluster, binary, SHARED_DIRECTORY, slots=(1, 0, 2), output="out-first",
                             stdin=subprocess.PIPE)
        self.wait_while_running(first, lambda: texts.PRESS_ENTER.encode() in first.root_console(so_far=True),
                                "the first job's report was whole")
        pids = {h.rank_of(pid): pid for node in cluster.nodes for pid in node.processes_named(binary)}

        second = ThreeNodeJob(self, cluster, binary, SHARED_DIRECTORY, slots=(0, 1, 2), output="out-second")
        status, stderr, _ = second.wait()
        self.assertEqual(status, 1, stderr)
        holds = [(rank, node, first.directory, "process %d on %s" % (pids[rank], first.nodes[rank]))
                 for rank, node in sorted(second.nodes.items())]
        lines, _ = reading.split_lines(second.root_console())
        c.match_lines(self, expect.held_lines(holds), lines, "second job's rank 0 console")

        status, stderr, _ = first.wait(stdin=b"\n")
        self.assertEqual(status, 0, stderr)
        self.check_whole_run(first, view)
        jc.check_nothing_left(self, cluster)

    def test_two_jobs_in_one_shared_directory(self):
        cluster = sn.Cluster.start_for(self)
        self.check_two_jobs_in_one_directory(cluster, self.bound_directory(cluster))

    def test_two_jobs_on_a_gluster_volume(self):
        # The same on a real shared file system, where the second job's
        # clients learn of the first's locks through the volume's servers.
        cluster = sn.Cluster.start_for(self)
        _, view = self.gluster_directory(cluster)
        self.check_two_jobs_in_one_directory(cluster, view, h.FUSE)

    def test_job_on_a_gluster_volume(self):
        # Root on node01, two workers each on node02 and node03, all in one
        # directory of the volume.
        cluster = sn.Cluster.start_for(self)
        _, view = self.gluster_directory(cluster)
        job = ThreeNodeJob(self, cluster, h.FUSE, SHARED_DIRECTORY)
        status, stderr, seconds = job.wait()
        print("job of %d ranks on the GlusterFS volume: %.1f s" % (len(job.nodes), seconds))
        self.assertEqual(status, 0, stderr)
        jc.check_nothing_left(self, cluster)
        self.check_whole_run(job, view)

    def wait_while_running(self, job, condition, what):
        """Polls condition() until it holds; fails if the job ends first."""
        deadline = time.time() + JOB_LIMIT
        while not condition():
            self.assertIsNone(job.proc.poll(), "the job ended before %s" % what)
            self.assertLess(time.time(), deadline, "never %s" % what)
            time.sleep(0.05)

    def wait_until_claimed(self, job, view, ranks=None):
        """Waits until the given ranks of the job (all by default) hold their
        claim files in the shared directory the machine sees at view: they
        are then past their start, in their first phase. Returns the names."""
        claims = {expect.claim_name(rank, job.nodes[rank]) for rank in ranks or job.nodes}
        self.wait_while_running(job, lambda: claims <= set(os.listdir(view)), "ranks %s claimed their files"
                                % sorted(ranks or job.nodes))
        return claims

    @staticmethod
    def kill_every_rank(cluster):
        """Kills every rank of a test build's job outright, as a crash or
        an administrator would, leaving the launcher to see them go."""
        for node in cluster.nodes:
            # The kernel's 15 characters of any test build's name.
            for pid in node.processes_named(h.SMALL):
                os.kill(pid, signal.SIGKILL)

    def test_killed_job_then_another_on_a_gluster_volume(self):
        # Every rank killed outright holds its claim to the end: the claim
        # files stay, and the next job in the directory takes them over. The
        # root waits for Enter at the end, so the kill comes before it.
        cluster = sn.Cluster.start_for(self)
        _, view = self.gluster_directory(cluster)
        killed = ThreeNodeJob(self, cluster, h.FUSE, SHARED_DIRECTORY, output="out-killed", stdin=subprocess.PIPE)
        claims = self.wait_until_claimed(killed, view)
        self.kill_every_rank(cluster)
        status, _, _ = killed.wait()
        self.assertNotEqual(status, 0)
        jc.check_nothing_left(self, cluster)
        self.assertLessEqual(claims, set(os.listdir(view)), "claim files left by the killed job")

        left = f.results_file_names(view)
        job = ThreeNodeJob(self, cluster, h.FUSE, SHARED_DIRECTORY)
        status, stderr, _ = job.wait()
        self.assertEqual(status, 0, stderr)
        self.check_whole_run(job, view, planted=left)

    def test_gluster_client_of_a_node_lost_mid_run(self):
        # node03's FUSE client is killed while its workers are in their
        # first phase: every file operation of theirs fails from then on,
        # fast ("Transport endpoint is not connected"), and the job ends in
        # its usual time with their failures in the report.
        cluster = sn.Cluster.start_for(self)
        volume, view = self.gluster_directory(cluster)
        self.check_client_of_node03_lost(cluster, volume, view)

    def check_client_of_node03_lost(self, cluster, volume, view, **job):
        """A job in SHARED_DIRECTORY whose node03 loses its client of the
        shared file system (volume.client_of) once its workers are past
        their start: it ends within LOST_VOLUME_BOUND with status 1 and
        nothing left, each of node03's phases from the one the loss fell in
        warned. Which phase that is, each rank's first warning line tells:
        on a fast machine the handling phases may be over before the kill,
        but the low write, seconds of FUSE round trips, is not."""
        job = ThreeNodeJob(self, cluster, h.FUSE, SHARED_DIRECTORY, **job)
        node03 = cluster.nodes[2]
        on_node03 = [rank for rank, node in job.nodes.items() if node == node03.name]
        self.wait_until_claimed(job, view, on_node03)
        lost = time.time()
        os.kill(volume.client_of(node03), signal.SIGKILL)
        status, stderr, _ = job.wait()
        print("job ended %.1f s after node03 lost its client" % (time.time() - lost))
        self.assertLess(time.time() - lost, LOST_VOLUME_BOUND, "the job outlived the lost client by too long")
        self.assertEqual(status, 1, stderr)
        jc.check_nothing_left(self, cluster)
        console = job.root_console().decode("utf-8", "replace")
        first_warned = {rank: min((phase for phase in range(1, len(texts.MEASUREMENTS) + 1)
                                   if "Warning: rank %d, phase %d: " % (rank, phase) in console), default=None)
                        for rank in on_node03}
        self.assertNotIn(None, first_warned.values(), "a rank of node03 warned of no phase: %s" % first_warned)
        failing = {(m, rank) for m in texts.ALL_TESTS for rank in on_node03
                   if texts.phase_of(m) >= first_warned[rank]}
        self.check_warned_report(cluster, job, failing=failing, directory=SHARED_DIRECTORY)

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
        job = ThreeNodeJob(self, cluster, h.FUSE, SHARED_DIRECTORY)
        self.wait_until_claimed(job, view)
        self.wait_while_running(job, lambda: f.results_file_names(view), "the root made its results file")
        kept = volume.brick_holding(f.results_file_names(view)[0])
        lost = time.time()
        os.kill(volume.brick_servers()[1 - kept], signal.SIGKILL)
        status, stderr, _ = job.wait()
        print("job ended %.1f s after a brick was lost" % (time.time() - lost))
        self.assertLess(time.time() - lost, LOST_VOLUME_BOUND, "the job outlived the lost brick by too long")
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
        if launch_of_build().lost_daemon is None:
            self.skipTest("this launcher does not end the job when a node's daemon dies: the node's ranks run "
                          "on to the end of the job, and only then does it report the lost daemon")
        cluster = sn.Cluster.start_for(self)
        # The shipped counts keep the workers busy for a minute, so the kill
        # lands in the middle of the run; and the root waits for Enter at
        # the end, so it lands before the end however fast the machine.
        job = ThreeNodeJob(self, cluster, h.SHIPPED, stdin=subprocess.PIPE)
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
