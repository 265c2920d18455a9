"""Slow nodes, named from a run's rows or a series' runs.

Per measurement, each worker's rate is set against the median of every
other worker's in the same phase of the same run, and a node's ratio is the
median of its ranks' ratios: one rank that the scheduler favoured or
starved moves it little, a node whose ranks are mostly slow moves it
much. Rates, not seconds, are compared: ranks may do different amounts of
work. A node is slow in a phase where its ratio is below SLOW_RATIO, and
slow in the run where it is slow in most of the phases it was judged in.
Over a series, a node is slow where it was slow in most of the runs that
judged it. A rate that is not valid is no evidence either way.

Two things in the report's structure move a node's rates without its drive
being slow. Workers start their first phase while the root runs its
single-node tests: workers on the root's node share it with those tests,
so their phases that began before the root's tests can have ended are set
aside. And the workers' phases do not start together (a worker starts its
next phase as soon as its last one ended), so one phase of a node may run
in different company than the same phase of another; a verdict therefore
needs most phases, never one.
"""

import statistics

from . import measured, texts

# A node is slow in a phase below this share of the other workers' median
# rate; bench/slow-nodes measures how often undisturbed runs cross it.
SLOW_RATIO = 0.5

METHOD = (
    "Per measurement, each worker's rate is set against the median of every other worker's in the same "
    "phase, and a node's ratio is the median of its ranks' ratios. A node is slow in a phase where that "
    "ratio is below %.2f, and slow in the run where it is slow in most of the phases it was judged in. "
    "Rates that are not valid are no evidence either way. Workers on the root's node are set aside in the "
    "phases that began while the root ran its single-node tests, which share their node. Over a series, "
    "a node is slow where it was slow in most of the runs that judged it." % SLOW_RATIO)


class Comparison:
    """One node's workers in one phase against the other workers: the
    median rate of its ranks and of the workers on other nodes, and its
    ratio (see the module's notes)."""

    def __init__(self, measurement, node, ranks, median, others_median, ratio, set_aside):
        self.measurement = measurement
        self.unit = measured.shown_unit(measurement)
        self.node = node
        self.ranks = ranks
        self.median = median
        self.others_median = others_median
        self.set_aside = set_aside  # why these figures are no evidence, if they are not
        self.ratio = ratio
        self.slow = not set_aside and self.ratio is not None and self.ratio < SLOW_RATIO


def _valid_rate(row):
    """The rate a worker's row is read by, where it is a measurement; a rate
    of zero, which no other worker's can be measured against, is none."""
    value = measured.measured_value(row)
    return value if value else None


def _single_node_seconds(run):
    """How long the root's single-node tests took, by their own clocks: a
    lower bound of how long they shared the root's node with its workers."""
    return sum(measured.as_float(r["seconds"]) or 0.0 for r in run.rows if r["scope"] == texts.SCOPE_SINGLE)


def _phase_starts(run):
    """{(measurement, rank): seconds of that rank's earlier phases}: the
    earliest a phase can have begun after the rank's start."""
    starts, elapsed = {}, {}
    for measurement, _ in texts.MEASUREMENTS:
        for row in run.select(measurement, texts.SCOPE_RANK):
            rank = int(row["rank"])
            starts[(measurement, rank)] = elapsed.get(rank, 0.0)
            elapsed[rank] = elapsed.get(rank, 0.0) + (measured.as_float(row["seconds"]) or 0.0)
    return starts


def _median(values):
    return statistics.median(values) if values else None


def _median_without(values, value):
    """The median of the values but one occurrence of `value`."""
    rest = list(values)
    rest.remove(value)
    return statistics.median(rest)


class RunVerdict:
    """The comparisons of one run, the nodes named slow and why."""

    def __init__(self, run):
        self.run = run
        # Every phase's rows: a report that ends early may hold a rank's
        # lines of a later phase only where an earlier one is whole.
        self.nodes = []
        self.ranks_of = {}
        for row in sorted((r for r in run.rows if r["scope"] == texts.SCOPE_RANK), key=lambda r: int(r["rank"])):
            ranks = self.ranks_of.setdefault(row["node"], [])
            if not ranks:
                self.nodes.append(row["node"])
            if int(row["rank"]) not in ranks:
                ranks.append(int(row["rank"]))
        self.comparisons = []
        self.slow = {}
        self.why_not_judged = None
        if len(self.nodes) < 2:
            self.why_not_judged = ("the workers ran on one node: there is no other node to compare with"
                                   if self.nodes else "the run has no workers")
            return
        shared_until = _single_node_seconds(run)
        starts = _phase_starts(run)
        for measurement, _ in texts.MEASUREMENTS:
            self.comparisons += self._compare_phase(measurement, shared_until, starts)
        self._name_slow_nodes()

    def _set_aside(self, measurement, node, shared_until, starts):
        if node != self.run.node:
            return ""
        if any(starts.get((measurement, rank), 0.0) < shared_until for rank in self.ranks_of[node]):
            return "began while the root's single-node tests shared its node"
        return ""

    def _compare_phase(self, measurement, shared_until, starts):
        """Each node's workers in one phase against every other worker of
        the phase: a rank's rate over the median of the others' rates, the
        node's ratio the median of its ranks'. One fast or slow rank moves
        that median little; a node whose ranks are mostly slow is."""
        aside = {node: self._set_aside(measurement, node, shared_until, starts) for node in self.nodes}
        rates = [(row["node"], _valid_rate(row)) for row in self.run.select(measurement, texts.SCOPE_RANK)
                 if not aside[row["node"]]]
        rates = [(node, rate) for node, rate in rates if rate is not None]
        comparisons = []
        for node in self.nodes:
            own = [rate for on, rate in rates if on == node]
            outside = [rate for on, rate in rates if on != node]
            why = aside[node] or ("no valid rate" if not own else "" if outside else "no other node's valid rate")
            ratio = None
            if not why:
                everyone = [rate for _, rate in rates]
                ratio = statistics.median(rate / _median_without(everyone, rate) for rate in own)
            comparisons.append(Comparison(measurement, node, self.ranks_of[node], _median(own), _median(outside),
                                          ratio, why))
        return comparisons

    def judged_phases(self, node):
        return [c for c in self.comparisons if c.node == node and c.ratio is not None and not c.set_aside]

    def _name_slow_nodes(self):
        for node in self.nodes:
            judged = self.judged_phases(node)
            slow = [c for c in judged if c.slow]
            if judged and 2 * len(slow) > len(judged):
                self.slow[node] = "below %.2f of the other workers' median in %d of %d phases (%s)" % (
                    SLOW_RATIO, len(slow), len(judged), ", ".join("%s %.2f" % (c.measurement, c.ratio) for c in slow))


def judge(run):
    return RunVerdict(run)


class SeriesVerdict:
    """A node is slow over a series where it was slow in most of the runs
    that judged it."""

    def __init__(self, runs):
        self.runs = [judge(run) for run in runs]
        self.counts = {}
        for verdict in self.runs:
            for node in verdict.nodes:
                if verdict.judged_phases(node):
                    slow, judged = self.counts.get(node, (0, 0))
                    self.counts[node] = (slow + (node in verdict.slow), judged + 1)
        self.slow = {node: "slow in %d of the %d runs that judged it" % (slow, judged)
                     for node, (slow, judged) in self.counts.items() if 2 * slow > judged}


def judge_series(runs):
    return SeriesVerdict(runs)
