"""How a job of the program is started and stopped on this machine, in a
session of its own with one way to end it. Every tool (scripts/setup-and-run
through `python3 -m orvantic.launch`), the test bed and bench/ start theirs
here, so that they start, and stop, alike.
"""

import argparse
import collections
import contextlib
import os
import re
import signal
import subprocess
import sys

from orvantic import probes
from orvantic.probes import SCRIPTS, Unknown

CHECKOUT = os.path.dirname(SCRIPTS)
STOP_GRACE = 10  # seconds a job has to end once asked to, before it is killed


def chosen_mpi():
    """The MPI implementation ORVANTIC_MPI names, Open MPI by default."""
    return os.environ.get("ORVANTIC_MPI", "openmpi")


def launcher_of(mpi):
    """The implementation's launcher, named explicitly: never whichever
    alternative happens to be installed as plain mpiexec."""
    if mpi not in ("openmpi", "mpich"):
        raise Unknown("unknown MPI implementation %r (openmpi or mpich)" % mpi)
    return "/usr/bin/mpiexec." + mpi


def run_tree(mpi):
    """The build tree scripts/setup-and-run builds and runs from."""
    return os.path.join(CHECKOUT, "build-run-" + mpi)


def speaks_open_mpi(launcher):
    """Whether the launcher is Open MPI's, told by its own version line;
    Unknown where it gives none."""
    version = probes.mpi_version(launcher)
    return "Open MPI" in version or "OpenRTE" in version


def flags(open_mpi):
    """Open MPI refuses root and more processes than cores unless told;
    MPICH's Hydra needs neither flag."""
    if not open_mpi:
        return []
    return ["--oversubscribe"] + (["--allow-run-as-root"] if os.geteuid() == 0 else [])


def default_processes():
    """ORVANTIC_PROCESSES, else the root and one worker per usable core; as
    text, which the launcher or an argument parser checks."""
    return os.environ.get("ORVANTIC_PROCESSES") or str(probes.usable_processors() + 1)


def program_places(name, given=None):
    """Where a program of the build is looked for: as given, else installed
    beside the scripts, else in a checkout's build trees."""
    if given:
        return [given]
    places = (SCRIPTS, run_tree(chosen_mpi()), os.path.join(CHECKOUT, "build"))
    return [os.path.join(place, name) for place in places]


def found_program(places):
    """The first of the places that holds a program, or None."""
    return next((os.path.realpath(path) for path in places if os.path.isfile(path) and os.access(path, os.X_OK)), None)


def default_command():
    """The command scripts/setup-and-run starts. Only a checkout has that
    script: an installed copy is told the command of a run."""
    if not os.path.exists(os.path.join(SCRIPTS, "setup-and-run")):
        raise Unknown("no set-up script beside %s to tell the default command; give the command of one run "
                      "after --" % SCRIPTS)
    mpi = chosen_mpi()
    launcher = launcher_of(mpi)
    program = os.environ.get("ORVANTIC_PROGRAM") or os.path.join(run_tree(mpi), "orvantic-drives")
    if found_program([program]) is None:
        raise Unknown("no benchmark binary at %s: build it once with 'bash scripts/setup-and-run', set "
                      "ORVANTIC_PROGRAM, or give the whole command after --" % program)
    return [launcher] + flags(mpi == "openmpi") + ["-n", default_processes(), program]


class Stopped(KeyboardInterrupt):
    """A signal to end (SIGTERM, SIGHUP; its number the argument), taken
    like Ctrl-C: the job under way is stopped, the caller ends as on Ctrl-C."""


def stop_on_signals():
    """A job runs in a session of its own, where no signal to its caller
    reaches it: SIGTERM and SIGHUP to the caller, as Ctrl-C, stop it."""
    def stopped_by(signum, frame):
        raise Stopped(signum)

    for number in (signal.SIGTERM, signal.SIGHUP):
        signal.signal(number, stopped_by)


def start(argv, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE, **options):
    """A job in a session of its own: its process group ends whole, whatever outlives the launcher."""
    return subprocess.Popen(argv, stdin=stdin, stdout=stdout, stderr=stderr, start_new_session=True, **options)


def _collected(job, seconds, data=None):
    """The job's output and error stream once it has ended, and True; or
    what came so far and False once `seconds` have passed."""
    try:
        out, err = job.communicate(data, timeout=seconds)
        return out or b"", err or b"", True
    except subprocess.TimeoutExpired as late:
        return late.stdout or b"", late.stderr or b"", False


def stop(job):
    """Asks the job's session to end (the launcher tells its ranks), then kills it
    after STOP_GRACE; returns what it wrote and whether its streams closed."""
    for number in (signal.SIGTERM, signal.SIGKILL):
        with contextlib.suppress(ProcessLookupError):  # the whole session has ended
            os.killpg(job.pid, number)
        out, err, ended = _collected(job, STOP_GRACE)
        if ended:
            break
    return out, err, ended


# status: None where the job was stopped at its time limit; closed: whether its streams did.
Ended = collections.namedtuple("Ended", "status out err closed")


def run(argv, stdin=None, limit=None, **options):
    """Runs a job to its end, `stdin` (bytes) its whole standard input, none
    by default; stopped at `limit` seconds, where given, or on any
    exception meanwhile (Ctrl-C, Stopped), which is raised again. Unknown
    where it cannot be started (no such program)."""
    try:
        job = start(argv, stdin=subprocess.DEVNULL if stdin is None else subprocess.PIPE, **options)
    except OSError as error:
        raise Unknown("cannot start %s: %s" % (argv[0], error.strerror or error))
    try:
        out, err, ended = _collected(job, limit, stdin)
    except BaseException:
        stop(job)
        raise
    return Ended(job.returncode, out, err, True) if ended else Ended(None, *stop(job))


# What the set-up scripts in bash ask with an MPI implementation's name.
OF_MPI = {"launcher": (launcher_of, "the launcher's path"),
          "run-tree": (run_tree, "the tree scripts/setup-and-run builds in")}


def main(argv):
    """For the set-up scripts in bash, one answer a line."""
    parser = argparse.ArgumentParser(prog="python3 -m orvantic.launch", description=main.__doc__)
    asked = parser.add_subparsers(dest="asked", metavar="QUESTION", required=True)
    for name, (_, told) in OF_MPI.items():
        asked.add_parser(name, help=told).add_argument("mpi", metavar="MPI", help="openmpi or mpich")
    asked.add_parser("command", help="the default command, one word a line")
    args = parser.parse_args(argv)
    try:
        words = [OF_MPI[args.asked][0](args.mpi)] if args.asked in OF_MPI else default_command()
    except Unknown as why:
        sys.exit("orvantic.launch: %s" % why)
    print("\n".join(words))
    return 0


# The words of a command found by what they are: its MPI launcher, and the
# benchmark program, where the launcher's own options end.
WORDS = {"MPI launcher": lambda word: re.match(r"(mpiexec|mpirun|srun)(\.|$)", os.path.basename(word)),
         "orvantic-drives program": lambda word: os.path.basename(word).startswith("orvantic-drives")
         and os.path.isfile(word)}


def position(command, what):
    """Where in the command the first word that is `what` (of WORDS) stands."""
    for index, word in enumerate(command):
        if WORDS[what](word):
            return index
    raise Unknown("no %s in the command" % what)


def program_in(command):
    return os.path.realpath(command[position(command, "orvantic-drives program")])


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
