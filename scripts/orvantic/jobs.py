"""One process on every node of a job, started through the job's own
launcher: its mpiexec with its host file (Open MPI's, or Hydra's, as MPICH
has it: their flags for one process per node differ), or srun inside a
Slurm allocation. Each process writes its node's environment record
(records.record) as framed lines on its standard output; the launcher
brings them back to the calling machine, where each record is checked and
placed by its rank, which is the node's place in the host file or
allocation. A node whose record does not come back whole is told, never
left out, and the launcher gets a time limit, as a node cut off from the
network leaves it waiting for ever.

The nodes run this package from the same path as the calling machine, with
the same Python, as they run the program from the same path."""

import base64
import dataclasses
import hashlib
import json
import os
import re
import sys

from orvantic import launch, probes, records
from orvantic.nodes import NodeRecord, grouped
from orvantic.terminal import shown

TIME_LIMIT = 120  # seconds the launcher has, by default, to bring every record back
TAIL = 10  # lines of the launcher's error stream told when records are missing
MARK = "orvantic-environment-record"
# Where a launcher's process finds its rank: Open MPI, Hydra, Slurm.
RANK_VARIABLES = ("OMPI_COMM_WORLD_RANK", "PMI_RANK", "SLURM_PROCID")
# A record travels as lines of "MARK RANK PART/PARTS DIGEST PIECE", each
# short: srun's steps forward a line whole only up to 1 kB, and cut longer
# ones into pieces that other nodes' output may come between.
PIECE = 400  # base64 characters a line
# A launcher may put a tag before a line (rank, time, stream) or, rarely,
# another process's output inside it: the frame is looked for anywhere in
# a line, and the record's digest tells a cut one.
FRAME = re.compile(re.escape(MARK) + r" (\S*) (\d+)/(\d+) ([0-9a-f]*) ([A-Za-z0-9+/=]*)")
# What each node runs: this package's answer, found where it lies here.
ANSWER = ("import sys; sys.path.insert(0, sys.argv[1]); from orvantic import jobs; "
          "jobs.answer(sys.argv[2], sys.argv[3:])")


class Refused(Exception):
    """A command whose nodes cannot be reached this way, and why."""


@dataclasses.dataclass
class Launcher:
    """What a family of mpiexec needs to start one process per node in
    place of the job's processes: the options of the job it drops (the
    process count and placement, which the per-node flags replace; the
    working directory; output sent to files, where the records could not
    come back), the options that name the nodes, the per-node flags, and
    the options ahead of the job's: the launcher's flags and the binding
    that leaves the process the node's processors as a job's ranks find
    them. A binding the job names comes later and wins, as the last one
    given does, so the process is bound as the job's ranks are."""

    dropped: set
    dropped_flags: set
    host_files: set
    host_lists: set
    per_node: list  # after "-n" and the count of nodes
    ahead: list

    def adapted(self, options):
        """The job's launcher options without those dropped, and the nodes
        its host file or host list names, in order, each once."""
        kept, nodes = [], []
        words = iter(options)
        for word in words:
            name, joined, value = word.lstrip("-").partition("=")
            if not word.startswith("-") or name not in self.dropped | self.host_files | self.host_lists:
                if not (word.startswith("-") and name in self.dropped_flags):
                    kept.append(word)
                continue
            taken = [word] if joined else [word, next(words, "")]
            value = value if joined else taken[-1]
            if name in self.host_files:
                nodes = hosts_in_file(value)
            elif name in self.host_lists:
                nodes = [entry.split(":")[0] for entry in value.split(",") if entry]
            if name not in self.dropped:
                kept += taken
        # A node listed twice is one node.
        return kept, list(dict.fromkeys(nodes))


# Open MPI binds a job of 2 or fewer processes to cores, one each, so the
# one process a node would find a single processor usable; the benchmark's
# larger jobs it binds to sockets, or not at all where they outnumber the
# cores.
OPEN_MPI = Launcher(
    dropped={"n", "np", "c", "N", "npernode", "npersocket", "map-by", "ppr", "rankfile", "output-filename",
             "output", "wdir", "wd"},
    dropped_flags={"pernode"},
    host_files={"hostfile", "machinefile", "default-hostfile"},
    host_lists={"host", "H"},
    per_node=["--map-by", "ppr:1:node", "--wdir", "/"],
    ahead=launch.flags(True) + ["--bind-to", "none"])
