"""What every script shares at the terminal: its entry, which ends it
quietly when the reader of its output goes away early, node names and
console lines escaped before they reach the terminal, and its one-line
notes and errors on standard error."""

import os
import sys


def run(main):
    """Runs a script's main() and exits with its status. A reader that
    closed the pipe early (head, say) has what it wanted: status 0 and no
    traceback, also where argparse's --help or usage error ends main."""
    try:
        try:
            status = main()
        except SystemExit as done:
            status = done.code
        sys.stdout.flush()
    except BrokenPipeError:
        # Nothing may reach the closed pipe at exit either.
        os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
        status = 0
    sys.exit(status)


def shown(text):
    """Node names and console lines are whatever the job wrote: escape
    control characters before they reach the terminal."""
    return "".join(c if c.isprintable() else "\\x%02x" % ord(c) for c in text)


def tell(line):
    """One line on standard error, after the name of the script that says
    it, as every script starts its own."""
    print("%s: %s" % (os.path.basename(sys.argv[0]), shown(line)), file=sys.stderr)


def cannot_write(path, error):
    """An output file that could not be written (OSError `error`): the
    script says so in one line and ends with status 1."""
    tell("cannot write %s: %s" % (path, error.strerror or error))
    return 1
