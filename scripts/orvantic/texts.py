"""The report's literal texts and the names it uses: the banner and the end
of a run, section headings and units, the six measurements, the scopes of
a row, the scratch files, and the notes on what was found at a name."""

import re

TITLE = "Velbrix :: Orvantic Benchmark Drives for Windows Clusters on Mac Mx system 2023.03.06."
NOTICE = "Notice: measures the drive of the current directory and leaves its scratch files there."
SUPPORT = "Support: see the README of orvantic-drives."
UNABLE = "Unable to open file"
SAVED = "Results have been saved in a file and you can find it at: "
NOT_SAVED = "Results could not be saved in a file at: "
MOVED = "Results were written, but the file is no longer at: "
PRESS_ENTER = "Press Enter to Exit."
RESULTS_PREFIX = "results_drives_windows_clusters_mac_mx @ "
MAX_JOB_SIZE = 4096
# After a speed-up over the root's own rate of a test whose operations failed.
DIVISOR_NOT_VALID = "Warning: the root's own rate of this test is not valid; the speed-up above is not valid."
# The last line of both sinks of a root told to terminate (SIGTERM, SIGINT,
# SIGHUP; on Windows a console event): what stopped it, where the run was,
# and this end.
STOPPED = "Warning: the run was stopped by "
STOP_END = "; the report ends here."

SCOPE_SINGLE = "single"
SCOPE_RANK = "rank"
SCOPE_TOTAL = "total"
SCOPE_AVERAGE = "average"
# Not a line of the report: each phase's workers' work over the slowest
# worker's time (see measured.common_window_row).
SCOPE_COMMON_WINDOW = "common-window"

HANDLING_UNIT = "Files/sec."
ACCESS_UNIT = "Millions Accesses/sec."
MB_UNIT = "MB/sec."

HANDLING_LOWER = "Power of Handling Files -- Lower"
HANDLING_HIGHER = "Power of Handling Files -- Higher"
LOW_SPEEDS = "Low writing and reading speeds:"
HIGH_SPEEDS = "High writing and reading speeds:"

# The six measurements, in the order of the report and of a worker's phases
# 1 to 6, each with its section's heading: the program's kPhaseNames
# (src/state/phases.h), whose stop-line words test_words gives.
MEASUREMENTS = [
    ("stream-handling", HANDLING_LOWER),
    ("descriptor-handling", HANDLING_HIGHER),
    ("low-write", LOW_SPEEDS),
    ("low-read", LOW_SPEEDS),
    ("high-read", HIGH_SPEEDS),
    ("high-write", HIGH_SPEEDS),
]
SECTION_OF = dict(MEASUREMENTS)
HANDLING = ("stream-handling", "descriptor-handling")
ALL_TESTS = frozenset(SECTION_OF)


_PHASES = dict((m, number) for number, (m, _) in enumerate(MEASUREMENTS, 1))


def phase_of(measurement):
    return _PHASES[measurement]


def test_words(measurement):
    """A measurement as a stop line names its test or phase: "low write"."""
    return measurement.replace("-", " ")


# Scratch files: the root's, and each worker's named after its rank and node.
SINGLE_SCRATCH = "data64-windows-mx-single.tmp"
SINGLE_COPY = "data64-windows-mx-single"
SINGLE_CLAIM = "data64-windows-mx-single.claim"


def file_node(node):
    """A node name as file names carry it on a POSIX system: what could lead
    into another directory or split the name replaced. A Windows build also
    replaces the characters Windows forbids in names (<>:"|?*), which a
    Windows host name never holds."""
    return re.sub(r"[\x00-\x1f\x7f/\\]", "_", node)


def line_node(node):
    """A node name as report lines show it: control characters replaced."""
    return re.sub(r"[\x00-\x1f\x7f]", "?", node)


def is_scratch_name(name):
    """Whether a file name is one the benchmark writes its scratch data to
    (or holds while it runs), whatever the rank and node."""
    return name in (SINGLE_SCRATCH, SINGLE_COPY, SINGLE_CLAIM) or re.fullmatch(
        r"data64-windows-mx-[1-9]\d* @.*", name, re.DOTALL) is not None


# What the benchmark may find at a name it is about to open, and says it
# removed (or could not remove).
SYMBOLIC_LINK = "symbolic link"
LINKED_FILE = "file with other hard links"
NAMED_PIPE = "named pipe"
SOCKET = "socket"
DEVICE = "device file"
_LEFT_UNTOUCHED = {SYMBOLIC_LINK: "; its target was left untouched",
                   LINKED_FILE: "; its other links were left untouched"}


def found_note(name, kind=SYMBOLIC_LINK, removed=True):
    if removed:
        return "Removed a %s found at %s%s." % (kind, name, _LEFT_UNTOUCHED.get(kind, ""))
    return "Warning: cannot remove the %s found at %s; the benchmark will not use that name." % (kind, name)
