"""A Slurm cluster on the simulated nodes: munged and slurmctld on the hub
(host name ctl), one slurmd per node. Everything is private to the test:
slurm.conf is found through SLURM_CONF, munged listens on a socket of its
own with a key of its own, and state, spool and log files lie in the
cluster's directory. Nothing in /etc or /run is touched, and every daemon
runs inside the simulated hosts' namespaces, so the cluster's teardown ends
them all."""

import os
import shutil
import subprocess
import time

from testbed import harness as h
from testbed import job_checks as jc
from testbed import simulated_nodes as sn

JOB_SCRIPT = os.path.join(h.SCRIPTS, os.pardir, "examples", "slurm-job.sh")
RUN_DIR = "run"  # below the common scratch path; each job's directory in it
PER_NODE = 1  # ranks per node: the root alone on node01, one worker on each other node
BENCH = os.environ.get("ORVANTIC_BENCH_BINARY")  # the short-count program project-duration runs
DAEMONS = ("munged", "mungekey", "slurmctld", "slurmd", "sbatch", "scontrol", "squeue", "sinfo")
READY_LIMIT = 60  # seconds; turns a daemon that never comes up into a failure

_CONF = """ClusterName=orvantic
SlurmctldHost=%(hub)s(%(hub_address)s)
SlurmUser=root
SlurmdUser=root
AuthType=auth/munge
CredType=cred/munge
AuthInfo=socket=%(socket)s
StateSaveLocation=%(root)s/state
SlurmdSpoolDir=%(root)s/spool/%%n
SlurmctldPidFile=%(root)s/slurmctld.pid
SlurmdPidFile=%(root)s/slurmd.%%n.pid
SlurmctldLogFile=%(root)s/log/slurmctld.log
SlurmdLogFile=%(root)s/log/slurmd.%%n.log
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
JobCompType=jobcomp/none
SelectType=select/cons_tres
SelectTypeParameters=CR_CPU
MpiDefault=none
ReturnToService=2
MailProg=/bin/true
TmpFS=%(scratch)s
SlurmdParameters=config_overrides
%(nodes)sPartitionName=debug Nodes=ALL Default=YES MaxTime=INFINITE State=UP
"""
# config_overrides: the nodes share the machine's few cores, and slurmd
# would otherwise refuse a node whose CPUs exceed what it finds.
# TmpFS: the nodes share /tmp, where a step's per-job directory would clash.


def missing_tool():
    for tool in DAEMONS:
        if shutil.which(tool) is None:
            return tool
    return None


class SlurmCluster:
    """settings: slurm.conf's lines {name: value} beyond, or in place of,
    the suite's own."""

    def __init__(self, cluster, cpus_per_node=2, settings=None):
        self.cluster = cluster
        self.settings = settings or {}
        self.root = os.path.join(cluster.root, "slurm")
        self.socket = os.path.join(self.root, "munge", "socket")
        self.conf = os.path.join(self.root, "slurm.conf")
        self.env = {"SLURM_CONF": self.conf}
        self.cpus = cpus_per_node
        self.daemons = []

    @classmethod
    def start_for(cls, test, settings=None):
        """A running Slurm cluster on three fresh simulated nodes; it skips
        where either cannot be had, and goes with the nodes' teardown."""
        tool = missing_tool()
        if tool:
            test.skipTest("%s is not installed (Debian: slurmctld slurmd slurm-client munge)" % tool)
        slurm = cls(sn.Cluster.start_for(test), settings=settings)
        slurm.start()
        return slurm

    def log(self, name):
        return os.path.join(self.root, "log", name)

    def start(self):
        for directory in ["munge", "state", "log"] + ["spool/" + node.name for node in self.cluster.nodes]:
            os.makedirs(os.path.join(self.root, directory))
        # munged wants every directory on the way to its socket searchable.
        os.chmod(self.root, 0o755)
        os.chmod(os.path.join(self.root, "munge"), 0o755)
        self._write_conf()
        key = os.path.join(self.root, "munge", "key")
        subprocess.run(["mungekey", "--create", "--keyfile", key], check=True, timeout=READY_LIMIT)
        hub = self.cluster.hub
        self._spawn(hub, ["munged", "--foreground", "--socket", self.socket, "--key-file", key,
                          "--pid-file", key + ".pid", "--seed-file", key + ".seed",
                          "--log-file", self.log("munged.log")], "munged.out")
        self._wait("munge", lambda: subprocess.run("munge -S '%s' -n | unmunge -S '%s'" % (self.socket, self.socket),
                                                   shell=True, stdout=subprocess.DEVNULL,
                                                   stderr=subprocess.DEVNULL).returncode == 0)
        self._spawn(hub, ["slurmctld", "-D"], "slurmctld.out")
        self._wait("slurmctld", lambda: "UP" in self.client("scontrol", "ping").stdout)
        for node in self.cluster.nodes:
            self._spawn(node, ["slurmd", "-D", "-N", node.name], "slurmd.%s.out" % node.name)
        self._wait("slurmd on every node",
                   lambda: self.client("sinfo", "-h", "-N", "-o", "%t").stdout.split() == ["idle"] * len(
                       self.cluster.nodes))

    def _write_conf(self):
        nodes = "".join("NodeName=%s NodeAddr=%s CPUs=%d State=UNKNOWN\n" % (node.name, node.address, self.cpus)
                        for node in self.cluster.nodes)
        conf = _CONF % {"hub": sn.HUB_NAME, "hub_address": sn.HUB_ADDRESS, "socket": self.socket,
                        "root": self.root, "scratch": self.cluster.scratch, "nodes": nodes}
        # A setting given takes the place of the suite's line of its name,
        # before the nodes' lines.
        lines = [line for line in conf.splitlines() if line.split("=", 1)[0] not in self.settings]
        first_node = next(index for index, line in enumerate(lines) if line.startswith("NodeName="))
        lines[first_node:first_node] = ["%s=%s" % item for item in sorted(self.settings.items())]
        with open(self.conf, "w") as f:
            f.write("\n".join(lines) + "\n")

    def _spawn(self, host, argv, log):
        self.daemons.append(self.cluster.spawn(host, argv, self.log(log), env=self.env))

    def _wait(self, what, ready):
        deadline = time.time() + READY_LIMIT
        while not ready():
            ended = [proc for proc in self.daemons if proc.poll() is not None]
            if ended or time.time() > deadline:
                raise RuntimeError("%s not ready (%s)\n%s" % (
                    what, "a daemon ended" if ended else "time limit", self.logs()))
            time.sleep(0.05)

    def logs(self):
        """Every daemon's log, for a failure message."""
        texts = []
        for name in sorted(os.listdir(os.path.join(self.root, "log"))):
            with open(self.log(name), errors="replace") as f:
                texts.append("---- %s\n%s" % (name, f.read()[-3000:]))
        return "\n".join(texts)

    def client(self, *argv, wd="/", env=None):
        """A Slurm command run on the hub, as a user logged in there."""
        return subprocess.run(self.cluster.hub.enter(wd=wd, env=dict(self.env, **(env or {}))) + list(argv),
                              stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                              universal_newlines=True, timeout=READY_LIMIT)

    def daemon_pids(self):
        return {proc.pid for proc in self.daemons}

    def job(self, job_id):
        """{field: value} of `scontrol show job`, kept a while after the end."""
        shown = self.client("scontrol", "show", "-o", "job", job_id).stdout.split()
        return dict(item.split("=", 1) for item in shown if "=" in item)

    def wait_for_job(self, job_id, limit):
        deadline = time.time() + limit
        while self.client("squeue", "-h", "-j", job_id).stdout.strip():
            if time.time() > deadline:
                raise AssertionError("job %s still queued or running after %d s\n%s" % (job_id, limit, self.logs()))
            time.sleep(0.2)
        return self.job(job_id)


