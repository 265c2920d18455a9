"""What a job leaves on disk: the results file and its name, the scratch
files and their content, and whether a file someone else owns was touched."""

import calendar
import hashlib
import os
import stat
import time

from testbed import harness  # also puts scripts/ on the path
from orvantic import reading, texts
from testbed import report_expectations as expect


def results_file_names(directory):
    """The regular files in directory named as results files are."""
    return [n for n in os.listdir(directory) if n.startswith(texts.RESULTS_PREFIX)
            and stat.S_ISREG(os.lstat(os.path.join(directory, n)).st_mode)]


def results_file(test, directory):
    """(name, bytes) of the one results file in directory."""
    names = results_file_names(directory)
    test.assertEqual(len(names), 1, "results files in %s: %s" % (directory, names))
    with open(os.path.join(directory, names[0]), "rb") as f:
        return names[0], f.read()


def results_of_run(processes, prepare=None):
    """Runs the small build with `processes` processes in a module workspace
    of its own and returns the path of the one results file it wrote there,
    with the console beside the run directory in console.txt. `prepare`,
    given the run directory, may plant files before the run that make its
    tests fail, and the job's exit status then 1."""
    ws = harness.module_workspace(harness.SMALL)
    if prepare:
        prepare(ws.cwd)
    run = ws.run_binary(processes)
    if run.returncode != (1 if prepare else 0):
        raise RuntimeError("the benchmark run failed (%d):\n%s" % (run.returncode, run.stderr))
    with open(os.path.join(ws.root, "console.txt"), "w", encoding="utf-8") as console:
        console.write("".join(line + "\n" for line in run.lines))
    return os.path.join(ws.cwd, results_file(ws.test, ws.cwd)[0])


def _zone_time(seconds, zone_east):
    return time.localtime(seconds) if zone_east is None else time.gmtime(seconds + zone_east)


def _from_zone_time(fields, zone_east):
    return time.mktime(fields) if zone_east is None else calendar.timegm(fields) - zone_east


def results_name(node, when, zone_east=None, number=1):
    """The name of the results file of a job whose root started at `when`;
    number: the how-manieth try it is, when the names before were taken."""
    stamp = time.strftime(" @ local date %Y.%m.%d time %H.%M.%S", _zone_time(when, zone_east))
    numbered = " (%d)" % number if number > 1 else ""
    return texts.RESULTS_PREFIX + texts.file_node(node) + stamp + numbered + ".txt"


def check_results_name(test, name, node, run, number=1):
    """The name results_name gives for the node and the time the name
    holds, a time while the job ran."""
    try:
        started = reading.parse_file_name(name)[1]
    except reading.NotAResultsFile as error:
        test.fail(str(error))
    stamp = _from_zone_time(started.timetuple(), run.zone_east)
    test.assertEqual(name, results_name(node, stamp, run.zone_east, number), "results file name")
    # Local time of the job, taken while it ran (whole seconds).
    test.assertTrue(int(run.started) - 1 <= stamp <= run.ended + 1,
                    "results file time %s outside the run" % started)


def scratch_names(nodes, ranks=None):
    """Every scratch name the given ranks (all of nodes by default) use."""
    ranks = sorted(nodes) if ranks is None else ranks
    names = [texts.SINGLE_SCRATCH, texts.SINGLE_COPY] if 0 in ranks else []
    for rank in ranks:
        if rank:
            names += list(expect.rank_files(rank, nodes[rank]))
    return names


def assert_filled(test, path, size, value=0x0B):
    test.assertTrue(os.path.isfile(path), "missing file %s" % path)
    test.assertEqual(os.path.getsize(path), size, "size of %s" % path)
    fill = bytes([value])
    with open(path, "rb") as f:
        offset = 0
        while True:
            chunk = f.read(1 << 20)
            if not chunk:
                break
            stray = chunk.strip(fill)
            if stray:
                test.fail("%s: byte other than %#x near offset %d" % (path, value, offset + chunk.find(stray[0:1])))
            offset += len(chunk)


def check_files_left(test, directory, nodes, name, counts, planted=()):
    """A complete run leaves the results file and every scratch file, each
    as long as one first pass and filled with the benchmark's byte, beside
    what the test planted there."""
    scratch = scratch_names(nodes)
    test.assertEqual(set(os.listdir(directory)), set(scratch) | {name} | set(planted),
                     "files left in the run directory")
    for f in scratch:
        assert_filled(test, os.path.join(directory, f), counts.first_pass)


def snapshot(path):
    """Identity, owner, mode, size, time and content of a file: enough to
    tell whether anything wrote, truncated, replaced or removed it."""
    info = os.lstat(path)
    with open(path, "rb") as f:
        digest = hashlib.sha256(f.read()).hexdigest()
    return {"inode": info.st_ino, "mode": oct(info.st_mode), "owner": info.st_uid, "size": info.st_size,
            "modified": info.st_mtime_ns, "sha256": digest}


class Sentinel:
    """Everything in a directory around the run directory: a job that writes,
    removes or changes anything there has written outside its directory.
    The run directory itself and the job's consoles and launcher files are
    left out."""

    OWN = ("run", "consoles", "out", "home", "left")

    def __init__(self, test, root):
        self.test = test
        self.root = root
        self.before = self.state()

    def state(self):
        found = {}
        for directory, subdirectories, files in os.walk(self.root):
            if directory == self.root:
                subdirectories[:] = [d for d in subdirectories if d not in self.OWN]
                files = [f for f in files if f not in self.OWN]
            for name in subdirectories + files:
                path = os.path.join(directory, name)
                if os.path.islink(path):
                    found[path] = "link to " + os.readlink(path)
                elif os.path.isfile(path):
                    found[path] = snapshot(path)
                else:
                    found[path] = oct(os.lstat(path).st_mode)
        return found

    def check(self):
        self.test.assertEqual(self.state(), self.before, "something outside the run directory changed")


read_text = harness.read_text


def text_lines(path):
    with open(path, encoding="utf-8") as handle:
        return handle.read().split("\n")[:-1]


def copy_as(source, directory, name, transform=None):
    """A copy of a results file under another name, its lines passed through
    `transform` (a function of the list of lines) when one is given."""
    lines = text_lines(source)
    if transform:
        lines = transform(lines)
    path = os.path.join(directory, name)
    with open(path, "w", encoding="utf-8", newline="") as handle:
        handle.write("".join(line + "\n" for line in lines))
    return path
