"""results-page in a real browser: pages of a real run of three processes,
of a real run whose file operations failed, of results files with markup in
their node names and of two series with compare's lines and the nodes'
set-up, opened in headless Chromium. No request leaves a page, the browser
logs no error, the figures a page shows are results-to-csv's, what is not
valid shows so, and every text from a file shows as text."""

import csv
import io
import json
import math
import os
import pathlib
import statistics
import sys
import unittest

# Debian's python3-selenium serves Debian's interpreter; a pyenv or
# virtualenv python3 that runs the suite does not see it.
DEBIAN_PYTHON = "/usr/bin/python3"
try:
    from selenium import webdriver
    from selenium.common.exceptions import NoAlertPresentException
    from selenium.webdriver.chrome.service import Service
except ImportError:
    if os.path.realpath(sys.executable) != os.path.realpath(DEBIAN_PYTHON) and os.access(DEBIAN_PYTHON, os.X_OK):
        os.execv(DEBIAN_PYTHON, [DEBIAN_PYTHON] + sys.argv)
    webdriver = None

from testbed import files_left as f  # noqa: E402
from testbed import harness as h  # noqa: E402
from orvantic import measured, page_tables, reading, texts, verdicts  # noqa: E402
from testbed import report_checks as c  # noqa: E402
from testbed import report_expectations as expect  # noqa: E402

CHROMIUM, CHROMEDRIVER = "/usr/bin/chromium", "/usr/bin/chromedriver"
# Nothing of the browser's own may reach the network either.
FLAGS = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
         "--disable-background-networking", "--disable-component-update", "--disable-sync"]
MARKUP_NODES = {"1": "<img src=x onerror=alert(1)>", "2": "</SCRIPT ><script>alert(2)</script>&amp;"}
SPACE = THREE = FAILED = None

# Every figure of the figures table: its row's scope, rank and field (the
# speed-up row's), the measurement of its column, its text and its marks.
FIGURES = """
const table = document.getElementById("figures");
const measurements = Array.from(table.querySelectorAll("thead [data-measurement]"), s => s.dataset.measurement);
const cells = [];
for (const tr of table.tBodies[0].rows) {
  Array.from(tr.cells).slice(2).forEach(function (td, i) {
    const flag = td.querySelector(".flag");
    const marks = [td.classList.contains("not-valid"), flag ? flag.textContent : "", td.title];
    cells.push([[tr.dataset.scope, tr.dataset.rank, measurements[i], tr.dataset.field || ""],
                [td.firstChild.textContent].concat(marks)]);
    for (const other of td.querySelectorAll("[data-field]")) {
      cells.push([[tr.dataset.scope, tr.dataset.rank, measurements[i], other.dataset.field],
                  [other.textContent].concat(marks)]);
    }
  });
}
return cells;
"""
# Each chart's groups of points and lines by id: each point's value (its y
# read on the axis its ticks label) and whether it is hollow, each line's value.
CHARTS = """
return Array.from(document.querySelectorAll(".chart svg"), svg => {
  const ticks = Array.from(svg.querySelectorAll("[id^=ytick]"), t => [+t.textContent,
                                                                     +t.querySelector("use").getAttribute("y")]);
  const [[low, yLow], [high, yHigh]] = [ticks[0], ticks[ticks.length - 1]];
  const value = y => low + (y - yLow) * (high - low) / (yHigh - yLow);
  return Array.from(svg.querySelectorAll("[id^=chart-]"), g => [g.id, [
    Array.from(g.querySelectorAll("use"), u => [value(+u.getAttribute("y")), u.style.fillOpacity === "0"]),
    Array.from(g.querySelectorAll(":scope > path"), p => value(+p.getAttribute("d").split(/\\s+/)[2]))]]);
}).flat();
"""


def rows_of(path, whole=True):
    """results-to-csv's rows of a results file, whose status is 1 for a
    report that ends early."""
    done = h.run_script("results-to-csv", path, interpreter=sys.executable)
    if done.returncode != (0 if whole else 1):
        raise AssertionError("results-to-csv failed: " + done.stderr)
    return list(csv.DictReader(io.StringIO(done.stdout)))


def shown(row):
    return row[measured.shown_field(row["measurement"])]


