"""A CephFS file system shared by the simulated nodes: a monitor, a manager,
one OSD and one metadata server (MDS), and a FUSE client (ceph-fuse) on
every node, each client a session of its own at the MDS, which grants it
capabilities and locks and takes them back.

The daemons run in the hub's namespaces and listen on the hub's address on
the nodes' subnet, where every node reaches them through its veth, as a
cluster's clients reach its servers. They also share a PID namespace of
their own, whose first process ends with the test process however that
ends: the kernel then ends every daemon in it, so none outlives a test even
when its teardown never runs. The clients run in the foreground, children
of the test process that end with it. Seen from the machine all keep
ordinary process ids, so a test kills one by the pid it sees. Every path a
daemon or a client uses is set in the cluster's own ceph.conf, below the
cluster's directory: data, sockets, pid files, logs, crash reports and the
OSD's BlueStore, a plain sparse file (no loop device). The machine's own
Ceph directories are covered by a tmpfs in the hub and in every node all
the same, so that a path the configuration missed lands there and goes
with the namespaces. The mounts go with the nodes' namespaces and the rest
with the cluster's directory.

The MDS gives up a client that stopped answering after 30 s
(session_timeout and session_autoclose, both at Ceph's minimum; its
defaults are 60 s and 300 s): until then that client's locks stay held."""

import json
import os
import subprocess
import sys
import time
import uuid

from testbed import simulated_nodes as sn

FILE_SYSTEM = "cephfs"
MDS = "a"  # the metadata server's name
START_LIMIT = 60  # seconds for the cluster to serve the file system
COMMAND_LIMIT = 30  # seconds for one command to the cluster
SESSION_TIMEOUT = 30  # seconds; Ceph's smallest
OSD_SIZE = 10 << 30  # bytes of the OSD's sparse file; little of it is written
# The machine's Ceph directories, covered wherever a daemon or client runs.
_MACHINE_STATE = ("/etc/ceph", "/var/lib/ceph", "/var/log/ceph", "/run/ceph")
_PORTS = "[v2:%s:3300,v1:%s:6789]" % (sn.HUB_ADDRESS, sn.HUB_ADDRESS)

# No authentication: nothing leaves the cluster's private subnet. One OSD, so
# pools of one copy and placement across OSDs rather than hosts; the
# machine's disk may be fuller than Ceph likes for a production cluster; the
# OSD's cache at the least Ceph allows. The monitor commits a change a tenth
# of a second after it (Ceph waits a second, to batch a busy cluster's): the
# set-up's seven commands wait for theirs.
_CONF = """[global]
fsid = %(fsid)s
mon host = %(ports)s
public network = %(subnet)s
auth cluster required = none
auth service required = none
auth client required = none
run dir = %(state)s/run
admin socket = %(state)s/run/$cluster-$name.$pid.asok
pid file = %(state)s/run/$cluster-$name.pid
log file = %(state)s/log/$cluster-$name.log
mon cluster log file = %(state)s/log/$cluster.log
crash dir = %(state)s/data/crash
keyring = %(state)s/data/keyring
log to stderr = false
osd pool default size = 1
osd pool default min size = 1
osd pool default pg num = 8
osd pool default pgp num = 8
osd pool default pg autoscale mode = off
osd crush chooseleaf type = 0
mon allow pool size one = true
mon warn on pool no redundancy = false
mon data avail warn = 2
mon data avail crit = 1
[mon]
public addr = %(hub)s
paxos propose interval = 0.1
mon data = %(state)s/data/mon.$id
[mgr]
public addr = %(hub)s
mgr data = %(state)s/data/mgr.$id
mgr initial modules =
[osd]
public addr = %(hub)s
osd data = %(state)s/data/osd.$id
osd objectstore = bluestore
osd memory target = 939524096
[mds]
public addr = %(hub)s
mds data = %(state)s/data/mds.$id
[client]
client mount timeout = 30
"""

# Covers each existing directory given with a tmpfs; a missing one is left
# missing rather than made on the machine.
_COVER = 'for d in "$@"; do if [ -d "$d" ]; then mount -t tmpfs -o mode=755 ceph-state "$d"; fi; done'
# The first process of the PID namespace: it reaps the daemons that fork
# off into it, so that a killed one leaves no zombie under its name.
_REAPER = """
import os, time
while True:
    try:
        os.wait()
    except ChildProcessError:
        time.sleep(1)
"""


