"""Launching orvantic-drives under the MPI launcher: throw-away workspaces
with a private copy of the binary, launcher commands that suit Open MPI and
MPICH alike, each rank's console apart, an unprivileged user, and private
mounts to run in: tmpfs, or xfs, btrfs and ext4 on loop devices."""

import functools
import glob
import os
import shutil
import signal
import socket
import stat
import subprocess
import sys
import tempfile
import time
import unittest

from testbed import mpi_leftovers

# The report's grammar and the rest of the scripts' package (orvantic) live
# with the scripts that read results files; the test modules import it from
# there, through this path.
# The folder of the test bed's package, which a child Python finds it from.
TESTS = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SCRIPTS = os.path.realpath(os.path.join(TESTS, os.pardir, "scripts"))
# Keep the checkout clean: no byte-code cache of the tests, nor of the
# scripts they run.
sys.dont_write_bytecode = True
os.environ["PYTHONDONTWRITEBYTECODE"] = "1"
sys.path.insert(0, SCRIPTS)
from orvantic import launch, measured  # noqa: E402

MPIEXEC = os.environ.get("ORVANTIC_MPIEXEC", "mpiexec")
SHIPPED = os.environ.get("ORVANTIC_BINARY")
SMALL = os.environ.get("ORVANTIC_SMALL_BINARY")
FUSE = os.environ.get("ORVANTIC_FUSE_BINARY")  # the small counts with fewer single-byte accesses

HANG_LIMIT = 300  # seconds; only there to turn a hang into a failure
# CTest kills a test at its time limit outright: what the test started (a
# simulated cluster's daemons, a job's ranks) would run on, and nothing would
# say where it waited. This long before that limit, which CTest passes on in
# ORVANTIC_TEST_TIMEOUT, the test fails instead, with the traceback of its
# wait, and its clean-ups still run.
CLEAN_UP_MARGIN = 60


class StillRunning(Exception):
    """A test that came near the suite's time limit."""


def _fail_before_the_suite_limit():
    limit = int(os.environ.get("ORVANTIC_TEST_TIMEOUT") or 0)
    if limit <= CLEAN_UP_MARGIN:
        return

    def fail(signum, frame):
        raise StillRunning("still running %d s after its start, %d s before the suite's limit; the traceback "
                           "shows what it waited for" % (limit - CLEAN_UP_MARGIN, CLEAN_UP_MARGIN))
    signal.signal(signal.SIGALRM, fail)
    signal.alarm(limit - CLEAN_UP_MARGIN)


_fail_before_the_suite_limit()

# Jobs run in a zone half an hour off any whole-hour one, so a results-file
# name made from UTC instead of local time cannot pass for local time.
RUN_ZONE = "ORV-05:30"
RUN_ZONE_EAST_OF_UTC = 5 * 3600 + 30 * 60

# mkfs flags of the file systems a run directory can be made of; ext4 with a
# journal, as systems run it.
MKFS_FLAGS = {"xfs": ["-q"], "btrfs": ["-q"], "ext4": ["-q", "-j"]}

UNPRIVILEGED = ["setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups"]
NOBODY_UID = 65534


# The shipped build's counts live with the scripts, which project full runs
# from short ones; the test build's are the suite's own.
SMALL_COUNTS = measured.Counts(256, 65536)
FUSE_COUNTS = measured.Counts(256, 8192)
SHIPPED_COUNTS = measured.SHIPPED_COUNTS


def counts_of(binary):
    """The work counts the given build of the program was compiled with."""
    return {SHIPPED: SHIPPED_COUNTS, SMALL: SMALL_COUNTS, FUSE: FUSE_COUNTS}[binary]


def launcher_env(**extra):
    env = dict(os.environ, OMPI_ALLOW_RUN_AS_ROOT="1", OMPI_ALLOW_RUN_AS_ROOT_CONFIRM="1", TZ=RUN_ZONE)
    # On an AddressSanitizer build: the MPI libraries keep their own
    # allocations until exit by design, which is not ours to report.
    env.setdefault("ASAN_OPTIONS", "detect_leaks=0")
    env.update(extra)
    return env


@functools.lru_cache(maxsize=None)
def open_mpi():
    """Open MPI's launcher, or else MPICH's (Hydra): their flags differ."""
    return launch.speaks_open_mpi(MPIEXEC)


def host_name():
    return socket.gethostname()


def require_root(test, *tools):
    if os.geteuid() != 0:
        test.skipTest("needs root (mounts, other users, host names)")
    for tool in tools:
        if shutil.which(tool) is None:
            test.skipTest("%s is not installed" % tool)