class ExampleJob:
    """examples/slurm-job.sh submitted as a user who set ORVANTIC_RUN_DIR and
    ORVANTIC_PROGRAM would, from a submit directory that stands for a shared
    file system (the first node writes the job's output files there), with
    sbatch's options and the job's variables given."""

    def __init__(self, test, slurm, program, options=(), env=None):
        if not (program and BENCH):
            test.fail("ORVANTIC_BINARY / ORVANTIC_SMALL_BINARY / ORVANTIC_BENCH_BINARY not set")
        self.slurm = slurm
        root = slurm.cluster.root
        self.submit = os.path.join(root, "submit")
        os.mkdir(self.submit)
        # Few processes on the shared cores: the node count stays the script's.
        submitted = slurm.client("sbatch", "--parsable", "--ntasks-per-node=%d" % PER_NODE, *options, JOB_SCRIPT,
                                 wd=self.submit, env=jc.login_env(
                                     PATH=launcher_as_mpiexec(root) + ":" + sn.CLEAN_PATH,
                                     ORVANTIC_RUN_DIR=os.path.join(slurm.cluster.scratch, RUN_DIR),
                                     ORVANTIC_PROGRAM=program, ORVANTIC_SCRIPTS=installed_scripts(root),
                                     OMPI_ALLOW_RUN_AS_ROOT="1", OMPI_ALLOW_RUN_AS_ROOT_CONFIRM="1", **(env or {})))
        test.assertEqual(submitted.returncode, 0, submitted.stderr)
        self.id = submitted.stdout.strip().split(";")[0]
        self.directory = os.path.join(RUN_DIR, self.id)  # below the scratch path

    def output(self, stream):
        """The job's "out" or "err" file, as bytes; empty where there is none."""
        path = os.path.join(self.submit, "orvantic-drives-%s.%s" % (self.id, stream))
        if not os.path.exists(path):
            return b""
        with open(path, "rb") as f:
            return f.read()

    def notes(self):
        """The error file and the daemons' logs, for a failure message."""
        return "job's error file:\n%s\n%s" % (self.output("err").decode("utf-8", "replace"), self.slurm.logs())


def launcher_as_mpiexec(root):
    """A directory whose `mpiexec` is the build's launcher; a script, not a
    link: MPICH's launcher looks for its proxy next to the path it was
    started by."""
    tools = os.path.join(root, "bin")
    os.mkdir(tools)
    with open(os.path.join(tools, "mpiexec"), "w") as f:
        f.write('#!/bin/sh\nexec %s "$@"\n' % h.MPIEXEC)
    os.chmod(os.path.join(tools, "mpiexec"), 0o755)
    return tools


def installed_scripts(root):
    """project-duration as installed: beside the scripts' package and the
    short-count program, here this build's."""
    scripts = os.path.join(root, "lib")
    shutil.copytree(os.path.join(h.SCRIPTS, "orvantic"), os.path.join(scripts, "orvantic"),
                    ignore=shutil.ignore_patterns("__pycache__"))
    for program in (os.path.join(h.SCRIPTS, "project-duration"), BENCH):
        shutil.copy2(program, scripts)
    return scripts
