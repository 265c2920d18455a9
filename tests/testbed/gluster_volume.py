"""A GlusterFS volume shared by the simulated nodes: a real distributed file
system whose clients are separate processes on separate nodes, passing
locks, names and data through the network.

glusterd and its two brick servers run in the hub's namespaces, their state,
sockets and logs on tmpfs mounts private to the hub; every node mounts the
volume through its own FUSE client, its logs on a tmpfs private to the node.
So nothing of it lands in the machine's /var/lib/glusterd, /var/log/glusterfs
or /run, and all of it goes with the cluster: killing the namespaces'
processes ends the daemons and the clients, and the mounts and tmpfs go with
the namespaces. The bricks are folders below the cluster's own directory.

The volume keeps GlusterFS's default options and the clients mount it with
default caching, as on a user's cluster: a change made through one client
may reach another up to about a second late."""

import os
import subprocess
import time

from testbed import simulated_nodes as sn

VOLUME = "orvantic"
BRICKS = ("a", "b")
START_LIMIT = 30  # seconds for glusterd to answer
# Where the daemons and clients keep state, sockets and logs, inside their
# namespaces only.
_HUB_STATE = ("/run", "/var/lib/glusterd", "/var/log/glusterfs")
_CLIENT_LOGS = "/var/log/glusterfs"


def permitted():
    """None when a volume can be made here, else the reason why not."""
    return sn.fuse_client_permitted(("glusterd", "gluster", "mount.glusterfs"),
                                    "glusterfs-server, glusterfs-client")


def _host_state():
    """What the machine's own GlusterFS directories hold."""
    return sn.files_below(_HUB_STATE[1:] + ("/run/gluster",))


class GlusterVolume(sn.SharedVolume):
    """A two-brick volume served from the hub, mounted on every node at
    `cluster.scratch/folder`."""

    permitted = staticmethod(permitted)
    CLIENT = "glusterfs"

    def __init__(self, cluster, folder):
        self.cluster = cluster
        self.mount_point = os.path.join(cluster.scratch, folder)
        self.bricks = os.path.join(cluster.root, "bricks")
        self.host_state = _host_state()

    def start(self):
        os.mkdir(self.bricks)
        hub = self.cluster.hub
        hub.sh('for d in "$@"; do mount -t tmpfs -o mode=755 gluster-state "$d"; done; glusterd -p /run/glusterd.pid',
               *_HUB_STATE)
        self._wait_for_glusterd()
        bricks = ["%s:%s" % (sn.HUB_NAME, os.path.join(self.bricks, brick)) for brick in BRICKS]
        # force: the bricks lie on the machine's root file system, which
        # GlusterFS refuses by default.
        self.gluster("volume", "create", VOLUME, *bricks, "force")
        self.gluster("volume", "start", VOLUME)
        for node in self.cluster.nodes:
            node.sh('mount -t tmpfs -o mode=755 gluster-logs "$1"; mkdir -p "$2"; mount -t glusterfs "$3" "$2"',
                    _CLIENT_LOGS, self.mount_point, "%s:/%s" % (sn.HUB_NAME, VOLUME))
            self.cluster.services.add(self.client_of(node))

    def gluster(self, *args):
        """Runs the gluster command line on the hub; returns its output."""
        done = subprocess.run(self.cluster.hub.enter() + ["gluster", "--mode=script"] + list(args),
                              stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                              timeout=START_LIMIT)
        if done.returncode != 0:
            raise RuntimeError("gluster %s: %s" % (" ".join(args), done.stdout.decode(errors="replace")))
        return done.stdout.decode(errors="replace")

    def _wait_for_glusterd(self):
        deadline = time.time() + START_LIMIT
        while True:
            try:
                self.gluster("peer", "status")
                return
            except RuntimeError:
                if time.time() > deadline:
                    raise
                time.sleep(0.1)

    def brick_servers(self):
        """The pids of the brick servers, in the order of BRICKS."""
        servers = {}
        for pid in self.cluster.hub.processes_named("glusterfsd"):
            with open("/proc/%d/cmdline" % pid, "rb") as f:
                argv = f.read().split(b"\0")
            servers[argv[argv.index(b"--brick-name") + 1].decode()] = pid
        if len(servers) != len(BRICKS):
            raise RuntimeError("brick servers found: %s" % servers)
        return [servers[os.path.join(self.bricks, brick)] for brick in BRICKS]

    def brick_holding(self, name):
        """The index in BRICKS of the brick that holds a file of the volume's
        top folder: the volume places each name on one brick."""
        holding = [index for index, brick in enumerate(BRICKS)
                   if os.path.exists(os.path.join(self.bricks, brick, name))]
        if len(holding) != 1:
            raise RuntimeError("%s found on bricks %s" % (name, holding))
        return holding[0]

    def check_gone(self, test):
        """Closes the cluster (if the test has not) and fails if the volume
        left anything in the machine's GlusterFS directories."""
        self.cluster.close()
        test.assertEqual(_host_state() - self.host_state, set(), "GlusterFS state or logs left on the machine")
