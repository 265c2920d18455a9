"""A job across the simulated nodes, started as on a real cluster: the
launcher on node01 with a host file, its daemons on the other nodes started
through the cluster's agent in place of ssh, MPI traffic over TCP on the
nodes' subnet, with the build's own launcher, Open MPI's or MPICH's. And
what it must leave: rank 0's report naming every worker's own node on both
sinks, the results file on rank 0's node only, each worker's scratch files
on its own node only, and no process left on any node."""

import os
import signal
import subprocess
import time

from testbed import simulated_nodes as sn

# The end-to-end suite's checks of the report, on its one grammar, and of
# the files a job leaves.
from testbed import files_left as f
from testbed import harness as h
from orvantic import grammar, launch, reading, texts  # noqa: E402 (harness puts the scripts' package on the path)
from testbed import report_checks as c
from testbed import report_expectations as expect

SETTLE_LIMIT = 15  # seconds for a node's processes to go once the job has
JOB_LIMIT = 300  # seconds; only there to turn a hang into a failure
# Seconds within which a small job ends once a node has lost the shared
# volume or the volume a brick: its usual length, with room for a loaded machine.
LOST_VOLUME_BOUND = 120
SLOTS = (1, 2, 2)  # ranks per node: the root alone, two workers on each other node
OUTPUT = "out"  # per-rank output files, below the scratch path
RUN_DIRECTORY = "run"  # where the jobs that set their directory up start, below the scratch path
SHARED_DIRECTORY = "shared"  # one directory of the machine, below the scratch path on every node


def ranks_by_slots(cluster, slots):
    """{rank: node name} when ranks fill the nodes' slots in order."""
    nodes = {}
    for node, count in zip(cluster.nodes, slots):
        for _ in range(count):
            nodes[len(nodes)] = node.name
    return nodes


def login_env(**extra):
    """What a user logged in on a node has beyond PATH and HOME: the
    suite's sanitizer settings (an AddressSanitizer build's ranks need
    them) and the given variables."""
    env = {name: value for name, value in h.launcher_env().items() if name.endswith("SAN_OPTIONS")}
    env.update(extra)
    return env


def check_report_and_files(test, cluster, nodes, console, directory="", others=()):
    """console: rank 0's standard output (bytes). directory: where the job
    ran, relative to the scratch path; others: names the launcher may have
    put there besides the benchmark's files."""
    head = cluster.node(nodes[0])
    names = {node.name: set(cluster.scratch_files(node, directory)) - set(others) for node in cluster.nodes}
    results = results_file_on(test, cluster, head, directory)
    test.assertEqual(reading.parse_file_name(results)[0], head.name)

    path = os.path.join(cluster.scratch, directory, results)
    lines, whole = reading.split_lines(console)
    test.assertTrue(whole, "rank 0's console ends inside a line")
    c.check_report(test, lines, path, cluster.read_scratch(head, os.path.join(directory, results)),
                   nodes, h.SMALL_COUNTS, sink="rank 0's console")

    for node in cluster.nodes:
        expected = set(f.scratch_names(nodes, [rank for rank, on in nodes.items() if on == node.name]))
        if node is head:
            expected.add(results)
        test.assertEqual(names[node.name], expected, "files on %s" % node.name)


def results_file_on(test, cluster, node, directory):
    """The name of the one results file in a node's directory."""
    names = [n for n in cluster.scratch_files(node, directory) if n.startswith(texts.RESULTS_PREFIX)]
    test.assertEqual(len(names), 1, "results files on %s: %s" % (node.name, names))
    return names[0]


def check_nothing_left(test, cluster, keep=()):
    """Once a job is over, no process of it is left on any node; keep:
    processes that live on by design (daemons), beside the cluster's
    services. The hub runs no job."""
    keep = set(keep) | cluster.services

    def left():
        found = {name: [p for p in procs if p[0] not in keep] for name, procs in cluster.leftover_processes().items()
                 if name != sn.HUB_NAME}
        return {name: procs for name, procs in found.items() if procs}
    deadline = time.time() + SETTLE_LIMIT
    while left() and time.time() < deadline:
        time.sleep(0.1)
    test.assertEqual(left(), {}, "processes left on the nodes")


