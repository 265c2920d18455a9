"""One self-contained HTML page of results files: a run, a series of runs,
or several series side by side, with the slow-node verdicts and, where
given, every node's set-up (run-environment --nodes --json) and compare's
lines (compare --json); its charts are matplotlib's SVG (plots), its
markup is made in page_tables.

Nothing on the page is fetched and nothing runs: its style (page.css) and
charts are inside it, and a Content-Security-Policy lets only those inline
styles apply and forbids every request and every script, so the page
opens from a mail attachment or on a laptop without network.
"""

import base64
import hashlib
import json
import numbers
import os
import pathlib
import re

from . import page_tables as parts, plots, reading, texts, verdicts
from .series import load_all
from .nodes import recorded
from .page_tables import join, tag

STYLE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "page.css")
COMPARE_NUMBERS = ("runs_a", "left_out_a", "runs_b", "left_out_b", "median_a", "median_b", "ratio", "ci_low",
                   "ci_high")
COMPARE_TEXTS = ("measurement", "unit", "scope", "verdict")


# ---- what the page is made of ------------------------------------------------------------------


def load_series(given):
    """Each directory given is a series, the files given one more; named A,
    B and so on where there are several, as compare names its two."""
    directories = [path for path in given if os.path.isdir(path)]
    files = [path for path in given if not os.path.isdir(path)]
    return load_all([[path] for path in directories] + [files] * bool(files),
                    directories + ["the files given"] * bool(files))


def read_json(path):
    """A JSON file given, read as results files are: a named pipe or a
    device is refused, never waited on."""
    data = reading.read_regular(path, reading.Refused, "a JSON file given")
    try:
        return json.loads(data.decode("utf-8"))
    except ValueError as error:
        raise reading.Refused("%s: not JSON: %s" % (path, error))


class Environment:
    """Every node's set-up as run-environment --nodes --json writes it; none without a path."""

    def __init__(self, path=None):
        data = read_json(path) if path else {"nodes": [], "differing": []}
        nodes = data.get("nodes") if isinstance(data, dict) else None
        if not (isinstance(nodes, list) and isinstance(data.get("differing"), list) and all(
                isinstance(node, dict) and isinstance(node.get("host"), str) and isinstance(node.get("fields"), dict)
                for node in nodes)):
            raise reading.Refused('%s: not the set-up of nodes ({"nodes": [{"host": ..., "fields": {...}}, ...], '
                                  '"differing": [...]})' % path)
        self.fields = {node["host"]: {str(k): str(v) for k, v in node["fields"].items()} for node in nodes}
        self.differing = [str(field) for field in data["differing"]]
        first = next((fields for fields in self.fields.values() if recorded(fields)), {})  # the first with a record
        self.same_everywhere = [(name, value) for name, value in first.items() if name not in self.differing]


def read_comparison(path):
    """compare --json's lines, each checked for the keys the page shows."""
    lines = read_json(path)
    if not (isinstance(lines, list) and all(
            isinstance(line, dict) and all(isinstance(line.get(key), str) for key in COMPARE_TEXTS)
            and all(line.get(key) is None or isinstance(line.get(key), numbers.Real) for key in COMPARE_NUMBERS)
            for line in lines)):
        raise reading.Refused("%s: not the lines compare --json writes" % path)
    return lines


# ---- the page's parts ------------------------------------------------------------------------------


def run_body(run, environment):
    """A run's title and parts."""
    verdict = verdicts.judge(run)
    nodes = len(verdict.nodes)
    workers = "the root alone" if run.job_size == 1 else "the root and %d worker%s on %d node%s" % (
        run.job_size - 1, "" if run.job_size == 2 else "s", nodes, "" if nodes == 1 else "s")
    body = [tag("h1", "Run on %s" % (run.node or "a node not known")),
            tag("p", "Started %s, %s: %s. Results file: %s" % (parts.started(run), plots.processes(run.job_size),
                                                                workers, os.path.basename(run.path)), class_="facts"),
            parts.ended_early_part(run), parts.warnings_part(run, "Warning lines of the report"),
            tag("h2", "Nodes"), parts.run_nodes_part(run, verdict, environment)]
    if nodes:
        reached = {row.measurement for row in run.rows}  # a report that ends early may stop before a measurement
        body += charts([m for m, _ in texts.MEASUREMENTS if m in reached], lambda m, pyplot: parts.chart_part(
            plots.run_chart(run, verdict, m, pyplot), plots.TITLES[m], parts.run_caption(run, verdict, m)))
    body += [tag("h2", "Every figure"), parts.figures_part(run)]
    return "run on %s, %s" % (parts.root_node(run), parts.started(run)), body


