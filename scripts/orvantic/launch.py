"""How a job of the program is started on this machine: the launcher of an
MPI implementation, the flags it needs, the number of processes and where
the program is found. scripts/setup-and-run (through `python3 -m
orvantic.launch`), the default command of run-environment and repeat-runs,
project-duration's short run and the per-node launch of jobs all start
theirs here, so that they start alike.
"""

import os
import re
import sys

from orvantic import probes
from orvantic.probes import SCRIPTS, Unknown

IMPLEMENTATIONS = ("openmpi", "mpich")
CHECKOUT = os.path.dirname(SCRIPTS)


def chosen_mpi():
    """The MPI implementation ORVANTIC_MPI names, Open MPI by default."""
    return os.environ.get("ORVANTIC_MPI", "openmpi")


def launcher_of(mpi):
    """The implementation's launcher, named explicitly: never whichever
    alternative happens to be installed as plain mpiexec."""
    if mpi not in IMPLEMENTATIONS:
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
    for path in places:
        if os.path.isfile(path) and os.access(path, os.X_OK):
            return os.path.realpath(path)
    return None


def default_command():
    """The command scripts/setup-and-run starts: the launcher of
    ORVANTIC_MPI with its flags, the default number of processes and the
    binary it built, or the one ORVANTIC_PROGRAM names. Only a checkout has
    that script: an installed copy is told the command of a run."""
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


# What the set-up scripts in bash ask, with an MPI implementation's name.
OF_MPI = {"launcher": launcher_of, "run-tree": run_tree}


def main(argv):
    """For the set-up scripts in bash: `launcher MPI` prints the launcher's
    path; `run-tree MPI` the tree scripts/setup-and-run builds in; `command`
    the default command, one word a line."""
    if argv != ["command"] and not (len(argv) == 2 and argv[0] in OF_MPI):
        print("usage: python3 -m orvantic.launch (launcher openmpi|mpich | run-tree openmpi|mpich | command)",
              file=sys.stderr)
        return 2
    try:
        words = [OF_MPI[argv[0]](argv[1])] if argv[0] in OF_MPI else default_command()
    except Unknown as why:
        print("orvantic.launch: %s" % why, file=sys.stderr)
        return 1
    print("\n".join(words))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))


def launcher_at(command):
    """Where in the command its MPI launcher stands."""
    for index, word in enumerate(command):
        if re.match(r"(mpiexec|mpirun|srun)(\.|$)", os.path.basename(word)):
            return index
    raise Unknown("no MPI launcher in the command")


def launcher_in(command):
    return command[launcher_at(command)]


def program_at(command):
    """Where in the command the benchmark program stands: the launcher's
    own options end there."""
    for index, word in enumerate(command):
        if os.path.basename(word).startswith("orvantic-drives") and os.path.isfile(word):
            return index
    raise Unknown("no orvantic-drives program in the command")


def program_in(command):
    return os.path.realpath(command[program_at(command)])
