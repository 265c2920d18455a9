"""A node cut off from the network in the middle of a job: its link set
down inside its namespace, nothing on it killed, as when a cable, a switch
port or a network card goes. The job must end by itself within a bound,
with a status other than 0, leave no process of it on the nodes still
reachable, and leave the root's results file in whole lines of the report,
then the stop line where the root is told to terminate.

The simulated nodes share one kernel, and a path between their ranks that
runs through it (shared memory, as UCX picks by default under MPICH) is out
of the cut's reach: the job could then run on to a whole report before the
launcher or Slurm ends it, on a machine fast enough. So the cut node's
ranks are held (SIGSTOP) as its link goes down: as across a real cut,
nothing of theirs reaches the others, and the report cannot be whole,
whatever the machine's speed.

By default nothing notices such a node soon: Open MPI 4.1's launcher gives
up on its daemon there after TCP keepalive's idle time and probes (about 8
minutes), MPICH 4.0's waits for its proxy for good, and Slurm declares the
node down after SlurmdTimeout (300 s), then puts the job back in the queue.
The tests use, with shorter figures, what docs/several-nodes.md gives users
to bound that wait. The shipped build keeps the workers in their first
phase when the link goes."""

import os
import signal
import subprocess
import time
import unittest

from testbed import job_checks as jc
from testbed import simulated_nodes as sn
from testbed import slurm_cluster as sc
from testbed.job_checks import c, h
from orvantic import grammar, reading

STOPPED_BY = "signal SIGTERM (15)"  # how each launcher, and Slurm, tells the root to terminate


class OpenMpiBound:
    """The launcher probes its daemons' connections once they are idle for
    5 s, every 2 s, and gives a daemon up after 3 probes unanswered: it
    then tells the ranks it can reach to terminate and ends the job, about
    10 s after the cut. It hands the parameters on to its daemons, so the
    cut node's daemon gives up on the launcher too."""

    before = ()
    options = ("--mca", "oob_tcp_keepalive_time", "5", "--mca", "oob_tcp_keepalive_intvl", "2",
               "--mca", "oob_tcp_keepalive_probes", "3")
    env = {}
    # What it says of the lost daemon depends on whether it had counted the
    # job as fully started when the cut came, which a loaded machine delays.
    says = ("ORTE has lost communication with a remote daemon",
            "ORTE was unable to reliably start one or more daemons")
    bound = 60  # seconds from the cut to the end, with room for a loaded machine


class MpichBound:
    """Hydra watches nothing of its own: only a time limit ends the job.
    At the limit `timeout` sends the launcher SIGTERM, which it passes on
    to the ranks it can reach, and then it waits for the lost node's proxy
    for good; SIGKILL 10 s later ends it. The limit is the whole job's, so
    a real one must exceed the run's length (project-duration's upper
    bound); here it only has to come after the cut."""

    limit = 50  # seconds from the start: past the cut, even on a loaded machine
    before = ("timeout", "-k", "10", str(limit))
    options = ()
    # The simulated nodes share one kernel, and UCX would carry the ranks'
    # messages between them through shared memory, which no cut reaches;
    # between real nodes they go over the network, as here.
    env = {"UCX_TLS": "tcp,self", "UCX_NET_DEVICES": "eth0"}
    says = ()
    bound = limit + 10 + 30  # seconds from the cut, which comes after the start


BOUNDS = {jc.OpenMpi: OpenMpiBound, jc.Mpich: MpichBound}

# Slurm declares a node down once it has not answered for SlurmdTimeout,
# ends its jobs (the example script asks for no requeue), and kills what of
# them is still running KillWait after its SIGTERM. proctrack/pgid: the
# suite's proctrack/linuxproc loses a launcher whose parent, the batch
# shell, died of that SIGTERM first, and so never kills it; the process
# group, like the cgroup of proctrack/cgroup that sites use, keeps it. Unlike
# a cgroup, it does not hold the ranks, which both launchers start in groups
# of their own: the root hears of the end through its launcher, SIGTERM or
# SIGKILL, whichever comes first.
SLURM_BOUND = {"SlurmdTimeout": "10", "KillWait": "5", "ProctrackType": "proctrack/pgid"}
# From the cut: up to twice SlurmdTimeout to be declared down (the
# controller pings every third of it), KillWait, room for a loaded machine.
SLURM_ENDS_WITHIN = 90
CUT_NODE = 2  # node03: two workers, no root


