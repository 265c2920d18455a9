"""Symbolic links planted at the names the benchmark creates or truncates:
the link goes, never what it points at, and the console says so."""

import os
import stat
import time
import unittest

import faults_support as f
from faults_support import c, h, r


def results_name(node, when):
    return h.RESULTS_PREFIX + node + " @ " + time.strftime("local date %Y.%m.%d time %H.%M.%S.txt",
                                                           time.localtime(when))


def insert_before(lines, template, occurrence, new):
    """lines with `new` inserted before the occurrence-th (from 1) line of
    the given template."""
    seen = 0
    for index, line in enumerate(lines):
        if line.template == template:
            seen += 1
            if seen == occurrence:
                return lines[:index] + [new] + lines[index:]
    raise AssertionError("no line %r number %d in the expected report" % (template, occurrence))


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
        own = [c.SINGLE_SCRATCH, c.SINGLE_COPY] + list(c.rank_files(1, node))
        for index, name in enumerate(own):
            self.plant(ws, name, absolute=index % 2 == 1)
        # The results file is named after the second the root rank starts
        # in: one link for each second the start may fall into.
        now = int(time.time())
        result_links = {}
        for second in range(now, now + 60):
            name = results_name(node, second)
            self.plant(ws, name, absolute=False)
            result_links[name] = os.readlink(os.path.join(ws.cwd, name))
        consoles = f.consoles_dir(ws)
        run = ws.run(f.job(ws, (2, f.own_console(consoles, [ws.exe]))))
        self.assertEqual(run.returncode, 0, "exit status; stderr:\n" + run.stderr)
        self.assertLess(run.started, now + 55, "the job started too late for the planted names")

        for target, before in self.targets.items():
            self.assertEqual(f.snapshot(target), before, "%s was changed" % target)
        regular = [n for n in ws.results_files() if stat.S_ISREG(os.lstat(os.path.join(ws.cwd, n)).st_mode)]
        self.assertEqual(len(regular), 1, "results files that are regular files: %s" % regular)
        name = regular[0]
        self.assertIn(name, result_links)
        for other, link in result_links.items():
            if other != name:
                self.assertEqual(os.readlink(os.path.join(ws.cwd, other)), link, "a link not in the way was touched")
        for scratch in own:
            path = os.path.join(ws.cwd, scratch)
            self.assertTrue(stat.S_ISREG(os.lstat(path).st_mode), "%s is no regular file" % scratch)
            h.assert_filled(self, path, h.SMALL_COUNTS.first_pass)

        # Each note comes right before the step that first creates the name.
        report = r.full_report(nodes, ws.cwd + "/" + name)
        expected = [h.Line(f.LINK_REMOVED % name)] + report.console
        expected = insert_before(expected, "The system spent: {N} Secs.", 1,
                                 h.Line(f.LINK_REMOVED % c.SINGLE_SCRATCH))
        expected = insert_before(expected, "The system spent: {N} Secs. to Write.", 2,
                                 h.Line(f.LINK_REMOVED % c.SINGLE_COPY))
        console = h.match_lines(self, expected, f.console_of(self, consoles, 0), "rank 0 console")
        with open(os.path.join(ws.cwd, name)) as results:
            file_values = h.match_lines(self, report.file, h.split_lines(results.read()), "results file")
        c.same_numbers_on_both_sinks(self, console, file_values)
        c.check_single_arithmetic(self, console, h.SMALL_COUNTS)
        c.check_cluster_arithmetic(self, console, h.SMALL_COUNTS, [1])
        worker = [h.Line(f.LINK_REMOVED % name) for name in c.rank_files(1, node)]
        h.match_lines(self, worker, f.console_of(self, consoles, 1), "rank 1 console")

    def test_link_that_cannot_be_removed(self):
        # The run's user may not change the directory, so the link stays;
        # what it points at is that user's own file, which it could write.
        f.require_root(self, "setpriv")
        ws = h.Workspace(self, h.SMALL, shared=True)
        env = f.nobody_env(ws)
        outside = os.path.join(ws.root, "outside")
        os.mkdir(outside, 0o755)
        self.targets = {}
        for name in (c.SINGLE_SCRATCH, c.SINGLE_COPY):
            os.chown(self.plant(ws, name, absolute=True), f.NOBODY_UID, f.NOBODY_UID)
        self.targets = {target: f.snapshot(target) for target in self.targets}
        run = ws.run(f.job(ws, (1, [ws.exe])), env=env, prefix=f.UNPRIVILEGED)
        self.assertEqual(run.returncode, 0, run.stderr)

        for name in (c.SINGLE_SCRATCH, c.SINGLE_COPY):
            self.assertIn(f.LINK_KEPT % name, run.lines)
            self.assertNotIn(f.LINK_REMOVED % name, run.lines)
            self.assertTrue(os.path.islink(os.path.join(ws.cwd, name)))
        for target, before in self.targets.items():
            self.assertEqual(f.snapshot(target), before, "%s was written through the link" % target)
        _, saved = f.end_line(run.lines)
        self.assertIs(saved, False)


if __name__ == "__main__":
    unittest.main()
