"""What a report measured, as rows: one per measurement (a single-node
test, a worker rank's phase, a phase's total or average over all workers,
and each phase's common-window total), valid or not, its numbers the text
the report shows, so that a CSV or a plot label repeats it character for
character; `as_float` converts when arithmetic is needed. And the work a
build is compiled with, which every rate divides."""

import math

from . import texts

# The columns of a row in their order, each with the type of its values
# (see tables): every cell holds text, empty where the row has no value.
COLUMNS = {
    "run_node": str,
    "run_datetime": str,
    "job_size": int,
    "section": str,
    "scope": str,
    "rank": int,
    "node": str,
    "measurement": str,
    "seconds": float,
    "rate": float,
    "rate_unit": str,
    "mb_per_sec": float,
    "speedup": float,
    "valid": bool,
    "warning": str,
    "ended_early": bool,
}


def rows_of(found, run_node, run_datetime="", job_size=""):
    """One row per measurement, keyed by COLUMNS, in the order the matched
    lines (see shapes.match) name them: a single-node test, one worker
    rank's phase, or a phase's total or average over all workers. A row
    that a Warning line concerns is valid=false, with the warning's text;
    where two concern it (a worker's failed phase, and its note that it
    works outside the root's start directory), the phase's own warning
    comes first, one blank, then the one about the whole rank. Lines that
    stop before the report does end early (see cut_short)."""
    rows = {}
    notes = {}
    for m in found:
        for key in m.line.marks:
            notes.setdefault(key, []).append(m)
        key = m.line.row
        if key is None:
            continue
        measurement, scope, rank = key
        row = rows.get(key)
        if row is None:
            row = rows[key] = dict((column, "") for column in COLUMNS)
            row.update(run_node=run_node, run_datetime=run_datetime, job_size=str(job_size),
                       section=texts.SECTION_OF[measurement], scope=scope, measurement=measurement,
                       valid="true", rank="" if rank is None else str(rank),
                       node=run_node if scope == texts.SCOPE_SINGLE else "")
        for slot, text in zip(m.line.slots, m.groups):
            if slot.field:
                row[slot.field] = text
                if slot.field == "rate":
                    row["rate_unit"] = texts.HANDLING_UNIT if measurement in texts.HANDLING else texts.ACCESS_UNIT
    for key, warnings in notes.items():
        if key in rows:
            # A note about a whole rank marks each of its rows.
            warnings.sort(key=lambda m: len(m.line.marks) > 1)
            rows[key].update(valid="false", warning=" ".join(m.text for m in warnings))
    cut_short(rows, found)
    return list(rows.values())


def cut_short(rows, found):
    """What lines that stop before the report does leave of the rows
    ({key: row}): not the row whose lines stop in the middle, as half a row
    is no measurement; and no validity (empty) for a valid row that a
    Warning line not reached could concern, as it would follow the row's
    lines. Rows the printed lines leave whole are kept as printed; nothing
    is added for what is missing."""
    if found.missing is None:
        return
    last = next((m.line.row for m in reversed(found) if m.line.row and not m.line.warning), None)
    if last is not None and found.missing.row == last and not found.missing.warning:
        del rows[last]
    for key in unsettled(found):
        if key in rows and rows[key]["valid"] == "true":
            rows[key]["valid"] = ""


def unsettled(found):
    """The keys of the rows whose validity lines that stop before the
    report does cannot settle: those a Warning line not reached concerns."""
    if found.missing is None:
        return set()
    return {key for line in found.unreached if line.warning for key in line.marks}


def as_float(text):
    """The value of a number as the report prints it; None for an empty cell."""
    return float(text) if text else None


def shown_unit(measurement):
    """The unit a measurement is read in: files per second for the handling
    tests, MB per second for the speed tests."""
    return texts.HANDLING_UNIT if measurement in texts.HANDLING else texts.MB_UNIT


