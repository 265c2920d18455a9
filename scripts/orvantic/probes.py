"""What is read of this node's set-up for a run's record: the file system
and block device under the run directory (as findmnt and lsblk tell them),
free space, processors, memory and load, the MPI launcher and the program's
build. Each probe returns a field's value, or raises Unknown saying why it
cannot be read here, which never stops the others."""

import functools
import json
import os
import re
import shutil
import subprocess

# The scripts beside this package: in a checkout with the set-up script,
# installed with the build's record.
SCRIPTS = os.path.dirname(os.path.dirname(os.path.realpath(__file__)))
BUILD_INFO = "orvantic-drives.build-info"
ASK_LIMIT = 30  # seconds a tool asked for its version may take
MIB, GIB = 1 << 20, 1 << 30


class Unknown(Exception):
    """A field that cannot be read here, and why."""


def read_text(path):
    try:
        with open(path, encoding="utf-8", errors="replace") as handle:
            return handle.read()
    except OSError as error:
        raise Unknown("cannot read %s: %s" % (path, error.strerror or error))


def ask(*command, stderr=subprocess.STDOUT):
    """A tool's output, by default with what it says on standard error;
    Unknown where it is missing or fails."""
    if shutil.which(command[0]) is None:
        raise Unknown("%s is not installed" % command[0])
    try:
        done = subprocess.run(command, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                              stderr=stderr, text=True, errors="replace", timeout=ASK_LIMIT)
    except (OSError, subprocess.TimeoutExpired) as error:
        raise Unknown("%s: %s" % (command[0], error))
    if done.returncode != 0:
        raise Unknown("%s ended with status %d" % (" ".join(command), done.returncode))
    return done.stdout


def _table(*command):
    """A tool's JSON, without the warnings it may print beside it."""
    return json.loads(ask(*command, stderr=subprocess.DEVNULL))


@functools.cache  # a record reads it for six fields
def mount_of(directory):
    """The mount that holds the directory, as a dict of findmnt's columns;
    of several at one point, the last, which hides the others. The source
    is the device, without the root of a bind mount in brackets."""
    return _table("findmnt", "-J", "--nofsroot", "--target", directory,
                  "-o", "SOURCE,FSTYPE,VFS-OPTIONS,FS-OPTIONS,MAJ:MIN")["filesystems"][-1]


def file_system(directory):
    return "%(fstype)s on %(source)s" % mount_of(directory)


def mount_options(directory):
    return "%(vfs-options)s; of the file system: %(fs-options)s" % mount_of(directory)


@functools.cache  # a record reads it for three fields
def disk_of(directory):
    """The block device under the directory's mount, as a dict of lsblk's
    columns: the whole disk, where the file system lies on a partition of
    it. -a keeps the RAM disks lsblk leaves out by default."""
    mount = mount_of(directory)
    devices = _table("lsblk", "-J", "-l", "-a", "-o", "NAME,PKNAME,TYPE,MAJ:MIN,MODEL,ROTA,SCHED")["blockdevices"]
    device = next((device for device in devices if device["maj:min"] == mount["maj:min"]), None)
    if device is None:
        raise Unknown("%s has no block device" % mount["fstype"])
    return next(disk for disk in devices if disk["name"] == device["pkname"]) if device["type"] == "part" else device


def journal(directory):
    """Whether an ext4 file system keeps a journal, and in which data mode:
    the kernel tells its journal thread and mount options under the name it
    gives the file system; dumpe2fs the features, where the device may be
    read. findmnt tells neither: a journal is no mount option, and the
    mount's options leave out the default data mode."""
    mount = mount_of(directory)
    if mount["fstype"] != "ext4":
        raise Unknown("not ext4 but %s" % mount["fstype"])
    name = os.path.basename(os.path.realpath(mount["source"]))
    try:
        task = read_text("/sys/fs/ext4/%s/journal_task" % name).strip()
    except Unknown:
        features = re.search(r"^Filesystem features:(.*)$", ask("dumpe2fs", "-h", mount["source"]), re.M)
        if not features:
            raise Unknown("dumpe2fs names no features of %s" % mount["source"])
        return "yes" if "has_journal" in features.group(1).split() else "no"
    if task == "<none>":
        return "no"
    mode = re.search(r"^data=(\w+)$", read_text("/proc/fs/ext4/%s/options" % name), re.M)
    return "yes, data=%s" % mode.group(1) if mode else "yes"