def cut_once_working(test, cluster, still_running, directory=""):
    """Sets the cut node's link down, its ranks held, once its workers are
    past their start (they hold their claim files) and a second into their
    first phase. Returns the node and the time of the cut."""
    node = cluster.nodes[CUT_NODE]
    deadline = time.time() + jc.JOB_LIMIT
    while not [name for name in cluster.scratch_files(node, directory) if name.endswith(".claim")]:
        test.assertTrue(still_running(), "the job ended before %s's workers started" % node.name)
        test.assertLess(time.time(), deadline, "%s's workers never started" % node.name)
        time.sleep(0.1)
    time.sleep(1)
    test.assertTrue(still_running(), "the job ended before the cut")
    held = node.processes_named(h.SHIPPED)
    test.assertTrue(held, "no rank of the job on %s to hold" % node.name)
    for pid in held:
        os.kill(pid, signal.SIGSTOP)
    node.sh("ip link set eth0 down")
    return node, time.time()


def check_nothing_left_but_on(test, cluster, cut_node, keep=()):
    """No process of the job on the nodes still reachable: the cut node's
    own wait for a reset."""
    jc.check_nothing_left(test, cluster, keep=set(keep) | set(cut_node.processes()))


def check_results_stopped(test, cluster, nodes, directory, told=True):
    """The root's results file: whole lines of the report, then the stop
    line; where the root may not have been told to terminate (told False),
    the line or none."""
    head = cluster.nodes[0]
    name = jc.results_file_on(test, cluster, head, directory)
    _, whole = c.check_results(test, cluster.read_scratch(head, os.path.join(directory, name)),
                               grammar.report_lines(grammar.FILE, nodes), head.name, prefix_only=True,
                               stop=c.Stop(told, STOPPED_BY))
    test.assertFalse(whole, "the report was whole")
    return name


class LostNodeTests(unittest.TestCase):
    def test_node_cut_off_mid_run(self):
        bound = BOUNDS[jc.launch_of_build()]
        cluster = sn.Cluster.start_for(self)
        job = jc.ThreeNodeJob(self, cluster, h.SHIPPED, before=bound.before, options=bound.options, env=bound.env)
        cut_node, cut = cut_once_working(self, cluster, lambda: job.proc.poll() is None)
        try:
            status = job.proc.wait(timeout=bound.bound)
        except subprocess.TimeoutExpired:
            self.fail("the job still runs %d s after the cut; processes: %s"
                      % (bound.bound, cluster.leftover_processes()))
        print("the launcher ended %.1f s after the cut, %.1f s after the start, with status %d"
              % (time.time() - cut, time.time() - job.started, status))
        self.assertNotEqual(status, 0)
        check_nothing_left_but_on(self, cluster, cut_node)
        # What is left on the cut node holds the launcher's output open.
        for pid in cut_node.processes():
            os.kill(pid, signal.SIGKILL)
        _, stderr = job.proc.communicate(timeout=sn.SETUP_LIMIT)
        said = stderr.decode("utf-8", "replace")
        self.assertTrue(not bound.says or any(text in said for text in bound.says), said)
        name = check_results_stopped(self, cluster, job.nodes, "")
        # The console, as far as the launcher passed it on.
        lines, _ = reading.split_lines(job.root_console())
        c.check_sink(self, grammar.report_lines(grammar.CONSOLE, job.nodes, os.path.join(job.directory, name)),
                     lines, "rank 0's console", cluster.nodes[0].name, prefix_only=True,
                     stop=c.Stop(False, STOPPED_BY))


class SlurmLostNodeTests(unittest.TestCase):
    def test_node_cut_off_in_a_batch_job(self):
        slurm = sc.SlurmCluster.start_for(self, settings=SLURM_BOUND)
        cluster = slurm.cluster
        # Slurm's bound rests on its daemons' heartbeats, not on how the ranks
        # talk, so UCX keeps its default transports (the cut's hold on the
        # node's ranks stands for the rest): the example's short projection
        # run ends whole first, and UCX 1.13's TCP transport can hang in
        # MPI_Finalize (openucx/ucx#8738).
        example = sc.ExampleJob(self, slurm, h.SHIPPED)

        def running():
            return slurm.client("squeue", "-h", "-j", example.id).stdout.strip() != ""
        cut_node, cut = cut_once_working(self, cluster, running, example.directory)
        job = slurm.wait_for_job(example.id, SLURM_ENDS_WITHIN)
        print("batch job %s ended %.1f s after the cut: %s, %s"
              % (example.id, time.time() - cut, job.get("JobState"), job.get("Reason")))
        self.assertEqual(job.get("JobState"), "NODE_FAIL", example.notes())
        self.assertNotEqual(job.get("ExitCode"), "0:0")
        check_nothing_left_but_on(self, cluster, cut_node, keep=slurm.daemon_pids())
        nodes = jc.ranks_by_slots(cluster, [sc.PER_NODE] * len(cluster.nodes))
        check_results_stopped(self, cluster, nodes, example.directory, told=False)


if __name__ == "__main__":
    unittest.main()
