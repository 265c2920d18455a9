"""Several nodes on one machine, without ssh and without traffic leaving it.

A node is a set of namespaces held open by one long-running holder process:
its own host name (UTS), its own mounts (a private tmpfs at one common path
as the node's local scratch directory, a hosts file naming the nodes) and its
own network stack, whose only link is a veth to a bridge. The bridge lives in
the namespaces of one more holder, the hub, so nothing is added to the host's
own network and no node has a route anywhere but the private subnet.

Commands run on a node through `nsenter`; the launchers reach the nodes
through an agent script that does the same with a clean environment, as ssh
would. Teardown kills every process in the nodes' namespaces, which takes
the veths, the bridge and the tmpfs mounts with them, and then checks that
nothing of it is left."""

import ctypes
import os
import shutil
import signal
import subprocess
import tempfile
import time

from testbed import mpi_leftovers
from testbed.harness import read_text

SUBNET = "10.200.0.0/24"
HUB_ADDRESS = "10.200.0.1"
HUB_NAME = "ctl"
NAMESPACES = ("uts", "mnt", "net")
# Veth ends on the hub's bridge; the host never holds one, and the check
# after teardown looks for this prefix in its namespace all the same.
HUB_PORT_PREFIX = "orvhub"
CLEAN_PATH = "/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin"
SETUP_LIMIT = 30  # seconds; turns a stuck holder into a failure
# A holder sets its host name, mounts the node's scratch tmpfs and hosts
# file, and then only waits, keeping the namespaces alive.
_HOLDER = '''
hostname "$1" || exit 97
if [ -n "$2" ]; then mount -t tmpfs -o size=256m,mode=755 "scratch-$1" "$2" || exit 97; fi
mount --bind "$3" /etc/hosts || exit 97
exec sleep infinity
'''

# Stands in for ssh: `agent [options] HOST COMMAND...` runs the command line
# through a shell in HOST's namespaces, from root's home, with only the
# environment a fresh login would have.
_AGENT = '''#!/bin/sh
while [ $# -gt 0 ]; do
  case "$1" in
    -*) shift ;;
    *) break ;;
  esac
done
host=$1
shift
case "$host" in
%(cases)s
  *) echo "agent: no simulated node named '$host'" >&2; exit 255 ;;
esac
exec nsenter -t "$pid" -u -m -n --wd=/root -- env -i PATH=%(path)s HOME=/root sh -c "$*"
'''


def die_with_parent():
    """Holders go when the test process goes, even if it is killed before
    its teardown runs."""
    PR_SET_PDEATHSIG = 1
    ctypes.CDLL(None, use_errno=True).prctl(PR_SET_PDEATHSIG, signal.SIGKILL)


def namespace_ids(pid):
    """The (kind, inode) of a process's UTS, mount and network namespaces."""
    ids = set()
    for kind in NAMESPACES:
        try:
            ids.add(os.readlink("/proc/%d/ns/%s" % (pid, kind)))
        except OSError:
            pass
    return ids


def command_name(pid):
    """A process's command name (at most 15 characters); None once it is gone."""
    try:
        with open("/proc/%d/comm" % pid) as f:
            return f.read().rstrip("\n")
    except OSError:
        return None


