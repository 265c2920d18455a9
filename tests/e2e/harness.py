"""Runs orvantic-drives under the MPI launcher in a throw-away directory and
matches what it printed and left on disk against the expected report."""

import glob
import os
import re
import shutil
import signal
import socket
import stat
import subprocess
import tempfile
import time

MPIEXEC = os.environ.get("ORVANTIC_MPIEXEC", "mpiexec")
SHIPPED = os.environ.get("ORVANTIC_BINARY")
SMALL = os.environ.get("ORVANTIC_SMALL_BINARY")

RESULTS_PREFIX = "results_drives_windows_clusters_mac_mx @ "
HANG_LIMIT = 300  # seconds; only there to turn a hang into a failure

# Runs see a zone half an hour off any whole-hour one, so a results-file name
# made from UTC instead of local time cannot pass for local time.
os.environ["TZ"] = "ORV-05:30"
time.tzset()


class Counts:
    """Work amounts one build is compiled with; every rate divides one of them."""

    def __init__(self, handling, first_pass):
        self.handling = handling
        self.first_pass = first_pass
        self.low_accesses = first_pass + first_pass // 2
        self.high_bytes = first_pass * 1.5  # block read or written once, then its half


SMALL_COUNTS = Counts(256, 65536)
SHIPPED_COUNTS = Counts(131072, 16777216)


def launcher_env(**extra):
    env = dict(os.environ)
    env.update(OMPI_ALLOW_RUN_AS_ROOT="1", OMPI_ALLOW_RUN_AS_ROOT_CONFIRM="1")
    env.update(extra)
    return env


_open_mpi = None


def open_mpi():
    """Open MPI's launcher, or else MPICH's (Hydra): their flags differ."""
    global _open_mpi
    if _open_mpi is None:
        version = subprocess.run([MPIEXEC, "--version"], stdout=subprocess.PIPE,
                                 stderr=subprocess.STDOUT, timeout=60).stdout
        _open_mpi = b"Open MPI" in version or b"OpenRTE" in version
    return _open_mpi


def host_name():
    return socket.gethostname()


def benchmark_pids(exe):
    """Processes still running the given copy of the binary (ours alone, as
    every workspace has its own copy)."""
    pids = []
    for entry in glob.glob("/proc/[0-9]*"):
        try:
            if os.readlink(entry + "/exe") == exe:
                pids.append(int(os.path.basename(entry)))
        except OSError:
            pass
    return pids


def rank_of(pid):
    try:
        with open("/proc/%d/environ" % pid, "rb") as f:
            for item in f.read().split(b"\0"):
                if item.startswith((b"OMPI_COMM_WORLD_RANK=", b"PMI_RANK=")):
                    return int(item.split(b"=", 1)[1])
    except OSError:
        pass
    return None


class Run:
    def __init__(self, returncode, console, started, ended, workspace, stderr=""):
        self.returncode = returncode
        self.stderr = stderr
        self.lines = split_lines(console)
        self.whole_lines = console.endswith("\n")
        self.started = started
        self.ended = ended
        self.workspace = workspace


