"""Pictures of results files, drawn with matplotlib: for plot-results and
compare the worker ranks of runs side by side as bars, or repeated runs as
points, one series or two; for the results page, as SVG, every worker of a
run as a point at its node, or each node's medians over series of runs.

What a Warning line makes no measurement is drawn hollow, an edge without
fill. Points drawn alike are one artist, not one each, so that a job of
thousands of ranks is drawn in a moment. Each group of points or lines the
page shows carries a gid, an id its SVG group keeps.
"""

import collections
import io
import itertools
import math
import os
import statistics
import sys

from . import measured, terminal, texts
from .measured import Validity
from .series import LETTERS, SCOPE_ORDER

TITLES = {
    "stream-handling": "stream handling (create, open, close, remove)",
    "descriptor-handling": "descriptor handling (create, close, remove)",
    "low-write": "low write (one byte per call)",
    "low-read": "low read (one byte per call)",
    "high-read": "high read (whole blocks)",
    "high-write": "high write (whole blocks)",
}
SPREAD_LABELS = {texts.SCOPE_TOTAL: "total of\nthe workers", texts.SCOPE_COMMON_WINDOW: "common-window\ntotal"}
SERIES_COLOURS = ["tab:blue", "tab:orange", "tab:green", "tab:purple"]
LEFT_OUT = "hollow: a run with a rate\nthat is not valid, or that\nended early (not in the median)"
TIME = "%Y-%m-%d %H:%M:%S"
SHARE = 0.7  # of a group's width, taken by its points; the rest keeps groups apart
PAGE_CHART = (6.4, 3.8)  # inches, about as large as the page shows it
NOTES = {Validity.VALID: "", Validity.NOT_VALID: " (not valid)", Validity.UNSETTLED: " (not settled)"}
# A run's workers by kind, as the page draws them: legend label, colour, hollow, marker.
WORKER_KINDS = {
    "workers": ("workers", "tab:blue", False, "o"),
    "slow": ("workers on a slow node", "tab:red", False, "o"),
    "not-valid": ("not valid (hollow)", "grey", True, "o"),
    # A report that ends early may stop before a Warning line about a figure.
    "not-settled": ("validity not settled (hollow)", "grey", True, "^"),
}


def load_pyplot(program):
    try:
        import matplotlib
    except ImportError:
        print("%s: matplotlib is missing for %s; install it with 'apt-get install -y python3-matplotlib'"
              % (program, sys.executable), file=sys.stderr)
        sys.exit(2)
    matplotlib.use("Agg")  # no display needed: the pictures go to files
    # A node name with a $ in it is text, not a formula; SVG keeps text as text.
    matplotlib.rcParams.update({"text.parse_math": False, "svg.fonttype": "none"})
    import matplotlib.pyplot as pyplot
    return pyplot


def root_node(run):
    """The root's node as a picture names it: a file under another name than
    the program gives does not tell it."""
    return "node unknown" if run.node is None else run.node


def node_colours(runs, pyplot):
    """A colour per node, in the order the runs name them: the root's first."""
    nodes = dict.fromkeys(node for run in runs for node in [root_node(run)] + [
        row.node for row in run.rows if row.scope == texts.SCOPE_RANK])
    return dict(zip(nodes, itertools.cycle(pyplot.get_cmap("tab10").colors)))


def processes(count):
    return "%d process%s" % (count, "" if count == 1 else "es")


def finite(value):
    return value is not None and math.isfinite(value)


def not_valid_note(row):
    return "" if row.valid is Validity.VALID else " (not valid)"


def node_medians(run):
    """{(measurement, node): the median of the node's workers' valid figures}."""
    values = collections.defaultdict(list)
    for row in run.rows:
        if row.scope == texts.SCOPE_RANK and (value := row.measured) is not None:
            values[(row.measurement, row.node)].append(value)
    return {key: statistics.median(found) for key, found in values.items()}


def node_spread(runs):
    """{(measurement, node): the node's median in each of the runs} (see node_medians)."""
    spread = collections.defaultdict(list)
    for key, median in itertools.chain.from_iterable(node_medians(run).items() for run in runs):
        spread[key].append(median)
    return spread


# ---- points ---------------------------------------------------------------------------------------


def spread_out(points, width):
    """Points (a group's centre, what it shows) as (x, what it shows),
    spread across width in the order given: many points of one group stay
    apart, a few stay close to their group."""
    counts, seen, placed = collections.Counter(centre for centre, _ in points), collections.Counter(), []
    for centre, shown in points:
        count, index = counts[centre], seen[centre]
        seen[centre] += 1
        spread = min(0.85 * width, 0.05 * (count - 1))
        placed.append((centre + (spread * (index / (count - 1) - 0.5) if count > 1 else 0), shown))
    return placed