# MPICH, and the others built on Hydra (Intel MPI, MVAPICH): Hydra binds
# nothing unless told.
HYDRA = Launcher(
    dropped={"n", "np", "ppn", "grr", "outfile-pattern", "errfile-pattern", "wdir"},
    dropped_flags={"rr"},
    host_files={"f", "hostfile", "machinefile"},
    host_lists={"hosts", "host"},
    per_node=["-ppn", "1", "-wdir", "/"],
    ahead=launch.flags(False))


def hosts_in_file(path):
    """The nodes of a host file, Open MPI's ("node01 slots=4") or Hydra's
    ("node01:4"), in order; comments and blank lines skipped."""
    try:
        with open(path, encoding="utf-8", errors="replace") as handle:
            lines = handle.read().splitlines()
    except OSError as error:
        raise Refused("cannot read the host file %s: %s" % (path, error.strerror or error))
    entries = [line.split("#")[0].split() for line in lines]
    return [words[0].split(":")[0] for words in entries if words]


def allocation_nodes():
    """The nodes of the Slurm allocation this runs in, in Slurm's order;
    Refused outside one, where the command names no nodes either."""
    listed = os.environ.get("SLURM_JOB_NODELIST")
    if not listed:
        raise Refused("the command names no host file or hosts (--hostfile, -f, --host), and this is not inside "
                      "a Slurm allocation")
    try:
        return probes.ask("scontrol", "show", "hostnames", listed).split()
    except probes.Unknown as why:
        raise Refused("cannot list the nodes of Slurm allocation %s: %s" % (os.environ.get("SLURM_JOB_ID"), why))


def per_node_command(directory, command):
    """The job's nodes in order, and the command that starts this package's
    answer once on each: the job's mpiexec with its own options where they
    name the nodes, else srun inside the Slurm allocation."""
    # -B: a node writes no byte code beside the scripts it runs.
    answer = [sys.executable, "-B", "-c", ANSWER, probes.SCRIPTS, directory] + command
    try:
        at = launch.position(command, "MPI launcher")
    except probes.Unknown as why:
        raise Refused(str(why))
    if os.path.basename(command[at]) != "srun":
        # Open MPI's launcher or Hydra's, told apart by its own version line.
        try:
            family = OPEN_MPI if launch.speaks_open_mpi(command[at]) else HYDRA
        except probes.Unknown as why:
            raise Refused("cannot use %s as the job's launcher: %s" % (command[at], why))
        try:
            options = command[at + 1:launch.position(command, "orvantic-drives program")]
        except probes.Unknown as why:
            raise Refused("%s, so where the launcher's options end cannot be told" % why)
        options, nodes = family.adapted(options)
        if nodes:
            return nodes, command[:at + 1] + family.ahead + options + ["-n", str(len(nodes))] + family.per_node + answer
    nodes = allocation_nodes()
    count = str(len(nodes))
    return nodes, ["srun", "--nodes=" + count, "--ntasks=" + count, "--ntasks-per-node=1", "--chdir=/",
                   "--mpi=none"] + answer


# ---- on each node ------------------------------------------------------------------------


def digest(data):
    return hashlib.sha256(data).hexdigest()[:16]


def framed(rank, fields):
    """The lines that carry a record, each ending in a newline."""
    data = json.dumps(fields).encode("utf-8")
    payload = base64.b64encode(data).decode("ascii")
    pieces = [payload[at:at + PIECE] for at in range(0, len(payload), PIECE)]
    return ["%s %s %d/%d %s %s\n" % (MARK, rank, number, len(pieces), digest(data), piece)
            for number, piece in enumerate(pieces, 1)]


def answer(directory, command):
    """This node's record, as framed lines on standard output."""
    rank = next((os.environ[name] for name in RANK_VARIABLES if name in os.environ), None)
    if rank is None:
        sys.exit("no rank from a launcher in the environment (%s)" % ", ".join(RANK_VARIABLES))
    # A write per line, so that no read of the pipe by the launcher finds
    # a line half written.
    for line in framed(rank, records.record(directory, command)):
        print(line, end="", flush=True)