def disk_names(column, what, directory):
    """A name the kernel gives the directory's disk, or may not."""
    disk = disk_of(directory)
    if not (disk[column] or "").strip():
        raise Unknown("%s names no %s in /sys" % (disk["name"], what))
    return disk[column].strip()


def rotational(directory):
    # lsblk before 2.37 gives the flag as "1" or "0", later as true or false.
    flag = disk_of(directory)["rota"]
    return {True: "yes", "1": "yes", False: "no", "0": "no"}.get(flag, flag) + " (as the kernel reports it)"


def _size(amount):
    return "%.1f GiB" % (amount / GIB) if amount >= GIB else "%.1f MiB" % (amount / MIB)


def free_space(directory):
    info = os.statvfs(directory)
    return "%s free of %s" % (_size(info.f_bavail * info.f_frsize), _size(info.f_blocks * info.f_frsize))


def usable_processors():
    """The processors this process may run on; all of them where the
    system cannot tell (macOS has no sched_getaffinity)."""
    return len(os.sched_getaffinity(0)) if hasattr(os, "sched_getaffinity") else os.cpu_count()


def processors():
    model = re.search(r"^model name\s*:\s*(.*)$", read_text("/proc/cpuinfo"), re.M)
    return "%d x %s, %d usable here" % (os.cpu_count(), model.group(1) if model else "model not named",
                                        usable_processors())


def memory():
    info = dict(re.findall(r"^(\w+):\s*(\d+) kB$", read_text("/proc/meminfo"), re.M))
    return "%s, %s available" % (_size(int(info["MemTotal"]) * 1024), _size(int(info["MemAvailable"]) * 1024))


def load():
    return "%.2f %.2f %.2f (over 1, 5 and 15 minutes)" % os.getloadavg()


def mpi_version(launcher):
    """The launcher's own words on its version: Open MPI's first line, or
    MPICH's Hydra heading with its first line that holds a number."""
    lines = [line.strip() for line in ask(launcher, "--version").splitlines() if line.strip()]
    if not lines:
        raise Unknown("the launcher printed no version")
    if re.search(r"\d", lines[0]):
        return lines[0]
    return " ".join([lines[0].rstrip(":")] + [line for line in lines if re.search(r"\d", line)][:1])


def build_record(program):
    """Where the record of the program's build is: CMake writes it beside
    the program in its build directory, and installs it beside the scripts."""
    for place in (os.path.dirname(program), SCRIPTS):
        path = os.path.join(place, BUILD_INFO)
        if os.path.exists(path):
            return path
    raise Unknown("no %s beside %s" % (BUILD_INFO, program))


def program_version(build):
    return "%s, commit %s" % (build.get("version", "?"), build.get("commit", "?"))


def compiler(build):
    return "%s, %s build" % (build.get("compiler", "?"), build.get("build type") or "no named")


@functools.cache  # a record reads it for two fields, project-duration for two libraries
def libraries(program):
    """{each library the program loads, as ldd names it: the file behind it}."""
    return dict(re.findall(r"^\s*(\S+) => (\S+)", ask("ldd", program), re.M))


def linked(name, pattern, program):
    """The file behind a library the program loads, which names its version."""
    found = next((path for library, path in libraries(program).items() if re.match(pattern, library)), None)
    if found is None:
        raise Unknown("the program loads no %s" % name)
    return os.path.basename(os.path.realpath(found))
