"""One self-contained HTML page of results files: a run, a series of runs,
or several series side by side. It renders the rows results-to-csv writes
(with the slow-node verdicts made from them) and, where given, every node's
set-up (run-environment --nodes --json) and compare's lines (compare
--json); its charts' data is made in page_charts, its markup in
page_tables.

Nothing on the page is fetched: Debian's Chart.js, the page's own style and
script (page.css, page.js beside this module) and its data are inside it,
and a Content-Security-Policy lets only those inline parts run and forbids
every request, so the page opens from a mail attachment or on a laptop
without network. The data is JSON in which no text can close its script
element.
"""

import base64
import hashlib
import json
import numbers
import os

from . import page_charts, page_tables as parts, verdicts
from .series import load_all
from .nodes import recorded
from .page_tables import e

# Debian's libjs-chart.js (Chart.js 3.9).
CHART_LIBRARY = "/usr/share/javascript/chart.js/chart.min.js"
HERE = os.path.dirname(os.path.abspath(__file__))
COMPARE_NUMBERS = ("runs_a", "left_out_a", "runs_b", "left_out_b", "median_a", "median_b", "ratio", "ci_low",
                   "ci_high")
COMPARE_TEXTS = ("measurement", "unit", "scope", "verdict")


class PageError(Exception):
    """Input no page can be made of, or the charting library missing."""


# ---- what the page is made of ------------------------------------------------------------------


def load_series(given):
    """Each directory given is a series, the files given one more; named A,
    B and so on where there are several, as compare names its two."""
    directories = [[path] for path in given if os.path.isdir(path)]
    files = [path for path in given if not os.path.isdir(path)]
    groups = directories + ([files] if files else [])
    return load_all(groups, [group[0] for group in directories] + ["the files given"] * bool(files))


def read_json(path):
    try:
        with open(path, encoding="utf-8") as handle:
            return json.load(handle)
    except OSError as error:
        raise PageError("%s: cannot be read: %s" % (path, error.strerror or error))
    except ValueError as error:
        raise PageError("%s: not JSON: %s" % (path, error))


class Environment:
    """Every node's set-up as run-environment --nodes --json writes it:
    {"nodes": [{"host": ..., "fields": {...}}, ...], "differing": [...]}."""

    def __init__(self, path):
        data = read_json(path)
        shape = PageError('%s: not the set-up of nodes ({"nodes": [{"host": ..., "fields": {...}}, ...], '
                          '"differing": [...]})' % path)
        if not (isinstance(data, dict) and isinstance(data.get("nodes"), list)
                and isinstance(data.get("differing"), list)):
            raise shape
        self.fields = {}
        for node in data["nodes"]:
            if not (isinstance(node, dict) and isinstance(node.get("host"), str)
                    and isinstance(node.get("fields"), dict)):
                raise shape
            self.fields[node["host"]] = dict((str(k), str(v)) for k, v in node["fields"].items())
        self.differing = [str(field) for field in data["differing"]]

    def same_everywhere(self):
        """The fields not differing, as the first node with a record has them."""
        first = next((fields for fields in self.fields.values() if recorded(fields)), {})
        return [(name, value) for name, value in first.items() if name not in self.differing]


def read_comparison(path):
    """compare --json's lines, each checked for the keys the page shows."""
    lines = read_json(path)

    def whole(line):
        return (isinstance(line, dict) and all(isinstance(line.get(key), str) for key in COMPARE_TEXTS)
                and all(line.get(key) is None or isinstance(line.get(key), numbers.Real) for key in COMPARE_NUMBERS))

    if not (isinstance(lines, list) and all(whole(line) for line in lines)):
        raise PageError("%s: not the lines compare --json writes" % path)
    return lines


# ---- the page's parts ------------------------------------------------------------------------------


def run_body(run, environment):
    """A run's title, parts and charts."""
    verdict = verdicts.judge(run)
    nodes = len(verdict.nodes)
    workers = "the root alone" if run.job_size == 1 else "the root and %d worker%s on %d node%s" % (
        run.job_size - 1, "" if run.job_size == 2 else "s", nodes, "" if nodes == 1 else "s")
    charts = page_charts.run_charts(run, verdict) if nodes else []
    body = ["<h1>Run on %s</h1>" % e(run.node or "a node not known"),
            '<p class="facts">Started %s, %s: %s. Results file: %s</p>' % (
                e(parts.started(run)), parts.processes(run.job_size), workers, e(os.path.basename(run.path))),
            parts.ended_early_part(run), parts.warnings_part(run, "Warning lines of the report"),
            "<h2>Nodes</h2>", parts.run_nodes_part(run, verdict, environment)]
    if charts:
        body += ['<h2>Measurements</h2><div class="charts">']
        body += [parts.chart_part(chart, parts.run_caption(run, verdict, chart["measurement"])) for chart in charts]
        body += ["</div>"]
    body += ["<h2>Every figure</h2>", parts.figures_part(run)]
    return "run on %s, %s" % (parts.root_node(run), parts.started(run)), body, charts