def writable_by_nobody(path):
    os.chown(path, NOBODY_UID, NOBODY_UID)
    os.chmod(path, stat.S_IRWXU)


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


def read_text(path):
    """A file's text; empty while the file does not exist yet."""
    try:
        with open(path) as handle:
            return handle.read()
    except FileNotFoundError:
        return ""


def split_lines(text):
    lines = text.split("\n")
    if lines[-1] == "":
        lines.pop()
    return lines


class Run:
    """A finished job. zone_east: seconds east of UTC of the job's local
    time, None for this process's own zone."""

    def __init__(self, returncode, console, started, ended, workspace, stderr="", zone_east=None):
        self.returncode = returncode
        self.stderr = stderr
        self.lines = split_lines(console)
        self.whole_lines = console.endswith("\n")
        self.started = started
        self.ended = ended
        self.workspace = workspace
        self.zone_east = zone_east


# Each rank's standard output in a file of its own, written by the rank
# itself rather than forwarded by the launcher, so that nothing in flight is
# lost when the launcher is killed, and the same under either launcher.
_OWN_CONSOLE = 'exec "$@" > "$0/rank.${OMPI_COMM_WORLD_RANK:-$PMI_RANK}"'

# Run directories become fresh mounts inside a private mount namespace, so
# nothing stays mounted whatever happens to the test: tmpfs when no image is
# given ("-"), else the image through a loop device, which the kernel frees
# with the mount. What the job left in them is copied out, with each mount as
# the kernel had it and the jbd2 journals then running, before the namespace,
# and the mounts with it, goes away.
_ON_MOUNTS = r'''
left=$1
shift
mounts=
while [ "$1" != -- ]; do
  dir=$1 image=$2 size=$3 fill=$4
  shift 4
  mkdir -p "$dir" || exit 97
  if [ "$image" = - ]; then
    mount -t tmpfs -o "size=$size,mode=755" orvantic-faults "$dir" || exit 97
  else
    mount -o loop "$image" "$dir" || exit 97
  fi
  if [ "$fill" -gt 0 ]; then head -c "$fill" /dev/zero > "$dir/filler" || exit 97; fi
  mounts="$mounts $dir"
done
shift
"$@"
status=$?
for dir in $mounts; do
  name=${dir##*/}
  findmnt -n -o FSTYPE,SOURCE -M "$dir" > "$left/$name.mount" || exit 97
  ls /proc/fs/jbd2 >> "$left/$name.mount" 2> /dev/null
  mkdir "$left/$name" && cp -a "$dir"/. "$left/$name"/ || exit 97
done
exit $status
'''


def mounted_file_system(left, directory):
    """(type, whether a jbd2 journal served it) of the file system that
    on_mounts made of directory, as the kernel had it mounted."""
    with open(os.path.join(left, os.path.basename(directory) + ".mount")) as record:
        fstype, source, *journals = record.read().split()
    return fstype, any(journal.startswith(os.path.basename(source) + "-") for journal in journals)


def free_loop_devices(image, within=10):
    """Waits for the loop devices on image to be freed by the end of their
    mounts, which comes with the last process of the mount namespace (a job
    cut short leaves its ranks dying); detaches those that stay. Returns
    losetup's list of them, empty if none stayed."""
    deadline = time.time() + within
    while True:
        attached = subprocess.run(["losetup", "-j", image], stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                  text=True, timeout=60).stdout
        if not attached or time.time() > deadline:
            break
        time.sleep(0.1)
    for line in attached.splitlines():
        subprocess.run(["losetup", "-d", line.split(":", 1)[0]], timeout=60)
    return attached