class Workspace:
    """A fresh directory to run in, a private copy of the binary (so our own
    processes can be told apart from anyone else's) and a place for the
    per-rank output files of the launcher."""

    def __init__(self, test, binary, shared=False):
        if not binary:
            test.fail("ORVANTIC_BINARY / ORVANTIC_SMALL_BINARY not set")
        self.test = test
        self.root = tempfile.mkdtemp(prefix="orvantic-e2e-")
        self.cwd = os.path.realpath(os.path.join(self.root, "run"))
        self.out = os.path.join(self.root, "out")
        self.split_output = False
        os.mkdir(self.cwd)
        os.mkdir(os.path.join(self.root, "bin"))
        self.exe = os.path.join(os.path.realpath(self.root), "bin", os.path.basename(binary))
        shutil.copy2(binary, self.exe)
        if shared:
            # Another user must be able to reach the binary.
            for path in (self.root, os.path.dirname(self.exe)):
                os.chmod(path, 0o755)
            os.chmod(self.exe, 0o755)
        test.addCleanup(self.close)

    def close(self):
        leftovers = benchmark_pids(self.exe)
        for pid in leftovers:
            try:
                os.kill(pid, signal.SIGKILL)
            except OSError:
                pass
        shutil.rmtree(self.root, ignore_errors=True)
        if leftovers:
            self.test.fail("benchmark processes left running: %s" % leftovers)

    def diagnose(self):
        """Where each of our benchmark processes stands, for a hang report."""
        report = []
        for pid in benchmark_pids(self.exe):
            try:
                with open("/proc/%d/stat" % pid) as f:
                    fields = f.read().rsplit(")", 1)[1].split()
                with open("/proc/%d/wchan" % pid) as f:
                    wchan = f.read()
            except OSError:
                continue
            report.append("pid %d rank %s state %s cpu ticks %s wchan %s"
                          % (pid, rank_of(pid), fields[0], int(fields[11]) + int(fields[12]), wchan))
            if shutil.which("gdb"):
                trace = subprocess.run(["gdb", "-p", str(pid), "-batch", "-ex", "bt"], stdout=subprocess.PIPE,
                                       stderr=subprocess.DEVNULL, timeout=60)
                report += [l for l in trace.stdout.decode("utf-8", "replace").splitlines() if l.startswith("#")]
        return "\n".join(report)

    def launcher(self, output=False):
        """The launcher and its flags for the options the contexts share.
        With output, each rank's standard streams also go to files."""
        cmd = [MPIEXEC]
        if open_mpi():
            cmd.append("--oversubscribe")  # more ranks than the machine's cores
        if output:
            self.split_output = True
            os.makedirs(self.out, exist_ok=True)  # MPICH's launcher makes no directory
            if open_mpi():
                cmd += ["--output-filename", self.out]
            else:
                cmd += ["-outfile-pattern", os.path.join(self.out, "stdout.%r"),
                        "-errfile-pattern", os.path.join(self.out, "stderr.%r")]
        return cmd

    def mpiexec(self, nprocs, output=False):
        return self.launcher(output) + ["-n", str(nprocs)]

    def start(self, cmd, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
              env=None, prefix=()):
        proc = subprocess.Popen(list(prefix) + cmd, cwd=self.cwd, stdin=stdin, stdout=stdout,
                                stderr=stderr, env=env or launcher_env(), start_new_session=True)
        self.test.addCleanup(self.stop, proc)
        return proc

    @staticmethod
    def stop(proc):
        """Ends a launcher that a failed test left behind (its own session)."""
        if proc.poll() is None:
            os.killpg(proc.pid, signal.SIGKILL)
            proc.wait()
        for pipe in (proc.stdin, proc.stdout, proc.stderr):
            if pipe:
                pipe.close()

    def run(self, cmd, timeout=HANG_LIMIT, stdin=subprocess.DEVNULL, env=None, prefix=()):
        started = time.time()
        proc = self.start(cmd, stdin=stdin, env=env, prefix=prefix)
        try:
            out, err = proc.communicate(timeout=timeout)
        except subprocess.TimeoutExpired:
            state = self.diagnose()
            os.killpg(proc.pid, signal.SIGKILL)
            out, _ = proc.communicate()
            self.test.fail("job still running after %d s\n%s\nconsole tail:\n%s"
                           % (timeout, state, "\n".join(split_lines(out.decode("utf-8", "replace"))[-12:])))
        ended = time.time()
        console = out.decode("utf-8", "replace")
        if self.split_output and not open_mpi():
            # MPICH's launcher writes the ranks' output to the files only.
            console = self.rank_output(0)
        return Run(proc.returncode, console, started, ended, self, err.decode("utf-8", "replace"))

    def run_binary(self, nprocs=1, timeout=HANG_LIMIT, output=False, stdin=subprocess.DEVNULL):
        return self.run(self.mpiexec(nprocs, output) + [self.exe], timeout=timeout, stdin=stdin)

    def rank_output(self, rank, stream="stdout"):
        """What one rank wrote to stdout or stderr (launcher output files)."""
        if open_mpi():
            paths = glob.glob(os.path.join(self.out, "*", "rank.%d" % rank, stream))
        else:
            paths = glob.glob(os.path.join(self.out, "%s.%d" % (stream, rank)))
        if not paths and not open_mpi():
            return ""  # MPICH's launcher makes no file for a silent rank
        self.test.assertEqual(len(paths), 1, "launcher output file of rank %d" % rank)
        with open(paths[0], encoding="utf-8", errors="replace") as f:
            return f.read()

    def files(self):
        return sorted(os.listdir(self.cwd))

    def results_files(self):
        return [name for name in self.files() if name.startswith(RESULTS_PREFIX)]


# ---- matching report lines ----------------------------------------------

