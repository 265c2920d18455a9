"""A run's environment record: what shapes its figures besides the drive,
field by field (read by probes), kept as text, one "field: value" line per
field in the order of FIELDS. repeat-runs writes one beside its summary,
run-environment prints one (or one per node of a job, side by side: see
nodes), and compare sets two side by side. None of it goes into a results
file.
"""

import datetime
import functools
import os
import platform
import socket

from orvantic import launch, probes
from orvantic.probes import Unknown

SUFFIX = ".environment.txt"


def _of_program(probe):
    return lambda command: probe(launch.program_in(command))


def _of_build(probe):
    return _of_program(lambda program: probe(read(probes.build_record(program))))


# (field, reader, what it reads: the directory, the command or nothing)
FIELDS = [
    ("recorded", lambda: datetime.datetime.now().astimezone().isoformat(timespec="seconds"), None),
    ("host", socket.gethostname, None),
    ("kernel", lambda: "%s %s" % (platform.system(), platform.release()), None),
    ("directory", os.path.realpath, "directory"),
    ("file system", probes.file_system, "directory"),
    ("mount options", probes.mount_options, "directory"),
    ("ext4 journal", probes.journal, "directory"),
    ("device model", functools.partial(probes.disk_names, "model", "model"), "directory"),
    ("rotational", probes.rotational, "directory"),
    ("scheduler", functools.partial(probes.disk_names, "sched", "scheduler"), "directory"),
    ("free space", probes.free_space, "directory"),
    ("processors", probes.processors, None),
    ("memory", probes.memory, None),
    ("load at start", probes.load, None),
    ("load at end", lambda: "not taken yet", None),
    ("MPI launcher", lambda command: probes.mpi_version(command[launch.position(command, "MPI launcher")]), "command"),
    ("program", launch.program_in, "command"),
    ("program version", _of_build(probes.program_version), "command"),
    ("compiler", _of_build(probes.compiler), "command"),
    ("C++ library", _of_program(functools.partial(probes.linked, "C++ library", r"libstdc\+\+|libc\+\+")), "command"),
    ("MPI library", _of_program(functools.partial(probes.linked, "MPI library", r"libmpi")), "command"),
]


def _field(read, *args):
    try:
        return read(*args)
    except Unknown as error:
        return "unknown (%s)" % error
    except (OSError, ValueError, KeyError, IndexError) as error:
        return "unknown (%s: %s)" % (type(error).__name__, error)


def record(directory, command):
    """The environment of runs of `command` (a list of words, or an
    Unknown telling why there is none) in `directory`, as an ordered dict."""
    given = {"directory": directory, "command": command}
    fields = {}
    for name, read, argument in FIELDS:
        if argument == "command" and isinstance(command, Unknown):
            # Why there is no command is told once, with the program.
            fields[name] = "unknown (%s)" % (command if name == "program" else "no command of a run")
        elif argument == "directory" and not os.path.isdir(directory):
            # A node of a job may lack the directory the others have; the
            # mount above it would tell of another file system.
            fields[name] = "unknown (no directory %s here)" % directory
        else:
            fields[name] = _field(read, *([given[argument]] if argument else []))
    return fields


def ended(fields):
    """The record once the runs are over: the load then."""
    return dict(fields, **{"load at end": _field(probes.load)})


def text(fields):
    return "".join("%s: %s\n" % item for item in fields.items())


def parse(data):
    """A record's fields from its text; lines without a field are skipped."""
    return dict(line.split(": ", 1) for line in data.splitlines() if ": " in line)


def write(path, fields):
    with open(path, "w", encoding="utf-8") as handle:
        handle.write(text(fields))


def read(path):
    return parse(probes.read_text(path))


def beside(csv_path):
    """Where the record of a series goes: beside its summary, named after it."""
    return os.path.splitext(csv_path)[0] + SUFFIX


def record_file(directory):
    """The newest record in a directory, None where there is none."""
    found = [os.path.join(directory, name) for name in os.listdir(directory) if name.endswith(SUFFIX)]
    return max(found, key=os.path.getmtime) if found else None
