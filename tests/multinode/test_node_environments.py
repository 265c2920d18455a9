"""run-environment --nodes on the simulated nodes: every node's record comes
back through the job's own launcher (the build's mpiexec with a host file,
or srun inside a Slurm allocation), each in its node's place, and the
fields in which a node was set up differently are the ones marked."""

import json
import os
import subprocess
import sys
import unittest

from testbed import job_checks as jc
from testbed import simulated_nodes as sn
from testbed import slurm_cluster as sc

from testbed.job_checks import h
from orvantic import nodes, probes, records

RUN_ENVIRONMENT = os.path.join(h.SCRIPTS, "run-environment")
LIMIT = 20  # seconds the launcher gets where a node never answers
NAMES = [name for name, _, _ in records.FIELDS]
OF_DIRECTORY = [name for name, _, argument in records.FIELDS if argument == "directory"]
# Alike on every simulated node by construction: one kernel, one machine,
# one build; and where every node has the run directory, a tmpfs under it.
ALIKE = ("kernel", "processors", "load at end", "MPI launcher", "program", "program version", "compiler",
         "C++ library", "MPI library")
ALIKE_ON_TMPFS = ALIKE + ("directory", "ext4 journal", "device model", "rotational", "scheduler")


def job_command(cluster, tagged, slots):
    """The command of a job over the three nodes, as test_three_nodes starts
    one: the build's launcher, its host file and flags; `tagged`, with the
    launcher's flag that puts each rank's tag before each of its lines. In
    a login's environment without Open MPI's leave to run as root, which
    run-environment passes as a flag, as the other tools do."""
    env = jc.login_env()
    command = [h.MPIEXEC] + jc.launch_of_build().options(cluster, slots, os.path.join(cluster.scratch, jc.OUTPUT),
                                                         env) + [h.SMALL]
    if tagged:
        command[1:1] = ["--tag-output"] if h.open_mpi() else ["-prepend-rank"]
    return env, command


def from_node01(test, cluster, options, interpreter=sys.executable, tagged=False, slots=jc.SLOTS):
    """run-environment --nodes OPTIONS for the job's command, started on
    node01 as a user logged in there would: (status, stdout, stderr)."""
    if not h.SMALL:
        test.fail("ORVANTIC_SMALL_BINARY not set")
    env, command = job_command(cluster, tagged, slots)
    done = subprocess.run(cluster.nodes[0].enter(env=env) + [interpreter, RUN_ENVIRONMENT, "--nodes"] + options
                          + ["--"] + command, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                          universal_newlines=True, timeout=jc.JOB_LIMIT)
    return done.returncode, done.stdout, done.stderr


def check_records(test, compared, names, alike):
    """Every node's record in its place, its fields in the order of FIELDS,
    and the marked fields in that order too, none of them `alike`."""
    test.assertEqual([node["host"] for node in compared["nodes"]], names)
    for node in compared["nodes"]:
        test.assertEqual(list(node["fields"]), NAMES)
        test.assertEqual(node["fields"]["host"], node["host"])
    test.assertEqual(set(compared["differing"]) & set(alike + nodes.OWN_TO_EACH), set())
    test.assertEqual(compared["differing"], [name for name in NAMES if name in compared["differing"]])


