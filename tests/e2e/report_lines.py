"""The report orvantic-drives must write, line by line, for a job of a given
size: one list for the console and one for the results file. Numbers are
"{N}" (a double) or "{I}" (an int); keyed lines keep their numbers for the
arithmetic checks. Written from the report's description, not from the
program, so that the two readings check each other."""

from harness import Line

N = "{N}"
TITLE = "Velbrix :: Orvantic Benchmark Drives for Windows Clusters on Mac Mx system 2023.03.06."
NOTICE = "Notice: measures the drive of the current directory and leaves its scratch files there."
SUPPORT = "Support: see the README of orvantic-drives."
WARNING = "Warning: {I} file operations failed in this test; the rate above is not valid."
UNABLE = "Unable to open file"
SAVED = "Results have been saved in a file and you can find it at: "
NOT_SAVED = "Results could not be saved in a file at: "
PRESS_ENTER = "Press Enter to Exit."


class Report:
    def __init__(self):
        self.console = []
        self.file = []

    def both(self, text, key=None):
        """A line written to the console, then the same to the file."""
        self.console.append(Line(text, key))
        self.file.append(Line(text, key))

    def con(self, *texts, key=None):
        self.console.extend(Line(t, key) for t in texts)

    def fil(self, *texts, key=None):
        self.file.extend(Line(t, key) for t in texts)

    def heading(self, console_text, file_text=None):
        self.con(console_text, "")
        self.fil(file_text or console_text, "")

    def warning(self, failing, test_name):
        if failing:
            self.both(WARNING, key=("warning", test_name))


def banner(report, size):
    report.con("", TITLE, NOTICE, SUPPORT, "", "", "", "Thread(s): %d" % size, "")
    report.fil(TITLE, "", "Thread(s): %d" % size, "")


def speed_block(report, name, seconds_unit, sink):
    """Spent / millions / MB lines of a single-node direction on one sink."""
    sink("The system spent: " + N + seconds_unit, key=name + "_secs")
    sink("It was: " + N + " Millions Accesses/sec.", key=name + "_millions")
    sink("Conventionally, it was: " + N + " MB/sec.", key=name + "_mb")


def single_node(report, failing=False):
    """failing: every file operation of the run fails (unwritable directory)."""
    report.heading("Force to be single thread.")
    for name, console_heading, file_heading in (("stream", "Power of Handling Files -- Lower", None),
                                                ("desc", "Power of Handling Files -- Hihger",
                                                 "Power of Handling Files -- Higher")):
        report.heading(console_heading, file_heading)
        report.con("The system spent: " + N + " Secs.", key=name + "_secs")
        report.con("The system could process " + N + " Files/sec.", key=name + "_rate")
        report.con("")
        report.fil("The system spent: " + N + " Secs.", key=name + "_secs")
        report.fil("The system could process  " + N + " Files/sec.", key=name + "_rate")
        report.fil("")
        report.warning(failing, name)

    report.heading("Low writing and reading speeds:")
    speed_block(report, "lw", " Secs. to Write.", report.con)
    speed_block(report, "lw", " Secs. to Write.", report.fil)
    report.warning(failing, "lw")
    if failing:
        report.con(UNABLE)
    speed_block(report, "lr", " Secs. to Read:", report.con)
    report.con("")
    speed_block(report, "lr", " Secs. to Read:", report.fil)
    report.fil("")
    report.warning(failing, "lr")

    report.heading("High writing and reading speeds:")
    if failing:
        report.con(UNABLE)
    speed_block(report, "hr", " Secs. to Read:", report.con)
    speed_block(report, "hr", " Secs. to Read:", report.fil)
    report.warning(failing, "hr")
    speed_block(report, "hw", " Secs. to Write.", report.con)
    report.con("")
    speed_block(report, "hw", " Secs. to Write.", report.fil)
    report.fil("")
    report.con("")
    report.fil("")
    report.warning(failing, "hw")


def rank_prefix(rank, nodes):
    return "Thread:%d @%s" % (rank, nodes[rank])


