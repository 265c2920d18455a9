"""The markup of a results page (see page): the Warning lines, the tables
of nodes, figures, runs and compared series, and the charts' captions.
Every text that comes from a results file or a JSON file given is escaped
here, where it enters the markup."""

import html
import os

from . import measured, texts, verdicts
from .measured import Validity
from .page_charts import node_medians, node_spread
from .series import LABELS

FIRST_WARNINGS = 12  # shown at once; a run's others are a click away
DASH = "\u2013"
TIME = "%Y-%m-%d %H:%M:%S"
NOT_KNOWN = "not known"  # the root's node or start, where the file's name does not have the results form
# The figures of a row besides the one it is read by, with their units as shown.
OTHER_FIGURES = (("seconds", "s"), ("rate", "M accesses/s"), ("mb_per_sec", "MB/s"))
# Why a figure of a report that ends early is neither valid nor not.
UNSETTLED = "the report ends before the Warning line that could follow this figure"


def e(text):
    return html.escape(str(text), quote=True)


def number(value, form="%g"):
    return DASH if value is None else form % value


def root_node(run):
    return NOT_KNOWN if run.node is None else run.node


def started(run):
    return NOT_KNOWN if run.started is None else run.started.strftime(TIME)


def processes(count):
    return "%d process%s" % (count, "" if count == 1 else "es")


def rank_ranges(ranks):
    """[1, 2, 3, 7] as "1-3, 7"."""
    spans = []
    for rank in ranks:
        if spans and rank == spans[-1][1] + 1:
            spans[-1][1] = rank
        else:
            spans.append([rank, rank])
    return ", ".join(str(a) if a == b else "%d%s%d" % (a, DASH, b) for a, b in spans)


def td(content, cls="", title=""):
    """A cell of markup already escaped; title is text."""
    return "<td%s%s>%s</td>" % (' class="%s"' % cls if cls else "", ' title="%s"' % e(title) if title else "",
                               content)


def flag(text, cls=""):
    return '<span class="flag%s">%s</span>' % (" " + cls if cls else "", e(text))


def table(head, rows, name=""):
    """head: cells of markup; rows: (the row's attributes, its cells); name:
    the table's id."""
    return '<div class="scroll"><table%s><thead><tr>%s</tr></thead><tbody>\n%s</tbody></table></div>\n' % (
        ' id="%s"' % name if name else "", "".join("<th>%s</th>" % cell for cell in head),
        "".join("<tr%s>%s</tr>\n" % (attributes, "".join(cells)) for attributes, cells in rows))


def measurement_heads():
    return ['<span data-measurement="%s">%s</span><br>%s' % (m, m, e(measured.shown_unit(m)))
            for m, _ in texts.MEASUREMENTS]


# ---- the run as a whole ------------------------------------------------------------------------


def warnings_part(run, heading):
    if not run.warnings:
        return ""
    items = ["<li>%s</li>" % e(line) for line in run.warnings]
    rest = items[FIRST_WARNINGS:]
    more = "<details><summary>%d more</summary><ul>%s</ul></details>" % (len(rest), "".join(rest)) if rest else ""
    return '<section class="warnings"><strong>%s</strong><ul>%s</ul>%s</section>\n' % (
        e(heading), "".join(items[:FIRST_WARNINGS]), more)


def ended_early_part(run):
    """A banner where the run's report ends early: where, and why where it says."""
    if not getattr(run, "ended_early", False):
        return ""
    return ('<p class="banner"><strong>The report of %s ends early:</strong> %s. Its figures are those of the '
            'lines written before the end.</p>\n' % (e(os.path.basename(run.path)), e(run.early_end)))


