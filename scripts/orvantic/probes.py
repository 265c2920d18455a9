"""What is read of this node's set-up for a run's record: each probe
returns a field's value, or raises Unknown saying why it cannot be read
here."""

import os
import re
import shutil
import subprocess

# The scripts beside this package: in a checkout with the set-up script,
# installed with the build's record.
SCRIPTS = os.path.dirname(os.path.dirname(os.path.realpath(__file__)))
ASK_LIMIT = 30  # seconds a tool asked for its version may take


class Unknown(Exception):
    """A field that cannot be read here, and why."""


def read_text(path):
    try:
        with open(path, encoding="utf-8", errors="replace") as handle:
            return handle.read()
    except OSError as error:
        raise Unknown("cannot read %s: %s" % (path, error.strerror or error))


def ask(*command):
    """A tool's output; Unknown where it is missing or fails."""
    if shutil.which(command[0]) is None:
        raise Unknown("%s is not installed" % command[0])
    try:
        done = subprocess.run(command, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                              stderr=subprocess.STDOUT, text=True, errors="replace", timeout=ASK_LIMIT)
    except (OSError, subprocess.TimeoutExpired) as error:
        raise Unknown("%s: %s" % (command[0], error))
    if done.returncode != 0:
        raise Unknown("%s ended with status %d" % (" ".join(command), done.returncode))
    return done.stdout


def usable_processors():
    """The processors this process may run on; all of them where the
    system cannot tell (macOS has no sched_getaffinity)."""
    return len(os.sched_getaffinity(0)) if hasattr(os, "sched_getaffinity") else os.cpu_count()


def mpi_version(launcher):
    """The launcher's own words on its version: Open MPI's first line, or
    MPICH's Hydra heading with its first line that holds a number."""
    lines = [line.strip() for line in ask(launcher, "--version").splitlines() if line.strip()]
    if not lines:
        raise Unknown("the launcher printed no version")
    if re.search(r"\d", lines[0]):
        return lines[0]
    return " ".join([lines[0].rstrip(":")] + [line for line in lines if re.search(r"\d", line)][:1])