# ---- on the calling machine -----------------------------------------------------------------


def assembled(frames):
    """A record from the set of (part, parts, digest, piece) lines of one
    rank, its fields in the order of FIELDS; a ValueError saying what is
    wrong with them."""
    if len({(parts, told_digest) for _, parts, told_digest, _ in frames}) > 1:
        raise ValueError("two different records came back for it")
    _, parts, told_digest, _ = next(iter(frames))
    pieces = {part: piece for part, _, _, piece in frames}
    if len(pieces) < len(frames):
        raise ValueError("a line of its record came back twice, and differently")
    missing = [str(part) for part in range(1, parts + 1) if part not in pieces]
    if missing or len(pieces) > parts:
        raise ValueError("its record arrived incomplete (of %d lines, %s missing)"
                         % (parts, ", ".join(missing) or "none, but others came"))
    try:
        data = base64.b64decode("".join(pieces[part] for part in range(1, parts + 1)), validate=True)
        if digest(data) != told_digest:
            raise ValueError("its digest does not match")
        fields = json.loads(data.decode("utf-8"))
        if not isinstance(fields, dict) or not all(isinstance(value, str) for value in fields.values()):
            raise ValueError("not a record of fields")
    except ValueError as error:
        raise ValueError("its record arrived garbled (%s)" % error)
    return {name: fields.get(name, "unknown (not in this node's record)") for name, _, _ in records.FIELDS}


def gathered(output, count):
    """The record of each rank below count, or why it cannot be had (None
    where it wrote no framed line), and how many lines belong to no such rank."""
    frames, strays = {}, 0
    # No part of a frame matches a newline: it is found within one line.
    for frame in FRAME.finditer(output.decode("utf-8", errors="replace")):
        rank, part, parts, told_digest, piece = frame.groups()
        if rank.isdecimal() and int(rank) < count:
            frames.setdefault(int(rank), set()).add((int(part), int(parts), told_digest, piece))
        else:
            strays += 1
    found = [None] * count
    for rank, lines in frames.items():
        try:
            found[rank] = assembled(lines)
        except ValueError as error:
            found[rank] = str(error)
    return found, strays


def run_bounded(argv, limit):
    """The launcher's output and error stream within `limit` seconds, and
    what went wrong with it (None if nothing)."""
    try:
        status, out, err, closed = launch.run(argv, limit=limit)
    except probes.Unknown as why:
        return b"", b"", str(why)
    if status is None:
        return out, err, "the launcher did not end within %g s and was stopped%s" % (
            limit, "" if closed else "; processes of it still hold its output")
    return out, err, "the launcher ended with status %d" % status if status else None


def records_of_job(directory, command, limit=TIME_LIMIT):
    """The records of every node of the job `command` starts (a list of
    words) for one directory path, which should be absolute: the nodes
    record it from their root directory. Every node's record in order
    (nodes.NodeRecord), and notes on what went wrong in gathering them;
    Refused where the nodes cannot be told or reached this way."""
    names, argv = per_node_command(directory, command)
    out, err, trouble = run_bounded(argv, limit)
    found, strays = gathered(out, len(names))
    nodes = [NodeRecord(name, fields=got) if isinstance(got, dict) else
             NodeRecord(name, why=got or trouble or "the launcher ended without it") for name, got in zip(names, found)]
    notes = ["%d framed line(s) of no rank of the job" % strays] if strays else []
    # Where one host answered for two listed nodes, the launcher did not
    # start one process per node, and the records are not the nodes'.
    notes += ["host %s answered for %s: the launcher did not start one process per node"
              % (shown(host), shown(", ".join(names))) for host, names in grouped(nodes, "host").items()
              if len(names) > 1]
    missing = [node.name for node in nodes if node.fields is None]
    if missing:
        notes.insert(0, "no record from %d of %d node(s): %s" % (len(missing), len(nodes), shown(", ".join(missing))))
        lines = [line for line in err.decode("utf-8", errors="replace").splitlines() if line.strip()][-TAIL:]
        if lines:
            notes.append("the launcher's error stream ends:\n%s" % "\n".join("  " + shown(line) for line in lines))
    return nodes, notes

