"""slow-nodes on reports of a real five-process run whose workers are put
on made-up nodes at known rates: a slow node named, also one that holds
most of the workers, rates that are not valid and phases that shared the
root's node taken as no evidence, a report cut short, a series, and input
it cannot judge."""

import csv
import io
import json
import os
import unittest

from testbed import files_left as f
from testbed import harness as h
from orvantic import measured, reading, texts, verdicts
from testbed import report_checks as c

TEMPLATE = SPACE = None
NODES = {"1": "nodeA", "2": "nodeA", "3": "nodeB", "4": "nodeB"}


def setUpModule():
    global TEMPLATE, SPACE
    SPACE = h.module_workspace(h.SMALL)
    TEMPLATE = reading.parse(f.results_of_run(5))


def made_up(nodes=None, slowed=(), factor=0.25, phases=None, seconds=None):
    """The template's rows with the workers on `nodes` ({rank: node}), every
    shown rate 100 but the ranks in `slowed`, at `factor` of it in `phases`
    (all by default); seconds: {scope: text} for every row of a scope."""
    scale = {("single", "0"): 1, ("total", ""): 4, ("average", ""): 1}
    scale.update((("rank", rank), 1) for rank in NODES)
    rows = c.made_up_rows(TEMPLATE, 100, scale)
    for row in rows:
        if row["scope"] == texts.SCOPE_RANK:
            row["node"] = (nodes or NODES)[row["rank"]]
            if row["rank"] in slowed and (phases is None or texts.phase_of(row["measurement"]) in phases):
                row[measured.shown_field(row["measurement"])] = "%g" % (100 * factor)
        row["seconds"] = (seconds or {}).get(row["scope"], row["seconds"])
    return rows


def write_run(directory, rows, index=0):
    path = os.path.join(directory, f.results_name(TEMPLATE.node, TEMPLATE.started.timestamp() + index))
    with open(path, "w", encoding="utf-8") as handle:
        handle.write(c.report_text(rows))
    return path


def judged(rows, node_known=True, not_valid=lambda row: False):
    """The verdict on a run of those rows, those not_valid picks made not
    valid; its root's node not known, as where the file was renamed, unless
    node_known."""
    run = reading.parse(write_run(SPACE.subdir("judged-%d" % len(os.listdir(SPACE.root))), rows))
    run.node = run.node if node_known else None
    for row in filter(not_valid, run.rows):
        row.valid = measured.Validity.NOT_VALID
    return verdicts.judge(run)


def slow_nodes(*args):
    return h.run_script("slow-nodes", *args)


def cut_before(heading, occurrence):
    """A transform of a file's lines that ends them before the given
    occurrence (1, 2, ...) of a heading line."""
    return lambda lines: lines[:[i for i, line in enumerate(lines) if line == heading][occurrence - 1]]


