"""The outcome of every test of a cross-built lane (tests/lanes/test-windows,
tests/lanes/test-arm64): GoogleTest programs run under an emulator and Python
test modules, each test listed as passed, skipped (with the reason) or
FAILED, and one summary line, "N passed, N failed, N skipped"."""

import importlib
import os
import subprocess
import sys
import unittest
import xml.etree.ElementTree as ElementTree

HANG_LIMIT = 600  # seconds; only there to turn a hang into a failure
ROOT = os.path.realpath(os.path.join(os.path.dirname(os.path.realpath(__file__)), os.pardir, os.pardir))


def lane_directory(program, found, default):
    """The lane's build directory: its command line's first argument, else
    `default` in the checkout. Exits first, naming what to install, when a
    package is missing; `found` tells for each package (or group) whether
    its programs or sources are there."""
    missing = [package for package, there in found.items() if not there]
    if missing:
        sys.exit("%s: missing; install with: apt-get install -y %s" % (program, " ".join(missing)))
    return os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, default))


class Outcomes:
    """Every test's outcome, in the order the tests ran."""

    def __init__(self):
        self.lines = []
        self.counts = {"passed": 0, "failed": 0, "skipped": 0}

    def add(self, name, outcome, detail=""):
        self.counts[outcome] += 1
        label = "FAILED" if outcome == "failed" else outcome
        self.lines.append("%-8s %s%s" % (label, name, ": " + detail if detail else ""))

    def summary(self):
        return "%(passed)d passed, %(failed)d failed, %(skipped)d skipped" % self.counts

    def exit_status(self):
        """Non-zero when a test failed or none ran."""
        return 1 if self.counts["failed"] or not sum(self.counts.values()) else 0


def run_gtest(outcomes, label, command, report, cwd, env=None):
    """Runs a GoogleTest program (`command`, its emulator first) in cwd and
    adds each of its tests as `label`.Suite.Test, from the XML report it
    writes to `report`, a path that the program is given relative to cwd so
    that it means the same under any emulator."""
    if os.path.exists(report):
        os.remove(report)
    try:
        done = subprocess.run(command + ["--gtest_output=xml:" + os.path.relpath(report, cwd)], cwd=cwd, env=env,
                              stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                              text=True, errors="replace", timeout=HANG_LIMIT, check=False)
    except subprocess.TimeoutExpired:
        outcomes.add(label, "failed", "still ran after %d s" % HANG_LIMIT)
        return
    if not os.path.exists(report):
        outcomes.add(label, "failed", "ended with status %d and wrote no results; its last lines:\n%s"
                     % (done.returncode, "\n".join(done.stdout.splitlines()[-20:])))
        return
    failed_before = outcomes.counts["failed"]
    for case in ElementTree.parse(report).iter("testcase"):
        name = "%s.%s.%s" % (label, case.get("classname"), case.get("name"))
        failures = case.findall("failure")
        skipped = case.find("skipped")
        if failures:
            outcomes.add(name, "failed", "".join("\n" + x.get("message", "") for x in failures))
        elif skipped is not None:
            # The message is the place of the skip, then its reason.
            reason = skipped.get("message", "").strip().splitlines()
            outcomes.add(name, "skipped", reason[-1] if reason else "no reason given")
        else:
            outcomes.add(name, "passed")
    if done.returncode != 0 and outcomes.counts["failed"] == failed_before:
        outcomes.add(label, "failed", "ended with status %d" % done.returncode)


class _Collect(unittest.TestResult):
    def __init__(self, outcomes):
        unittest.TestResult.__init__(self)
        self.outcomes = outcomes

    def addSuccess(self, test):
        self.outcomes.add(test.id(), "passed")

    def addFailure(self, test, err):
        self.outcomes.add(test.id(), "failed", "\n" + self._exc_info_to_string(err, test))

    addError = addFailure

    def addSkip(self, test, reason):
        self.outcomes.add(test.id(), "skipped", reason)


def run_tests_in(outcomes, folder, module):
    """Runs every test of the Python test module `module` in tests/`folder`,
    its module and class set-up and clean-up included. The test bed is
    found from the tests folder, as under CTest."""
    sys.path[:0] = [os.path.join(ROOT, "tests", folder), os.path.join(ROOT, "tests")]
    unittest.defaultTestLoader.loadTestsFromModule(importlib.import_module(module)).run(_Collect(outcomes))


def finish(outcomes, times):
    """Lists every test's outcome, the lane's times and the summary, and
    exits with the lane's status."""
    print("\n".join(outcomes.lines))
    print("times: " + times)
    print(outcomes.summary())
    sys.exit(outcomes.exit_status())
