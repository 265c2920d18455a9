"""Slow nodes, named from a run's rows or a series' runs as METHOD tells.

Why so: the lower median (the lower of two middle values) that a node's
workers are set against leaves the node's own ranks out, so a node that
holds most of the workers cannot pull it towards its own rates; and it is
the lower median, so that one rank the scheduler favoured on another node
of two cannot double it and halve every other node's ratio. The node's
ratio is the median of its ranks' rates: one rank that the scheduler
favoured or starved moves it little, a node whose ranks are mostly slow
moves it much. Rates, not seconds, are compared: ranks may do different
amounts of work.

Two things in the report's structure move a node's rates without its drive
being slow. Workers start their first phase while the root runs its
single-node tests: workers on the root's node share it with those tests,
so their phases that began before the root's tests can have ended are set
aside (every node's, where the root's node is not known). And the workers'
phases do not start together (a worker starts its next phase as soon as
its last one ended), so one phase of a node may run in different company
than the same phase of another; a verdict therefore needs most phases,
never one, and a report cut short after a phase or two names no node.
"""

import bisect
import dataclasses
import statistics

from . import measured, texts

# A node is slow in a phase below this share of the other nodes' workers'
# lower median; bench/slow-nodes measures how often undisturbed runs cross it.
SLOW_RATIO = 0.5
# The fewest phases a node is compared in before a run names it slow or not.
MIN_JUDGED_PHASES = 4

METHOD = (
    "Per measurement, a node's ratio is the median of its workers' rates over the lower median of the rates of "
    "the workers on every other node (its own ranks left out). A node is slow in a phase where that ratio is "
    "below %.2f. A run judges a node where it was compared in at least %d phases, and names it slow where it is "
    "slow in most of them; compared in fewer, there are not enough phases to judge it. Rates that are not valid "
    "are no evidence either way. Workers on the root's node are set aside in the phases that began while the "
    "root ran its single-node tests, which share their node (every node's, where the root's node is not "
    "known). Over a series, a node is slow where it was slow in most of the runs that judged it."
    % (SLOW_RATIO, MIN_JUDGED_PHASES))


@dataclasses.dataclass(frozen=True)
class NoEvidence:
    """Why a node's figures of a phase are no evidence."""
    word: str  # for a table's cell
    why: str  # in full


SHARED_ROOT_NODE = NoEvidence("set aside", "began while the root's single-node tests shared its node")
ROOT_NODE_UNKNOWN = NoEvidence("set aside", "began while the root's single-node tests ran, and the root's node "
                                            "is not known: any node may have shared it")
NOT_REACHED = NoEvidence("not reached", "not reached: the report ends before this node's figures of the phase")
NO_VALID_RATE = NoEvidence("no valid rate", "no valid rate")
NO_OTHER_RATE = NoEvidence("nothing to compare", "no other node's valid rate")


class Comparison:
    """One node's workers in one phase against the workers on other nodes:
    the median rate of its ranks, the lower median of the others' (the
    figure its ratio divides by) and its ratio; or why it is no evidence."""

    def __init__(self, measurement, node, ranks, median, others_median, set_aside):
        self.measurement = measurement
        self.unit = measured.shown_unit(measurement)
        self.node = node
        self.ranks = ranks
        self.median = median
        self.others_median = others_median
        self.set_aside = set_aside  # a NoEvidence, or None where the figures are evidence
        self.ratio = None if set_aside else median / others_median
        self.slow = self.ratio is not None and self.ratio < SLOW_RATIO


def _single_node_seconds(run):
    """How long the root's single-node tests took, by their own clocks: a
    lower bound of how long they shared the root's node with its workers."""
    return sum(r.seconds or 0.0 for r in run.rows if r.scope == texts.SCOPE_SINGLE)


def _phase_starts(run):
    """{(measurement, rank): seconds of that rank's earlier phases}: the
    earliest a phase can have begun after the rank's start."""
    starts, elapsed = {}, {}
    for measurement, _ in texts.MEASUREMENTS:
        for row in run.select(measurement, texts.SCOPE_RANK):
            starts[(measurement, row.rank)] = elapsed.get(row.rank, 0.0)
            elapsed[row.rank] = elapsed.get(row.rank, 0.0) + (row.seconds or 0.0)
    return starts


def _without(ordered, values):
    """The sorted list without one of each of the values: the other nodes'
    rates, without a pass over every rank for each of hundreds of nodes."""
    rest = list(ordered)
    for value in values:
        del rest[bisect.bisect_left(rest, value)]
    return rest


def _why_no_other_node(run, workers):
    """Why a run whose workers, as many as its report holds, ran on one node
    at most cannot judge any."""
    if not workers:
        return "the report ends before any worker's lines" if run.job_size > 1 else "the run has no workers"
    if workers < run.job_size - 1:
        return ("the report ends before some workers' lines, and those it holds ran on one node: there is no other "
                "node to compare with")
    return "the workers ran on one node: there is no other node to compare with"