def series_body(all_series, environment):
    """Several runs' title, parts and charts."""
    runs = [run for series in all_series for run in series.runs]
    title = "%d series" % len(all_series) if len(all_series) > 1 else "a series of %d runs" % len(runs)
    times = sorted(run.started for run in runs if run.started is not None)
    span = " from %s to %s" % (times[0].strftime(parts.TIME), times[-1].strftime(parts.TIME)) if times else ""
    unknown = " The start of %d is not known." % (len(runs) - len(times)) if len(times) < len(runs) else ""
    body = ["<h1>%s</h1>" % e(title[0].upper() + title[1:]),
            '<p class="facts">%d runs%s.%s</p>' % (len(runs), span, unknown)]
    body += [parts.ended_early_part(run) for run in runs]
    body += [parts.warnings_part(run, "Warning lines of %s" % os.path.basename(run.path)) for run in runs]
    for series in all_series:
        body += ["<h2>%s%d runs of %s</h2>" % (e(series.title + ": "), len(series.runs),
                                               parts.processes(series.runs[0].job_size)),
                 parts.runs_part(series), "<h3>Nodes over the runs kept</h3>",
                 parts.verdict_intro(series.verdict.why_not_judged, series.verdict.slow),
                 parts.series_nodes_part(series, environment)]
    charts = page_charts.series_charts(all_series) if any(series.kept for series in all_series) else []
    if charts:
        body += ['<h2>Measurements</h2><div class="charts">'] + [parts.chart_part(chart) for chart in charts]
        body += ["</div>"]
    return title, body, charts


# ---- the page ----------------------------------------------------------------------------------------


def asset(name):
    with open(os.path.join(HERE, name), encoding="utf-8") as handle:
        return handle.read()


def chart_library():
    try:
        with open(CHART_LIBRARY, encoding="utf-8") as handle:
            library = handle.read()
    except OSError as error:
        raise PageError("the charting library %s cannot be read (%s); install it with "
                        "'apt-get install -y libjs-chart.js'" % (CHART_LIBRARY, error.strerror or error))
    # Inlined as it is: a text that would end or bend its script element is refused, not mended.
    if "</script" in library.lower() or "<!--" in library:
        raise PageError("%s holds '</script' or '<!--' and cannot be inlined" % CHART_LIBRARY)
    return library


def embedded_json(data):
    """JSON for a script element: <, > and & as escapes, so that no text in
    it can end the element or open a comment."""
    text = json.dumps(data, ensure_ascii=False, allow_nan=False, separators=(",", ":"))
    return text.replace("<", "\\u003c").replace(">", "\\u003e").replace("&", "\\u0026")


def digest(text):
    return "'sha256-%s'" % base64.b64encode(hashlib.sha256(text.encode("utf-8")).digest()).decode("ascii")


def render(all_series, environment=None, comparison=None):
    """The page's HTML text."""
    if len(all_series) == 1 and len(all_series[0].runs) == 1:
        title, body, charts = run_body(all_series[0].runs[0], environment)
    else:
        title, body, charts = series_body(all_series, environment)
    if comparison is not None:
        body += ["<h2>Two series compared</h2>", parts.comparison_part(comparison)]
    scripts = [chart_library(), asset("page.js")]
    style = asset("page.css")
    # Only these inline parts may run or apply; nothing may be fetched.
    policy = ("default-src 'none'; script-src %s; style-src %s; base-uri 'none'; form-action 'none'"
              % (" ".join(digest(script) for script in scripts), digest(style)))
    return "".join([
        '<!DOCTYPE html>\n<html lang="en">\n<head>\n<meta charset="utf-8">\n',
        '<meta http-equiv="Content-Security-Policy" content="%s">\n' % e(policy),
        '<meta name="viewport" content="width=device-width, initial-scale=1">\n',
        "<title>orvantic-drives: %s</title>\n<style>%s</style>\n</head>\n<body>\n" % (e(title), style),
        "\n".join(part for part in body if part),
        '\n<script type="application/json" id="page-data">%s</script>\n' % embedded_json(
            {"charts": charts}),
        "".join("<script>%s</script>\n" % script for script in scripts),
        "</body>\n</html>\n"])