def figures_of(rows):
    """What FIGURES must find for results-to-csv's rows: every figure of
    each, the one it is read by under no field's name."""
    found = {}
    for row in rows:
        marks = {"true": (False, "", ""), "false": (True, "not valid", row["warning"]),
                 "": (True, "not settled", page_tables.UNSETTLED)}[row["valid"]]
        found[(row["scope"], row["rank"], row["measurement"], "")] = (shown(row),) + marks
        for field in ("seconds", "rate", "mb_per_sec", "speedup"):
            if row[field] and field != measured.shown_field(row["measurement"]):
                found[(row["scope"], row["rank"], row["measurement"], field)] = (row[field],) + marks
    return found


def node_medians(rows):
    values = {}
    for row in rows:
        if row["scope"] == texts.SCOPE_RANK and row["valid"] == "true":
            values.setdefault(row["node"], {}).setdefault(row["measurement"], []).append(float(shown(row)))
    return dict((node, ["%g" % statistics.median(found[m]) if m in found else page_tables.DASH
                        for m, _ in texts.MEASUREMENTS])
                for node, found in values.items())


def setUpModule():
    global SPACE, THREE, FAILED
    SPACE = h.module_workspace(h.SMALL)
    THREE = f.results_of_run(3)

    # Directories where the root's and rank 1's scratch files belong: their
    # tests fail for real, and the report says so in Warning lines.
    def block_scratch(directory):
        for name in (texts.SINGLE_SCRATCH, expect.rank_files(1, h.host_name())[0]):
            os.makedirs(os.path.join(directory, name, "keep"))

    FAILED = f.results_of_run(3, prepare=block_scratch)


def make_page(*args, whole=True):
    """The page of the arguments, in a directory of its own; a report that
    ends early makes the status 1, as results-to-csv's."""
    path = os.path.join(SPACE.subdir("page-%d" % len(os.listdir(SPACE.root))), "page.html")
    done = h.run_script("results-page", "-o", path, *args, interpreter=sys.executable)
    if done.returncode != (0 if whole else 1) or not os.path.exists(path):
        raise AssertionError("results-page failed: " + done.stderr)
    return path


def on_nodes(nodes, directory):
    """THREE's report written again into a directory of that name with its
    workers on other nodes ({rank: node})."""
    rows = [dict(r, node=nodes.get(r["rank"], r["node"]) if r["scope"] == texts.SCOPE_RANK else r["node"])
            for r in c.cells_of(reading.parse(THREE)) if r["scope"] != texts.SCOPE_COMMON_WINDOW]
    path = os.path.join(SPACE.subdir(directory), os.path.basename(THREE))
    with open(path, "w", encoding="utf-8") as handle:
        handle.write(c.report_text(rows))
    return path


def start_browser(profile):
    options = webdriver.ChromeOptions()
    options.binary_location = CHROMIUM
    for flag in FLAGS + ["--user-data-dir=" + profile, "--window-size=1280,1000"]:
        options.add_argument(flag)
    options.set_capability("goog:loggingPrefs", {"performance": "ALL", "browser": "ALL"})
    return webdriver.Chrome(service=Service(CHROMEDRIVER), options=options)


