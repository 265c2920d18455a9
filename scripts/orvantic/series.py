"""Repeated runs of one job taken together: a Series is the runs, those
kept for statistics and those left out; its Values are, per measurement
and scope, the figure every run kept gives it. Every tool that reads more
than one run loads it here (`load`, `load_all`)."""

import functools
import math

from . import reading, texts, verdicts

# The scopes a series is summed up in, in the order they are shown: the
# averages repeat the totals divided by a constant and are left out.
SCOPE_ORDER = [texts.SCOPE_SINGLE, texts.SCOPE_RANK, texts.SCOPE_TOTAL, texts.SCOPE_COMMON_WINDOW]
LABELS = {texts.SCOPE_SINGLE: "single node", texts.SCOPE_TOTAL: "total", texts.SCOPE_COMMON_WINDOW: "common window"}
LETTERS = "ABCDEFGHIJKLMNOPQRSTUVWXYZ"


class Series:
    """Runs of one kind of job: a directory's results files, or the files
    named. The runs kept are whole, and every rate of them valid. `place`
    is the directory an environment record of them would lie in."""

    def __init__(self, name, runs, place, letter="A", lettered=False):
        self.name = name
        self.letter = letter
        # Named by its letter too where it is one of several.
        self.title = "%s: %s" % (letter, name) if lettered else name
        self.runs = runs
        self.place = place
        self.kept = [run for run in runs if run.why_left_out() is None]
        self.left_out = [run for run in runs if run.why_left_out() is not None]

    @functools.cached_property
    def values(self):
        """{(measurement, scope, rank): Values} over the runs kept, in the
        report's order."""
        return values_of(self.kept)

    @functools.cached_property
    def verdict(self):
        return verdicts.judge_series(self.runs)

    @property
    def verdicts(self):
        """Each run's verdict, in the order of the runs."""
        return self.verdict.runs


def load(given, name=None, letter="A", lettered=False):
    """The Series of the results files given (see reading.results_paths);
    reading.Refused where a file is none, or where they are runs of more
    than one kind of job."""
    paths, place = reading.results_paths(given)
    found = Series(name or (given[0] if len(given) == 1 else place), [reading.parse(path) for path in paths], place,
                   letter, lettered)
    check_one_kind(found.runs, found.title)
    return found


def check_one_kind(runs, name):
    """reading.Refused unless the runs are of one kind of job."""
    sizes = sorted({run.job_size for run in runs})
    if len(sizes) > 1:
        raise reading.Refused("%s holds jobs of %s processes; a series is runs of one kind of job (give each "
                              "series as a directory of its own)" % (name, " and ".join(map(str, sizes))))


def load_all(groups, names=None):
    """A Series of each group of paths, lettered A, B and so on where there
    are several."""
    if len(groups) > len(LETTERS):
        raise reading.Refused("at most %d series at once" % len(LETTERS))
    return [load(group, names[index] if names else None, LETTERS[index], len(groups) > 1)
            for index, group in enumerate(groups)]


class Values:
    """One measurement of one scope (the single node, a worker rank, the
    workers' total or their common-window total) over the runs."""

    def __init__(self, row):
        self.measurement = row.measurement
        self.scope = row.scope
        self.rank = row.rank
        self.unit = row.unit
        self.nodes = []
        self.values = []

    def add(self, row):
        # A zero time prints as inf: not a measurement.
        if math.isfinite(row.shown):
            self.values.append(row.shown)
        if row.node and row.node not in self.nodes:
            self.nodes.append(row.node)

    def order(self):
        return texts.phase_of(self.measurement), SCOPE_ORDER.index(self.scope), self.rank or 0

    def label(self):
        return LABELS.get(self.scope) or "rank %d" % self.rank


def values_of(runs):
    """Every measurement and scope the runs hold a value of, in the
    report's order, keyed by (measurement, scope, rank)."""
    found = {}
    for run in runs:
        for row in run.rows:
            if row.scope in SCOPE_ORDER:
                found.setdefault(row.key, Values(row)).add(row)
    return dict(sorted(((key, v) for key, v in found.items() if v.values), key=lambda item: item[1].order()))
