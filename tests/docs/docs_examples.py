#!/usr/bin/env python3
"""Runs every command that the documentation shows and checks its output.

usage: docs_examples.py ROWFREQ SOURCE_DIR

The commands are read from the documents themselves: each `sh` block of the
README's opening and of its "Use" section, run from the top of the source
tree, and each .nf/.fi block of the man page's EXAMPLES, run in examples/.
Each must have its expected output in expected_reports.txt, and each entry
there must still be shown by a document. A command that calls pv is skipped,
with the reason printed, when pv is not installed. Exits 1 on any failure.
"""

import os
import re
import shutil
import subprocess
import sys
from dataclasses import dataclass
from pathlib import Path

HERE = Path(__file__).resolve().parent


@dataclass
class Example:
    source: str  # where the command is shown, for messages
    command: str
    cwd: Path
    shown_output: str | None = None  # output printed below it, if any


def normalized(command):
    """The command with its whitespace runs collapsed, to match across line breaks."""
    return " ".join(command.split())


def readme_examples(source_dir):
    """The sh blocks of the README before its first section and in "Use", each
    with the plain block that follows it, when there is one, as its shown output."""
    examples, section, block, kind, previous = [], "", None, None, None
    for number, line in enumerate((source_dir / "README.md").read_text().splitlines(), 1):
        if block is None and line.startswith("## "):
            section, previous = line[3:].strip(), None
        elif block is None and line.startswith("```"):
            block, kind, start = [], line[3:].strip(), number
        elif block is not None and line == "```":
            if kind == "sh" and section in ("", "Use"):
                command = "\n".join(l for l in block if not l.startswith("#"))
                previous = Example(f"README.md:{start}", command, source_dir)
                examples.append(previous)
            elif kind == "" and previous is not None:
                previous.shown_output = "".join(l + "\n" for l in block)
                previous = None
            block = None
        elif block is not None:
            block.append(line)
        elif line.strip():
            previous = None
    return examples


ROFF_ESCAPES = {r"\-": "-", r"\(aq": "'", r"\(dq": '"', r"\(rs": "\\", r"\e": "\\"}


def unescaped(roff_line):
    return re.sub(r"\\-|\\\(aq|\\\(dq|\\\(rs|\\e", lambda m: ROFF_ESCAPES[m.group()], roff_line)


def man_page_examples(source_dir):
    """The no-fill blocks of the man page's EXAMPLES section, one command each."""
    examples, in_examples, block = [], False, None
    for number, line in enumerate((source_dir / "docs/rowfreq.1").read_text().splitlines(), 1):
        if line.startswith(".SH"):
            in_examples = line.split(None, 1)[1:] == ["EXAMPLES"]
        elif in_examples and line == ".nf":
            block, start = [], number
        elif in_examples and line == ".fi":
            command = "\n".join(block)
            examples.append(Example(f"docs/rowfreq.1:{start}", command, source_dir / "examples"))
            block = None
        elif block is not None:
            block.append(unescaped(line))
    return examples


def expected_reports(path):
    """Maps each normalized command to its expected output.

    The file holds entries of one or more commands, each a line starting with
    "$ " and continued on lines starting with "> ", then the output that all
    of them share, up to the next "$ " line (so no output line may start so).
    """
    reports, commands, output = {}, [], []
    for line in path.read_text().splitlines(keepends=True):
        if line.startswith("$ "):
            if output:
                reports.update((normalized(c), "".join(output)) for c in commands)
                commands, output = [], []
            commands.append(line[2:])
        elif line.startswith("> ") and commands and not output:
            commands[-1] += line[2:]
        else:
            output.append(line)
    reports.update((normalized(c), "".join(output)) for c in commands)
    return reports


def run(command, cwd, rowfreq, stdin=b""):
    bin_dir = Path(rowfreq).resolve().parent
    environment = dict(os.environ, PATH=f"{bin_dir}{os.pathsep}{os.environ['PATH']}")
    return subprocess.run(["sh", "-c", command], cwd=cwd, env=environment, input=stdin,
                          capture_output=True, timeout=60)


def failure(example, why, result=None):
    message = f"FAIL {example.source}: {why}\n  command: {example.command}"
    if result is not None:
        message += (f"\n  exit status: {result.returncode}\n  stdout:\n{result.stdout.decode()}"
                    f"  stderr:\n{result.stderr.decode()}")
    print(message)
    return 1


def check(example, expected, rowfreq):
    """Runs one example; returns the number of failures (0 or 1)."""
    if example.shown_output is not None and example.shown_output != expected:
        return failure(example, "the output shown below the command is not its expected report")
    if re.search(r"(^|\|)\s*pv\b", example.command) and not shutil.which("pv"):
        print(f"SKIPPED: {example.source} (pv is not installed)\n  command: {example.command}")
        return 0
    result = run(example.command, example.cwd, rowfreq)
    if result.returncode != 0 or result.stdout != expected.encode():
        return failure(example, f"output differs from expected:\n{expected}", result)
    print(f"ok   {example.source}: {normalized(example.command)}")
    return 0


# Rows that a reader of the report cannot tell from report lines: an empty row
# and one that reads like a frequency line, each listed once.
TRICKY_INPUT = b"a\n" * 10 + b"\n1 rows appear 1 times:\n"
TRICKY_PAIRS = b"1\t\n1\t1 rows appear 1 times:\n"


def check_count_row_recipe(example, rowfreq):
    """The awk recipe must pair every listed row with its count, tricky rows included."""
    pipeline = example.command[example.command.index("rowfreq |"):]
    result = run(pipeline, example.cwd, rowfreq, stdin=TRICKY_INPUT)
    if result.stdout != TRICKY_PAIRS:
        return failure(example, f"rows that look like report lines are not paired with "
                                f"their counts; expected:\n{TRICKY_PAIRS.decode()}", result)
    print(f"ok   {example.source}: an empty row and a row like a frequency line")
    return 0


def main(rowfreq, source_dir):
    source_dir = Path(source_dir)
    readme, man_page = readme_examples(source_dir), man_page_examples(source_dir)
    # A renamed section would otherwise leave its commands untested, silently.
    failures = 0
    for document, found in (("README.md, Use", readme), ("docs/rowfreq.1, EXAMPLES", man_page)):
        if not found:
            print(f"FAIL {document}: no commands found")
            failures += 1
    examples = readme + man_page
    reports = expected_reports(HERE / "expected_reports.txt")
    for example in examples:
        expected = reports.get(normalized(example.command))
        if expected is None:
            failures += failure(example, "no expected report in tests/docs/expected_reports.txt")
            continue
        failures += check(example, expected, rowfreq)
        if "rowfreq | awk" in normalized(example.command):
            failures += check_count_row_recipe(example, rowfreq)
    shown = {normalized(e.command) for e in examples}
    for stale in sorted(reports.keys() - shown):
        print(f"FAIL tests/docs/expected_reports.txt: no document shows {stale!r}")
        failures += 1
    print(f"{len(examples)} commands from the documents, {failures} failures")
    return 1 if failures else 0


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    sys.exit(main(*sys.argv[1:]))