class PagesInABrowser(unittest.TestCase):
    maxDiff = None

    @classmethod
    def setUpClass(cls):
        missing = [path for path in (CHROMIUM, CHROMEDRIVER) if not os.access(path, os.X_OK)]
        if webdriver is None or missing:
            raise unittest.SkipTest("needs chromium, chromium-driver and python3-selenium (missing: %s)"
                                    % ", ".join(missing or ["selenium for %s" % sys.executable]))
        cls.browser = start_browser(SPACE.subdir("browser"))
        cls.addClassCleanup(cls.browser.quit)

    def show(self, path):
        """Opens a page: nothing but the page's own file is requested, no
        error is logged, no script of a file's text runs."""
        # Away from what came before (the browser's own start page),
        # whose requests are not the page's.
        self.browser.get("about:blank")
        for log in ("performance", "browser"):
            self.browser.get_log(log)
        url = pathlib.Path(path).as_uri()
        self.browser.get(url)
        events = [json.loads(entry["message"])["message"] for entry in self.browser.get_log("performance")]
        self.assertEqual([event["params"]["request"]["url"] for event in events
                          if event["method"] == "Network.requestWillBeSent"], [url])
        self.assertEqual([entry for entry in self.browser.get_log("browser") if entry["level"] == "SEVERE"], [])
        with self.assertRaises(NoAlertPresentException):
            self.browser.switch_to.alert.text

    def script(self, code):
        return self.browser.execute_script(code)

    def texts_of(self, selector):
        return self.browser.execute_script(
            "return Array.from(document.querySelectorAll(arguments[0]), e => e.textContent);", selector)

    def check_run_page(self, path, whole=True):
        """The page of one results file against results-to-csv's rows."""
        rows = rows_of(path, whole)
        self.show(make_page(path, whole=whole))
        # A report that ends early leaves cells without a figure.
        figures = [(tuple(k), tuple(v)) for k, v in self.script(FIGURES)]
        self.assertEqual(dict((k, v) for k, v in figures if v[0] != page_tables.DASH), figures_of(rows))
        self.assertEqual(self.texts_of(".warnings li"), [l for l in f.text_lines(path) if l.startswith("Warning: ")])
        nodes = self.script("return Array.from(document.querySelectorAll('#nodes tr[data-node]'), tr => "
                            "[tr.dataset.node, Array.from(tr.cells).slice(2, 8).map(td => td.firstChild.data)]);")
        self.assertEqual(dict((node, medians) for node, medians in nodes if node in node_medians(rows)),
                         node_medians(rows))
        # Each worker's figure a point of its kind where the axis puts it,
        # hollow where not valid or not settled; the single node's a line.
        charts = dict(self.script(CHARTS))
        for measurement, _ in texts.MEASUREMENTS:
            (single,) = [r for r in rows if r["measurement"] == measurement and r["scope"] == texts.SCOPE_SINGLE]
            drawn = [(line, float(shown(single))) for line in charts["chart-%s-single-node" % measurement][1]]
            self.assertEqual(len(drawn), 1)
            for kinds, validity in ((("workers", "slow"), "true"), (("not-valid",), "false"), (("not-settled",), "")):
                points = sorted(p for kind in kinds for p in charts.get("chart-%s-%s" % (measurement, kind), [[]])[0])
                figures = sorted(float(shown(r)) for r in rows if r["measurement"] == measurement and r["valid"] ==
                                 validity and r["scope"] == texts.SCOPE_RANK and math.isfinite(float(shown(r))))
                self.assertEqual([hollow for _, hollow in points], [validity != "true"] * len(figures))
                drawn += [(value, figure) for (value, _), figure in zip(points, figures)]
            for value, figure in drawn:
                self.assertAlmostEqual(value, figure, delta=1e-6 * max(figure for _, figure in drawn), msg=measurement)
        return rows

    def test_a_run_of_three_processes(self):
        rows = self.check_run_page(THREE)
        self.assertEqual({r["valid"] for r in rows}, {"true"})

    def test_a_run_whose_file_operations_failed(self):
        rows = self.check_run_page(FAILED)
        failed = [r for r in rows if r["valid"] == "false"]
        self.assertIn((texts.SCOPE_SINGLE, "0"), [(r["scope"], r["rank"]) for r in failed])
        self.assertIn((texts.SCOPE_RANK, "1"), [(r["scope"], r["rank"]) for r in failed])

    def test_a_report_that_ends_early(self):
        # Cut after rank 2's last lines: the warning that could follow them
        # is not there, and their validity not settled.
        cut = f.copy_as(THREE, SPACE.subdir("cut"), os.path.basename(THREE), lambda ls: ls[:-12])
        rows = self.check_run_page(cut, whole=False)
        self.assertEqual([(r["scope"], r["rank"]) for r in rows if r["valid"] == ""], [("rank", "2")])
        (banner,) = self.texts_of(".banner")
        self.assertIn(reading.parse(cut).early_end, banner)

        # Cut in cluster phase 2, of workers on two nodes: the phases not
        # reached say so, and one phase compared judges no node.
        two = on_nodes({"1": "nodeA", "2": "nodeB"}, "two-nodes")
        cut = f.copy_as(two, SPACE.subdir("cut-two"), os.path.basename(two),
                        lambda ls: ls[:ls.index(texts.HANDLING_HIGHER, ls.index(texts.HANDLING_HIGHER) + 1)])
        self.check_run_page(cut, whole=False)
        self.assertIn("No slow-node verdict: not enough phases to judge any node (a verdict needs 4).",
                      self.texts_of("p"))
        cells = self.texts_of("#nodes tr[data-node=nodeA] td")
        self.assertEqual(cells[3:], [page_tables.DASH + verdicts.NOT_REACHED.word] * 5
                         + ["not enough phases to judge: compared in 1, a verdict needs 4"])

    def test_a_renamed_report(self):
        # Its root's node and start are not known, and the page says so.
        self.check_run_page(f.copy_as(THREE, SPACE.subdir("renamed"), "results.txt"))
        self.assertEqual(self.texts_of("h1"), ["Run on a node not known"])
        self.assertEqual(self.texts_of('#figures tr[data-scope="single"] td:nth-child(2)'), [page_tables.NOT_KNOWN])

    def test_markup_in_node_names_shows_as_text(self):
        self.check_run_page(on_nodes(MARKUP_NODES, "markup"))
        self.assertEqual(self.script("return document.querySelectorAll('img, script').length;"), 0)
        names = sorted(MARKUP_NODES.values())
        self.assertEqual(sorted(self.texts_of("#nodes tr[data-node] td:first-child"))[:2], names)
        self.assertLessEqual(set(names), set(self.texts_of(".chart svg text")))

    def test_two_series_compared_on_the_nodes_set_up(self):
        node, started = reading.parse_file_name(THREE)
        a, b = SPACE.subdir("series-a"), SPACE.subdir("series-b")
        for k in range(4):
            for directory in (a, b):
                f.copy_as(THREE, directory, f.results_name(node, started.timestamp() + k))
        warned = c.warned_copy(THREE, b, f.results_name(node, started.timestamp() + 4))
        compared = os.path.join(SPACE.root, "compared.json")
        done = h.run_script("compare", "--json", compared, a, b, interpreter=sys.executable)
        self.assertEqual(done.returncode, 0, done.stderr)
        environment = os.path.join(SPACE.root, "nodes.json")
        with open(environment, "w", encoding="utf-8") as handle:
            json.dump({"nodes": [{"host": node, "fields": {"kernel": "6.1.0", "file system": "<b>ext4</b>"}},
                                 {"host": "node09", "fields": {"kernel": "6.1.0", "file system": "xfs"}}],
                       "differing": ["file system"]}, handle)
        self.show(make_page(a, b, "--compare", compared, "--environment", environment))

        kept = self.texts_of("#runs-B td:last-child")
        self.assertEqual(kept[:4], ["kept"] * 4)
        self.assertEqual(kept[4], "left out " + reading.parse(warned).why_left_out())
        self.assertEqual(self.texts_of("#runs-A td:last-child"), ["kept"] * 4)
        medians = node_medians(rows_of(THREE))[node]
        for letter in "AB":
            cells = self.script("return Array.from(document.querySelector('#nodes-%s tr[data-node]').cells, "
                                "td => td.firstChild.textContent);" % letter)
            self.assertEqual(cells[1:7], medians)
            self.assertEqual(cells[-1], "<b>ext4</b>")
        self.assertIn("Set-up recorded for nodes not in these runs: node09.", self.texts_of("p"))
        with open(compared, encoding="utf-8") as handle:
            lines = json.load(handle)
        shown_lines = self.script("return Array.from(document.querySelectorAll('#compared tbody tr'), "
                                  "tr => Array.from(tr.cells, td => td.textContent));")
        self.assertEqual([(cells[0], cells[5], cells[6], cells[9]) for cells in shown_lines],
                         [(line["measurement"], "%g" % line["median_a"], "%g" % line["median_b"], line["verdict"])
                          for line in lines])


class Refusals(unittest.TestCase):
    def assert_refused(self, *args, says):
        path = os.path.join(SPACE.subdir("refused-%d" % len(os.listdir(SPACE.root))), "page.html")
        done = h.run_script("results-page", "-o", path, *args, interpreter=sys.executable)
        self.assertEqual(done.returncode, 1)
        self.assertIn(says, done.stderr)
        self.assertFalse(os.path.exists(path), "a page written on a refusal")
        self.assertEqual(os.listdir(os.path.dirname(path)), [])

    def test_input_no_page_is_made_of(self):
        not_json = f.copy_as(THREE, SPACE.subdir("not-json"), "nodes.json")
        self.assert_refused(THREE, "--environment", not_json, says="not JSON")
        self.assert_refused(THREE, "--compare", os.path.dirname(THREE), says="is a directory")
        mixed = SPACE.subdir("mixed")
        for path in (THREE, f.results_of_run(1)):
            f.copy_as(path, mixed, os.path.basename(path))
        self.assert_refused(mixed, says="a series is runs of one kind of job")


if __name__ == "__main__":
    unittest.main(verbosity=2)
