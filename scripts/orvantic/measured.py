"""What a report measured, as rows: one per measurement (a single-node
test, a worker rank's phase, a phase's total or average over all workers,
and each phase's common-window total), its validity, and its numbers as
Figures: values for arithmetic that keep the text the report shows, so
that a CSV or a plot label repeats it character for character. And the
work a build is compiled with, which every rate divides."""

import dataclasses
import datetime
import enum
import math
from typing import Optional

from . import texts


class Figure(float):
    """A number as a line shows it: its value, and its text (str) for output
    that repeats it."""

    __slots__ = ("text",)

    def __new__(cls, text):
        figure = super().__new__(cls, text)
        figure.text = text
        return figure

    def __str__(self):
        return self.text


def figure(form, value):
    """A computed number as the tools print it, in a printf form."""
    return None if value is None else Figure(form % value)


class Validity(enum.Enum):
    """Whether a row is a measurement; its value is what CSV and JSON write."""

    VALID = True
    NOT_VALID = False  # a Warning line concerns it
    UNSETTLED = None  # a report that ends early stops where a Warning line could still concern it


@dataclasses.dataclass
class Row:
    """One measurement. Fields in the order of the tables' columns; None
    where the row has no value."""

    run_node: Optional[str]
    run_datetime: Optional[datetime.datetime]
    job_size: Optional[int]
    section: str
    scope: str
    rank: Optional[int]
    node: Optional[str]
    measurement: str
    seconds: Optional[Figure] = None
    rate: Optional[Figure] = None
    rate_unit: Optional[str] = None
    mb_per_sec: Optional[Figure] = None
    speedup: Optional[Figure] = None
    valid: Validity = Validity.VALID
    warning: Optional[str] = None
    ended_early: bool = False

    @property
    def key(self):
        return self.measurement, self.scope, self.rank

    @property
    def shown_field(self):
        return shown_field(self.measurement)

    @property
    def shown(self):
        return getattr(self, self.shown_field)

    @property
    def unit(self):
        return shown_unit(self.measurement)

    @property
    def measured(self):
        """The shown figure where it is a measurement: valid, and of a time
        long enough to measure (a zero time prints inf); else None."""
        value = self.shown
        return value if self.valid is Validity.VALID and value is not None and math.isfinite(value) else None

    def values(self):
        """The row's values by column, as the tables write them."""
        return dict((name, getattr(self, name)) for name in COLUMNS)


COLUMNS = [field.name for field in dataclasses.fields(Row)]


def rows_of(found, run_node, run_datetime=None, job_size=None):
    """One Row per measurement, in the order the matched lines (see
    shapes.match) name them: a single-node test, one worker rank's phase,
    or a phase's total or average over all workers. A row that a Warning
    line concerns is not valid, with the warning's text; where two concern
    it (a worker's failed phase, and its note that it works outside the
    root's start directory), the phase's own warning comes first, one
    blank, then the one about the whole rank. Lines that stop before the
    report does end early (see cut_short)."""
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
            row = rows[key] = Row(run_node, run_datetime, job_size, texts.SECTION_OF[measurement], scope, rank,
                                  run_node if scope == texts.SCOPE_SINGLE else None, measurement)
        for slot, text in zip(m.line.slots, m.groups):
            if slot.field == "node":
                row.node = text
            elif slot.field:
                setattr(row, slot.field, Figure(text))
                if slot.field == "rate":
                    row.rate_unit = texts.HANDLING_UNIT if measurement in texts.HANDLING else texts.ACCESS_UNIT
    for key, warnings in notes.items():
        if key in rows:
            # A note about a whole rank marks each of its rows.
            warnings.sort(key=lambda m: len(m.line.marks) > 1)
            rows[key].valid = Validity.NOT_VALID
            rows[key].warning = " ".join(m.text for m in warnings)
    cut_short(rows, found)
    return list(rows.values())


def cut_short(rows, found):
    """What lines that stop before the report does leave of the rows
    ({key: row}): not the row whose lines stop in the middle, as half a row
    is no measurement; and no settled validity for a valid row that a
    Warning line not reached could concern, as it would follow the row's
    lines. Rows the printed lines leave whole are kept as printed; nothing
    is added for what is missing."""
    if found.missing is None:
        return
    last = next((m.line.row for m in reversed(found) if m.line.row and not m.line.warning), None)
    if last is not None and found.missing.row == last and not found.missing.warning:
        del rows[last]
    for key in unsettled(found):
        if key in rows and rows[key].valid is Validity.VALID:
            rows[key].valid = Validity.UNSETTLED


def unsettled(found):
    """The keys of the rows whose validity lines that stop before the
    report does cannot settle: those a Warning line not reached concerns."""
    if found.missing is None:
        return set()
    return {key for line in found.unreached if line.warning for key in line.marks}


def shown_field(measurement):
    """The field a measurement is read by, and (shown_unit) its unit: files
    per second for the handling tests, MB per second for the speed tests."""
    return "rate" if measurement in texts.HANDLING else "mb_per_sec"


def shown_unit(measurement):
    return texts.HANDLING_UNIT if measurement in texts.HANDLING else texts.MB_UNIT


# ---- the common window ---------------------------------------------------------


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
    validity, unless a warning makes it not valid."""
    slowest = max(ranks, key=lambda r: r.seconds)
    warning = (total.warning or "").replace(texts.DIVISOR_NOT_VALID, "").strip() or None
    validity = Validity.NOT_VALID if warning else Validity.VALID if settled else Validity.UNSETTLED
    row = dataclasses.replace(total, scope=texts.SCOPE_COMMON_WINDOW, seconds=slowest.seconds, speedup=None,
                              warning=warning, valid=validity)
    for field in ("rate", "mb_per_sec"):
        if getattr(total, field) is not None:
            work = sum(getattr(r, field) * r.seconds for r in ranks)
            # As the program divides: a zero time gives no number.
            setattr(row, field, figure("%g", work / slowest.seconds if slowest.seconds else math.nan))
    return row


def with_common_windows(rows, not_settled=()):
    """The rows with each phase's common-window row after its total; the
    totals keyed in `not_settled` (see unsettled) leave their window's
    validity open. A total is printed only once every worker's rows of its
    phase are, so a window is never made of some of them."""
    ranks = {}
    for row in rows:
        if row.scope == texts.SCOPE_RANK:
            ranks.setdefault(row.measurement, []).append(row)
    extended = []
    for row in rows:
        extended.append(row)
        if row.scope == texts.SCOPE_TOTAL:
            settled = row.key not in not_settled
            extended.append(common_window_row(row, ranks[row.measurement], settled))
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
    per_unit = 1 if row.measurement in texts.HANDLING else 1e6
    return row.rate * per_unit * row.seconds
