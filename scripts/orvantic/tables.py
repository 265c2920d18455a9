"""Rows as a table: CSV with a header line, or JSON, a list of objects with
the same keys in the same order, as jq and pandas expect. Rows are dicts of
typed values (see measured.Row.values); here alone they become text:
a Figure as the report prints it, a flag as true or false, nothing (None)
as an empty cell or null."""

import csv
import datetime
import enum
import json
import math


def _plain(value):
    if isinstance(value, enum.Enum):
        value = value.value
    return value.isoformat() if isinstance(value, datetime.datetime) else value


def cell(value):
    """A value as CSV text."""
    value = _plain(value)
    if value is None:
        return ""
    if isinstance(value, bool):
        return "true" if value else "false"
    return str(value)


def json_value(value):
    """A value for JSON, which has no inf or nan (a division by a zero time
    prints them): null, as for an empty cell."""
    value = _plain(value)
    if value == "" or isinstance(value, float) and not math.isfinite(value):
        return None
    return value


def cells(row):
    """A row's values as CSV text."""
    return dict((name, cell(value)) for name, value in row.items())


def json_object(row, columns):
    return dict((name, json_value(row.get(name))) for name in columns)


def write_table(rows, columns, out, as_json=False):
    """Rows as CSV, or as JSON; columns: the names, in the table's order."""
    if as_json:
        json.dump([json_object(row, columns) for row in rows], out, indent=1)
        out.write("\n")
        return
    writer = csv.DictWriter(out, fieldnames=list(columns), lineterminator="\n", extrasaction="ignore")
    writer.writeheader()
    writer.writerows(cells(row) for row in rows)
