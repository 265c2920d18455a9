"""Repeated runs of one job taken together: per measurement and scope, the
value every run gives it, read from the runs' rows.

Shared by repeat-runs, which sums up one series, and compare, which sets
two side by side.
"""

import math

from . import measured, texts

# The scopes a series is summed up in, in the order they are shown: the
# averages repeat the totals divided by a constant and are left out.
SCOPE_ORDER = [texts.SCOPE_SINGLE, texts.SCOPE_RANK, texts.SCOPE_TOTAL, texts.SCOPE_COMMON_WINDOW]
LABELS = {texts.SCOPE_SINGLE: "single node", texts.SCOPE_TOTAL: "total", texts.SCOPE_COMMON_WINDOW: "common window"}


class Series:
    """One measurement of one scope (the single node, a worker rank, the
    workers' total or their common-window total) over the runs."""

    def __init__(self, row):
        self.measurement = row["measurement"]
        self.scope = row["scope"]
        self.rank = row["rank"]
        self.unit = measured.shown_value(row)[1]
        self.nodes = []
        self.values = []

    def add(self, row):
        value = measured.shown_value(row)[0]
        # A zero time prints as inf: not a measurement.
        if math.isfinite(value):
            self.values.append(value)
        if row["node"] and row["node"] not in self.nodes:
            self.nodes.append(row["node"])

    def key(self):
        return self.measurement, self.scope, self.rank

    def order(self):
        return texts.phase_of(self.measurement), SCOPE_ORDER.index(self.scope), int(self.rank or 0)

    def label(self):
        return LABELS.get(self.scope) or "rank " + self.rank


def series_of(runs):
    """Every measurement and scope the runs hold a value of, in the
    report's order."""
    found = {}
    for run in runs:
        for row in run.rows:
            if row["scope"] in SCOPE_ORDER:
                key = (row["measurement"], row["scope"], row["rank"])
                found.setdefault(key, Series(row)).add(row)
    return sorted((s for s in found.values() if s.values), key=Series.order)
