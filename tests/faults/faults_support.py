"""What the fault scripts add to the end-to-end harness: launcher commands
that suit Open MPI and MPICH alike, one console file per rank, a private
tmpfs to run in, an unprivileged user, and the checks of a report that was
cut short or carries notes about planted links."""

import hashlib
import os
import re
import shutil
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, "e2e"))

import harness as h  # noqa: E402  (the end-to-end helpers, shared)
import report_checks as c  # noqa: E402
import report_lines as r  # noqa: E402

# The suite also runs on an AddressSanitizer build; the MPI libraries keep
# their own allocations until exit by design, which is not ours to report.
os.environ.setdefault("ASAN_OPTIONS", "detect_leaks=0")

UNPRIVILEGED = ["setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups"]
NOBODY_UID = 65534
SINGLE_TESTS = ("stream", "desc", "lw", "lr", "hr", "hw")
LINK_REMOVED = "Removed a symbolic link found at %s; its target was left untouched."
LINK_KEPT = "Warning: cannot remove the symbolic link found at %s; the benchmark will not use that name."


def job(ws, *apps):
    """Launcher command for app contexts given as (process count, argv);
    argv may begin with launcher options of its own context (-wdir DIR)."""
    cmd = ws.launcher()
    for index, (count, argv) in enumerate(apps):
        if index:
            cmd.append(":")
        cmd += ["-n", str(count)] + list(argv)
    return cmd


# Each rank's standard output in a file of its own, written by the rank
# itself rather than forwarded by the launcher, so that nothing in flight is
# lost when the launcher is killed, and the same under either launcher.
_OWN_CONSOLE = 'exec "$@" > "$0/rank.${OMPI_COMM_WORLD_RANK:-$PMI_RANK}"'


def own_console(directory, argv):
    return ["sh", "-c", _OWN_CONSOLE, directory] + list(argv)


def unsigned_nan(lines):
    """A speed-up of a run whose root moved no bytes is 0 / 0. C's %g writes
    that NaN with its sign, "-nan"; the harness's number check follows
    Python's %g, which never signs a NaN. Only the sign is dropped."""
    return [re.sub(r"(?<![\w.])-nan\b", "nan", line) for line in lines]


def console_of(test, directory, rank):
    path = os.path.join(directory, "rank.%d" % rank)
    test.assertTrue(os.path.exists(path), "no console file of rank %d" % rank)
    with open(path, "rb") as f:
        data = f.read()
    test.assertTrue(data == b"" or data.endswith(b"\n"), "console of rank %d ends inside a line" % rank)
    return unsigned_nan(h.split_lines(data.decode("utf-8", "replace")))


def consoles_dir(ws, for_nobody=False):
    path = os.path.join(ws.root, "consoles")
    os.mkdir(path)
    if for_nobody:
        h.writable_by_nobody(path)
    return path


def require_root(test, *tools):
    if os.geteuid() != 0:
        test.skipTest("needs root (mounts, other users, host names)")
    for tool in tools:
        if shutil.which(tool) is None:
            test.skipTest("%s is not installed" % tool)


def nobody_env(ws):
    """Launcher environment for a job run as nobody: a home and a scratch
    place of its own, since the launcher keeps session files there."""
    home = os.path.join(ws.root, "home")
    os.mkdir(home)
    h.writable_by_nobody(home)
    return h.launcher_env(HOME=home, TMPDIR=home)


# Run directories become fresh tmpfs mounts inside a private mount namespace,
# so nothing stays mounted whatever happens to the test. What the job left
# in them is copied out before the namespace, and the mounts with it, goes
# away.
_ON_TMPFS = r'''
left=$1
shift
mounts=
while [ "$1" != -- ]; do
  dir=$1 size=$2 fill=$3
  shift 3
  mkdir -p "$dir" && mount -t tmpfs -o "size=$size,mode=755" orvantic-faults "$dir" || exit 97
  if [ "$fill" -gt 0 ]; then head -c "$fill" /dev/zero > "$dir/filler" || exit 97; fi
  mounts="$mounts $dir"
done
shift
"$@"
status=$?
for dir in $mounts; do
  mkdir "$left/${dir##*/}" && cp -a "$dir"/. "$left/${dir##*/}"/ || exit 97
done
exit $status
'''