class RunVerdict:
    """The comparisons of one run, the nodes named slow and why, and those
    it cannot judge and why."""

    def __init__(self, run):
        self.run = run
        # Every phase's rows: a report that ends early may hold a rank's
        # lines of a later phase only where an earlier one is whole.
        self.ranks_of = {}
        for row in sorted((r for r in run.rows if r.scope == texts.SCOPE_RANK), key=lambda r: r.rank):
            ranks = self.ranks_of.setdefault(row.node, [])
            if row.rank not in ranks:
                ranks.append(row.rank)
        self.nodes = list(self.ranks_of)
        self.comparisons = []
        self.slow = {}
        self.not_judged = {}  # {node: why the run cannot judge it}
        self.why_not_judged = None  # why the run judges no node at all
        if len(self.nodes) < 2:
            self.why_not_judged = _why_no_other_node(run, sum(map(len, self.ranks_of.values())))
            return
        shared_until = _single_node_seconds(run)
        starts = _phase_starts(run)
        for measurement, _ in texts.MEASUREMENTS:
            self.comparisons += self._compare_phase(measurement, shared_until, starts)
        self._judge_nodes()
        if len(self.not_judged) == len(self.nodes):
            self.why_not_judged = "not enough phases to judge any node (a verdict needs %d)" % MIN_JUDGED_PHASES

    def _set_aside(self, measurement, node, shared_until, starts):
        """Why the node's figures of the phase are no evidence of its drive,
        where they shared a node with the root's single-node tests."""
        if self.run.node in (None, node) and any(starts.get((measurement, rank), 0.0) < shared_until
                                                 for rank in self.ranks_of[node]):
            return SHARED_ROOT_NODE if self.run.node is not None else ROOT_NODE_UNKNOWN
        return None

    def _compare_phase(self, measurement, shared_until, starts):
        """Each node's workers in one phase against the lower median of the
        workers' on every other node (see the module's notes)."""
        rows = self.run.select(measurement, texts.SCOPE_RANK)
        aside = {node: self._set_aside(measurement, node, shared_until, starts) for node in self.nodes}
        own_rates = {}
        # A rate of zero is none: no other worker's can be measured against it.
        for row in rows:
            if not aside[row.node] and row.measured:
                own_rates.setdefault(row.node, []).append(row.measured)
        every_rate = sorted(rate for rates in own_rates.values() for rate in rates)
        reached = {row.node for row in rows}
        comparisons = []
        for node in self.nodes:
            own = own_rates.get(node, [])
            outside = _without(every_rate, own)
            why = (aside[node] or (NOT_REACHED if node not in reached and self.run.ended_early else None)
                   or (NO_VALID_RATE if not own else None) or (NO_OTHER_RATE if not outside else None))
            comparisons.append(Comparison(measurement, node, self.ranks_of[node],
                                          statistics.median(own) if own else None,
                                          outside[(len(outside) - 1) // 2] if outside else None, why))
        return comparisons

    def _judge_nodes(self):
        for node in self.nodes:
            judged = [c for c in self.comparisons if c.node == node and c.ratio is not None]
            slow = [c for c in judged if c.slow]
            if len(judged) < MIN_JUDGED_PHASES:
                self.not_judged[node] = "not enough phases to judge: compared in %d, a verdict needs %d" % (
                    len(judged), MIN_JUDGED_PHASES)
            elif 2 * len(slow) > len(judged):
                self.slow[node] = "below %.2f of the other nodes' workers' lower median in %d of the %d phases " \
                                  "judged (%s)" % (SLOW_RATIO, len(slow), len(judged),
                                                   ", ".join("%s %.2f" % (c.measurement, c.ratio) for c in slow))


class SeriesVerdict:
    """A node is slow over a series where it was slow in most of the runs
    that judged it."""

    def __init__(self, runs):
        self.runs = [RunVerdict(run) for run in runs]
        self.counts = {}
        for verdict in self.runs:
            for node in verdict.nodes:
                if node not in verdict.not_judged and not verdict.why_not_judged:
                    slow, judged = self.counts.get(node, (0, 0))
                    self.counts[node] = (slow + (node in verdict.slow), judged + 1)
        self.slow = {node: "slow in %d of the %d runs that judged it" % (slow, judged)
                     for node, (slow, judged) in self.counts.items() if 2 * slow > judged}

    @property
    def why_not_judged(self):
        """Why no run judged any node: the runs' one reason where they share
        it; None where a run judged one."""
        if self.counts:
            return None
        reasons = {verdict.why_not_judged for verdict in self.runs}
        return "no run judged any node" + ("; in every run, " + reasons.pop() if len(reasons) == 1 else "")


# The names the tools judge by.
judge = RunVerdict
judge_series = SeriesVerdict