def permitted():
    """None when simulated nodes can be built here, else the reason why not."""
    if os.geteuid() != 0:
        return "needs root to make namespaces, mounts and links"
    for tool in ("unshare", "nsenter", "ip", "mount"):
        if shutil.which(tool) is None:
            return "%s is not installed" % tool
    probe = subprocess.run(["unshare", "--uts", "--mount", "--net", "ip", "link", "add", "probe0", "type", "bridge"],
                           stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    if probe.returncode != 0:
        return "namespaces or links are not permitted here: %s" % probe.stderr.decode(errors="replace").strip()
    return None


def fuse_client_permitted(tools, packages):
    """None when a FUSE file system whose tools are `tools` can be served
    to the nodes, else the reason why not."""
    for tool in tools:
        if shutil.which(tool) is None:
            return "%s is not installed (%s)" % (tool, packages)
    if not os.path.exists("/dev/fuse"):
        return "no /dev/fuse: the kernel offers no FUSE"
    return None


def files_below(directories):
    """Every file and folder below the directories: a file system's state on
    the machine itself, taken before and after a test to show that it left
    nothing there."""
    found = set()
    for directory in directories:
        for path, folders, files in os.walk(directory):
            found.update(os.path.join(path, name) for name in folders + files)
    return found


# cgroup v1's cpu controller, else v2's unified tree: where a group of the
# machine's goes, and the files that hold a node's processes to a share of a
# processor.
_CPU_V1 = "/sys/fs/cgroup/cpu"
_CPU_V2 = "/sys/fs/cgroup"


class SharedVolume:
    """A file system served from the hub and mounted on every node at
    `mount_point`. Its class names `permitted` (None where it can run here,
    else why not) and CLIENT, the command name of a node's FUSE client."""

    @classmethod
    def mount_for(cls, test, cluster, folder):
        """The file system mounted on every node of a running cluster for a
        unittest test, which skips where it cannot run. After the test the
        cluster is closed and the machine checked for what it may have
        left."""
        reason = cls.permitted()
        if reason:
            test.skipTest(reason)
        volume = cls(cluster, folder)
        test.addCleanup(volume.check_gone, test)
        volume.start()
        return volume

    def view(self, node):
        """The mount point as node sees it, reachable from the machine's own
        namespaces: through the node's holder, whose root is the node's."""
        return "/proc/%d/root%s" % (node.pid, self.mount_point)

    def client_of(self, node):
        """The pid of node's FUSE client of the file system."""
        clients = node.processes_named(self.CLIENT)
        if len(clients) != 1:
            raise RuntimeError("%d %s clients on %s" % (len(clients), self.CLIENT, node.name))
        return clients[0]


class Host:
    """One holder process and the namespaces it keeps."""

    def __init__(self, name, address, scratch, hosts_file):
        self.name = name
        self.address = address
        self.holder = subprocess.Popen(["unshare", "--uts", "--mount", "--net", "--propagation", "private",
                                        "sh", "-c", _HOLDER, "holder", name, scratch or "", hosts_file],
                                       stdin=subprocess.DEVNULL, preexec_fn=die_with_parent)
        self.pid = self.holder.pid
        self.namespaces = set()

    def wait_ready(self):
        """The holder is ready once it has set everything up and exec'ed sleep."""
        deadline = time.time() + SETUP_LIMIT
        while True:
            if self.holder.poll() is not None:
                raise RuntimeError("holder of %s ended with status %d" % (self.name, self.holder.returncode))
            if command_name(self.pid) == "sleep":
                break
            if time.time() > deadline:
                raise RuntimeError("holder of %s not ready after %d s" % (self.name, SETUP_LIMIT))
            time.sleep(0.02)
        self.namespaces = namespace_ids(self.pid)
        if self.namespaces & namespace_ids(os.getpid()):
            raise RuntimeError("holder of %s shares a namespace with the host" % self.name)

    def enter(self, wd="/", env=None):
        """Prefix that runs a command inside this host's namespaces; with
        env, in a login's clean environment plus those variables."""
        # The directory is looked up inside the host, where a path may lead
        # elsewhere than on the machine (or nowhere).
        prefix = ["nsenter", "-t", str(self.pid), "-u", "-m", "-n", "--wdns=" + wd, "--"]
        if env is not None:
            clean = dict(env, PATH=env.get("PATH", CLEAN_PATH), HOME="/root")
            prefix += ["env", "-i"] + ["%s=%s" % item for item in sorted(clean.items())]
        return prefix

    def sh(self, script, *args):
        """Runs a set-up shell script here; any failure ends the set-up."""
        done = subprocess.run(self.enter() + ["sh", "-ec", script, self.name] + list(args),
                              stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                              timeout=SETUP_LIMIT)
        if done.returncode != 0:
            raise RuntimeError("on %s: %s\n%s" % (self.name, script, done.stdout.decode(errors="replace")))
        return done.stdout.decode(errors="replace")

    def processes(self):
        """Every process in any of this host's namespaces but its holder."""
        return [pid for pid in _all_pids() if pid != self.pid and namespace_ids(pid) & self.namespaces]

    def processes_named(self, program):
        """This host's processes running the named program (a name or a
        path), by their command name: its first 15 characters, all the
        kernel keeps."""
        comm = os.path.basename(program)[:15]
        return [pid for pid in self.processes() if command_name(pid) == comm]


def _all_pids():
    return [int(entry) for entry in os.listdir("/proc") if entry.isdigit()]


def _namespaces_in_use(ids):
    """Which of the given namespaces some process still is in or holds open."""
    found = set()
    for pid in _all_pids():
        found |= namespace_ids(pid) & ids
        try:
            for fd in os.listdir("/proc/%d/fd" % pid):
                target = os.readlink("/proc/%d/fd/%s" % (pid, fd))
                if target in ids:
                    found.add(target)
        except OSError:
            pass
    return found


class Cluster:
    """Nodes node01, node02, ... on a private subnet, their common scratch
    path, hosts file and agent. Build it with `start`, end it with `close`
    (registered as a cleanup by `start_for`)."""

    def __init__(self, count=3):
        self.root = tempfile.mkdtemp(prefix="orvantic-nodes-")
        os.chmod(self.root, 0o755)
        # The same path on every node, a different tmpfs behind it on each.
        self.scratch = os.path.join(self.root, "scratch")
        os.mkdir(self.scratch)
        self.hosts_file = os.path.join(self.root, "hosts")
        self.agent = os.path.join(self.root, "agent")
        self.hub = None
        self.nodes = []
        self.names = ["node%02d" % (index + 1) for index in range(count)]
        self.closed = False
        self.spawned = []
        # Processes on the nodes that serve every job, not part of any (a
        # shared file system's clients).
        self.services = set()
        self.cpu_group = None  # the cgroup of a slowed node, see slow_down
        # What the nodes' Open MPI leaves on the machine's /tmp and
        # /dev/shm (a login on a node sets no TMPDIR) when a test kills a
        # daemon outlives the nodes.
        self.mpi_files = mpi_leftovers.Snapshot(self.names)

    @classmethod
    def start_for(cls, test, count=3):
        """A running cluster for a unittest test, torn down after it whatever
        the outcome; the test skips where nodes cannot be simulated."""
        reason = permitted()
        if reason:
            test.skipTest(reason)
        cluster = cls(count)
        test.addCleanup(cluster.close)
        cluster.start()
        return cluster

    def node(self, name):
        return next(node for node in self.nodes if node.name == name)

    def hosts(self):
        """The hub and the nodes, as far as the start got."""
        return [host for host in [self.hub] + self.nodes if host]

    def start(self):
        with open(self.hosts_file, "w") as f:
            f.write("127.0.0.1 localhost\n%s %s\n" % (HUB_ADDRESS, HUB_NAME))
            for index, name in enumerate(self.names):
                f.write("%s %s\n" % (self.address_of(index), name))
        os.chmod(self.hosts_file, 0o644)
        self.hub = Host(HUB_NAME, HUB_ADDRESS, None, self.hosts_file)
        self.nodes = [Host(name, self.address_of(index), self.scratch, self.hosts_file)
                      for index, name in enumerate(self.names)]
        for host in self.hosts():
            host.wait_ready()
        self.hub.sh("ip link set lo up; ip link add br0 type bridge; ip addr add %s/24 dev br0; ip link set br0 up"
                    % HUB_ADDRESS)
        for index, node in enumerate(self.nodes):
            port = "%s%02d" % (HUB_PORT_PREFIX, index + 1)
            self._ip("link", "add", port, "netns", str(self.hub.pid), "type", "veth",
                     "peer", "name", "eth0", "netns", str(node.pid))
            self.hub.sh("ip link set %s master br0 up" % port)
            node.sh("ip link set lo up; ip addr add %s/24 dev eth0; ip link set eth0 up" % node.address)
        self._write_agent()

    def spawn(self, host, argv, log, env=None):
        """Starts a long-running command on a host, its output to the file
        log; it ends with the host at teardown."""
        with open(log, "ab") as out:
            proc = subprocess.Popen(host.enter(env=env or {}) + list(argv), stdin=subprocess.DEVNULL,
                                    stdout=out, stderr=subprocess.STDOUT)
        self.spawned.append(proc)
        return proc

    @staticmethod
    def address_of(index):
        return "10.200.0.%d" % (11 + index)

    @staticmethod
    def _ip(*args):
        done = subprocess.run(["ip"] + list(args), stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                              timeout=SETUP_LIMIT)
        if done.returncode != 0:
            raise RuntimeError("ip %s: %s" % (" ".join(args), done.stdout.decode(errors="replace")))

    def _write_agent(self):
        cases = "\n".join("  %s) pid=%d ;;" % (host.name, host.pid) for host in self.hosts())
        with open(self.agent, "w") as f:
            f.write(_AGENT % {"cases": cases, "path": CLEAN_PATH})
        os.chmod(self.agent, 0o755)

    def slow_down(self, name, share, period_us=100000):
        """Holds what the launchers start on the named node (its daemon and
        ranks, which inherit the agent's cgroup) to `share` of a processor
        in every period. Returns None, or why it cannot be done here."""
        group_name = os.path.basename(self.root)
        if os.path.exists(os.path.join(_CPU_V1, "cpu.cfs_quota_us")):
            self.cpu_group = os.path.join(_CPU_V1, group_name)
            os.mkdir(self.cpu_group)
            settings = {"cpu.cfs_period_us": period_us, "cpu.cfs_quota_us": int(period_us * share)}
        elif "cpu" in read_text(os.path.join(_CPU_V2, "cgroup.subtree_control")).split():
            self.cpu_group = os.path.join(_CPU_V2, group_name)
            os.mkdir(self.cpu_group)
            settings = {"cpu.max": "%d %d" % (int(period_us * share), period_us)}
        else:
            return "no CPU controller of cgroup v1 here, nor one that cgroup v2 hands to its groups"
        for setting, value in settings.items():
            with open(os.path.join(self.cpu_group, setting), "w") as f:
                f.write(str(value))
        self._start_on_node_with(name, 'echo $$ > %s/cgroup.procs' % self.cpu_group)
        return None

    def trace_every_call(self, name, delay_us=100):
        """Runs what the launchers start on the named node under strace,
        which stops it at every system call and holds it there `delay_us`:
        a node whose every call into the kernel is slow, in phases of
        microseconds as in long ones, and which waits rather than takes
        the other nodes' processors. Returns None, or why it cannot be done
        here."""
        if shutil.which("strace") is None:
            return "strace is not installed"
        self._start_on_node_with(name, 'exec strace -f -qq -o /dev/null -e inject=all:delay_enter=%dus "$AGENT" "$@"'
                                 % delay_us)
        return None

    def _start_on_node_with(self, name, step):
        """From now on the agent runs `step` (shell, "$AGENT" the agent so
        far) before it starts anything on the named node."""
        wrapper = os.path.join(self.root, "agent-%s" % name)
        with open(wrapper, "w") as f:
            f.write('#!/bin/sh\nAGENT=%s\n'
                    'for word in "$@"; do case "$word" in -*) ;; *) host=$word; break ;; esac; done\n'
                    'if [ "$host" = %s ]; then %s; fi\nexec "$AGENT" "$@"\n' % (self.agent, name, step))
        os.chmod(wrapper, 0o755)
        self.agent = wrapper

    def hostfile(self, slots, line_format, name="hostfile"):
        """A launcher host file giving each node its number of slots, one
        line each in the launcher's format ("%s slots=%d", "%s:%d"); a node
        of no slots is left out, so the first node listed runs rank 0."""
        path = os.path.join(self.root, name)
        with open(path, "w") as f:
            for node, count in zip(self.nodes, slots):
                if count:
                    f.write(line_format % (node.name, count) + "\n")
        return path

    def scratch_files(self, node, directory="", recursive=False):
        """Names in a node's own scratch directory or a folder of it (with
        recursive, every file below it, as relative paths); none where the
        folder is missing."""
        listing = node.sh('cd "$1" 2>/dev/null || exit 0; find . -mindepth 1 %s -printf "%%P\\n"'
                          % ("-type f" if recursive else "-maxdepth 1"), os.path.join(self.scratch, directory))
        return sorted(listing.splitlines())

    def read_scratch(self, node, relative):
        """A file from a node's scratch directory, as bytes."""
        done = subprocess.run(node.enter() + ["cat", os.path.join(self.scratch, relative)],
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=SETUP_LIMIT)
        if done.returncode != 0:
            raise RuntimeError("cannot read %s on %s: %s" % (relative, node.name, done.stderr.decode()))
        return done.stdout

    def leftover_processes(self):
        """{node name: [(pid, command)]} of processes other than the holders."""
        left = {}
        for host in self.hosts():
            for pid in host.processes():
                try:
                    with open("/proc/%d/cmdline" % pid, "rb") as f:
                        command = f.read().replace(b"\0", b" ").decode(errors="replace").strip()
                except OSError:
                    continue
                left.setdefault(host.name, []).append((pid, command))
        return left

    def close(self):
        """Kills every process in the nodes' and the hub's namespaces, then
        checks that the namespaces, and with them the veths, the bridge and
        the scratch mounts, are gone, and removes what the nodes' Open MPI
        left in the machine's shared directories. Raises if anything is
        left. Once is enough: a test that checks its teardown closes before
        its cleanup."""
        if self.closed:
            return
        self.closed = True
        hosts = self.hosts()
        ids = set().union(*(host.namespaces for host in hosts))
        deadline = time.time() + SETUP_LIMIT
        while True:
            alive = [pid for pid in _all_pids() if namespace_ids(pid) & ids]
            alive += [host.pid for host in hosts if host.holder.poll() is None]
            if not alive or time.time() > deadline:
                break
            for pid in set(alive):
                try:
                    os.kill(pid, signal.SIGKILL)
                except OSError:
                    pass
            for host in hosts:
                if host.holder.poll() is None:
                    try:
                        host.holder.wait(timeout=0.2)
                    except subprocess.TimeoutExpired:
                        pass
            time.sleep(0.05)
        for proc in self.spawned:
            try:
                proc.wait(timeout=SETUP_LIMIT)
            except subprocess.TimeoutExpired:
                alive.append(proc.pid)
        problems = []
        if alive:
            problems.append("processes that would not die: %s" % sorted(set(alive)))
        in_use = _namespaces_in_use(ids)
        if in_use:
            problems.append("namespaces still in use: %s" % sorted(in_use))
        links = subprocess.run(["ip", "-o", "link", "show"], stdout=subprocess.PIPE, timeout=SETUP_LIMIT)
        if HUB_PORT_PREFIX.encode() in links.stdout:
            problems.append("a veth of the hub turned up in the host's namespace")
        with open("/proc/self/mountinfo") as f:
            mounted = [line for line in f if self.root in line]
        if mounted:
            problems.append("mounts left under %s: %s" % (self.root, mounted))
        not_removed = self.mpi_files.remove_new()
        if not_removed:
            problems.append("Open MPI's files of the nodes not removed: %s" % not_removed)
        if self.cpu_group:
            try:
                os.rmdir(self.cpu_group)
            except OSError as error:
                problems.append("the slowed node's cgroup %s not removed: %s" % (self.cpu_group, error))
        # A killed process's last threads may still be ending, and writing,
        # when it no longer shows its namespaces.
        deadline = time.time() + SETUP_LIMIT
        while True:
            shutil.rmtree(self.root, ignore_errors=True)
            if not os.path.exists(self.root) or time.time() > deadline:
                break
            time.sleep(0.1)
        if os.path.exists(self.root):
            problems.append("%s could not be removed" % self.root)
        if problems:
            raise AssertionError("teardown of the simulated nodes: " + "; ".join(problems))