def shown_value(row):
    """The number a row is read by, and its unit (see shown_unit)."""
    field = "rate" if row["measurement"] in texts.HANDLING else "mb_per_sec"
    return as_float(row[field]), shown_unit(row["measurement"])


def measured_value(row):
    """A row's figure (see shown_value) where it is a measurement: valid,
    and of a time long enough to measure; else None. A row whose validity a
    report that ends early leaves unsettled is no measurement either."""
    value = shown_value(row)[0]
    return value if row["valid"] == "true" and value is not None and math.isfinite(value) else None


# ---- the common window ---------------------------------------------------------


def _divided(amount, seconds):
    """As the program divides: a zero time gives no number."""
    return amount / seconds if seconds else math.nan


def common_window_row(total, ranks, settled=True):
    """A phase's conservative total: the work every worker did (its printed
    rate times its printed seconds, so that any build's counts serve) added
    up and divided by the slowest worker's seconds. That is the rate the
    drive sustained had all started together, a lower bound that, unlike
    the report's total, adds no rates measured over different spans of
    time. It takes the total's warning about the same workers' rates, and
    is valid where there is none; it has no speed-up, so the root's own
    rate does not enter it. Where the total is not `settled` (a report that
    ends early may stop before its warning), neither is the window's
    validity: empty unless a warning makes it false."""
    slowest = max(ranks, key=lambda r: as_float(r["seconds"]))
    warning = total["warning"].replace(texts.DIVISOR_NOT_VALID, "").strip()
    row = dict(total, scope=texts.SCOPE_COMMON_WINDOW, seconds=slowest["seconds"], speedup="", warning=warning,
               valid="false" if warning else "true" if settled else "")
    for field in ("rate", "mb_per_sec"):
        if total[field]:
            work = sum(as_float(r[field]) * as_float(r["seconds"]) for r in ranks)
            row[field] = "%g" % _divided(work, as_float(slowest["seconds"]))
    return row


def with_common_windows(rows, not_settled=()):
    """The rows with each phase's common-window row after its total; the
    totals keyed in `not_settled` (see unsettled) leave their window's
    validity open. A total is printed only once every worker's rows of its
    phase are, so a window is never made of some of them."""
    extended = []
    for row in rows:
        extended.append(row)
        if row["scope"] == texts.SCOPE_TOTAL:
            ranks = [r for r in rows if r["scope"] == texts.SCOPE_RANK and r["measurement"] == row["measurement"]]
            settled = (row["measurement"], texts.SCOPE_TOTAL, None) not in not_settled
            extended.append(common_window_row(row, ranks, settled))
    return extended


# ---- the work behind a rate ----------------------------------------------------------


class Counts:
    """The amounts of work a build is compiled with (src/state/work_counts.h);
    every rate divides one of them by measured seconds."""

    def __init__(self, handling, first_pass):
        self.handling = handling  # create/open/close/remove cycles per handling test
        self.first_pass = first_pass  # one-byte accesses of the low tests' first pass; the scratch file's size
        self.low_accesses = first_pass + first_pass // 2
        self.high_bytes = first_pass * 1.5  # block read or written once, then its half

    def of(self, measurement):
        """The single-node test's work, in what its rate counts: cycles, or
        accesses (bytes, in the high tests)."""
        if measurement in texts.HANDLING:
            return self.handling
        return self.high_bytes if measurement.startswith("high") else self.low_accesses


# The shipped build's. The full-size end-to-end runs check every rate against
# them, so a change of work_counts.h not made here fails there.
SHIPPED_COUNTS = Counts(0x20000, 0x1000000)


def work_of(row):
    """The work a row's rate and seconds stand for, in the unit of
    Counts.of: the rate counts files, or millions of accesses."""
    per_unit = 1 if row["measurement"] in texts.HANDLING else 1e6
    return as_float(row["rate"]) * per_unit * as_float(row["seconds"])
