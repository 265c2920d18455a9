"""The shapes a line of the report takes, literal pieces and slots, and
`match`, which walks actual lines against the expected ones and refuses
anything else: a number taken from a line that only looks similar would be
worse than no number. Numbers are kept as the text the report shows."""

import collections
import functools
import re

from . import texts

# The streams' default format: six significant digits, general notation
# with an exponent of at least two digits; a division by a zero time prints
# inf, and a failed one may print nan.
NUMBER = r"-?(?:inf|nan|\d+(?:\.\d+)?(?:e[-+]\d\d+)?)"


class Slot:
    """A variable piece of a line. `check` tells what is wrong with the text
    it matched, given what the lines before it said (None when nothing is);
    `owed` whether those lines make an optional line carrying it required;
    `field` the row's column it fills, if any."""

    field = None

    def fits(self, text):
        """Whether the text its pattern matched is the one the line holds."""
        return True

    def check(self, text, seen):
        return None

    def owed(self, seen):
        return False


class Value(Slot):
    """A number in the default format, kept in its row under `field`."""

    def __init__(self, field):
        self.field = field
        self.pattern = NUMBER

    def describe(self):
        return "<number>"


class NodeOf(Slot):
    """The node name of a rank: given, or any text when the job's node names
    are not known beforehand (only the ends of a line tell where it stops).
    It must read the same on every line of its rank."""

    field = "node"

    def __init__(self, rank, name=None):
        self.rank = rank
        self.name = None if name is None else texts.line_node(name)
        self.pattern = ".*" if name is None else re.escape(self.name)

    def describe(self):
        return "<node of rank %d>" % self.rank if self.name is None else self.name

    def check(self, text, seen):
        if seen.nodes.setdefault(self.rank, text) != text:
            return "rank %d's lines name different nodes (%r, %r)" % (self.rank, seen.nodes[self.rank], text)
        return None


class Count(Slot):
    """A count of failed file operations; a warning is only written for one."""

    pattern = r"[1-9]\d*"

    def describe(self):
        return "<count>"


class NotValidCount(Count):
    """How many workers' rates of a phase are not valid, where the lines
    before it tell: a total or average that adds one of them must say so,
    and count each of them."""

    def __init__(self, measurement):
        self.measurement = measurement

    def describe(self):
        return "<count of %s rates not valid>" % self.measurement

    def check(self, text, seen):
        warned = len(seen.not_valid.get(self.measurement, ()))
        if int(text) != warned:
            return "the warning counts %s %s rate(s) not valid, the rank lines above warn of %d" % (
                text, self.measurement, warned)
        return None

    def owed(self, seen):
        return bool(seen.not_valid.get(self.measurement))


class Form(Slot):
    """Text of a known form, such as what stopped a run: `pattern` a regular
    expression without groups of its own, named `name`; or the text itself
    where it is given."""

    def __init__(self, pattern, name, text=None):
        self.name = name
        self.text = text
        self.pattern = pattern if text is None else re.escape(text)

    def describe(self):
        return "<%s>" % self.name if self.text is None else self.text


def Text(text=None):  # noqa: N802 (a slot's maker, named as the slots are)
    """Text from outside the program, such as a directory: given, shown with
    control characters replaced as node names are, or any text."""
    return Form(".*", "text", None if text is None else texts.line_node(text))


class Fixed(Slot):
    """Literal text that tells lines of one shape apart, such as a rank's
    number: matched by its form, then compared, so that the lines of every
    rank share one compiled pattern (a report of 4,096 ranks has some
    100,000 lines)."""

    def __init__(self, text, pattern=r"\d+"):
        self.text = str(text)
        self.pattern = pattern

    def describe(self):
        return self.text

    def fits(self, text):
        return text == self.text


@functools.lru_cache(maxsize=None)
def _compiled(shape):
    """The pattern of a line's shape: its literal pieces (str) and its
    slots' patterns (each in a 1-tuple), a group per slot; compiled once
    for the lines of every rank."""
    return re.compile("".join(re.escape(p) if isinstance(p, str) else "(%s)" % p[0] for p in shape))


