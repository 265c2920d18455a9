"""Real results files for the script tests: the small build of the benchmark
under the real MPI launcher, each run in a fresh directory of its own."""

import glob
import os
import shutil
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
SCRIPTS = os.path.join(ROOT, "scripts")
sys.dont_write_bytecode = True  # keep the checkout clean
sys.path.insert(0, SCRIPTS)

# Only a hung launcher should ever get near this.
RUN_TIMEOUT_SECONDS = 600


def _required_env(name):
    value = os.environ.get(name)
    if not value:
        raise RuntimeError(
            "%s is not set: run these tests through ctest, or set ORVANTIC_MPIEXEC and "
            "ORVANTIC_SMALL_BINARY by hand" % name
        )
    return value


class Runs:
    """Makes results files and removes everything they left on tear-down."""

    def __init__(self):
        self.mpiexec = _required_env("ORVANTIC_MPIEXEC")
        self.binary = _required_env("ORVANTIC_SMALL_BINARY")
        self.flags = self.launcher_flags()
        self.root = tempfile.mkdtemp(prefix="orvantic-scripts-")

    def close(self):
        shutil.rmtree(self.root, ignore_errors=True)

    def launcher_flags(self):
        """Open MPI refuses more processes than cores unless told; MPICH's
        launcher needs no flag and knows none of Open MPI's."""
        version = subprocess.run([self.mpiexec, "--version"], stdout=subprocess.PIPE,
                                 stderr=subprocess.STDOUT, timeout=60, check=False).stdout
        return ["--oversubscribe"] if b"Open MPI" in version or b"OpenRTE" in version else []

    def workdir(self, name):
        path = os.path.join(self.root, name)
        os.makedirs(path)
        return path

    def results_file(self, processes, name, prepare=None):
        """Runs the benchmark with `processes` processes in a directory of
        its own and returns the one results file it wrote there. `prepare`,
        given the directory, may plant files before the run."""
        directory = self.workdir(name)
        if prepare:
            prepare(directory)
        env = dict(os.environ, OMPI_ALLOW_RUN_AS_ROOT="1", OMPI_ALLOW_RUN_AS_ROOT_CONFIRM="1")
        done = subprocess.run(
            [self.mpiexec] + self.flags + ["-n", str(processes), self.binary],
            cwd=directory, env=env, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
            stderr=subprocess.STDOUT, timeout=RUN_TIMEOUT_SECONDS, check=False,
        )
        if done.returncode != 0:
            raise RuntimeError("the benchmark run failed (%d):\n%s"
                               % (done.returncode, done.stdout.decode(errors="replace")))
        with open(os.path.join(directory, "console.txt"), "wb") as console:
            console.write(done.stdout)
        found = glob.glob(os.path.join(directory, "results_drives_windows_clusters_mac_mx @ *"))
        if len(found) != 1:
            raise RuntimeError("expected one results file in %s, found %r" % (directory, found))
        return found[0]


def run_script(name, *args, interpreter=None):
    """Runs one of scripts/ and returns the finished process (text output)."""
    script = os.path.join(SCRIPTS, name)
    command = ([interpreter] if interpreter else []) + [script] + list(args)
    return subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                          timeout=RUN_TIMEOUT_SECONDS, check=False)


def file_lines(path):
    with open(path, encoding="utf-8") as handle:
        return handle.read().split("\n")[:-1]


def copy_as(source, directory, name, transform=None):
    """A copy of a results file under another name, its lines passed through
    `transform` (a function of the list of lines) when one is given."""
    lines = file_lines(source)
    if transform:
        lines = transform(lines)
    path = os.path.join(directory, name)
    with open(path, "w", encoding="utf-8", newline="") as handle:
        handle.write("".join(line + "\n" for line in lines))
    return path