def cluster_handling(report, phase, heading, nodes):
    p = "p%d" % phase
    workers = sorted(k for k in nodes if k > 0)
    if phase == 1:
        report.both("Multi-Thread Enabled:")
    report.heading(heading)
    for k in workers:
        report.con(rank_prefix(k, nodes) + " The system spent: " + N + " Secs.", key=(p, k, "secs"))
        report.con(rank_prefix(k, nodes) + " The system could process " + N + " Files/sec.", key=(p, k, "rate"))
        report.fil(rank_prefix(k, nodes) + "The system spent: " + N + " Secs.", key=(p, k, "secs"))
        report.fil(rank_prefix(k, nodes) + "The system could process " + N + " Files/sec.", key=(p, k, "rate"))
    report.both("Overall, The system could process: " + N + " Files/sec.", key=(p, "total"))
    report.both("Multi-Thread Improvements: " + N + " times.", key=(p, "speedup"))
    report.both("")
    average = "Among all nodes, the average process per thread was: " + N + " Files/sec."
    report.con("", "", average, key=(p, "average"))
    report.fil("", average, key=(p, "average"))
    report.both("")


def rank_speed_lines(report, phase, direction, nodes):
    p = "p%d" % phase
    for k in sorted(k for k in nodes if k > 0):
        for sink, unit in ((report.con, " Millions Access/sec."), (report.fil, " Millions Accesses/sec.")):
            sink(rank_prefix(k, nodes) + " The system spent: " + N + " Secs. to " + direction + ".",
                 key=(p, k, "secs"))
            sink(rank_prefix(k, nodes) + " It was: " + N + unit, key=(p, k, "millions"))
            sink("Conventionally, it was: " + N + " MB/sec.", key=(p, k, "mb"))


def totals(report, phase, direction, lower):
    p = "p%d" % phase
    for sink in (report.con, report.fil):
        sink("Overall, It was: " + N + " Millions Accesses/sec.to " + direction, key=(p, "total_millions"))
        sink("Conventionally, total %s speed was: " % lower + N + " MB/sec.", key=(p, "total_mb"))
    report.both("Multi-Thread Improvements: " + N + " times.", key=(p, "speedup"))


def cluster_low(report, nodes):
    report.both("Multi-Thread Enabled:")
    report.heading("Low writing and reading speeds:")
    rank_speed_lines(report, 3, "Write", nodes)
    rank_speed_lines(report, 4, "Read", nodes)
    report.con("", "")
    report.fil("", "")
    totals(report, 3, "Write", "writing")
    totals(report, 4, "Read", "reading")
    report.con("")
    report.fil("")
    report.con("", "Among all nodes, the average low writing process per thread was: " + N + " MB/sec.",
               key=("p3", "average_mb"))
    report.fil("", "Among all nodes, the average low writing process per thread was: " + N + " MB/sec.",
               key=("p3", "average_mb"))
    for sink in (report.con, report.fil):
        sink("", "Among all nodes, the average low reading process per thread was: " + N + "  MB/sec.",
             key=("p4", "average_mb"))
    report.con("")
    report.fil("")


def cluster_high(report, nodes):
    report.both("Multi-Thread Enabled:")
    report.heading("High writing and reading speeds:")
    rank_speed_lines(report, 5, "Read", nodes)
    rank_speed_lines(report, 6, "Write", nodes)
    report.con("")
    report.fil("")
    # Write first, read second here, unlike the low section's per-rank order.
    totals(report, 6, "Write", "writing")
    totals(report, 5, "Read", "reading")
    report.con("")
    report.fil("")
    for sink in (report.con, report.fil):
        sink("", "Among all nodes, the average high writing process per thread was: " + N + "  MB/sec.",
             key=("p6", "average_mb"))
    for sink in (report.con, report.fil):
        sink("", "Among all nodes, the average high reading process per thread was: " + N + "  MB/sec.",
             key=("p5", "average_mb"))


def end_of_run(report, path, saved=True):
    report.con("", "", (SAVED if saved else NOT_SAVED) + path, "", "", PRESS_ENTER)


def full_report(nodes, path, failing=False, saved=True):
    """nodes: {rank: node name} for every rank of the job, 0 included."""
    report = Report()
    banner(report, len(nodes))
    single_node(report, failing)
    if len(nodes) > 1:
        cluster_handling(report, 1, "Power of Handling Files -- Lower", nodes)
        cluster_handling(report, 2, "Power of Handling Files -- Higher", nodes)
        cluster_low(report, nodes)
        cluster_high(report, nodes)
    end_of_run(report, path, saved)
    return report


def worker_failure_lines(rank):
    """A worker's own console when none of its files can be created: a note
    after every phase, and the open failure of both read phases."""
    lines = []
    for phase in range(1, 7):
        if phase in (4, 5):
            lines.append(Line(UNABLE))
        lines.append(Line("Warning: rank %d, phase %d: {I} file operations failed; "
                          "the rate sent for this phase is not valid." % (rank, phase), key=phase))
    return lines
