#!/usr/bin/env python3
"""Types lines and then one Ctrl-D into rowfreq at a terminal, as a user
would, and checks that the run ends there with the report of those lines.

A terminal's end of input is not lasting: a reader that reads again after
the read that met it waits for more typing. Standard output is a pipe, so
only the report is seen there; the terminal itself echoes what is typed.

Usage: terminal_end_of_input.py path/to/rowfreq
Exits 0 when every case passes, 1 when one fails, 77 when it cannot run here.
"""

import os
import signal
import subprocess
import sys

SKIPPED = 77
SECONDS_TO_FINISH = 10

# name, what is typed before the Ctrl-D, the report expected
CASES = [
    ("three lines", b"a\nb\na\n",
     b"3rows in total:\n1 rows appear 1 times\n1 rows appear 2 times\n"),
    ("nothing typed", b"", b"0rows in total:\n"),
]


def run_at_terminal(program, typed):
    """Runs `program` with a new pseudo-terminal as standard input, types
    `typed` and one end-of-input character, and returns the exit status (None
    when the program is still running after SECONDS_TO_FINISH, and then
    killed), standard output and standard error."""
    import pty  # POSIX only, like termios: imported here so that main()
    import termios  # can skip elsewhere

    controller, terminal = pty.openpty()
    try:
        end_of_input = termios.tcgetattr(terminal)[6][termios.VEOF]
        # A session of its own, so that a timeout can end the program with
        # whatever it started.
        process = subprocess.Popen([program], stdin=terminal, stdout=subprocess.PIPE,
                                   stderr=subprocess.PIPE, start_new_session=True)
        os.close(terminal)
        terminal = None
        # The controller stays open until the program has ended: closing it
        # would hang the terminal up, which also ends the input.
        os.write(controller, typed + end_of_input)
        try:
            output, errors = process.communicate(timeout=SECONDS_TO_FINISH)
            return process.returncode, output, errors
        except subprocess.TimeoutExpired:
            os.killpg(process.pid, signal.SIGKILL)
            output, errors = process.communicate()
            return None, output, errors
    finally:
        if terminal is not None:
            os.close(terminal)
        os.close(controller)


def check(program, name, typed, want):
    """Runs one case; prints what went wrong and returns False when it fails."""
    status, output, errors = run_at_terminal(program, typed)
    if status == 0 and output == want and not errors:
        return True
    print(f"FAIL: {name}: typed {typed!r} and one Ctrl-D")
    if status is None:
        print(f"  still reading {SECONDS_TO_FINISH} s after the Ctrl-D (killed)")
    else:
        print(f"  status: {status} (expected 0)")
    print(f"  stdout: {output!r}\n  expected: {want!r}\n  stderr: {errors!r}")
    return False


def main():
    program = sys.argv[1]
    if program.endswith(".exe") or os.name != "posix":
        print("SKIPPED: end of input at a terminal "
              "(pseudo-terminals are POSIX's; a Windows console ends input with Ctrl-Z)")
        return SKIPPED
    results = [check(program, *case) for case in CASES]
    print(f"{results.count(True)} passed, {results.count(False)} failed")
    return 0 if all(results) else 1


if __name__ == "__main__":
    sys.exit(main())