class Line:
    """One line of the report: literal pieces and slots. `row` names the
    measurement its numbers belong to, as (measurement, scope, rank);
    a `warning` line marks the rows in `marks` (its own row by default) as
    not valid. Optional lines are those a report may or may not hold at
    that place, unless a slot finds them owed."""

    def __init__(self, *pieces, row=None, warning=False, optional=False, marks=None):
        self.pieces = pieces
        self.row = row
        self.warning = warning
        self.optional = optional
        self.marks = tuple(marks) if marks is not None else (row,) if warning else ()
        # One pass: a report of 4,096 ranks makes some 100,000 lines.
        self.slots, shape, self.fixed = [], [], False
        for piece in pieces:
            if isinstance(piece, str):
                shape.append(piece)
            else:
                self.slots.append(piece)
                shape.append((piece.pattern,))
                self.fixed = self.fixed or isinstance(piece, Fixed)
        self.shape = tuple(shape)

    @property
    def regex(self):
        """The line's own pattern, a group per slot."""
        return _compiled(tuple((re.escape(p.text),) if isinstance(p, Fixed) else p if isinstance(p, str)
                               else (p.pattern,) for p in self.pieces))

    def fullmatch(self, text):
        """The match of the whole text, or None: by the pattern of the
        line's shape, and each slot's text what the line holds."""
        hit = _compiled(self.shape).fullmatch(text)
        if hit and self.fixed and not all(slot.fits(t) for slot, t in zip(self.slots, hit.groups())):
            return None
        return hit

    def masked(self):
        """The line with each slot shown as what it stands for."""
        return "".join(p if isinstance(p, str) else p.describe() for p in self.pieces)

    def describe(self):
        return repr(self.masked())

    __repr__ = describe

    def owed(self, seen):
        return any(slot.owed(seen) for slot in self.slots)


# ---- matching -------------------------------------------------------------


class Mismatch(Exception):
    """Actual lines that are not the expected ones; `index` is the line."""

    def __init__(self, index, what):
        Exception.__init__(self, what)
        self.index = index
        self.what = what


Matched = collections.namedtuple("Matched", "line text groups")


class Found(list):
    """The Matched lines, and how far they reach: `unreached`, the expected
    lines from where the actual ones stop; `missing`, the first of those the
    report must have, None when the actual lines hold the whole report."""

    unreached = ()
    missing = None


class _Seen:
    """What the lines matched so far said: the node of each rank, and per
    phase the workers whose rate a warning made not valid."""

    def __init__(self):
        self.nodes = {}
        self.not_valid = {}

    def note(self, line):
        for measurement, scope, rank in line.marks:
            if scope == texts.SCOPE_RANK:
                self.not_valid.setdefault(measurement, set()).add(rank)


def match(expected, actual, prefix_only=False):
    """Matches actual lines one by one against the expected ones and returns
    a Matched per actual line, as Found. With prefix_only the actual lines
    may stop early (a run cut short). A node name must read the same on
    every line of its rank, and a warning about a total or average must
    count the workers' rates that the lines above it made not valid."""
    found = Found()
    seen = _Seen()
    index = 0
    for position, line in enumerate(expected):
        skippable = line.optional and not line.owed(seen)
        if index >= len(actual):
            if not found.unreached:
                found.unreached = expected[position:]
            if skippable:
                continue
            if not prefix_only:
                raise Mismatch(index, "expected %s" % line.describe())
            found.missing = line
            break
        hit = line.fullmatch(actual[index])
        if not hit:
            if skippable:
                continue
            raise Mismatch(index, "expected %s" % line.describe())
        for slot, text in zip(line.slots, hit.groups()):
            problem = slot.check(text, seen)
            if problem:
                raise Mismatch(index, problem)
        seen.note(line)
        found.append(Matched(line, actual[index], hit.groups()))
        index += 1
    if index < len(actual):
        raise Mismatch(index, "%d line(s) more than the report has" % (len(actual) - index))
    return found


def numbers(found):
    """Every number token that matched, for checks of their format."""
    return [text for m in found for slot, text in zip(m.line.slots, m.groups) if isinstance(slot, Value)]