def verdict_intro(why_not_judged, slow, not_judged=None):
    """The nodes named slow, or why no node was judged; the nodes that too
    few phases leave unjudged beside them."""
    method = "<details><summary>How the verdict is made</summary><p>%s</p></details>\n" % e(verdicts.METHOD)
    if why_not_judged:
        return "<p>No slow-node verdict: %s.</p>%s" % (e(why_not_judged), method)
    unjudged = " Not enough phases to judge: %s." % e(", ".join(not_judged)) if not_judged else ""
    return "<p>Slow nodes: %s.%s</p>%s" % (e(", ".join(slow) or "none"), unjudged, method)


# ---- the set-up of nodes --------------------------------------------------------------------------


def environment_heads(environment):
    return [e(name) for name in environment.differing] if environment else []


def environment_cells(environment, node):
    if environment is None:
        return []
    fields = environment.fields.get(node)
    if fields is None:
        return [td(flag("no record"), "text")] * len(environment.differing)
    return [td(e(fields.get(name, "not recorded")), "text") for name in environment.differing]


def environment_notes(environment, nodes):
    """The nodes recorded that are not the runs', and the set-up alike on all."""
    if environment is None:
        return ""
    notes = ""
    others = [host for host in environment.fields if host not in nodes]
    if others:
        notes += "<p>Set-up recorded for nodes not in these runs: %s.</p>\n" % e(", ".join(others))
    same = environment.same_everywhere()
    if same:
        notes += "<details><summary>Set-up alike on every node (%d fields)</summary>%s</details>\n" % (
            len(same), table(["field", "value"], [("", [td(e(name), "text"), td(e(value), "text")])
                                                  for name, value in same]))
    return notes


# ---- one run ----------------------------------------------------------------------------------------


def _median_cell(median, comparison):
    """A node's median in one phase, with its ratio to the other nodes'."""
    if comparison is None:
        return td(number(median))
    if comparison.set_aside:
        return td(number(median) + '<span class="ratio">%s</span>' % comparison.set_aside.word,
                  title=comparison.set_aside.why)
    note = '<span class="ratio">%.2f of others</span>' % comparison.ratio
    return td(number(median) + note, "slow" if comparison.slow else "")


def _run_node_verdict(verdict, node):
    if node in verdict.slow:
        return td(flag("slow", "slow") + " " + e(verdict.slow[node]), "text slow")
    if node not in verdict.ranks_of:
        return td("no workers", "text")
    if node in verdict.not_judged:
        return td(e(verdict.not_judged[node]), "text")
    if verdict.why_not_judged:
        return td("not judged", "text", verdict.why_not_judged)
    return td("not slow", "text")


def run_nodes_part(run, verdict, environment):
    """A row per node: its rank numbers, its workers' median per measurement
    with the ratio to the other nodes', the verdict and the set-up that
    differs."""
    medians = node_medians(run)
    compared = dict(((c.measurement, c.node), c) for c in verdict.comparisons)
    nodes = verdict.nodes + ([] if run.node is None or run.node in verdict.nodes else [run.node])
    rows = []
    for node in nodes:
        ranks = (["0 (root)"] if node == run.node else []) + (
            [rank_ranges(verdict.ranks_of[node])] if node in verdict.ranks_of else [])
        cells = [td(e(node), "text"), td(e(", ".join(ranks)), "text")]
        cells += [_median_cell(medians.get((m, node)), compared.get((m, node))) for m, _ in texts.MEASUREMENTS]
        cells.append(_run_node_verdict(verdict, node))
        rows.append((' data-node="%s"' % e(node), cells + environment_cells(environment, node)))
    head = ["node", "rank numbers"] + measurement_heads() + ["verdict"] + environment_heads(environment)
    caption = ('<p class="caption">Per measurement, the median of the node\'s workers\' valid figures (the '
               'report\'s averages are means over every worker), and its ratio to the lower median of the figures of '
               'the workers on every other node.</p>\n')
    return (verdict_intro(verdict.why_not_judged, verdict.slow, verdict.not_judged) + caption
            + table(head, rows, "nodes") + environment_notes(environment, nodes))


