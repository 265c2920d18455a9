"""The markup of a results page (see page): the Warning lines, the tables
of nodes, figures, runs and compared series, and the charts with their
captions. All of it is made by tag, which escapes every text given to it:
only Markup, what tag itself made, passes as it is, so that no text from a
results file or a JSON file given can become markup."""

import html
import itertools
import os
import statistics

from . import measured, texts, verdicts
from .measured import Validity
from .plots import TIME, node_medians, node_spread
from .series import LABELS

FIRST_WARNINGS = 12  # shown at once; a run's others are a click away
DASH = "\u2013"
NOT_KNOWN = "not known"  # the root's node or start, where the file's name does not have the results form
# The figures of a row besides the one it is read by, with their units as shown.
OTHER_FIGURES = (("seconds", "s"), ("rate", "M accesses/s"), ("mb_per_sec", "MB/s"))
# Why a figure of a report that ends early is neither valid nor not.
UNSETTLED = "the report ends before the Warning line that could follow this figure"
FLAGS = {Validity.NOT_VALID: "not valid", Validity.UNSETTLED: "not settled"}  # a figure's mark where not valid
VOID = {"br", "meta"}  # elements without content nor end tag


class Markup(str):
    """Markup that tag made: it enters other markup as it is."""


def _markup(child):
    # By exact type, the most frequent first: a page of thousands of ranks passes here a million times.
    kind = type(child)
    if kind is Markup:
        return child
    if kind is list or kind is tuple:
        return "".join([_markup(item) for item in child])
    return "" if child is None else html.escape(str(child), quote=False)


def join(*children):
    """The children one after another: texts escaped, Markup as it is, lists
    taken apart; None is nothing."""
    return Markup(_markup(children))


def attributes(**values):
    """The attributes whose value is not None, each value escaped; class_ is
    class, data_node data-node."""
    return Markup("".join(' %s="%s"' % (key.rstrip("_").replace("_", "-"), html.escape(str(value)))
                          for key, value in values.items() if value is not None))


def tag(name, /, *children, **values):
    """An element of the children (see join) and the attributes (see attributes)."""
    start = name + attributes(**values) if values else name
    return Markup("<%s>" % start if name in VOID else "<%s>%s</%s>" % (start, _markup(children), name))


def number(value):
    return DASH if value is None else "%g" % value


def root_node(run):
    return NOT_KNOWN if run.node is None else run.node


def started(run):
    return NOT_KNOWN if run.started is None else run.started.strftime(TIME)


def rank_ranges(ranks):
    """[1, 2, 3, 7] as "1-3, 7"."""
    spans = [[rank for _, rank in span] for _, span in itertools.groupby(enumerate(ranks), lambda p: p[1] - p[0])]
    return ", ".join(str(s[0]) if len(s) == 1 else "%d%s%d" % (s[0], DASH, s[-1]) for s in spans)


def td(*content, cls=None, title=None):
    return tag("td", *content, class_=cls, title=title)


def flag(text, cls=None):
    return tag("span", text, class_="flag" + (" " + cls if cls else ""))


def table(head, rows, name=None):
    """head: the heading cells' content; rows: (the row's attributes, its
    cells); name: the table's id."""
    return tag("div", tag("table", tag("thead", tag("tr", [tag("th", cell) for cell in head])),
                          tag("tbody", [tag("tr", cells, **marks) for marks, cells in rows]), id=name),
               class_="scroll")


def measurement_heads():
    return [join(tag("span", m, data_measurement=m), tag("br"), measured.shown_unit(m)) for m, _ in texts.MEASUREMENTS]


# ---- the run as a whole ------------------------------------------------------------------------


def warnings_part(run, heading):
    items = [tag("li", line) for line in run.warnings]
    rest = items[FIRST_WARNINGS:]
    more = tag("details", tag("summary", "%d more" % len(rest)), tag("ul", rest)) if rest else None
    return tag("section", tag("strong", heading), tag("ul", items[:FIRST_WARNINGS]), more,
               class_="warnings") if items else None


def ended_early_part(run):
    """A banner where the run's report ends early: where, and why where it says."""
    return tag("p", tag("strong", "The report of %s ends early:" % os.path.basename(run.path)),
               " %s. Its figures are those of the lines written before the end." % run.early_end,
               class_="banner") if run.ended_early else None


def verdict_intro(why_not_judged, slow, not_judged=None):
    """The nodes named slow, or why no node was judged; the nodes that too
    few phases leave unjudged beside them."""
    unjudged = " Not enough phases to judge: %s." % ", ".join(not_judged) if not_judged else ""
    verdict = ("No slow-node verdict: %s." % why_not_judged if why_not_judged
               else "Slow nodes: %s.%s" % (", ".join(slow) or "none", unjudged))
    return join(tag("p", verdict), tag("details", tag("summary", "How the verdict is made"), tag("p", verdicts.METHOD)))


# ---- the set-up of nodes --------------------------------------------------------------------------


def environment_cells(environment, node):
    fields = environment.fields.get(node)
    return [td(flag("no record") if fields is None else fields.get(name, "not recorded"), cls="text")
            for name in environment.differing]