def scatter(axes, points, colour, label, gid, hollow=False, marker="o"):
    """Points (x, y) drawn alike: one line of markers alone, which
    matplotlib writes as one marker shape and a use of it per point."""
    if points:
        axes.plot(*zip(*points), linestyle="none", marker=marker, markersize=5.5, color=colour,
                  markerfacecolor="none" if hollow else colour, markeredgewidth=1.3, label=label, gid=gid,
                  clip_on=False, zorder=3)


def strips(axes, groups, names, gid):
    """groups: per group (at x 0, 1, ...) per series [(value, counted)].
    Each series in a slot and a colour of its own, hollow where not
    counted, the median of those counted marked with its value."""
    width = SHARE / len(names)
    for index, name in enumerate(names):
        colour = SERIES_COLOURS[index % len(SERIES_COLOURS)]
        centres = [x + (index - (len(names) - 1) / 2) * width for x in range(len(groups))]
        placed = spread_out([(centre, (value, counted)) for centre, group in zip(centres, groups)
                             for value, counted in group[index] if finite(value) and value > 0], width)
        for counted in (True, False):
            scatter(axes, [(x, value) for x, (value, kept) in placed if kept == counted], colour,
                    name if counted else None if index else LEFT_OUT,
                    "%s-%s-%s" % (gid, LETTERS[index], "runs" if counted else "left-out"), hollow=not counted)
        medians = [(centre, statistics.median(kept)) for centre, kept in
                   ((centre, [v for v, k in group[index] if k and finite(v)]) for centre, group in zip(centres, groups))
                   if kept]
        if medians:
            axes.hlines([m for _, m in medians], [c - 0.4 * width for c, _ in medians],
                        [c + 0.4 * width for c, _ in medians], colors="black", linewidth=2.5, zorder=4,
                        gid="%s-%s-median" % (gid, LETTERS[index]),
                        label=None if index < len(names) - 1 else "median over the runs")
        for centre, median in medians:  # above the median's line, within the slot
            axes.annotate("%g" % median, (centre + 0.4 * width, median), xytext=(0, 3), textcoords="offset points",
                          ha="right", va="bottom", fontsize=8)


def single_node_line(axes, value, validity, colour, label, gid):
    """The root's single-node figure as a line across every group, and
    across the points, to be seen among thousands."""
    if finite(value):
        axes.axhline(value, color=colour, linestyle="--" if validity is Validity.VALID else ":", linewidth=2,
                     label=label, gid=gid, zorder=4)


# ---- the results page ----------------------------------------------------------------------------


def page_svg(figure, axes, measurement, nodes, slow, about, pyplot):
    """A chart of the page finished, as SVG to sit inline: without XML
    prolog nor metadata, its ids its own (matplotlib makes them of a hash
    salted with the measurement) beside the others."""
    step, tilted = math.ceil(len(nodes) / 20) or 1, len(nodes) > 6
    axes.set_xticks(range(0, len(nodes), step), [node + " (slow)" * (node in slow) for node in nodes[::step]],
                    fontsize=9, rotation=30 * tilted, ha="right" if tilted else "center")
    axes.set(xlim=(-0.5, max(1, len(nodes)) - 0.5), xlabel=about, ylim=(0, None),
             ylabel=measured.shown_unit(measurement))
    axes.yaxis.set_major_formatter("{x:g}")
    axes.grid(axis="y", alpha=0.3)
    if axes.get_legend_handles_labels()[0]:  # none where every figure was printed as inf
        axes.legend(fontsize=9, loc="lower center", bbox_to_anchor=(0.5, 1.0), ncol=2, frameon=False)
    out = io.StringIO()
    with pyplot.rc_context({"svg.hashsalt": measurement}):
        figure.tight_layout(pad=0.3)  # laid out once, not drawn twice as bbox_inches="tight" would
        figure.savefig(out, format="svg", metadata={"Date": None, "Creator": None, "Format": None, "Type": None})
    pyplot.close(figure)
    return out.getvalue()[out.getvalue().index("<svg"):]


