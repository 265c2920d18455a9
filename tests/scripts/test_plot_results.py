"""plot-results on results files of real runs: six readable PNG files, of
runs side by side or of repeated runs as a spread, rates that are not valid
among them."""

import os
import struct
import subprocess
import unittest

from testbed import files_left as f
from testbed import harness as h
from orvantic import reading, texts
from testbed import report_checks as c

PNG_SIGNATURE = b"\x89PNG\r\n\x1a\n"
SPACE = None


def setUpModule():
    global SPACE
    SPACE = h.module_workspace(h.SMALL)


def plotting_interpreter():
    """The interpreter plot-results names on its first line: the one for
    which Debian's matplotlib is installed."""
    with open(os.path.join(h.SCRIPTS, "plot-results"), encoding="utf-8") as handle:
        first = handle.readline()
    return first[2:].split()[0]


def png_size(path):
    """Width and height from the header of a file that must be a PNG."""
    with open(path, "rb") as handle:
        head = handle.read(24)
    if not head.startswith(PNG_SIGNATURE) or head[12:16] != b"IHDR":
        raise AssertionError("%s: not a PNG file" % path)
    return struct.unpack(">II", head[16:24])


def assert_pictures(test, directory, listed):
    """One readable picture per measurement in directory, each listed in
    the measurements' order."""
    names = [key + ".png" for key, _ in texts.MEASUREMENTS]
    test.assertEqual(sorted(os.listdir(directory)), sorted(names))
    test.assertEqual(listed, [os.path.join(directory, name) for name in names])
    sizes = {name: png_size(os.path.join(directory, name)) for name in names}
    test.assertTrue(all(width > 300 and height > 200 for width, height in sizes.values()), sizes)

    # matplotlib reads every picture back, at the size the header gives.
    reader = ("import sys, matplotlib.image\n"
              "for path in sys.argv[1:]:\n    print(*matplotlib.image.imread(path).shape[1::-1])")
    paths = [os.path.join(directory, name) for name in names]
    read = subprocess.run([plotting_interpreter(), "-c", reader] + paths,
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                          timeout=h.HANG_LIMIT, check=False)
    test.assertEqual(read.returncode, 0, read.stderr)
    shown = [tuple(int(n) for n in line.split()) for line in read.stdout.split("\n")[:-1]]
    test.assertEqual(shown, [tuple(sizes[name]) for name in names])


class Plots(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.one = f.results_of_run(1)
        cls.three = f.results_of_run(3)
        cls.warned = c.warned_copy(cls.three, SPACE.subdir("warned"))

    def plot(self, *paths, **options):
        directory = os.path.join(SPACE.subdir("plots-%d" % len(os.listdir(SPACE.root))), "png")
        done = h.run_script("plot-results", "-d", directory, *paths, **options)
        return done, directory

    def test_one_readable_picture_per_measurement(self):
        self.assert_pictures(*self.plot(self.three, self.warned, self.one))

    def test_repeated_runs_as_a_spread(self):
        # Copies of one run under the names of later ones stand for repeats.
        node, started = reading.parse_file_name(self.three)
        directory = SPACE.subdir("repeats")
        runs = [f.copy_as(self.three, directory, f.results_name(node, started.timestamp() + k)) for k in range(3)]
        runs.append(c.warned_copy(self.three, directory, f.results_name(node, started.timestamp() + 3)))
        self.assert_pictures(*self.plot("--spread", *runs))

        done, pictures = self.plot("--spread", self.one, self.three)
        self.assertNotEqual(done.returncode, 0)
        self.assertIn("runs of one kind of job", done.stderr)
        self.assertFalse(os.path.exists(pictures))

    def assert_pictures(self, done, directory):
        self.assertEqual(done.returncode, 0, "plot-results failed:\n" + done.stderr)
        assert_pictures(self, directory, done.stdout.split("\n")[:-1])

    def test_a_reader_that_stops_early_ends_it_quietly(self):
        done, _ = h.into_closed_pipe(self.plot, self.one)
        self.assertEqual((done.returncode, done.stderr), (0, ""))

    def test_a_file_that_is_not_a_report_draws_nothing(self):
        bad = f.copy_as(self.three, SPACE.subdir("bad"), os.path.basename(self.three),
                      lambda ls: ls[:-6] + ["Multi-Thread Enabled:"])
        done, directory = self.plot(self.one, bad)
        self.assertNotEqual(done.returncode, 0)
        self.assertIn("not a results file", done.stderr)
        self.assertIn("line %d:" % (len(f.text_lines(self.three)) - 5), done.stderr)
        self.assertFalse(os.path.exists(directory))

    def test_a_report_that_ends_early_is_drawn_as_far_as_it_goes(self):
        # Cut in the low tests: the two handling tests have a picture each.
        cut = f.copy_as(self.one, SPACE.subdir("cut"), os.path.basename(self.one),
                        lambda ls: ls[:ls.index(texts.LOW_SPEEDS) + 3])
        done, directory = self.plot(cut)
        self.assertEqual(done.returncode, 1, done.stderr)
        self.assertEqual(done.stdout.split("\n")[:-1], [os.path.join(directory, m + ".png") for m in texts.HANDLING])
        self.assertTrue(all(png_size(path) for path in done.stdout.split("\n")[:-1]))
        self.assertIn("plot-results: %s: the report ends early after line " % cut, done.stderr)
        self.assertIn("plot-results: no file holds low-write; no picture of it", done.stderr)


if __name__ == "__main__":
    unittest.main(verbosity=2)