def _other_figures(row):
    """The row's figures besides the one it is read by, each with its unit."""
    figures = ['<span data-field="%s">%s</span> %s' % (field, e(getattr(row, field)), unit)
               for field, unit in OTHER_FIGURES if field != row.shown_field and getattr(row, field) is not None]
    return '<span class="also">%s</span>' % ", ".join(figures) if figures else ""


def _figure_cell(row, field=None):
    """The figure a row is read by, or its `field`, with the row's other
    figures beneath and its validity."""
    text = e(getattr(row, field)) if field else e(row.shown) + _other_figures(row)
    if row.valid is Validity.VALID:
        return td(text)
    if row.valid is Validity.NOT_VALID:
        return td(text + flag("not valid"), "not-valid", row.warning)
    return td(text + flag("not settled"), "not-valid", UNSETTLED)


def figures_part(run):
    """Every row of the run, a column per measurement: the single node, each
    worker rank, the workers' total and its speed-up, the common-window
    total and the average, each figure as the report printed it: the one it
    is read by, and beneath it the seconds and the other rate."""
    by_key = dict(((row.scope, row.rank, row.measurement), row) for row in run.rows)
    nodes = dict((row.rank, row.node) for row in run.rows if row.scope == texts.SCOPE_RANK)
    lines = [(texts.SCOPE_SINGLE, 0, "0 (single node)", root_node(run), None)]
    lines += [(texts.SCOPE_RANK, rank, str(rank), nodes[rank], None) for rank in sorted(nodes)]
    if nodes:
        lines += [(texts.SCOPE_TOTAL, None, "total", "", None), (texts.SCOPE_TOTAL, None, "speed-up", "", "speedup"),
                  (texts.SCOPE_COMMON_WINDOW, None, "common-window total", "", None),
                  (texts.SCOPE_AVERAGE, None, "average per worker", "", None)]
    rows = []
    for scope, rank, label, node, field in lines:
        cells = [td(e(label), "text"), td(e(node), "text")]
        for measurement, _ in texts.MEASUREMENTS:
            row = by_key.get((scope, rank, measurement))
            cells.append(_figure_cell(row, field) if row else td(DASH, title="not in the report"))
        attributes = ' data-scope="%s" data-rank="%s"' % (scope, "" if rank is None else rank) + (
            ' data-field="%s"' % field if field else "")
        rows.append((attributes, cells))
    caption = ('<p class="caption">Each cell: the figure the measurement is read by (its unit in the heading), and '
               'beneath it the seconds and the other rate the report prints for it (the speed tests\' Millions '
               'Accesses/sec. and MB/sec.).</p>\n')
    return caption + table(["rank", "node"] + measurement_heads(), rows, "figures")


def chart_part(chart, caption=""):
    return ('<figure><h3>%s</h3><div class="chart"><canvas id="%s" role="img" aria-label="%s"></canvas></div>'
            '<figcaption>%s</figcaption></figure>\n' % (e(chart["title"]), chart["id"], e(chart["title"]), caption))


def run_caption(run, verdict, measurement):
    """The figures over all workers, and the nodes slow in this phase."""
    parts = []
    for scope, label in ((texts.SCOPE_SINGLE, "Single node (the root alone on %s)" % (run.node or "its node")),
                         (texts.SCOPE_TOTAL, "Total of the workers"),
                         (texts.SCOPE_COMMON_WINDOW, "Common-window total")):
        for row in run.select(measurement, scope):
            speedup = ", %s times the single node" % row.speedup if row.speedup is not None else ""
            parts.append("%s: %s%s%s" % (e(label), e(row.shown), e(speedup), "" if row.valid is Validity.VALID
                                         else " " + flag("not valid" if row.valid is Validity.NOT_VALID
                                                         else "not settled")))
    for c in verdict.comparisons:
        if c.measurement == measurement and c.slow:
            parts.append("%s %s: median %g against %g, the lower median of the other nodes' workers, ratio %.2f" % (
                flag("slow", "slow"), e(c.node), c.median, c.others_median, c.ratio))
    return "".join("<span>%s.</span> " % part for part in parts)