def on_tmpfs(ws, *mounts):
    """Prefix for Workspace.run that turns each of `mounts`, given as
    (directory, size in bytes, bytes already taken by a file named filler),
    into a tmpfs of its own. Returns the prefix and where the contents of
    directory D are found afterwards: os.path.join(left, basename(D))."""
    left = os.path.join(ws.root, "left")
    os.mkdir(left)
    args = []
    for directory, size, fill in mounts:
        if " " in directory:
            raise ValueError("tmpfs mount points are kept in a blank-separated list")
        args += [directory, str(size), str(fill)]
    return ["unshare", "-m", "sh", "-c", _ON_TMPFS, "orvantic-tmpfs", left] + args + ["--"], left


def results_file(test, directory):
    """(name, bytes) of the one results file in directory."""
    names = [n for n in os.listdir(directory) if n.startswith(h.RESULTS_PREFIX)]
    test.assertEqual(len(names), 1, "results files in %s: %s" % (directory, names))
    with open(os.path.join(directory, names[0]), "rb") as f:
        return names[0], f.read()


def expected_report(nodes, path, failing=(), unable=(), saved=True):
    """The whole report when the single-node tests named in `failing` (of
    SINGLE_TESTS) each end with a Warning line and the reads named in
    `unable` ("lr", "hr") could not open their file."""
    report = r.full_report(nodes, path, failing=True, saved=saved)
    for sink in ("console", "file"):
        unable_lines = iter(("lr", "hr"))
        kept = []
        for line in getattr(report, sink):
            if isinstance(line.key, tuple) and line.key[0] == "warning":
                if line.key[1] not in failing:
                    continue
            elif line.template == r.UNABLE:
                if next(unable_lines) not in unable:
                    continue
            kept.append(line)
        setattr(report, sink, kept)
    return report


def expected_worker_lines(rank, failing=(), unable=()):
    """A worker's own console: Warning lines of the phases in `failing`,
    "Unable to open file" of the read phases in `unable` (4, 5)."""
    unable_lines = iter((4, 5))
    kept = []
    for line in r.worker_failure_lines(rank):
        if line.template == r.UNABLE:
            if next(unable_lines) not in unable:
                continue
        elif line.key not in failing:
            continue
        kept.append(line)
    return kept


def check_results_prefix(test, data, report, console_values):
    """The results file of a run whose disk filled up: every line in it is
    the report's next file line, with the numbers the console showed, and
    it ends on a whole line. Returns whether it holds the whole report."""
    whole, newline, partial = data.rpartition(b"\n")
    lines = unsigned_nan(whole.decode("utf-8", "replace").split("\n")) if newline else []
    values = h.match_lines(test, report.file, lines, "results file", prefix_only=True)
    # A blank line may carry the key of the line after it, which a cut can
    # leave out: compare only keys whose numbered line made it in.
    c.same_numbers_on_both_sinks(test, console_values, {k: v for k, v in values.items() if v})
    test.assertEqual(partial, b"", "results file ends inside a line, after %d whole lines: %r"
                     % (len(lines), partial))
    return len(lines) == len(report.file)


def end_line(lines):
    """The end-of-run location line, and whether it says the file was saved."""
    for line in lines:
        if line.startswith(r.SAVED):
            return line, True
        if line.startswith(r.NOT_SAVED):
            return line, False
    return None, None


def snapshot(path):
    """Identity, owner, mode, size, time and content of a file: enough to
    tell whether anything wrote, truncated, replaced or removed it."""
    info = os.lstat(path)
    with open(path, "rb") as f:
        digest = hashlib.sha256(f.read()).hexdigest()
    return {"inode": info.st_ino, "mode": oct(info.st_mode), "owner": info.st_uid, "size": info.st_size,
            "modified": info.st_mtime_ns, "sha256": digest}