def permitted():
    """None when a Ceph cluster can be made here, else the reason why not."""
    return sn.fuse_client_permitted(
        ("ceph-mon", "ceph-mgr", "ceph-osd", "ceph-mds", "ceph-fuse", "ceph", "monmaptool", "ceph-authtool"),
        "ceph-mon ceph-mgr ceph-osd ceph-mds ceph-fuse ceph-common")


def _machine_state():
    """What the machine's own Ceph directories hold."""
    return sn.files_below(_MACHINE_STATE)


class CephVolume(sn.SharedVolume):
    """The file system served from the hub, mounted on every node at
    `cluster.scratch/folder` by a client named after the node."""

    permitted = staticmethod(permitted)
    CLIENT = "ceph-fuse"

    def __init__(self, cluster, folder):
        self.cluster = cluster
        self.mount_point = os.path.join(cluster.scratch, folder)
        self.state = os.path.join(cluster.root, "ceph")
        self.conf = os.path.join(self.state, "ceph.conf")
        self.fsid = str(uuid.uuid4())
        self.machine_state = _machine_state()
        self.first = None  # the PID namespace's first process, as the machine sees it
        self.ids = {"mgr": "x", "mds": MDS}  # each daemon's name, the OSD's once it is made

    def start(self):
        daemons = ["data/%s.%s" % (kind, name) for kind, name in self.ids.items()]
        for folder in ["data/crash", "run", "log"] + daemons:
            os.makedirs(os.path.join(self.state, folder))
        with open(self.conf, "w") as f:
            f.write(_CONF % {"fsid": self.fsid, "ports": _PORTS, "subnet": sn.SUBNET, "hub": sn.HUB_ADDRESS,
                             "state": self.state})
        self._start_pid_namespace()
        self.cluster.hub.sh(_COVER, *_MACHINE_STATE)
        self._start_monitor()
        self.start_daemon("mgr")
        self._make_osd()
        self.start_daemon("osd")
        self.start_daemon("mds")
        self.ceph("osd", "pool", "create", "cephfs_meta", "8")
        self.ceph("osd", "pool", "create", "cephfs_data", "8")
        self.ceph("fs", "new", FILE_SYSTEM, "cephfs_meta", "cephfs_data")
        for setting in ("session_timeout", "session_autoclose"):
            self.ceph("fs", "set", FILE_SYSTEM, setting, str(SESSION_TIMEOUT))
        self.wait_until_active()
        for node in self.cluster.nodes:
            node.sh(_COVER, *_MACHINE_STATE)
            self.mount(node)

    def _start_pid_namespace(self):
        # unshare ends with the test process (the death signal survives its
        # exec), and its child, the namespace's first process, with it.
        keeper = subprocess.Popen(self.cluster.hub.enter() + ["unshare", "--pid", "--kill-child", sys.executable,
                                                              "-c", _REAPER],
                                  stdin=subprocess.DEVNULL, preexec_fn=sn.die_with_parent)
        self.cluster.spawned.append(keeper)
        deadline = time.time() + START_LIMIT
        while self.first is None:
            if keeper.poll() is not None or time.time() > deadline:
                raise RuntimeError("the PID namespace of the Ceph cluster did not start")
            try:
                with open("/proc/%d/task/%d/children" % (keeper.pid, keeper.pid)) as f:
                    self.first = int(f.read().split()[0])
            except (OSError, IndexError):
                time.sleep(0.02)

    def _start_monitor(self):
        data = os.path.join(self.state, "data")
        monmap = os.path.join(self.state, "run", "monmap")
        self._run(["ceph-authtool", "--create-keyring", os.path.join(data, "keyring"), "--gen-key", "-n", "mon.",
                   "--cap", "mon", "allow *"])
        self._run(["monmaptool", "--create", "--fsid", self.fsid, "--addv", "a", _PORTS, monmap])
        self.on_hub("ceph-mon", "--mkfs", "-i", "a", "--monmap", monmap)
        self.on_hub("ceph-mon", "-i", "a")

    def _make_osd(self):
        block = os.path.join(self.state, "data", "osd.block")
        with open(block, "wb") as f:
            f.truncate(OSD_SIZE)
        osd_uuid = str(uuid.uuid4())
        osd = self.ceph("osd", "new", osd_uuid).strip()
        os.mkdir(os.path.join(self.state, "data", "osd." + osd))
        self.on_hub("ceph-osd", "-i", osd, "--mkfs", "--osd-uuid", osd_uuid, "--bluestore-block-path", block)
        self.ids["osd"] = osd

    def start_daemon(self, kind):
        """Starts the hub's ceph-KIND daemon (mgr, osd, mds), at first or
        again after a loss."""
        self.on_hub("ceph-" + kind, "-i", self.ids[kind])

    def wait_until_active(self):
        """Waits until the file system has an active metadata server."""
        deadline = time.time() + START_LIMIT
        while self.mds_state() != "up:active":
            if time.time() > deadline:
                raise RuntimeError("no active metadata server after %d s: %s"
                                   % (START_LIMIT, self.ceph("fs", "dump")))
            time.sleep(0.2)

    def mds_state(self):
        """The state the monitors give the file system's metadata server
        ("up:active", "up:replay", ...), None while it has none."""
        dump = json.loads(self.ceph("fs", "dump", "--format=json"))
        infos = [info for fs in dump["filesystems"] for info in fs["mdsmap"]["info"].values()]
        return infos[0]["state"] if infos else None

    def mount(self, node):
        """Mounts the file system on node through a client of its own, in
        place of a lost one (whose dead mount is let go first); it serves
        every job there. The client stays in the foreground, a child of
        this process that ends with it, and outside the daemons' PID
        namespace: it looks up the groups of each process that calls it."""
        node.sh('umount -l "$1" 2>/dev/null || mkdir -p "$1"', self.mount_point)
        with open(os.path.join(self.state, "log", "fuse.%s.out" % node.name), "ab") as log:
            client = subprocess.Popen(node.enter() + ["ceph-fuse", "-f", "-c", self.conf, "-n", "client." + node.name,
                                                      self.mount_point],
                                      stdin=subprocess.DEVNULL, stdout=log, stderr=subprocess.STDOUT,
                                      preexec_fn=sn.die_with_parent)
        self.cluster.spawned.append(client)
        deadline = time.time() + START_LIMIT
        while subprocess.run(node.enter() + ["mountpoint", "-q", self.mount_point]).returncode != 0:
            if client.poll() is not None or time.time() > deadline:
                raise RuntimeError("ceph-fuse did not mount the file system on %s" % node.name)
            time.sleep(0.05)
        self.cluster.services.add(client.pid)

    def on_hub(self, program, *args):
        """Runs one of Ceph's programs on the hub, in the daemons' PID
        namespace, with the cluster's configuration; a daemon forks off and
        stays there."""
        prefix = ["nsenter", "--pid=/proc/%d/ns/pid" % self.first, "-t", str(self.cluster.hub.pid), "-u", "-m", "-n",
                  "--"]
        return self._run(prefix + [program, "-c", self.conf] + list(args))

    def ceph(self, *args):
        """Runs the ceph command line on the hub; returns its output."""
        return self.on_hub("ceph", *args)

    @staticmethod
    def _run(argv):
        done = subprocess.run(argv, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                              timeout=COMMAND_LIMIT)
        if done.returncode != 0:
            raise RuntimeError("%s: %s" % (" ".join(argv), (done.stdout + done.stderr).decode(errors="replace")))
        return done.stdout.decode(errors="replace")

    def daemon(self, kind):
        """The pid of the hub's one ceph-KIND daemon (mon, mgr, osd, mds)."""
        pids = self.cluster.hub.processes_named("ceph-" + kind)
        if len(pids) != 1:
            raise RuntimeError("%d ceph-%s daemons on the hub" % (len(pids), kind))
        return pids[0]

    def sessions(self):
        """{session id: client name} of the sessions the MDS keeps."""
        listing = json.loads(self.ceph("tell", "mds." + MDS, "session", "ls"))
        return {entry["id"]: entry["client_metadata"].get("entity_id") for entry in listing}

    def check_gone(self, test):
        """Closes the cluster (if the test has not) and fails if Ceph left
        anything in the machine's Ceph directories."""
        self.cluster.close()
        test.assertEqual(_machine_state() - self.machine_state, set(), "Ceph's state or logs left on the machine")
