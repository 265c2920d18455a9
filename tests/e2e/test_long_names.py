"""A start directory longer than any path the system accepts in one call:
everything is shown and used whole; run on a sanitizer build as well, where
an overflow anywhere ends the job. (Node names at the edges of their sizes:
test_cluster.)"""

import os
import sys
import unittest

from testbed import files_left as f
from testbed import harness as h
from orvantic import grammar, texts
from testbed import report_checks as c

# The launcher cannot start in a directory this deep; each rank's own
# Python walks down one component at a time and then becomes the benchmark.
_WALK_AND_EXEC = "import os, sys\nfor part in sys.argv[2:]:\n    os.chdir(part)\nos.execv(sys.argv[1], sys.argv[1:2])\n"


class DeepDirectoryTests(unittest.TestCase):
    def test_start_directory_longer_than_a_path_may_be(self):
        ws = h.Workspace(self, h.SMALL)
        parts = ["level%02d-" % i + "d" * 92 for i in range(42)]
        deep = ws.cwd + "/" + "/".join(parts)
        self.assertGreater(len(deep), 4096)
        fd = os.open(ws.cwd, os.O_RDONLY | os.O_DIRECTORY)
        for part in parts:
            os.mkdir(part, dir_fd=fd)
            inner = os.open(part, os.O_RDONLY | os.O_DIRECTORY, dir_fd=fd)
            os.close(fd)
            fd = inner
        self.addCleanup(os.close, fd)
        node = h.host_name()
        nodes = {0: node, 1: node}

        run = ws.run(ws.job((2, [sys.executable, "-c", _WALK_AND_EXEC, ws.exe] + parts)))
        c.check_exit_status(self, run)
        names = [n for n in os.listdir(fd) if n.startswith(texts.RESULTS_PREFIX)]
        self.assertEqual(len(names), 1, "results files in the deep directory: %s" % names)
        name = names[0]
        f.check_results_name(self, name, node, run)
        console = c.check_sink(self, grammar.report_lines(grammar.CONSOLE, nodes, deep + "/" + name), run.lines,
                               "console", node)
        with open(name, "rb", opener=lambda path, flags: os.open(path, flags, dir_fd=fd)) as results:
            rows, complete = c.check_results(self, results.read(), grammar.report_lines(grammar.FILE, nodes), node,
                                             console)
        self.assertTrue(complete, "results file incomplete")
        c.check_arithmetic(self, rows, h.SMALL_COUNTS)
        expected = set(f.scratch_names(nodes)) | {name}
        self.assertEqual(set(os.listdir(fd)), expected)
        for scratch in expected - {name}:
            self.assertEqual(os.stat(scratch, dir_fd=fd).st_size, h.SMALL_COUNTS.first_pass, scratch)


if __name__ == "__main__":
    unittest.main()