# ---- series -------------------------------------------------------------------------------------------


def runs_part(series):
    """A row per run: which it is, the nodes slow in it, whether the spread
    takes it."""
    rows = []
    for number_, (run, verdict) in enumerate(zip(series.runs, series.verdicts), 1):
        why = run.why_left_out()
        slow = "not judged" if verdict.why_not_judged else ", ".join(verdict.slow) or "none"
        if verdict.not_judged and not verdict.why_not_judged:
            slow += "; not enough phases to judge %s" % ", ".join(verdict.not_judged)
        rows.append(("", [td(str(number_)), td(e(os.path.basename(run.path)), "text"),
                          td(e(started(run)), "text"), td(e(root_node(run)), "text"),
                          td(str(run.job_size)), td(e(slow), "text"),
                          td(flag("left out") + " " + e(why), "text not-valid") if why else td("kept", "text")]))
    return table(["run", "results file", "started", "root's node", "processes", "slow nodes", "in the spread"], rows,
                 "runs-" + series.letter)


def series_nodes_part(series, environment):
    """A row per node: per measurement the median of its per-run medians
    and their range over the runs kept, and in how many runs it was slow."""
    if not series.kept:
        return "<p>Every run ends early or holds a rate that is not valid: no spread.</p>\n"
    per_run = [node_medians(run) for run in series.kept]
    spreads = [node_spread(per_run, m) for m, _ in texts.MEASUREMENTS]
    nodes = list(dict.fromkeys(node for verdict in series.verdicts for node in verdict.nodes))
    rows = []
    for node in nodes:
        cells = [td(e(node), "text")]
        for spread in (found.get(node) for found in spreads):
            cells.append(td('%g<span class="ratio">%g%s%g, %d run%s</span>' % (
                spread[1], spread[0], DASH, spread[2], spread[3], "" if spread[3] == 1 else "s") if spread else DASH))
        slow, judged = series.verdict.counts.get(node, (0, 0))
        if node in series.verdict.slow:
            cells.append(td(flag("slow", "slow") + " " + e(series.verdict.slow[node]), "text slow"))
        else:
            cells.append(td("slow in %d of %d runs judged" % (slow, judged) if judged else "not judged", "text"))
        rows.append((' data-node="%s"' % e(node), cells + environment_cells(environment, node)))
    head = ["node"] + measurement_heads() + ["verdict"] + environment_heads(environment)
    caption = ('<p class="caption">Per measurement, the median over the runs kept of the node\'s median over its '
               'workers in each run; beneath it the lowest and highest, and how many runs.</p>\n')
    return caption + table(head, rows, "nodes-" + series.letter) + environment_notes(environment, nodes)


def comparison_part(lines):
    """compare's lines, as compare prints them."""
    rows = []
    for line in lines:
        interval = ("%g %s %g" % (line["ci_low"], DASH, line["ci_high"]) if line["ci_low"] is not None
                    else "too few runs")
        cls = {"B faster": "faster", "B slower": "slower"}.get(line["verdict"], "")
        rows.append(("", [td(e(line["measurement"]), "text"), td(e(line["unit"]), "text"),
                          td(e(LABELS.get(line["scope"]) or "rank %s" % line["rank"]), "text"),
                          td("%s (%s)" % (e(line["runs_a"]), e(line["left_out_a"]))),
                          td("%s (%s)" % (e(line["runs_b"]), e(line["left_out_b"]))),
                          td(e(number(line["median_a"]))), td(e(number(line["median_b"]))),
                          td(e(number(line["ratio"]))), td(e(interval)), td(e(line["verdict"]), "text " + cls)]))
    return table(["measurement", "unit", "scope", "runs A (left out)", "runs B (left out)", "median A", "median B",
                  "B/A", "95 % interval", "verdict"], rows, "compared")