class NodeEnvironmentTests(unittest.TestCase):
    def test_every_node_through_the_build_launcher(self):
        # node03's run directory is remounted noexec in its own mount
        # namespace: its mount options differ from the other nodes'.
        cluster = sn.Cluster.start_for(self)
        node03 = cluster.nodes[2]
        node03.sh('mount -o remount,noexec "$1"', cluster.scratch)
        status, out, err = from_node01(self, cluster, ["--json", cluster.scratch], tagged=True)
        self.assertEqual((status, err), (0, ""))
        compared = json.loads(out)
        check_records(self, compared, cluster.names, ALIKE_ON_TMPFS)
        self.assertEqual([node["fields"]["file system"] for node in compared["nodes"]],
                         ["tmpfs on scratch-" + name for name in cluster.names])
        options = [node["fields"]["mount options"] for node in compared["nodes"]]
        self.assertEqual(["noexec" in value.split(";")[0].split(",") for value in options], [False, False, True])
        self.assertIn("mount options", compared["differing"])
        # Each node has a tmpfs of its own: the same path, another source.
        self.assertIn("file system", compared["differing"])

        # For a person: the same, the nodes grouped by value under the mark.
        status, out, err = from_node01(self, cluster, [cluster.scratch])
        self.assertEqual((status, err), (0, ""))
        lines = out.splitlines()
        at = lines.index("* mount options:")
        self.assertEqual(lines[at + 1:at + 3], ["      node01, node02: " + options[0], "      node03: " + options[2]])
        kernel = compared["nodes"][0]["fields"]["kernel"]
        self.assertIn("  kernel: " + kernel, lines)

        # A node's processors as the job's ranks find them, on a job of two
        # nodes too: Open MPI binds a job of two processes or fewer to
        # cores, one each, but the benchmark's ranks to a socket or not at all.
        status, out, err = from_node01(self, cluster, ["--json", cluster.scratch], slots=(1, 2, 0))
        self.assertEqual((status, err), (0, ""))
        processors = [node["fields"]["processors"] for node in json.loads(out)["nodes"]]
        self.assertEqual(processors, [probes.processors()] * 2)
        jc.check_nothing_left(self, cluster)

    def test_garbled_and_silent_nodes_are_told(self):
        # The nodes run Python from a directory that is a tmpfs of its own
        # on node02 and node03: there, node02's cuts its line short on the
        # way out and node03's never ends. Both are told, the launcher is
        # stopped at the limit, and node01's record stands.
        cluster = sn.Cluster.start_for(self)
        tools = os.path.join(cluster.root, "bin")
        os.mkdir(tools)
        interpreter = os.path.join(tools, "python3")
        os.symlink(os.path.realpath(sys.executable), interpreter)
        fakes = {cluster.nodes[1]: '%s "$@" | cut -c1-300' % os.path.realpath(sys.executable),
                 cluster.nodes[2]: "exec sleep 1000"}
        for node, script in fakes.items():
            node.sh('mount -t tmpfs tools "$1" && printf "#!/bin/sh\\n%s\\n" "$2" > "$1/python3" && '
                    'chmod 755 "$1/python3"', tools, script)
        status, out, err = from_node01(self, cluster, ["--json", "--time-limit", str(LIMIT), cluster.scratch],
                                       interpreter=interpreter)
        self.assertEqual(status, 1, err)
        self.assertIn("run-environment: no record from 2 of 3 node(s): node02, node03\n", err)
        compared = json.loads(out)
        self.assertEqual([node["host"] for node in compared["nodes"]], cluster.names)
        self.assertEqual(compared["nodes"][0]["fields"]["file system"], "tmpfs on scratch-node01")
        whys = {"node02": "its record arrived garbled (", "node03": "the launcher did not end within %d s" % LIMIT}
        for node in compared["nodes"][1:]:
            self.assertEqual(list(node["fields"]), NAMES)
            for value in node["fields"].values():
                self.assertTrue(value.startswith("unknown (no record from this node: " + whys[node["host"]]), value)
        self.assertEqual(compared["differing"], [])
        jc.check_nothing_left(self, cluster)


class SlurmNodeEnvironmentTests(unittest.TestCase):
    def test_every_node_of_an_allocation(self):
        # Inside an allocation of the three nodes, from the hub: srun starts
        # one record on each. The run directory is missing on node02.
        if not h.SMALL:
            self.fail("ORVANTIC_SMALL_BINARY not set")
        slurm = sc.SlurmCluster.start_for(self)
        cluster = slurm.cluster
        directory = os.path.join(cluster.scratch, jc.RUN_DIRECTORY)
        for node in (cluster.nodes[0], cluster.nodes[2]):
            node.sh('mkdir "$1"', directory)
        done = slurm.client("salloc", "--nodes=3", "--ntasks-per-node=1", sys.executable, RUN_ENVIRONMENT, "--nodes",
                            "--json", directory, "--", h.MPIEXEC, "-n", "3", h.SMALL)
        self.assertEqual(done.returncode, 0, done.stderr + slurm.logs())
        compared = json.loads(done.stdout)
        check_records(self, compared, cluster.names, ALIKE)
        fields = [node["fields"] for node in compared["nodes"]]
        self.assertEqual([record["file system"] for record in fields],
                         ["tmpfs on scratch-node01", "unknown (no directory %s here)" % directory,
                          "tmpfs on scratch-node03"])
        self.assertEqual({fields[1][name] for name in OF_DIRECTORY}, {"unknown (no directory %s here)" % directory})
        self.assertLessEqual(set(OF_DIRECTORY), set(compared["differing"]))
        self.assertEqual(fields[0]["program"], os.path.realpath(h.SMALL))
        jc.check_nothing_left(self, cluster, keep=slurm.daemon_pids())


if __name__ == "__main__":
    unittest.main()