class OneRun(unittest.TestCase):
    def test_slow_node_named_with_its_evidence(self):
        path = write_run(SPACE.subdir("one-slow"), made_up(slowed=("3", "4")))
        done = slow_nodes(path)
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertIn("How the verdict is made: " + verdicts.METHOD, done.stdout)
        self.assertIn("  nodeB: SLOW, below %.2f of the other nodes' workers' lower median in 6 of the 6 phases judged"
                      % verdicts.SLOW_RATIO, done.stdout)
        self.assertIn("  nodeA: not slow", done.stdout)

        result = json.loads(slow_nodes("--json", path).stdout)
        self.assertEqual(list(result["runs"][0]["slow"]), ["nodeB"])
        self.assertEqual(result["nodes"]["nodeB"], {"slow_runs": 1, "judged_runs": 1, "slow": True})
        comparisons = [c for c in result["runs"][0]["comparisons"] if c["node"] == "nodeB"]
        self.assertEqual([c["ratio"] for c in comparisons], [0.25] * 6)
        self.assertEqual({c["unit"] for c in comparisons}, {texts.HANDLING_UNIT, texts.MB_UNIT})

        rows = list(csv.DictReader(io.StringIO(slow_nodes("--csv", path).stdout)))
        self.assertEqual(len(rows), 12)
        self.assertEqual({r["slow_in_run"] for r in rows if r["node"] == "nodeB"}, {"true"})

    def test_the_figure_a_ratio_divides_by(self):
        # nodeA holds three of the four workers, all slow: its own ranks do
        # not enter the figure its ratio divides by, nodeB's median.
        majority = {"1": "nodeA", "2": "nodeA", "3": "nodeA", "4": "nodeB"}
        path = write_run(SPACE.subdir("majority"), made_up(majority, slowed=("1", "2", "3")))
        done = slow_nodes(path)
        self.assertIn("  stream-handling      nodeA                3           25          100   0.25  slow\n",
                      done.stdout)
        self.assertIn("  nodeA: SLOW, ", done.stdout)
        self.assertIn("  nodeB: not slow", done.stdout)

        # One rank of a node of two favoured four times over: the other
        # node's figure is the lower median of the two, not their mean.
        verdict = judged(made_up(slowed=("4",), factor=4))
        self.assertEqual({(c.node, c.others_median, c.ratio) for c in verdict.comparisons},
                         {("nodeA", 100, 1.0), ("nodeB", 100, 2.5)})
        self.assertEqual(verdict.slow, {})

    def test_a_report_cut_short(self):
        whole = write_run(SPACE.subdir("cut"), made_up(slowed=("3", "4")))
        # Ended in cluster phase 2: one phase compared names no node, and
        # the status says the report ends early.
        cut = f.copy_as(whole, SPACE.subdir("cut-2"), os.path.basename(whole), cut_before(texts.HANDLING_HIGHER, 2))
        done = slow_nodes(cut)
        self.assertEqual(done.returncode, 1)
        self.assertIn("  nodeB: no verdict, not enough phases to judge: compared in 1, a verdict needs %d\n"
                      % verdicts.MIN_JUDGED_PHASES, done.stdout)
        self.assertEqual(done.stderr, "slow-nodes: %s\n" % reading.early_ends([reading.parse(cut)])[0])
        (row,) = [r for r in json.loads(slow_nodes("--json", cut).stdout)["runs"][0]["comparisons"]
                  if r["node"] == "nodeB" and r["measurement"] == "descriptor-handling"]
        self.assertEqual((row["set_aside"], row["slow_in_run"]), (verdicts.NOT_REACHED.why, None))

        # Ended in the single-node tests, before any worker's lines.
        cut = f.copy_as(whole, SPACE.subdir("cut-1"), os.path.basename(whole), cut_before(texts.HANDLING_HIGHER, 1))
        done = slow_nodes(cut)
        self.assertEqual(done.returncode, 1)
        self.assertIn("  no verdict: the report ends before any worker's lines\n", done.stdout)

    def test_what_is_no_evidence(self):
        # A node slow only in phases whose rates are not valid is not slow.
        verdict = judged(made_up(slowed=("3", "4"), phases=(1, 2, 3, 4)),
                         not_valid=lambda row: row.node == "nodeB" and texts.phase_of(row.measurement) <= 4)
        self.assertEqual(verdict.slow, {})
        self.assertEqual([c.set_aside for c in verdict.comparisons if c.node == "nodeB"],
                         [verdicts.NO_VALID_RATE] * 4 + [None, None])

        # Workers on the root's node are set aside in the phases that began
        # while the root's own tests ran there: 60 s of them, 30 s a phase.
        shared = dict(NODES, **{"1": TEMPLATE.node, "2": TEMPLATE.node})
        rows = made_up(shared, slowed=("1", "2"), phases=(1, 2), seconds={"single": "10", "rank": "30"})
        verdict = judged(rows)
        self.assertEqual(verdict.slow, {})
        self.assertEqual([bool(c.set_aside) for c in verdict.comparisons if c.node == TEMPLATE.node],
                         [True, True, False, False, False, False])
        # Where the root's node is not known, so are every node's.
        verdict = judged(rows, node_known=False)
        self.assertEqual({c.set_aside for c in verdict.comparisons if c.measurement == "descriptor-handling"},
                         {verdicts.ROOT_NODE_UNKNOWN})
        self.assertEqual({c.set_aside for c in verdict.comparisons if c.measurement == "low-write"}, {None})

    def test_no_other_node_to_compare_with(self):
        done = slow_nodes(f.results_of_run(5))
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertIn("  no verdict: the workers ran on one node: there is no other node to compare with",
                      done.stdout)


class Series(unittest.TestCase):
    def test_nodes_slow_in_most_runs(self):
        directory = SPACE.subdir("series")
        for index, slowed in enumerate([("3", "4"), ("3", "4"), ("1", "2")]):
            write_run(directory, made_up(slowed=slowed), index)
        done = slow_nodes(directory)
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertIn("Over the 3 runs:\n  nodeA: not slow, slow in 1 of the 3 runs that judged it\n"
                      "  nodeB: SLOW, slow in 2 of the 3 runs that judged it\n", done.stdout)

    def test_no_run_judged_a_node(self):
        directory = SPACE.subdir("one-node-series")
        for index in range(3):
            write_run(directory, made_up(dict.fromkeys(NODES, "nodeA")), index)
        done = slow_nodes(directory)
        self.assertTrue(done.stdout.endswith(
            "Over the 3 runs:\n  no run judged any node; in every run, the workers ran on one node: there is no "
            "other node to compare with\n"), done.stdout)

    def test_input_it_cannot_judge(self):
        empty = SPACE.subdir("empty")
        not_a_report = os.path.join(empty, texts.RESULTS_PREFIX + "x.txt")
        for args in ([empty], [not_a_report]):
            done = slow_nodes(*args)
            self.assertEqual(done.returncode, 1, args)
            self.assertTrue(done.stderr.startswith("slow-nodes: not a results file: "), done.stderr)
        with open(not_a_report, "w") as handle:
            handle.write("Thread(s): 3\n")
        self.assertEqual(slow_nodes(not_a_report).returncode, 1)


if __name__ == "__main__":
    unittest.main()
