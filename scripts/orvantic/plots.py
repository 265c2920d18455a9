"""Pictures of results files, drawn with matplotlib: the worker ranks of
runs side by side as bars, or repeated runs as points, one series or two.

Shared by plot-results and compare. Handling tests are drawn in Files/sec.,
speed tests in MB/sec. What a Warning line makes no measurement is drawn
hollow, an edge without fill.
"""

import math
import statistics
import sys

from . import measured, texts
from .series import SCOPE_ORDER

TITLES = {
    "stream-handling": "stream handling (create, open, close, remove)",
    "descriptor-handling": "descriptor handling (create, close, remove)",
    "low-write": "low write (one byte per call)",
    "low-read": "low read (one byte per call)",
    "high-read": "high read (whole blocks)",
    "high-write": "high write (whole blocks)",
}


def load_pyplot(program):
    try:
        import matplotlib
    except ImportError:
        print(
            "%s: matplotlib is missing for %s; install it with "
            "'apt-get install -y python3-matplotlib'" % (program, sys.executable),
            file=sys.stderr,
        )
        sys.exit(2)
    matplotlib.use("Agg")  # no display needed: the pictures go to files
    import matplotlib.pyplot as pyplot

    return pyplot


def root_node(run):
    """The root's node as a picture names it: a file under another name than
    the program gives does not tell it."""
    return "node unknown" if run.node is None else run.node


def node_colours(runs, pyplot):
    palette = pyplot.get_cmap("tab10").colors
    colours = {}
    for run in runs:
        for node in [root_node(run)] + [r.node for r in run.rows if r.scope == texts.SCOPE_RANK]:
            if node not in colours:
                colours[node] = palette[len(colours) % len(palette)]
    return colours


def finite(value):
    return value is not None and math.isfinite(value)


def valid(row):
    return row.valid is measured.Validity.VALID


def not_valid_note(row):
    return "" if valid(row) else " (not valid)"


def draw(runs, measurement, colours, pyplot, path):
    from matplotlib import patheffects

    # Each run gets at least room for its caption; one slot per worker bar.
    spans = [max(2.6, run.job_size - 1) for run in runs]
    width = min(24.0, max(6.0, 2.0 + 0.6 * (sum(spans) + len(runs))))
    figure, axes = pyplot.subplots(figsize=(width, 5.5))
    section = texts.SECTION_OF[measurement]
    unit = None
    ticks, tick_labels = [], []
    offset = 0.0
    for run, span in zip(runs, spans):
        ranks = run.select(measurement, texts.SCOPE_RANK)
        first = offset + (span - max(1, len(ranks))) / 2  # bars centred in the span
        for index, row in enumerate(ranks):
            value, unit = row.shown, row.unit
            x = first + index
            if finite(value):
                colour = colours[row.node]
                axes.bar(x, value, width=0.8, facecolor=colour if valid(row) else "none", edgecolor=colour,
                         linewidth=1.5)
            else:
                axes.annotate(str(value), (x, 0), ha="center", va="bottom")
            ticks.append(x)
            tick_labels.append("rank %d" % row.rank)
        (single,) = run.select(measurement, texts.SCOPE_SINGLE)
        value, unit = single.shown, single.unit
        left, right = offset - 0.45, offset + span - 1 + 0.45
        if finite(value):
            # Outlined, so the line stays visible across bars of its own colour.
            axes.hlines(value, left, right, colors=[colours[root_node(run)]], linewidth=2.5,
                        linestyles="--" if valid(single) else ":", zorder=3,
                        path_effects=[patheffects.withStroke(linewidth=4, foreground="black")])
            axes.annotate("single node %g%s" % (value, not_valid_note(single)),
                          (right, value), xytext=(0, 4), textcoords="offset points",
                          ha="right", va="bottom", fontsize=8,
                          bbox=dict(facecolor="white", edgecolor="none", alpha=0.8, pad=1))
        caption = "%s\n%s\n%d process%s" % (
            root_node(run), "start unknown" if run.started is None else run.started.strftime("%Y-%m-%d %H:%M:%S"),
            run.job_size,
            "" if run.job_size == 1 else "es")
        totals = run.select(measurement, texts.SCOPE_TOTAL)
        if totals:
            caption += "\nall workers: %sx single%s" % (totals[0].speedup, not_valid_note(totals[0]))
        if not ranks:
            ticks.append(first)
            tick_labels.append("no workers")
        axes.annotate(caption, ((left + right) / 2, 0), xycoords=("data", "axes fraction"),
                      xytext=(0, -24), textcoords="offset points", ha="center", va="top",
                      fontsize=8)
        offset += span + 1
    axes.set_xticks(ticks)
    axes.set_xticklabels(tick_labels, fontsize=8)
    axes.set_xlim(-0.8, offset - 1.2)
    axes.set_ylabel(unit)
    axes.set_ylim(bottom=0)
    axes.set_title("%s\n%s" % (section, TITLES[measurement]))
    axes.grid(axis="y", alpha=0.3)

    from matplotlib.lines import Line2D
    from matplotlib.patches import Patch

    handles = [Patch(color=colour, label=node) for node, colour in colours.items()]
    handles.append(Patch(facecolor="none", edgecolor="grey", linewidth=1.5, label="hollow: not valid"))
    handles.append(Line2D([], [], color="grey", linestyle="--", linewidth=2.5,
                          label="single-node rate\n(root rank alone)",
                          path_effects=[patheffects.withStroke(linewidth=4, foreground="black")]))
    axes.legend(handles=handles, fontsize=8, loc="upper left", bbox_to_anchor=(1.01, 1.0),
                title="node", title_fontsize=8)
    figure.savefig(path, dpi=100, bbox_inches="tight")
    pyplot.close(figure)