def run_chart(run, verdict, measurement, pyplot):
    """Every worker's figure at its node (see WORKER_KINDS), the root's
    single-node figure as a line across; a figure printed as inf (a zero
    time) has no place on an axis and is left to the tables."""
    place = dict((node, index) for index, node in enumerate(verdict.nodes))
    kinds = dict((kind, []) for kind in WORKER_KINDS)
    for row in run.select(measurement, texts.SCOPE_RANK):
        if finite(row.shown):
            kind = {Validity.NOT_VALID: "not-valid", Validity.UNSETTLED: "not-settled"}.get(
                row.valid, "slow" if row.node in verdict.slow else "workers")
            kinds[kind].append((place[row.node], row.shown))
    figure, axes = pyplot.subplots(figsize=PAGE_CHART)
    for kind, (label, colour, *shape) in WORKER_KINDS.items():
        scatter(axes, spread_out(kinds[kind], SHARE), colour, label, "chart-%s-%s" % (measurement, kind), *shape)
    for row in run.select(measurement, texts.SCOPE_SINGLE):
        single_node_line(axes, row.shown, row.valid, "#222222", "single node (root rank alone): %s%s" % (
            row.shown, NOTES[row.valid]), "chart-%s-single-node" % measurement)
    return page_svg(figure, axes, measurement, verdict.nodes, verdict.slow, "node (a point per worker rank)", pyplot)


def series_chart(all_series, measurement, pyplot):
    """Each node's median over its workers, a point per run kept, every
    series in a slot of its own with its medians over the runs and the
    median of the root's single-node figures."""
    nodes = list(dict.fromkeys(node for series in all_series for verdict in series.verdicts for node in verdict.nodes))
    spreads = [node_spread(series.kept) for series in all_series]
    named = [(series.title + ": ") * (len(all_series) > 1) for series in all_series]
    figure, axes = pyplot.subplots(figsize=PAGE_CHART)
    strips(axes, [[[(median, True) for median in spread.get((measurement, node), [])] for spread in spreads]
                  for node in nodes], [name + "a node's median in one run" for name in named], "chart-%s" % measurement)
    for series, name, colour in zip(all_series, named, SERIES_COLOURS * len(all_series)):
        singles = series.values.get((measurement, texts.SCOPE_SINGLE, 0))  # of the runs kept, valid throughout
        if singles:
            median = statistics.median(singles.values)
            single_node_line(axes, median, Validity.VALID, colour, "%ssingle node, median over the runs: %g" % (
                name, median), "chart-%s-%s-single-node" % (measurement, series.letter))
    return page_svg(figure, axes, measurement, nodes, set().union(*(series.verdict.slow for series in all_series)),
                    "node (a point per run: the median of the node's workers)", pyplot)


# ---- plot-results and compare ----------------------------------------------------------------------


def draw_each(pyplot, directory, series, draw_one, missing, failed_as=None):
    """A PNG per measurement in directory, its path printed, drawn by draw_one (draw or draw_spread) of the
    runs of each series [(name, runs)] that hold the measurement; where a series has none (a report that ends
    early may stop before it), the note missing % measurement. The status where a file cannot be written,
    named as failed_as where given."""
    try:
        os.makedirs(directory, exist_ok=True)
    except OSError as error:
        return terminal.cannot_write(failed_as or directory, error)
    for measurement, _ in texts.MEASUREMENTS:
        held = [(name, [run for run in runs if run.select(measurement, texts.SCOPE_SINGLE)]) for name, runs in series]
        if not all(runs for _, runs in held):
            terminal.tell(missing % measurement)
            continue
        path = os.path.join(directory, measurement + ".png")
        try:
            draw_one(held, measurement, pyplot, path)
        except OSError as error:
            return terminal.cannot_write(failed_as or path, error)
        print(path)
    return None


