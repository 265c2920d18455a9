"""Rows as a table: CSV with a header line, every cell the text the rows
hold, or JSON, a list of objects with the same keys in the same order and
each value of its column's type, as jq and pandas expect."""

import csv
import json
import math


def _number(text):
    """JSON has no inf or nan (a division by a zero time prints them): null."""
    value = float(text)
    return value if math.isfinite(value) else None


# How a cell's text reads as a JSON value, by its column's type.
_JSON_VALUE = {str: str, int: int, float: _number, bool: lambda text: text == "true"}


def json_object(row, columns):
    """A row's cells as typed values, an empty cell as null."""
    return dict((name, _JSON_VALUE[kind](row[name]) if row[name] != "" else None) for name, kind in columns.items())


def write_table(rows, columns, out, as_json=False):
    """Rows (dicts of cell texts) as CSV, or as JSON; columns: {name: type},
    the type str, int, float or bool, in the table's order."""
    if as_json:
        json.dump([json_object(row, columns) for row in rows], out, indent=1)
        out.write("\n")
        return
    writer = csv.DictWriter(out, fieldnames=list(columns), lineterminator="\n", extrasaction="ignore")
    writer.writeheader()
    writer.writerows(rows)