class Workspace:
    """A fresh directory to run in, a private copy of the binary (so our own
    processes can be told apart from anyone else's) and places for the
    ranks' consoles."""

    def __init__(self, test, binary):
        if not binary:
            test.fail("ORVANTIC_BINARY / ORVANTIC_SMALL_BINARY not set")
        self.test = test
        self.root = os.path.realpath(tempfile.mkdtemp(prefix="orvantic-e2e-"))
        self.cwd = os.path.join(self.root, "run")
        self.out = os.path.join(self.root, "out")
        self.consoles = os.path.join(self.root, "consoles")
        self.split_output = False
        self.images = []
        os.mkdir(self.cwd)
        os.mkdir(os.path.join(self.root, "bin"))
        self.exe = os.path.join(self.root, "bin", os.path.basename(binary))
        shutil.copy2(binary, self.exe)
        # A job a test kills leaves the launcher's files of this host behind.
        self.mpi_files = mpi_leftovers.Snapshot([host_name()], os.environ.get("TMPDIR") or "/tmp")
        test.addCleanup(self.close)

    def close(self):
        leftovers = benchmark_pids(self.exe)
        for pid in leftovers:
            try:
                os.kill(pid, signal.SIGKILL)
            except OSError:
                pass
        attached = "".join(free_loop_devices(image) for image in self.images)
        shutil.rmtree(self.root, ignore_errors=True)
        if leftovers:
            self.test.fail("benchmark processes left running: %s" % leftovers)
        if attached:
            self.test.fail("loop devices left attached: %s" % attached)
        not_removed = self.mpi_files.remove_new()
        if not_removed:
            self.test.fail("the launcher's files of this host not removed: %s" % not_removed)

    @classmethod
    def for_nobody(cls, test, binary):
        """A workspace for jobs run as nobody (root writes through permission
        bits), and their launcher environment: a home and a scratch place of
        their own, since the launcher keeps session files there."""
        require_root(test, "setpriv")
        ws = cls(test, binary)
        for path in (ws.root, os.path.dirname(ws.exe), ws.exe):
            os.chmod(path, 0o755)  # nobody must reach the binary
        home = os.path.join(ws.root, "home")
        os.mkdir(home)
        writable_by_nobody(home)
        return ws, launcher_env(HOME=home, TMPDIR=home)

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
        cmd = [MPIEXEC] + launch.flags(open_mpi())
        if output:
            self.split_output = True
            os.makedirs(self.out, exist_ok=True)  # MPICH's launcher makes no directory
            if open_mpi():
                cmd += ["--output-filename", self.out]
            else:
                cmd += ["-outfile-pattern", os.path.join(self.out, "stdout.%r"),
                        "-errfile-pattern", os.path.join(self.out, "stderr.%r")]
        return cmd

    def job(self, *apps, output=False):
        """Launcher command for app contexts given as (process count, argv);
        argv may begin with launcher options of its own context (-wdir DIR)."""
        cmd = self.launcher(output)
        for index, (count, argv) in enumerate(apps):
            if index:
                cmd.append(":")
            cmd += ["-n", str(count)] + list(argv)
        return cmd

    def mpiexec(self, nprocs, output=False):
        return self.job((nprocs, []), output=output)

    def own_console(self, argv, for_nobody=False):
        """argv, its standard output going to a file of the rank's own in
        self.consoles (see console_of)."""
        if not os.path.isdir(self.consoles):
            os.mkdir(self.consoles)
            if for_nobody:
                writable_by_nobody(self.consoles)
        return ["sh", "-c", _OWN_CONSOLE, self.consoles] + list(argv)

    def wait_for_line(self, job, line, rank=0):
        """Waits until a rank started through own_console has written the
        whole line `line`, while its job runs."""
        path = os.path.join(self.consoles, "rank.%d" % rank)
        deadline = time.time() + HANG_LIMIT
        while line not in read_text(path).split("\n"):
            self.test.assertIsNone(job.poll(), "the job ended before rank %d wrote %r" % (rank, line))
            self.test.assertLess(time.time(), deadline, "rank %d never wrote %r" % (rank, line))
            time.sleep(0.05)

    def console_of(self, rank):
        """What a rank started through own_console wrote: its lines, the last
        one whole."""
        path = os.path.join(self.consoles, "rank.%d" % rank)
        self.test.assertTrue(os.path.exists(path), "no console file of rank %d" % rank)
        with open(path, "rb") as f:
            data = f.read()
        self.test.assertTrue(data == b"" or data.endswith(b"\n"), "console of rank %d ends inside a line" % rank)
        return split_lines(data.decode("utf-8", "replace"))

    def on_tmpfs(self, *mounts):
        """on_mounts for tmpfs mounts alone, given as (directory, size in
        bytes, bytes already taken by a file named filler)."""
        return self.on_mounts(*[(directory, "tmpfs", size, fill) for directory, size, fill in mounts])

    def on_mounts(self, *mounts):
        """Prefix for run that turns each of `mounts`, given as (directory,
        file-system type, size in bytes, bytes already taken by a file named
        filler), into a file system of its own: tmpfs, or one of MKFS_FLAGS
        made on a sparse image beside the directory. Returns the prefix and
        where the contents of directory D are found afterwards:
        os.path.join(left, basename(D)); mounted_file_system tells what D
        was."""
        left = os.path.join(self.root, "left")
        os.mkdir(left)
        args = []
        for directory, fstype, size, fill in mounts:
            if " " in directory:
                raise ValueError("mount points are kept in a blank-separated list")
            image = "-" if fstype == "tmpfs" else self.make_file_system(fstype, directory + ".img", size)
            args += [directory, image, str(size), str(fill)]
        return ["unshare", "-m", "sh", "-c", _ON_MOUNTS, "orvantic-mounts", left] + args + ["--"], left

    def make_file_system(self, fstype, image, size):
        """A fresh file system of fstype on a sparse image of size bytes,
        to be mounted through a loop device; skips where it cannot be."""
        mkfs = "mkfs." + fstype
        require_root(self.test, "losetup", mkfs)
        if subprocess.run(["losetup", "--find"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                          timeout=60).returncode != 0:
            self.test.skipTest("no loop device can be set up")
        with open(image, "wb") as handle:
            handle.truncate(size)
        self.images.append(image)
        made = subprocess.run([mkfs] + MKFS_FLAGS[fstype] + [image], stdout=subprocess.DEVNULL,
                              stderr=subprocess.PIPE, text=True, timeout=60)
        self.test.assertEqual(made.returncode, 0, "%s failed:\n%s" % (mkfs, made.stderr))
        return image

    def start(self, cmd, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
              env=None, prefix=()):
        proc = launch.start(list(prefix) + cmd, cwd=self.cwd, stdin=stdin, stdout=stdout, stderr=stderr,
                            env=env or launcher_env())
        self.test.addCleanup(self.stop, proc)
        return proc

    def hold(self, script, *args):
        """A process of its own that runs `script` (Python that imports sys
        and takes the files its arguments name) and keeps what it took until
        the test ends."""
        holder = subprocess.Popen([sys.executable, "-c", script + "print('held', flush=True)\nsys.stdin.read()\n"]
                                  + list(args), stdin=subprocess.PIPE, stdout=subprocess.PIPE, start_new_session=True)
        self.test.addCleanup(self.stop, holder)
        self.test.assertEqual(holder.stdout.readline(), b"held\n")
        return holder

    @staticmethod
    def stop(proc):
        """Ends a launcher that a failed test left behind (its own session)."""
        if proc.poll() is None:
            launch.stop(proc)
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
            out, _, _ = launch.stop(proc)
            self.test.fail("job still running after %d s\n%s\nconsole tail:\n%s"
                           % (timeout, state, "\n".join(split_lines(out.decode("utf-8", "replace"))[-12:])))
        ended = time.time()
        console = out.decode("utf-8", "replace")
        if self.split_output and not open_mpi():
            # MPICH's launcher writes the ranks' output to the files only.
            console = self.rank_output(0)
        return Run(proc.returncode, console, started, ended, self, err.decode("utf-8", "replace"),
                   zone_east=RUN_ZONE_EAST_OF_UTC)

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

    def check_workers_silent(self, size, streams=("stdout", "stderr")):
        for rank in range(1, size):
            for stream in streams:
                self.test.assertEqual(self.rank_output(rank, stream), "",
                                      "rank %d wrote to its %s" % (rank, stream))

    def files(self):
        return sorted(os.listdir(self.cwd))

    def subdir(self, name):
        """A fresh directory of its own beside the run directory."""
        path = os.path.join(self.root, name)
        os.makedirs(path)
        return path

    def wait_until_gone(self, within=10):
        """Waits for our benchmark processes to end; fails if any stay."""
        deadline = time.time() + within
        while benchmark_pids(self.exe) and time.time() < deadline:
            time.sleep(0.2)
        self.test.assertEqual(benchmark_pids(self.exe), [], "benchmark processes left behind")


def module_workspace(binary):
    """A workspace for a whole test module, made in setUpModule and removed
    when the module's tests are done."""
    owner = unittest.TestCase()
    unittest.addModuleCleanup(owner.doCleanups)
    return Workspace(owner, binary)


def run_script(name, *args, interpreter=None, env=None, stdout=subprocess.PIPE):
    """Runs one of scripts/ and returns the finished process (text output);
    env: its whole environment, where not this process's."""
    command = ([interpreter] if interpreter else []) + [os.path.join(SCRIPTS, name)] + list(args)
    return subprocess.run(command, stdout=stdout, stderr=subprocess.PIPE, text=True, env=env,
                          timeout=HANG_LIMIT, check=False)


def into_closed_pipe(run, *args, **options):
    """run(*args, **options), run_script or one that passes its stdout on to
    it, with the output a pipe whose reader is gone before anything is
    written, as head leaves it once it has the lines it wants."""
    read_end, write_end = os.pipe()
    os.close(read_end)
    try:
        return run(*args, stdout=write_end, **options)
    finally:
        os.close(write_end)


def without_sched_getaffinity(**extra):
    """An environment whose Python has no os.sched_getaffinity, as macOS's:
    a sitecustomize module of the tests' removes it as Python starts."""
    return dict(os.environ, PYTHONPATH=os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                                    "without_sched_getaffinity"), **extra)