def spread_groups(series, measurement):
    """Per scope of the job in the report's order (the single node, each
    worker rank, the workers' total and common-window total): a label, and
    for each series every run's value with whether the run counts."""
    groups = {}
    for index, (_, runs) in enumerate(series):
        for run in runs:
            counted = run.why_left_out() is None
            for scope in SCOPE_ORDER:
                for row in run.select(measurement, scope):
                    label = {texts.SCOPE_SINGLE: "single node\n" + root_node(run),
                             texts.SCOPE_TOTAL: "total of\nthe workers",
                             texts.SCOPE_COMMON_WINDOW: "common-window\ntotal"}.get(
                                 scope, "rank %s\n%s" % (row.rank, row.node))
                    group = groups.setdefault((scope, row.rank), (label, [[] for _ in series]))
                    group[1][index].append((row.shown, counted))
    return sorted(groups.items(), key=lambda item: (SCOPE_ORDER.index(item[0][0]), item[0][1] or 0))


SERIES_COLOURS = ["tab:blue", "tab:orange"]


def _draw_points(axes, centre, width, points, colour):
    """One series' runs of one group as points spread across its width, and
    their median. A run with a rate that is not valid, or that ended early,
    is drawn hollow and left out of the median, as repeat-runs leaves it out
    of its statistics."""
    for index, (value, counted) in enumerate(points):
        offset = 0.72 * width * (index / (len(points) - 1) - 0.5) if len(points) > 1 else 0.0
        if finite(value) and value > 0:
            axes.plot(centre + offset, value, "o", color=colour, markerfacecolor=colour if counted else "none")
    counted = [value for value, kept in points if kept and finite(value)]
    if counted:
        median = statistics.median(counted)
        axes.hlines(median, centre - width / 2, centre + width / 2, colors="black", linewidth=2.5, zorder=3)
        axes.annotate("%g" % median, (centre + width / 2, median), xytext=(3, 0), textcoords="offset points",
                      va="center", fontsize=8)


def _runs_of(name, runs):
    size = runs[0].job_size
    return "%s%d runs of a job of %d process%s" % (name and name + ": ", len(runs), size, "" if size == 1 else "es")


def draw_spread(series, measurement, pyplot, path):
    """series: [(name, runs)], one or two, each the runs of one kind of job,
    drawn in a colour of its own side by side in each group."""
    from matplotlib import ticker
    from matplotlib.lines import Line2D

    groups = spread_groups(series, measurement)
    width = 0.7 / len(series)
    figure, axes = pyplot.subplots(figsize=(min(24.0, max(6.0, 2.0 + 1.2 * len(series) * len(groups))), 5.5))
    for x, (_, (_, per_series)) in enumerate(groups):
        for index, points in enumerate(per_series):
            centre = x + (index - (len(series) - 1) / 2) * width
            _draw_points(axes, centre, width, points, SERIES_COLOURS[index])
    axes.set_xticks(range(len(groups)))
    axes.set_xticklabels([label for _, (label, _) in groups], fontsize=8)
    axes.set_xlim(-0.6, len(groups) - 0.1)  # room for the last median's label
    # A log scale shows equal ratios as equal heights: the spread of a rank
    # and of the much larger total read alike.
    axes.set_yscale("log")
    axes.yaxis.set_major_formatter(ticker.FuncFormatter(lambda value, _: "%g" % value))
    axes.yaxis.set_minor_formatter(ticker.FuncFormatter(
        lambda value, _: "%g" % value if round(value / 10 ** math.floor(math.log10(value))) in (2, 5) else ""))
    (single,) = series[0][1][0].select(measurement, texts.SCOPE_SINGLE)
    axes.set_ylabel(single.unit)
    axes.grid(axis="y", which="both", alpha=0.3)
    axes.set_title("%s\n%s\n%s" % (texts.SECTION_OF[measurement], TITLES[measurement],
                                   "\n".join(_runs_of(name, runs) for name, runs in series)))
    handles = [Line2D([], [], color=colour, marker="o", linestyle="", label=name or "a run")
               for (name, _), colour in zip(series, SERIES_COLOURS)]
    handles += [Line2D([], [], color="grey", marker="o", markerfacecolor="none", linestyle="",
                       label="hollow: a run with a rate\nthat is not valid, or that\nended early (not in the median)"),
                Line2D([], [], color="black", linewidth=2.5, label="median")]
    axes.legend(handles=handles, fontsize=8, loc="upper left", bbox_to_anchor=(1.01, 1.0))
    figure.savefig(path, dpi=100, bbox_inches="tight")
    pyplot.close(figure)
