"""Symbolic links planted at the names the benchmark creates or truncates:
the link goes, never what it points at, and the console says so."""

import os
import stat
import time
import unittest

import files_left as f
import harness as h
import report_checks as c
from report_checks import g


class LinkTests(unittest.TestCase):
    def plant(self, ws, name, absolute):
        """A link at name in the run directory to a file of its own outside."""
        target = os.path.join(ws.root, "outside", name)
        with open(target, "wb") as other:
            other.write(os.urandom(3000))
        os.symlink(target if absolute else os.path.relpath(target, ws.cwd), os.path.join(ws.cwd, name))
        self.targets[target] = f.snapshot(target)
        return target

    def test_links_at_every_name_the_job_writes(self):
        ws = h.Workspace(self, h.SMALL)
        node = h.host_name()
        nodes = {0: node, 1: node}
        os.mkdir(os.path.join(ws.root, "outside"))
        self.targets = {}
        own = f.scratch_names(nodes)
        for index, name in enumerate(own):
            self.plant(ws, name, absolute=index % 2 == 1)
        # The results file is named after the second the root rank starts
        # in: one link for each second the start may fall into.
        now = int(time.time())
        result_links = {}
        for second in range(now, now + 60):
            name = f.results_name(node, second, h.RUN_ZONE_EAST_OF_UTC)
            self.plant(ws, name, absolute=False)
            result_links[name] = os.readlink(os.path.join(ws.cwd, name))
        run = ws.run(ws.job((2, ws.own_console([ws.exe]))))
        self.assertEqual(run.returncode, 0, "exit status; stderr:\n" + run.stderr)
        self.assertLess(run.started, now + 55, "the job started too late for the planted names")

        for target, before in self.targets.items():
            self.assertEqual(f.snapshot(target), before, "%s was changed" % target)
        regular = [n for n in ws.files() if n.startswith(g.RESULTS_PREFIX)
                   and stat.S_ISREG(os.lstat(os.path.join(ws.cwd, n)).st_mode)]
        self.assertEqual(len(regular), 1, "results files that are regular files: %s" % regular)
        name = regular[0]
        self.assertIn(name, result_links)
        for other, link in result_links.items():
            if other != name:
                self.assertEqual(os.readlink(os.path.join(ws.cwd, other)), link, "a link not in the way was touched")
        for scratch in own:
            path = os.path.join(ws.cwd, scratch)
            self.assertTrue(stat.S_ISREG(os.lstat(path).st_mode), "%s is no regular file" % scratch)
            f.assert_filled(self, path, h.SMALL_COUNTS.first_pass)

        # Each note comes right before the step that first creates the name.
        removed = dict.fromkeys(own + [name], g.LINK_REMOVED)
        expected = g.report_lines(g.CONSOLE, nodes, ws.cwd + "/" + name, links=removed)
        console = c.check_sink(self, expected, ws.console_of(0), "rank 0 console", node)
        with open(os.path.join(ws.cwd, name), "rb") as results:
            rows, complete = c.check_results(self, results.read(), g.report_lines(g.FILE, nodes), node, console)
        self.assertTrue(complete, "results file incomplete")
        c.check_arithmetic(self, rows, h.SMALL_COUNTS)
        c.match_lines(self, g.worker_lines(1, node, links=removed), ws.console_of(1), "rank 1 console")

    def test_link_that_cannot_be_removed(self):
        # The run's user may not change the directory, so the link stays;
        # what it points at is that user's own file, which it could write.
        ws, env = h.Workspace.for_nobody(self, h.SMALL)
        outside = os.path.join(ws.root, "outside")
        os.mkdir(outside, 0o755)
        self.targets = {}
        for name in (g.SINGLE_SCRATCH, g.SINGLE_COPY):
            os.chown(self.plant(ws, name, absolute=True), h.NOBODY_UID, h.NOBODY_UID)
        self.targets = {target: f.snapshot(target) for target in self.targets}
        run = ws.run(ws.mpiexec(1) + [ws.exe], env=env, prefix=h.UNPRIVILEGED)
        self.assertEqual(run.returncode, 0, run.stderr)

        for name in (g.SINGLE_SCRATCH, g.SINGLE_COPY):
            self.assertIn(g.link_note(name, g.LINK_KEPT), run.lines)
            self.assertNotIn(g.link_note(name, g.LINK_REMOVED), run.lines)
            self.assertTrue(os.path.islink(os.path.join(ws.cwd, name)))
        for target, before in self.targets.items():
            self.assertEqual(f.snapshot(target), before, "%s was written through the link" % target)
        self.assertEqual(len([line for line in run.lines if line.startswith(g.NOT_SAVED)]), 1,
                         "the results file not reported as unsaved")


if __name__ == "__main__":
    unittest.main()
