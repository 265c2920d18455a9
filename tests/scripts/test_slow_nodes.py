"""slow-nodes on reports of a real five-process run whose workers are put
on made-up nodes at known rates: a slow node named, rates that are not
valid and phases that shared the root's node taken as no evidence, a
series, and input it cannot judge."""

import csv
import io
import json
import os
import unittest

from testbed import files_left as f
from testbed import harness as h
from orvantic import reading, texts, verdicts
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
                field = "rate" if row["measurement"] in texts.HANDLING else "mb_per_sec"
                row[field] = "%g" % (100 * factor)
        row["seconds"] = (seconds or {}).get(row["scope"], row["seconds"])
    return rows


def write_run(directory, rows, index=0):
    path = os.path.join(directory, f.results_name(TEMPLATE.node, TEMPLATE.started.timestamp() + index))
    with open(path, "w", encoding="utf-8") as handle:
        handle.write(c.report_text(rows))
    return path


def slow_nodes(*args):
    return h.run_script("slow-nodes", *args)


class OneRun(unittest.TestCase):
    def test_slow_node_named_with_its_evidence(self):
        path = write_run(SPACE.subdir("one-slow"), made_up(slowed=("3", "4")))
        done = slow_nodes(path)
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertIn("How the verdict is made: " + verdicts.METHOD, done.stdout)
        self.assertIn("  nodeB: SLOW, below %.2f of the other workers' median in 6 of 6 phases" % verdicts.SLOW_RATIO,
                      done.stdout)
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

    def test_what_is_no_evidence(self):
        # A node slow only in phases whose rates are not valid is not slow.
        rows = made_up(slowed=("3", "4"), phases=(1, 2, 3, 4))
        for row in rows:
            if row["node"] == "nodeB" and texts.phase_of(row["measurement"]) <= 4:
                row["valid"] = "false"
        verdict = verdicts.judge(reading.Run("", TEMPLATE.node, TEMPLATE.started, 5, rows, []))
        self.assertEqual(verdict.slow, {})
        self.assertEqual([c.set_aside for c in verdict.comparisons if c.node == "nodeB"],
                         ["no valid rate"] * 4 + ["", ""])

        # Workers on the root's node are set aside in the phases that began
        # while the root's own tests ran there: 60 s of them, 30 s a phase.
        shared = dict(NODES, **{"1": TEMPLATE.node, "2": TEMPLATE.node})
        rows = made_up(shared, slowed=("1", "2"), phases=(1, 2), seconds={"single": "10", "rank": "30"})
        verdict = verdicts.judge(reading.Run("", TEMPLATE.node, TEMPLATE.started, 5, rows, []))
        self.assertEqual(verdict.slow, {})
        self.assertEqual([bool(c.set_aside) for c in verdict.comparisons if c.node == TEMPLATE.node],
                         [True, True, False, False, False, False])

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