def series_body(all_series, environment):
    """Several runs' title and parts."""
    runs = [run for series in all_series for run in series.runs]
    title = "%d series" % len(all_series) if len(all_series) > 1 else "a series of %d runs" % len(runs)
    times = sorted(run.started for run in runs if run.started is not None)
    span = " from %s to %s" % (times[0].strftime(plots.TIME), times[-1].strftime(plots.TIME)) if times else ""
    unknown = " The start of %d is not known." % (len(runs) - len(times)) if len(times) < len(runs) else ""
    body = [tag("h1", title[0].upper() + title[1:]), tag("p", "%d runs%s.%s" % (len(runs), span, unknown),
                                                        class_="facts")]
    body += [parts.ended_early_part(run) for run in runs]
    body += [parts.warnings_part(run, "Warning lines of %s" % os.path.basename(run.path)) for run in runs]
    for series in all_series:
        body += [tag("h2", "%s: %d runs of %s" % (series.title, len(series.runs),
                                                 plots.processes(series.runs[0].job_size))),
                 parts.runs_part(series), tag("h3", "Nodes over the runs kept"),
                 parts.verdict_intro(series.verdict.why_not_judged, series.verdict.slow),
                 parts.series_nodes_part(series, environment)]
    if any(series.kept for series in all_series):
        body += charts([m for m, _ in texts.MEASUREMENTS], lambda m, pyplot: parts.chart_part(
            plots.series_chart(all_series, m, pyplot), plots.TITLES[m]))
    return title, body


def charts(measurements, chart_of):
    """The section of the charts chart_of(measurement, pyplot) makes."""
    pyplot = plots.load_pyplot("results-page")
    return [tag("h2", "Measurements"), tag("div", [chart_of(m, pyplot) for m in measurements], class_="charts")]


# ---- the page ----------------------------------------------------------------------------------------


def render(all_series, environment, comparison=None):
    """The page's HTML text."""
    one_run = len(all_series) == 1 and len(all_series[0].runs) == 1
    title, body = run_body(all_series[0].runs[0], environment) if one_run else series_body(all_series, environment)
    if comparison is not None:
        body += [tag("h2", "Two series compared"), parts.comparison_part(comparison)]
    body = join([[part, "\n"] for part in body if part])
    style = parts.Markup(pathlib.Path(STYLE).read_text(encoding="utf-8"))
    # Only the page's style and the charts' own style elements apply; their
    # inline style attributes (matplotlib's colours and fonts) may too, and
    # nothing may be fetched nor run.
    styles = [style] + re.findall(r"<style[^>]*>(.*?)</style>", body, re.S)
    digests = {base64.b64encode(hashlib.sha256(text.encode("utf-8")).digest()).decode("ascii") for text in styles}
    policy = ("default-src 'none'; style-src %s; style-src-attr 'unsafe-inline'; base-uri 'none'; "
              "form-action 'none'" % " ".join("'sha256-%s'" % value for value in sorted(digests)))
    head = tag("head", tag("meta", charset="utf-8"), tag("meta", http_equiv="Content-Security-Policy", content=policy),
               tag("meta", name="viewport", content="width=device-width, initial-scale=1"),
               tag("title", "orvantic-drives: " + title), tag("style", style))
    return "<!DOCTYPE html>\n" + tag("html", head, "\n", tag("body", body), lang="en") + "\n"
