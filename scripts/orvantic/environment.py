"""What shapes a run's figures besides the drive: the kernel, the file
system and block device under the run directory, free space, processors,
memory and load, the MPI library, and the program's build. Each field is
read where it can be; one that cannot says "unknown" and why, and never
stops the others.

A record is kept as text, one "field: value" line per field, in the order
of FIELDS. repeat-runs writes one beside its summary, run-environment
prints one (or one per node of a job, side by side: see jobs), and compare
sets two side by side. None of it goes into a results file.
"""

import datetime
import os
import platform
import re
import socket

from orvantic import launch
from orvantic.probes import SCRIPTS, Unknown, ask, read_text as _read, usable_processors, mpi_version
from orvantic.terminal import shown

BUILD_INFO = "orvantic-drives.build-info"
SUFFIX = ".environment.txt"
MIB, GIB = 1 << 20, 1 << 30


# ---- the run directory's file system and device -------------------------------


class Mount:
    """The mount that holds a directory, as /proc/self/mountinfo has it."""

    def __init__(self, point, device, options, fstype, source, super_options):
        self.point = point
        self.device = device  # major:minor
        self.options = options
        self.fstype = fstype
        self.source = source
        self.super_options = super_options


def _unescaped(field):
    """mountinfo writes blanks and the like in a path as octal escapes."""
    return re.sub(r"\\([0-7]{3})", lambda m: chr(int(m.group(1), 8)), field)


def _holds(point, path):
    return path == point or path.startswith(point.rstrip("/") + "/")


def mount_of(directory):
    """The innermost mount whose point holds the directory; of several at
    one point, the last, which hides the others."""
    path = os.path.realpath(directory)
    found = None
    for line in _read("/proc/self/mountinfo").splitlines():
        before, after = line.split(" - ", 1)
        fields, tail = before.split(" "), after.split(" ")
        point = _unescaped(fields[4])
        if _holds(point, path) and (found is None or len(point) >= len(found.point)):
            found = Mount(point, fields[2], fields[5], tail[0], _unescaped(tail[1]), tail[2])
    if found is None:
        raise Unknown("no mount holds %s" % path)
    return found


def disk_of(mount):
    """The block device's directory in /sys: the whole disk, where the file
    system lies on a partition of it."""
    link = "/sys/dev/block/" + mount.device
    if not os.path.exists(link):
        raise Unknown("%s has no block device" % mount.fstype)
    device = os.path.realpath(link)
    return os.path.dirname(device) if os.path.exists(os.path.join(device, "partition")) else device


def _ext4_name(mount):
    """The name ext4 gives the file system in /proc/fs/ext4 and /sys/fs/ext4."""
    if mount.fstype != "ext4":
        raise Unknown("not ext4 but %s" % mount.fstype)
    return os.path.basename(os.path.realpath(mount.source))


def journal(mount):
    """Whether an ext4 file system keeps a journal, and in which data mode:
    the kernel tells its journal thread and mount options; dumpe2fs the
    features, where the device may be read."""
    name = _ext4_name(mount)
    try:
        task = _read("/sys/fs/ext4/%s/journal_task" % name).strip()
    except Unknown:
        features = re.search(r"^Filesystem features:(.*)$", ask("dumpe2fs", "-h", mount.source), re.M)
        if not features:
            raise Unknown("dumpe2fs names no features of %s" % mount.source)
        return "yes" if "has_journal" in features.group(1).split() else "no"
    if task == "<none>":
        return "no"
    mode = re.search(r"^data=(\w+)$", _read("/proc/fs/ext4/%s/options" % name), re.M)
    return "yes, data=%s" % mode.group(1) if mode else "yes"


def device_model(mount):
    model = os.path.join(disk_of(mount), "device", "model")
    if not os.path.exists(model):
        raise Unknown("%s names no model in /sys" % os.path.basename(disk_of(mount)))
    return _read(model).strip()


