"""What bench/run and bench/scale share: where things are, building, the
generated inputs, and the report rowfreq must write for given counts."""
import collections
import os
import subprocess
import sys

TOP = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = os.path.join(TOP, "build")
SCRATCH = os.path.join(TOP, "bench", "scratch")
ROWFREQ = os.path.join(BUILD, "rowfreq")
INPUT_KINDS = ["low", "zipf", "distinct", "huge-group", "long-lines"]


def sh(command, **kwargs):
    return subprocess.run(command, shell=True, check=True, **kwargs)


def build():
    sh(f"cmake -S '{TOP}' -B '{BUILD}' > /dev/null && "
       f"cmake --build '{BUILD}' --parallel --target rowfreq make_input > /dev/null")


def input_path(kind):
    """Returns the path of a generated input, generating it first if needed."""
    os.makedirs(SCRATCH, exist_ok=True)
    path = os.path.join(SCRATCH, kind + ".txt")
    if not os.path.exists(path):
        print(f"generating {path}", file=sys.stderr)
        sh(f"'{BUILD}/make_input' {kind} > '{path}.part' && mv '{path}.part' '{path}'")
    return path


def row_of(line):
    """The row of a line (bytes, without its newline): 99 characters, cut at NUL."""
    return line[:99].split(b"\0")[0]


def expected_report(counts):
    """The report for `counts`, a mapping from row (bytes) to its count."""
    total = sum(counts.values())
    groups = collections.defaultdict(list)
    for row, count in counts.items():
        groups[count].append(row)
    lines = [b"%drows in total:" % total]
    for count in sorted(groups):
        rows = groups[count]
        listed = len(rows) * count < total // 2
        lines.append(b"%d rows appear %d times%s" % (len(rows), count, b":" if listed else b""))
        if listed:
            lines.extend(sorted(rows))
    return b"\n".join(lines) + b"\n"


def timed(command, env=None):
    """Runs a shell command; returns (seconds, peak KiB). Bash's `time` takes
    the wall time of the command alone, to the millisecond, without the cost
    of starting the shells around it; /usr/bin/time takes the peak resident
    memory of the largest process."""
    time_file = os.path.join(SCRATCH, "time")
    peak_file = os.path.join(SCRATCH, "peak")
    script = f"TIMEFORMAT=%3R; {{ time {{ {command} ; }} ; }} 2> '{time_file}'"
    subprocess.run(["/usr/bin/time", "-f", "%M", "-o", peak_file, "bash", "-c", script],
                   env=env, check=True)
    with open(time_file) as f:
        seconds = float(f.read().split()[-1])
    with open(peak_file) as f:
        kib = int(f.read().split()[-1])
    return seconds, kib