def draw(series, measurement, pyplot, path, colours):
    """The runs of the series [(name, runs)] side by side: each one's worker
    ranks as bars coloured by node, the root's single-node rate as a line
    across them, a caption of the run beneath."""
    from matplotlib import lines, patches, patheffects

    runs = [run for _, held in series for run in held]
    outlined = [patheffects.withStroke(linewidth=4, foreground="black")]  # seen across bars of its own colour
    # Each run gets at least room for its caption; one slot per worker bar.
    spans = [max(2.6, run.job_size - 1) for run in runs]
    figure, axes = pyplot.subplots(figsize=(min(24.0, max(6.0, 2.0 + 0.6 * (sum(spans) + len(runs)))), 5.5))
    ticks, offset = [], 0.0
    for run, span in zip(runs, spans):
        ranks = run.select(measurement, texts.SCOPE_RANK)
        first = offset + (span - max(1, len(ranks))) / 2  # bars centred in the span
        placed = list(zip(itertools.count(first), ranks))
        for x, row in placed:
            colour = colours[row.node]
            if finite(row.shown):
                axes.bar(x, row.shown, width=0.8, facecolor=colour if row.valid is Validity.VALID else "none",
                         edgecolor=colour, linewidth=1.5)
            else:
                axes.annotate(str(row.shown), (x, 0), ha="center", va="bottom")
        ticks += [(x, "rank %d" % row.rank) for x, row in placed] or [(first, "no workers")]
        (single,) = run.select(measurement, texts.SCOPE_SINGLE)
        left, right = offset - 0.45, offset + span - 1 + 0.45
        if finite(single.shown):
            axes.hlines(single.shown, left, right, colors=[colours[root_node(run)]], linewidth=2.5,
                        linestyles="--" if single.valid is Validity.VALID else ":", zorder=3, path_effects=outlined)
            axes.annotate("single node %g%s" % (single.shown, not_valid_note(single)), (right, single.shown),
                          xytext=(0, 4), textcoords="offset points", ha="right", va="bottom", fontsize=8,
                          bbox=dict(facecolor="white", edgecolor="none", alpha=0.8, pad=1))
        caption = [root_node(run), run.started.strftime(TIME) if run.started else "start unknown",
                   processes(run.job_size)]
        caption += ["all workers: %sx single%s" % (total.speedup, not_valid_note(total))
                    for total in run.select(measurement, texts.SCOPE_TOTAL)[:1]]
        axes.annotate("\n".join(caption), ((left + right) / 2, 0), xycoords=("data", "axes fraction"),
                      xytext=(0, -24), textcoords="offset points", ha="center", va="top", fontsize=8)
        offset += span + 1
    axes.set_xticks([x for x, _ in ticks], [label for _, label in ticks], fontsize=8)
    axes.set(xlim=(-0.8, offset - 1.2), ylim=(0, None), ylabel=measured.shown_unit(measurement),
             title="%s\n%s" % (texts.SECTION_OF[measurement], TITLES[measurement]))
    axes.grid(axis="y", alpha=0.3)
    handles = [patches.Patch(color=colour, label=node) for node, colour in colours.items()]
    handles += [patches.Patch(facecolor="none", edgecolor="grey", linewidth=1.5, label="hollow: not valid"),
                lines.Line2D([], [], color="grey", linestyle="--", linewidth=2.5, path_effects=outlined,
                             label="single-node rate\n(root rank alone)")]
    axes.legend(handles=handles, fontsize=8, loc="upper left", bbox_to_anchor=(1.01, 1.0), title="node",
                title_fontsize=8)
    figure.savefig(path, dpi=100, bbox_inches="tight")
    pyplot.close(figure)


def draw_spread(series, measurement, pyplot, path):
    """series: [(name, runs)], one or two, each the runs of one kind of job,
    drawn in a colour of its own side by side in each scope of the job. A
    run with a rate that is not valid, or that ended early, is drawn hollow
    and left out of the median, as repeat-runs leaves it out of its statistics."""
    groups = {}  # {(scope, rank): (label, for each series every run's value with whether the run counts)}
    for index, (_, runs) in enumerate(series):
        for run in runs:
            counted = run.why_left_out() is None
            for scope in SCOPE_ORDER:
                for row in run.select(measurement, scope):
                    label = "single node\n" + root_node(run) if scope == texts.SCOPE_SINGLE else SPREAD_LABELS.get(
                        scope, "rank %s\n%s" % (row.rank, row.node))
                    group = groups.setdefault((scope, row.rank), (label, [[] for _ in series]))
                    group[1][index].append((row.shown, counted))
    groups = sorted(groups.items(), key=lambda item: (SCOPE_ORDER.index(item[0][0]), item[0][1] or 0))
    figure, axes = pyplot.subplots(figsize=(min(24.0, max(6.0, 2.0 + 1.2 * len(series) * len(groups))), 5.5))
    strips(axes, [per_series for _, (_, per_series) in groups], [name or "a run" for name, _ in series], measurement)
    axes.set_xticks(range(len(groups)), [label for _, (label, _) in groups], fontsize=8)
    # A log scale shows equal ratios as equal heights: the spread of a rank
    # and of the much larger total read alike.
    axes.set(xlim=(-0.5, len(groups) - 0.5), yscale="log", ylabel=measured.shown_unit(measurement),
             title="\n".join([texts.SECTION_OF[measurement], TITLES[measurement]]
                             + ["%s%d runs of a job of %s" % (name and name + ": ", len(runs),
                                                                processes(runs[0].job_size)) for name, runs in series]))
    axes.yaxis.set_major_formatter("{x:g}")
    axes.yaxis.set_minor_formatter(
        lambda value, _: "%g" % value if round(value / 10 ** math.floor(math.log10(value))) in (2, 5) else "")
    axes.grid(axis="y", which="both", alpha=0.3)
    axes.legend(fontsize=8, loc="upper left", bbox_to_anchor=(1.01, 1.0))
    figure.savefig(path, dpi=100, bbox_inches="tight")
    pyplot.close(figure)