def rotational(mount):
    flag = _read(os.path.join(disk_of(mount), "queue", "rotational")).strip()
    return {"0": "no", "1": "yes"}.get(flag, flag) + " (as the kernel reports it)"


def scheduler(mount):
    text = _read(os.path.join(disk_of(mount), "queue", "scheduler"))
    chosen = re.search(r"\[(.*?)\]", text)
    return chosen.group(1) if chosen else text.strip()


def _size(amount):
    return "%.1f GiB" % (amount / GIB) if amount >= GIB else "%.1f MiB" % (amount / MIB)


def free_space(directory):
    info = os.statvfs(directory)
    return "%s free of %s" % (_size(info.f_bavail * info.f_frsize), _size(info.f_blocks * info.f_frsize))


# ---- the machine -------------------------------------------------------------------


def processors():
    model = re.search(r"^model name\s*:\s*(.*)$", _read("/proc/cpuinfo"), re.M)
    return "%d x %s, %d usable here" % (os.cpu_count(), model.group(1) if model else "model not named",
                                        usable_processors())


def memory():
    info = dict(re.findall(r"^(\w+):\s*(\d+) kB$", _read("/proc/meminfo"), re.M))
    return "%s, %s available" % (_size(int(info["MemTotal"]) * 1024), _size(int(info["MemAvailable"]) * 1024))


def load():
    return "%.2f %.2f %.2f (over 1, 5 and 15 minutes)" % os.getloadavg()


def build_info(program):
    """The record CMake writes beside the program in its build directory,
    and installs beside the scripts."""
    for place in (os.path.dirname(program), SCRIPTS):
        path = os.path.join(place, BUILD_INFO)
        if os.path.exists(path):
            return parse(_read(path))
    raise Unknown("no %s beside %s" % (BUILD_INFO, program))


def program_version(command):
    info = build_info(launch.program_in(command))
    return "%s, commit %s" % (info.get("version", "?"), info.get("commit", "?"))


def compiler(command):
    info = build_info(launch.program_in(command))
    return "%s, %s build" % (info.get("compiler", "?"), info.get("build type") or "no named")


def linked(name, pattern):
    """The file behind a library the program loads, which names its version."""

    def read(command):
        for line in ask("ldd", launch.program_in(command)).splitlines():
            found = re.match(r"\s*(?:%s)\S* => (\S+)" % pattern, line)
            if found:
                return os.path.basename(os.path.realpath(found.group(1)))
        raise Unknown("the program loads no %s" % name)

    return read


# ---- the record ------------------------------------------------------------------------


def _field(read, *args):
    try:
        return read(*args)
    except Unknown as error:
        return "unknown (%s)" % error
    except (OSError, ValueError, KeyError, IndexError) as error:
        return "unknown (%s: %s)" % (type(error).__name__, error)


def _of_mount(read):
    def of_directory(directory):
        return read(mount_of(directory))

    return of_directory


def _mount_text(mount):
    return "%s on %s" % (mount.fstype, mount.source)


def _options(mount):
    return "%s; of the file system: %s" % (mount.options, mount.super_options)


# (field, reader, what it reads: the directory, the command or nothing)
FIELDS = [
    ("recorded", lambda: datetime.datetime.now().astimezone().isoformat(timespec="seconds"), None),
    ("host", socket.gethostname, None),
    ("kernel", lambda: "%s %s" % (platform.system(), platform.release()), None),
    ("directory", os.path.realpath, "directory"),
    ("file system", _of_mount(_mount_text), "directory"),
    ("mount options", _of_mount(_options), "directory"),
    ("ext4 journal", _of_mount(journal), "directory"),
    ("device model", _of_mount(device_model), "directory"),
    ("rotational", _of_mount(rotational), "directory"),
    ("scheduler", _of_mount(scheduler), "directory"),
    ("free space", free_space, "directory"),
    ("processors", processors, None),
    ("memory", memory, None),
    ("load at start", load, None),
    ("load at end", lambda: "not taken yet", None),
    ("MPI launcher", lambda command: mpi_version(launch.launcher_in(command)), "command"),
    ("program", launch.program_in, "command"),
    ("program version", program_version, "command"),
    ("compiler", compiler, "command"),
    ("C++ library", linked("C++ library", r"libstdc\+\+|libc\+\+"), "command"),
    ("MPI library", linked("MPI library", r"libmpi"), "command"),
]


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
    return dict(fields, **{"load at end": _field(load)})