def environment_notes(environment, nodes):
    """The nodes recorded that are not the runs', and the set-up alike on all."""
    others = [host for host in environment.fields if host not in nodes]
    same = environment.same_everywhere
    return join(tag("p", "Set-up recorded for nodes not in these runs: %s." % ", ".join(others)) if others else None,
                tag("details", tag("summary", "Set-up alike on every node (%d fields)" % len(same)),
                    table(["field", "value"], [({}, [td(name, cls="text"), td(value, cls="text")])
                                               for name, value in same])) if same else None)


# ---- one run ----------------------------------------------------------------------------------------


def _median_cell(median, comparison):
    """A node's median in one phase, with its ratio to the other nodes'."""
    if comparison is None:
        return td(number(median))
    if comparison.set_aside:
        return td(number(median), tag("span", comparison.set_aside.word, class_="ratio"),
                  title=comparison.set_aside.why)
    return td(number(median), tag("span", "%.2f of others" % comparison.ratio, class_="ratio"),
              cls="slow" if comparison.slow else None)


def _run_node_verdict(verdict, node):
    if node in verdict.slow:
        return td(flag("slow", "slow"), " " + verdict.slow[node], cls="text slow")
    if node not in verdict.ranks_of:
        return td("no workers", cls="text")
    if node in verdict.not_judged:
        return td(verdict.not_judged[node], cls="text")
    if verdict.why_not_judged:
        return td("not judged", cls="text", title=verdict.why_not_judged)
    return td("not slow", cls="text")


def run_nodes_part(run, verdict, environment):
    """A row per node: its rank numbers, its workers' medians (see the
    caption), the verdict and the set-up that differs."""
    medians = node_medians(run)
    compared = {(c.measurement, c.node): c for c in verdict.comparisons}
    nodes = verdict.nodes + ([] if run.node is None or run.node in verdict.nodes else [run.node])
    rows = []
    for node in nodes:
        ranks = (["0 (root)"] if node == run.node else []) + (
            [rank_ranges(verdict.ranks_of[node])] if node in verdict.ranks_of else [])
        cells = [td(node, cls="text"), td(", ".join(ranks), cls="text")]
        cells += [_median_cell(medians.get((m, node)), compared.get((m, node))) for m, _ in texts.MEASUREMENTS]
        cells.append(_run_node_verdict(verdict, node))
        rows.append(({"data_node": node}, cells + environment_cells(environment, node)))
    head = ["node", "rank numbers"] + measurement_heads() + ["verdict"] + environment.differing
    return join(verdict_intro(verdict.why_not_judged, verdict.slow, verdict.not_judged),
                tag("p", "Per measurement, the median of the node's workers' valid figures (the report's averages are "
                         "means over every worker), and its ratio to the lower median of the figures of the workers "
                         "on every other node.", class_="caption"),
                table(head, rows, "nodes"), environment_notes(environment, nodes))


def _figure_cell(row, field=None):
    """The figure a row is read by, with its other figures beneath, each
    with its unit; or its `field` alone."""
    if row is None:
        return td(DASH, title="not in the report")
    if field:
        figure = getattr(row, field)
    else:
        others = [part for name, unit in OTHER_FIGURES if name != row.shown_field and getattr(row, name) is not None
                  for part in (", ", tag("span", getattr(row, name), data_field=name), " " + unit)]
        figure = join(str(row.shown), tag("span", others[1:], class_="also") if others else None)
    if row.valid is Validity.VALID:
        return td(figure)
    return td(figure, flag(FLAGS[row.valid]), cls="not-valid",
              title=row.warning if row.valid is Validity.NOT_VALID else UNSETTLED)


def figures_part(run):
    """Every row of the run, a column per measurement, each figure as the
    report printed it (see the caption)."""
    by_key = {(row.scope, row.rank, row.measurement): row for row in run.rows}
    nodes = {row.rank: row.node for row in run.rows if row.scope == texts.SCOPE_RANK}
    lines = [(texts.SCOPE_SINGLE, 0, "0 (single node)", root_node(run), None)]
    lines += [(texts.SCOPE_RANK, rank, str(rank), nodes[rank], None) for rank in sorted(nodes)]
    if nodes:
        lines += [(texts.SCOPE_TOTAL, None, "total", "", None), (texts.SCOPE_TOTAL, None, "speed-up", "", "speedup"),
                  (texts.SCOPE_COMMON_WINDOW, None, "common-window total", "", None),
                  (texts.SCOPE_AVERAGE, None, "average per worker", "", None)]
    rows = [({"data_scope": scope, "data_rank": "" if rank is None else rank, "data_field": field},
             [td(label, cls="text"), td(node, cls="text")]
             + [_figure_cell(by_key.get((scope, rank, m)), field) for m, _ in texts.MEASUREMENTS])
            for scope, rank, label, node, field in lines]
    return join(tag("p", "Each cell: the figure the measurement is read by (its unit in the heading), and beneath "
                         "it the seconds and the other rate the report prints for it (the speed tests' Millions "
                         "Accesses/sec. and MB/sec.).", class_="caption"),
                table(["rank", "node"] + measurement_heads(), rows, "figures"))


