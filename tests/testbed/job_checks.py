"""What a job across the simulated nodes must leave: rank 0's report naming
every worker's own node on both sinks, the results file on rank 0's node
only, each worker's scratch files on its own node only, and no process left
on any node."""

import os
import time

from testbed import simulated_nodes as sn

# The end-to-end suite's checks of the report, on its one grammar, and of
# the files a job leaves.
from testbed import files_left as f
from testbed import harness as h
from orvantic import reading, texts  # noqa: E402 (harness puts the scripts' package on the path)
from testbed import report_checks as c

SETTLE_LIMIT = 15  # seconds for a node's processes to go once the job has


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