class OpenMpi:
    """mpiexec reaches the nodes through plm_rsh_agent; both its daemons'
    wire-up and the ranks' messages are held to the nodes' subnet."""

    open_mpi = True
    daemon = "orted"
    lost_daemon = "ORTE has lost communication with a remote daemon"
    console = "1/rank.0/stdout"  # below the output directory

    @staticmethod
    def console_node(nodes, head):
        """Where rank 0's output file is: on rank 0's node."""
        return nodes[0]

    @staticmethod
    def options(cluster, slots, output, env):
        # Only variables named with -x reach the ranks on other nodes.
        passed = [flag for name in sorted(env) if name.endswith("SAN_OPTIONS") for flag in ("-x", name)]
        hostfile = cluster.hostfile(slots, "%s slots=%d", os.path.basename(output) + ".hosts")
        return ["--hostfile", hostfile,
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

    open_mpi = False
    daemon = "hydra_pmi_proxy"
    # Seen with MPICH 4.0: the ranks of a node whose proxy dies run on, and
    # the launcher reports the lost proxy only when the whole job has ended.
    lost_daemon = None
    console = "stdout.0"  # below the output directory

    @staticmethod
    def console_node(nodes, head):
        """Where rank 0's output file is: on the launcher's node."""
        return head

    @staticmethod
    def options(cluster, slots, output, env):
        # Hydra hands the launcher's whole environment to every rank.
        return ["-f", cluster.hostfile(slots, "%s:%d", os.path.basename(output) + ".hosts"),
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


def job_command(launcher, family, cluster, slots, output, env):
    """The launcher with the flags every tool gives it, and the family's
    options for a job over `slots` of the cluster's nodes."""
    return [launcher] + launch.flags(family.open_mpi) + family.options(cluster, slots, output, env)


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
        self.nodes = ranks_by_slots(cluster, slots)
        self.head = cluster.nodes[0]
        self.output = output
        output = os.path.join(cluster.scratch, output)
        # MPICH's launcher makes no directory for the output files.
        self.head.sh('mkdir "$1"', output)
        env = login_env(**(env or {}))
        self.started = time.time()
        self.directory = os.path.join(cluster.scratch, directory)
        self.proc = launch.start(self.head.enter(wd=self.directory, env=env) + list(before) +
                                 job_command(h.MPIEXEC, self.launch, cluster, slots, output, env) + list(options)
                                 + [binary], stdin=stdin)
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


def wait_while_running(test, job, condition, what):
    """Polls condition() until it holds; fails if the job ends first."""
    deadline = time.time() + JOB_LIMIT
    while not condition():
        test.assertIsNone(job.proc.poll(), "the job ended before %s" % what)
        test.assertLess(time.time(), deadline, "never %s" % what)
        time.sleep(0.05)


def wait_until_claimed(test, job, view, ranks=None):
    """Waits until the given ranks of the job (all by default) hold their
    claim files in the shared directory the machine sees at view: they
    are then past their start, in their first phase. Returns the names."""
    claims = {expect.claim_name(rank, job.nodes[rank]) for rank in ranks or job.nodes}
    wait_while_running(test, job, lambda: claims <= set(os.listdir(view)), "ranks %s claimed their files"
                       % sorted(ranks or job.nodes))
    return claims


def kill_every_rank(cluster):
    """Kills every rank of a test build's job outright, as a crash or
    an administrator would, leaving the launcher to see them go."""
    for node in cluster.nodes:
        # The kernel's 15 characters of any test build's name.
        for pid in node.processes_named(h.SMALL):
            os.kill(pid, signal.SIGKILL)


def check_warned_report(test, cluster, job, failing=(), misplaced=None, directory=RUN_DIRECTORY):
    """Rank 0's console and results file against the report with the
    given workers' warnings, and the CSV made from the file: exactly
    the rows of the ranks warned about, and the totals and averages
    they enter, are not valid. Returns the CSV rows."""
    head = cluster.nodes[0]
    name = results_file_on(test, cluster, head, directory)
    path = os.path.join(job.directory, name)
    data = cluster.read_scratch(head, os.path.join(directory, name))
    lines, whole = reading.split_lines(job.root_console())
    test.assertTrue(whole, "rank 0's console ends inside a line")
    console = c.check_sink(test, grammar.report_lines(grammar.CONSOLE, job.nodes, path, failing=failing,
                                                      misplaced=misplaced), lines, "rank 0's console", head.name)
    c.check_results(test, data, grammar.report_lines(grammar.FILE, job.nodes, failing=failing, misplaced=misplaced),
                    head.name, console)
    misplaced_ranks = {(m, rank) for m in texts.ALL_TESTS for rank in misplaced or ()}
    return c.check_csv_validity(test, name, data, set(failing) | misplaced_ranks)


def check_whole_run(test, job, view, planted=()):
    """A job that ended in order in the shared directory: its report on
    both sinks, a CSV of valid rows, every scratch file whole and no
    claim file left."""
    name = [n for n in f.results_file_names(view) if n not in planted]
    test.assertEqual(len(name), 1, "new results files: %s" % name)
    with open(os.path.join(view, name[0]), "rb") as results:
        data = results.read()
    lines, whole = reading.split_lines(job.root_console())
    test.assertTrue(whole, "rank 0's console ends inside a line")
    c.check_report(test, lines, os.path.join(job.directory, name[0]), data, job.nodes, job.counts,
                   sink="rank 0's console")
    c.check_csv_validity(test, name[0], data, failing=())
    f.check_files_left(test, view, job.nodes, name[0], job.counts, planted=planted)


def check_two_jobs_in_one_directory(test, cluster, view, binary=h.SMALL):
    """The first job's root runs on node01, the second's on node02, the
    workers of both on node03 under the same ranks: every file the
    second would use is the first's. The first holds them while it
    waits for Enter."""
    first = ThreeNodeJob(test, cluster, binary, SHARED_DIRECTORY, slots=(1, 0, 2), output="out-first",
                         stdin=subprocess.PIPE)
    wait_while_running(test, first, lambda: texts.PRESS_ENTER.encode() in first.root_console(so_far=True),
                       "the first job's report was whole")
    pids = {h.rank_of(pid): pid for node in cluster.nodes for pid in node.processes_named(binary)}

    second = ThreeNodeJob(test, cluster, binary, SHARED_DIRECTORY, slots=(0, 1, 2), output="out-second")
    status, stderr, _ = second.wait()
    test.assertEqual(status, 1, stderr)
    holds = [(rank, node, first.directory, "process %d on %s" % (pids[rank], first.nodes[rank]))
             for rank, node in sorted(second.nodes.items())]
    lines, _ = reading.split_lines(second.root_console())
    c.match_lines(test, expect.held_lines(holds), lines, "second job's rank 0 console")

    status, stderr, _ = first.wait(stdin=b"\n")
    test.assertEqual(status, 0, stderr)
    check_whole_run(test, first, view)
    check_nothing_left(test, cluster)


def check_client_of_node03_lost(test, cluster, volume, view, **job):
    """A job in SHARED_DIRECTORY whose node03 loses its client of the
    shared file system (volume.client_of) once its workers are past
    their start: it ends within LOST_VOLUME_BOUND with status 1 and
    nothing left, each of node03's phases from the one the loss fell in
    warned. Which phase that is, each rank's first warning line tells:
    on a fast machine the handling phases may be over before the kill,
    but the low write, seconds of FUSE round trips, is not."""
    job = ThreeNodeJob(test, cluster, h.FUSE, SHARED_DIRECTORY, **job)
    node03 = cluster.nodes[2]
    on_node03 = [rank for rank, node in job.nodes.items() if node == node03.name]
    wait_until_claimed(test, job, view, on_node03)
    lost = time.time()
    os.kill(volume.client_of(node03), signal.SIGKILL)
    status, stderr, _ = job.wait()
    print("job ended %.1f s after node03 lost its client" % (time.time() - lost))
    test.assertLess(time.time() - lost, LOST_VOLUME_BOUND, "the job outlived the lost client by too long")
    test.assertEqual(status, 1, stderr)
    check_nothing_left(test, cluster)
    console = job.root_console().decode("utf-8", "replace")
    first_warned = {rank: min((phase for phase in range(1, len(texts.MEASUREMENTS) + 1)
                               if "Warning: rank %d, phase %d: " % (rank, phase) in console), default=None)
                    for rank in on_node03}
    test.assertNotIn(None, first_warned.values(), "a rank of node03 warned of no phase: %s" % first_warned)
    failing = {(m, rank) for m in texts.ALL_TESTS for rank in on_node03
               if texts.phase_of(m) >= first_warned[rank]}
    check_warned_report(test, cluster, job, failing=failing, directory=SHARED_DIRECTORY)
