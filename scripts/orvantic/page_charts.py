"""The data of a results page's charts (see page), as page.js draws them
with Chart.js: per measurement a strip of points per node on one axis, so
that a job of hundreds of ranks stays readable, and the root's single-node
figure as a line across. Every figure is a row's, read as measured reads it."""

import math
import statistics

from . import measured, texts
from .measured import Validity as V
from .plots import TITLES

NOT_VALID = "not valid (hollow)"
# A report that ends early may stop before a Warning line about a figure.
NOT_SETTLED = "validity not settled (hollow)"
COLOURS = {"workers": "#1f77b4", "slow": "#d62728", "not valid": "#8c8c8c", "single": "#222222",
           "median": "#000000"}
SERIES_COLOURS = ["#1f77b4", "#ff7f0e", "#2ca02c", "#9467bd"]


def node_medians(run):
    """{(measurement, node): the median of the node's workers' valid figures}."""
    values = {}
    for row in run.rows:
        value = row.measured if row.scope == texts.SCOPE_RANK else None
        if value is not None:
            values.setdefault((row.measurement, row.node), []).append(value)
    return dict((key, statistics.median(found)) for key, found in values.items())


def node_spread(per_run, measurement):
    """{node: (min, median, max, runs)} of a node's medians in the runs,
    per_run holding node_medians of each."""
    values = {}
    for found in per_run:
        for (m, node), value in found.items():
            if m == measurement:
                values.setdefault(node, []).append(value)
    return dict((node, (min(v), statistics.median(v), max(v), len(v))) for node, v in values.items())


def _group(label, colour, points, hollow=False, marker="circle", slot=0):
    """Points drawn alike: [node index, value, what the point is]."""
    return {"label": label, "colour": colour, "points": points, "hollow": hollow, "marker": marker, "slot": slot}


def _chart(measurement, categories, groups, baselines, axis, slots=1):
    return {"id": "chart-" + measurement, "measurement": measurement, "title": TITLES[measurement],
            "unit": measured.shown_unit(measurement), "axis": axis, "categories": categories, "groups": groups,
            "baselines": baselines, "slots": slots}


def _single_node_line(row, label, colour=COLOURS["single"]):
    value = row.shown
    if value is None or not math.isfinite(value):
        return []
    note = {V.VALID: "", V.NOT_VALID: " (not valid)", V.UNSETTLED: " (not settled)"}[row.valid]
    return [{"label": "%s: %g%s" % (label, value, note), "y": value, "valid": not note, "colour": colour}]


def _marked(nodes, slow):
    return [node + (" (slow)" if node in slow else "") for node in nodes]


def run_charts(run, verdict):
    """Per measurement every worker's figure at its node: slow nodes' in a
    colour of their own, those not valid (or not known to be) hollow and
    grey; a figure printed
    as inf (a zero time) has no place on an axis and is left to the table."""
    index = dict((node, i) for i, node in enumerate(verdict.nodes))
    charts = []
    for measurement, _ in texts.MEASUREMENTS:
        kinds = {"workers": [], "slow": [], V.NOT_VALID: [], V.UNSETTLED: []}
        for row in run.select(measurement, texts.SCOPE_RANK):
            value = row.shown
            if value is not None and math.isfinite(value):
                kind = row.valid if row.valid is not V.VALID else "slow" if row.node in verdict.slow else "workers"
                kinds[kind].append([index[row.node], value, "rank %d" % row.rank])
        groups = [_group("workers", COLOURS["workers"], kinds["workers"]),
                  _group("workers on a slow node", COLOURS["slow"], kinds["slow"]),
                  _group(NOT_VALID, COLOURS["not valid"], kinds[V.NOT_VALID], hollow=True),
                  _group(NOT_SETTLED, COLOURS["not valid"], kinds[V.UNSETTLED], hollow=True, marker="triangle")]
        baseline = [line for row in run.select(measurement, texts.SCOPE_SINGLE)
                    for line in _single_node_line(row, "single node (root rank alone)")]
        charts.append(_chart(measurement, _marked(verdict.nodes, verdict.slow), groups, baseline,
                             "node (a point per worker rank)"))
    return charts


def series_charts(all_series):
    """Per measurement each node's median over its workers, a point per run
    kept, every series in a slot of its own with its medians over the runs
    and the median of the root's single-node figures."""
    nodes = list(dict.fromkeys(node for series in all_series for verdict in series.verdicts
                               for node in verdict.nodes))
    index = dict((node, i) for i, node in enumerate(nodes))
    slow = set().union(*(series.verdict.slow for series in all_series))
    per_series = [[node_medians(run) for run in series.kept] for series in all_series]
    charts = []
    for measurement, _ in texts.MEASUREMENTS:
        groups, baselines = [], []
        for slot, (series, per_run) in enumerate(zip(all_series, per_series)):
            colour = SERIES_COLOURS[slot % len(SERIES_COLOURS)]
            name = series.title + ", " if len(all_series) > 1 else ""
            points = [[index[node], value, "run %d" % number] for number, found in enumerate(per_run, 1)
                      for (m, node), value in found.items() if m == measurement]
            medians = [[index[node], spread[1], "median over the runs"]
                       for node, spread in node_spread(per_run, measurement).items()]
            groups += [_group(name + "a node in one run", colour, points, slot=slot),
                       _group(name + "median over the runs", COLOURS["median"], medians, marker="line", slot=slot)]
            singles = [row.measured for run in series.kept for row in run.select(measurement, texts.SCOPE_SINGLE)]
            singles = [value for value in singles if value is not None]
            if singles:
                median = statistics.median(singles)
                baselines.append({"label": "%ssingle node, median over the runs: %g" % (name, median), "y": median,
                                  "valid": True, "colour": colour})
        charts.append(_chart(measurement, _marked(nodes, slow), groups, baselines,
                             "node (a point per run: the median of the node's workers)", len(all_series)))
    return charts
