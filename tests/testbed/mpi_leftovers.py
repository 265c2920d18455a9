"""What Open MPI leaves on the machine when one of its jobs is killed: a
host's session directory (ompi.HOST.UID, in the temporary directory) with
its job directories, and its shared-memory segments
(vader_segment.HOST.UID.JOB.RANK, in /dev/shm). A launcher or daemon killed
mid-job removes neither, so the test that killed it must. Host names repeat
from test to test and a session directory is used again by the next job, so
only what is new since a snapshot and held by no live process is removed."""

import os
import re
import shutil

_PLACES = (("ompi\\.%s\\.\\d+", True), ("vader_segment\\.%s\\.\\d+\\.[0-9a-f]+\\.\\d+", False))


class Snapshot:
    """Open MPI's files of the named hosts as they are now; `remove_new`
    later removes the ones added since."""

    def __init__(self, hosts, temp_dir="/tmp"):
        self.hosts = list(hosts)
        self.directories = (temp_dir, "/dev/shm")
        self.before = self.files()

    def files(self):
        """The hosts' session directories, the job directories in them, and
        their segments."""
        found = set()
        for directory, (pattern, nested) in zip(self.directories, _PLACES):
            ours = re.compile("|".join(pattern % re.escape(name) for name in self.hosts))
            for entry in filter(ours.fullmatch, _listing(directory)):
                path = os.path.join(directory, entry)
                found.add(path)
                if nested and os.path.isdir(path) and not os.path.islink(path):
                    found.update(os.path.join(path, child) for child in _listing(path))
        return found

    def left(self):
        """What is new since the snapshot and no live process holds."""
        new = self.files() - self.before
        held = _held_paths() if new else set()
        return {path for path in new if not any(h == path or h.startswith(path + "/") for h in held)}

    def remove_new(self):
        """Removes what `left` gives; the reasons for any that could not go."""
        return [why for why in map(_remove, sorted(self.left())) if why]


def _listing(directory):
    """The names in a directory; none once it is gone."""
    try:
        return os.listdir(directory)
    except (FileNotFoundError, ProcessLookupError):
        return []


def _held_paths():
    """Every path that some live process has open or mapped."""
    held = set()
    for pid in (int(entry) for entry in os.listdir("/proc") if entry.isdigit()):
        for fd in _listing("/proc/%d/fd" % pid):
            try:
                held.add(os.readlink("/proc/%d/fd/%s" % (pid, fd)))
            except OSError:  # closed since
                pass
        try:
            with open("/proc/%d/maps" % pid) as f:
                held.update(fields[5] for fields in (line.rstrip("\n").split(None, 5) for line in f)
                            if len(fields) == 6)
        except OSError:  # ended since
            pass
    return held


def _remove(path):
    """Removes a file or a whole directory; None, or why it could not."""
    try:
        if os.path.isdir(path) and not os.path.islink(path):
            shutil.rmtree(path)
        else:
            os.remove(path)
    except FileNotFoundError:  # went with its directory
        pass
    except OSError as error:
        return "%s: %s" % (path, error)
    return None