NUMBER = "{N}"  # a double in the streams' default format
INTEGER = "{I}"  # a decimal int
_PIECE = re.compile(r"(\{N\}|\{I\})")
_NUMBER_RE = r"(-?(?:inf|nan|\d+(?:\.\d+)?(?:e[+-]\d\d+)?))"
_compiled = {}


def _pattern(template):
    """Regex for a template, and which of its groups are doubles."""
    if template not in _compiled:
        parts, doubles = [], []
        for piece in _PIECE.split(template):
            if piece == NUMBER:
                parts.append(_NUMBER_RE)
                doubles.append(True)
            elif piece == INTEGER:
                parts.append(r"(-?\d+)")
                doubles.append(False)
            else:
                parts.append(re.escape(piece))
        _compiled[template] = (re.compile("".join(parts) + r"\Z"), doubles)
    return _compiled[template]


def default_format(token):
    """True when token is what a default-formatted stream writes for its own
    value: at most six significant digits, %g layout."""
    return "%g" % float(token) == token


class Line:
    """One expected line: a template with number markers, and an optional key
    under which the numbers it holds are kept for arithmetic checks."""

    def __init__(self, template, key=None):
        self.template = template
        self.key = key

    def __repr__(self):
        return repr(self.template)


def match_lines(test, expected, actual, sink, prefix_only=False):
    """Compares line by line; returns {key: [numbers as printed]}. With
    prefix_only the actual lines may stop early (a run cut short)."""
    values = {}
    if prefix_only:
        test.assertLessEqual(len(actual), len(expected), "%s has more lines than a full run" % sink)
    for index, line in enumerate(expected):
        if prefix_only and index >= len(actual):
            break
        context = "\n".join("  %3d: %r" % (i, actual[i])
                            for i in range(max(0, index - 4), min(len(actual), index + 3)))
        if index >= len(actual):
            test.fail("%s ends after %d lines; expected next: %r\n%s" % (sink, index, line.template, context))
        regex, doubles = _pattern(line.template)
        found = regex.match(actual[index])
        if not found:
            test.fail("%s line %d: expected %r, got %r\n%s" % (sink, index, line.template, actual[index], context))
        for token, is_double in zip(found.groups(), doubles):
            if is_double:
                test.assertTrue(default_format(token), "%s line %d: %r is not in the default number format"
                                % (sink, index, token))
        if line.key is not None:
            values[line.key] = list(found.groups())
    if not prefix_only and len(actual) > len(expected):
        test.fail("%s has %d lines after the expected end, first: %r"
                  % (sink, len(actual) - len(expected), actual[len(expected)]))
    return values


def assert_close(test, actual, expected, what, rel=2e-5):
    """Printed numbers carry six significant digits; a few rounding steps
    together stay well inside rel."""
    if expected == 0:
        test.assertEqual(actual, 0, what)
        return
    test.assertLessEqual(abs(actual - expected), rel * abs(expected),
                         "%s: printed %r, expected %r" % (what, actual, expected))


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


def read_results(test, workspace):
    """The one results file a run left: (name, lines). Every line, the last
    one too, must be complete."""
    names = workspace.results_files()
    test.assertEqual(len(names), 1, "results files in %s: %s" % (workspace.cwd, names))
    with open(os.path.join(workspace.cwd, names[0]), "rb") as f:
        data = f.read()
    test.assertTrue(data.endswith(b"\n"), "results file ends inside a line: %r" % data[-80:])
    return names[0], split_lines(data.decode("utf-8", "replace"))


def split_lines(text):
    lines = text.split("\n")
    if lines[-1] == "":
        lines.pop()
    return lines



def check_results_name(test, name, node, run):
    pattern = re.escape(RESULTS_PREFIX + node) + \
        r" @ local date (\d{4}\.\d\d\.\d\d time \d\d\.\d\d\.\d\d)\.txt\Z"
    found = re.match(pattern, name)
    test.assertIsNotNone(found, "results file name %r" % name)
    stamp = time.mktime(time.strptime(found.group(1), "%Y.%m.%d time %H.%M.%S"))
    # Local time, taken while the job ran (whole seconds).
    test.assertTrue(int(run.started) - 1 <= stamp <= run.ended + 1,
                    "results file time %s outside the run" % found.group(1))


def writable_by_nobody(path):
    os.chown(path, 65534, 65534)
    os.chmod(path, stat.S_IRWXU)