def chart_part(svg, title, about=None):
    """A chart: matplotlib's SVG, whose texts matplotlib escapes, inline as
    it is, named by its title for a screen reader."""
    end = svg.index(">")  # of the svg start tag
    inline = Markup(svg[:end] + attributes(role="img", aria_label=title) + ">" + tag("title", title) + svg[end + 1:])
    return tag("figure", tag("h3", title), tag("div", inline, class_="chart"), tag("figcaption", about))


def run_caption(run, verdict, measurement):
    """The figures over all workers, and the nodes slow in this phase."""
    parts = []
    for scope, label in ((texts.SCOPE_SINGLE, "Single node (the root alone on %s)" % (run.node or "its node")),
                         (texts.SCOPE_TOTAL, "Total of the workers"),
                         (texts.SCOPE_COMMON_WINDOW, "Common-window total")):
        for row in run.select(measurement, scope):
            speedup = ", %s times the single node" % row.speedup if row.speedup is not None else ""
            parts.append(join("%s: %s%s" % (label, row.shown, speedup), None if row.valid is Validity.VALID else
                              [" ", flag(FLAGS[row.valid])]))
    parts += [join(flag("slow", "slow"), " %s: median %g against %g, the lower median of the other nodes' workers, "
                   "ratio %.2f" % (c.node, c.median, c.others_median, c.ratio))
              for c in verdict.comparisons if c.measurement == measurement and c.slow]
    return [[tag("span", part, "."), " "] for part in parts]


# ---- series -------------------------------------------------------------------------------------------


def runs_part(series):
    """A row per run: which it is, its slow nodes, whether the spread takes it."""
    rows = []
    for number_, (run, verdict) in enumerate(zip(series.runs, series.verdicts), 1):
        why = run.why_left_out()
        slow = "not judged" if verdict.why_not_judged else ", ".join(verdict.slow) or "none"
        if verdict.not_judged and not verdict.why_not_judged:
            slow += "; not enough phases to judge %s" % ", ".join(verdict.not_judged)
        rows.append(({}, [td(number_), td(os.path.basename(run.path), cls="text"), td(started(run), cls="text"),
                          td(root_node(run), cls="text"), td(run.job_size), td(slow, cls="text"),
                          td(flag("left out"), " " + why, cls="text not-valid") if why else td("kept", cls="text")]))
    return table(["run", "results file", "started", "root's node", "processes", "slow nodes", "in the spread"], rows,
                 "runs-" + series.letter)


def series_nodes_part(series, environment):
    """A row per node: per measurement the median of its per-run medians
    and their range over the runs kept, and in how many runs it was slow."""
    if not series.kept:
        return tag("p", "Every run ends early or holds a rate that is not valid: no spread.")
    spread = node_spread(series.kept)
    nodes = list(dict.fromkeys(node for verdict in series.verdicts for node in verdict.nodes))
    rows = []
    for node in nodes:
        cells = [td(node, cls="text")]
        for found in (spread.get((m, node)) for m, _ in texts.MEASUREMENTS):
            cells.append(td("%g" % statistics.median(found), tag("span", "%g%s%g, %d run%s" % (
                min(found), DASH, max(found), len(found), "" if len(found) == 1 else "s"), class_="ratio"))
                         if found else td(DASH))
        slow, judged = series.verdict.counts.get(node, (0, 0))
        why_slow = series.verdict.slow.get(node)
        cells.append(td(flag("slow", "slow"), " " + why_slow, cls="text slow") if why_slow else
                     td("slow in %d of %d runs judged" % (slow, judged) if judged else "not judged", cls="text"))
        rows.append(({"data_node": node}, cells + environment_cells(environment, node)))
    head = ["node"] + measurement_heads() + ["verdict"] + environment.differing
    return join(tag("p", "Per measurement, the median over the runs kept of the node's median over its workers in "
                         "each run; beneath it the lowest and highest, and how many runs.", class_="caption"),
                table(head, rows, "nodes-" + series.letter), environment_notes(environment, nodes))


def comparison_part(lines):
    """compare's lines, as compare prints them."""
    rows = []
    for line in lines:
        interval = "too few runs" if line["ci_low"] is None else "%g %s %g" % (line["ci_low"], DASH, line["ci_high"])
        cls = {"B faster": "faster", "B slower": "slower"}.get(line["verdict"], "")
        rows.append(({}, [td(line["measurement"], cls="text"), td(line["unit"], cls="text"),
                          td(LABELS.get(line["scope"]) or "rank %s" % line["rank"], cls="text"),
                          td("%s (%s)" % (line["runs_a"], line["left_out_a"])),
                          td("%s (%s)" % (line["runs_b"], line["left_out_b"])),
                          td(number(line["median_a"])), td(number(line["median_b"])),
                          td(number(line["ratio"])), td(interval), td(line["verdict"], cls="text " + cls)]))
    return table(["measurement", "unit", "scope", "runs A (left out)", "runs B (left out)", "median A", "median B",
                  "B/A", "95 % interval", "verdict"], rows, "compared")
