"""The README and the pages under docs/: every relative link leads to a file
that exists, and to one of its headings where it names one; every page is
linked from the README; the README's quick start stands on its first screen
and gives the commands that CI and the set-up scripts run, and the program
they build."""

import glob
import os
import re
import unittest

from testbed import harness  # noqa: F401  (the scripts' package on the path)
from orvantic import launch

REPOSITORY = os.path.abspath(os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, os.pardir))
README = os.path.join(REPOSITORY, "README.md")
PAGES = sorted(glob.glob(os.path.join(REPOSITORY, "docs", "*.md")))
# Pages whose relative links are checked too, though the README need not link them.
BENCH_PAGES = ([os.path.join(REPOSITORY, "bench", "README.md")]
               + sorted(glob.glob(os.path.join(REPOSITORY, "bench", "results", "*.md"))))
CI = os.path.join(REPOSITORY, ".ci", "run")
FIRST_SCREEN = 40  # lines
# What the quick start names: the run, its projected duration, the tests.
QUICK_START_SCRIPTS = ["scripts/setup-and-run", "scripts/project-duration", "scripts/setup-and-test"]
RUN_COMMAND = "bash scripts/setup-and-run "
CHECKOUT = "/path/to/repo"  # the README's word for the checkout in a command

# Link text may wrap onto the next line; the target may not.
LINK = re.compile(r"\[[^\]]*\]\(([^)\s]+)\)")
CODE_SPAN = re.compile(r"`[^`]*`")


def prose(path):
    """The text without code blocks (indented four spaces or more) and
    without code spans, where brackets are no links."""
    with open(path, encoding="utf-8") as f:
        lines = [line for line in f.read().split("\n") if not line.startswith("    ")]
    return CODE_SPAN.sub("", "\n".join(lines))


def slug(heading):
    """The anchor a heading gets, as GitHub makes it."""
    return re.sub(r"[^\w\- ]", "", heading.strip().lower()).replace(" ", "-")


def anchors(path):
    found, seen = set(), {}
    for line in prose(path).split("\n"):
        heading = re.match(r"#{1,6} (.*)", line)
        if heading:
            base = slug(heading.group(1))
            count = seen.get(base, 0)
            seen[base] = count + 1
            found.add(base if count == 0 else "%s-%d" % (base, count))
    return found


def code_lines(path, limit):
    with open(path, encoding="utf-8") as f:
        return [line[4:] for line in f.read().split("\n")[:limit] if line.startswith("    ")]


class Links(unittest.TestCase):
    maxDiff = None

    def test_every_relative_link_leads_somewhere(self):
        broken = []
        for page in [README] + PAGES + BENCH_PAGES:
            for target in LINK.findall(prose(page)):
                if re.match(r"[a-z]+:", target):
                    continue
                path, _, anchor = target.partition("#")
                where = os.path.normpath(os.path.join(os.path.dirname(page), path)) if path else page
                name = "%s: %s" % (os.path.relpath(page, REPOSITORY), target)
                if not os.path.exists(where):
                    broken.append(name + " (no such file)")
                elif anchor and anchor not in anchors(where):
                    broken.append(name + " (no such heading)")
        self.assertEqual(broken, [])

    def test_every_page_is_linked_from_the_readme(self):
        self.assertTrue(PAGES)
        linked = {os.path.normpath(os.path.join(REPOSITORY, target.partition("#")[0]))
                  for target in LINK.findall(prose(README))}
        self.assertEqual([os.path.relpath(page, REPOSITORY) for page in PAGES if page not in linked], [])


class QuickStart(unittest.TestCase):
    def test_first_screen_gives_the_commands_ci_and_setup_run(self):
        with open(README, encoding="utf-8") as f:
            first_screen = "\n".join(f.read().split("\n")[:FIRST_SCREEN])
        for script in QUICK_START_SCRIPTS:
            self.assertIn(script, first_screen)
            self.assertTrue(os.access(os.path.join(REPOSITORY, script), os.X_OK), script + " is not executable")
        commands = code_lines(README, FIRST_SCREEN)
        self.assertTrue([c for c in commands if c.startswith(RUN_COMMAND)], commands)
        # The run by hand starts the program that setup-and-run built.
        built = os.path.join(CHECKOUT, os.path.relpath(launch.run_tree("openmpi"), launch.CHECKOUT), "orvantic-drives")
        self.assertEqual([c.split()[-1] for c in commands if CHECKOUT in c], [built])
        # CI runs exactly the README's test command, and nothing else.
        with open(CI) as f:
            ci = [line.strip() for line in f if line.strip() and not line.startswith("#")
                  and not line.startswith(("set ", "cd "))]
        self.assertEqual(ci, [c for c in commands if "scripts/setup-and-test" in c])


if __name__ == "__main__":
    unittest.main(verbosity=2)