def text(fields):
    return "".join("%s: %s\n" % item for item in fields.items())


def parse(data):
    """A record's fields from its text; lines without a field are skipped."""
    return dict(line.split(": ", 1) for line in data.splitlines() if ": " in line)


def write(path, fields):
    with open(path, "w", encoding="utf-8") as handle:
        handle.write(text(fields))


def beside(csv_path):
    """Where the record of a series goes: beside its summary, named after it."""
    return os.path.splitext(csv_path)[0] + SUFFIX


# Fields that tell nodes apart by nature, never a difference of set-up.
OWN_TO_EACH = ("recorded", "host")


class NodeRecord:
    """The record of one node of a job, or why there is none. The name is
    the node's as the host file or the allocation lists it."""

    def __init__(self, name, fields=None, why=None):
        self.name = name
        self.fields = fields
        self.why = why


def differing(records):
    """The fields, in the order of FIELDS, in which the records of a job's
    nodes do not all read alike; but the time of recording and the host."""
    return [name for name, _, _ in FIELDS
            if name not in OWN_TO_EACH and len({fields.get(name) for fields in records}) > 1]


def _recorded(nodes):
    return [node for node in nodes if node.fields is not None]


NO_RECORD = "unknown (no record from this node: "


def nodes_json(nodes):
    """The nodes' records for a script: a node without one has every field
    "unknown" with the reason, and is left out of the comparison."""
    return {"nodes": [{"host": node.fields["host"] if node.fields else node.name,
                       "fields": node.fields or {name: NO_RECORD + node.why + ")" for name, _, _ in FIELDS}}
                      for node in nodes],
            "differing": differing([node.fields for node in _recorded(nodes)])}


def recorded(fields):
    """Whether a node's fields in nodes_json are its record, not its absence."""
    return not str(fields.get("host", "")).startswith(NO_RECORD)


def _grouped(nodes, name):
    """{value: [names of the nodes with it]}, in the nodes' order."""
    groups = {}
    for node in nodes:
        groups.setdefault(node.fields[name], []).append(node.name)
    return groups


def nodes_text(nodes):
    """The nodes' records for a person: a field per line where every node
    has the same value, else the nodes grouped by value below it; a star
    marks the fields in which they differ."""
    recorded = _recorded(nodes)
    marked = set(differing([node.fields for node in recorded]))
    lines = ["%d node(s); * marks a field in which they differ." % len(nodes)]
    lines += ["%s: no record (%s)" % (shown(node.name), shown(node.why)) for node in nodes if node.fields is None]
    for name, _, _ in FIELDS if recorded else []:
        groups = _grouped(recorded, name)
        if len(groups) == 1:
            lines.append("  %s: %s" % (name, shown(next(iter(groups)))))
            continue
        lines.append("%s %s:" % ("*" if name in marked else " ", name))
        lines += ["      %s: %s" % (shown(", ".join(names)), shown(value)) for value, names in groups.items()]
    return "".join(line + "\n" for line in lines)


def differences(first, second):
    """The fields two records hold that read differently, but the time of
    recording, which always does."""
    return [(name, first[name], second[name]) for name in first
            if name in second and name != "recorded" and first[name] != second[name]]


def record_file(directory):
    """The newest record in a directory, None where there is none."""
    found = [os.path.join(directory, name) for name in os.listdir(directory) if name.endswith(SUFFIX)]
    return max(found, key=os.path.getmtime) if found else None


def read(path):
    return parse(_read(path))
