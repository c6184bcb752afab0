"""What bench/run and bench/scale share: where things are, building, the
generated inputs, and the report rowfreq must write for given counts.

Every path here is relative to the top of the repository, and the scripts
run from there, so that the commands they print and record hold no path of
the machine they ran on."""
import collections
import os
import subprocess
import sys

TOP = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = "build-bench"
SCRATCH = os.path.join("bench", "scratch")
ROWFREQ = os.path.join(BUILD, "rowfreq")
INPUT_KINDS = ["low", "zipf", "distinct", "huge-group", "long-lines"]
TOOLS_BUILT = ["rowfreq", "make_input", "write_floor", "phases"]
# The default build: hardened, and linked to the system's shared C++ runtime,
# as the .deb and the RPM are.
BUILD_ARGS = "-DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF"


def sh(command, **kwargs):
    return subprocess.run(command, shell=True, check=True, **kwargs)


def enter_top():
    """Makes the top of the repository the working directory."""
    os.chdir(TOP)
    os.makedirs(SCRATCH, exist_ok=True)


def build(build_dir=BUILD, cmake_args="", targets=TOOLS_BUILT):
    """Builds `targets` (rowfreq and the benchmark tools), optimised, into
    `build_dir`, configured with `cmake_args` besides the defaults."""
    sh(f"cmake -S . -B {build_dir} {BUILD_ARGS} {cmake_args} > /dev/null && "
       f"cmake --build {build_dir} --parallel 2 --target {' '.join(targets)} > /dev/null")


def generated(name, make_input_args):
    """Returns the path of the input `name` under SCRATCH, writing it first
    with `make_input make_input_args` when it is not there yet."""
    path = os.path.join(SCRATCH, name + ".txt")
    if not os.path.exists(path):
        print(f"generating {path}", file=sys.stderr)
        sh(f"{BUILD}/make_input {make_input_args} > '{path}.part' && mv '{path}.part' '{path}'")
    return path


def input_path(kind):
    """Returns the path of a generated benchmark input, generating it first if needed."""
    return generated(kind, kind)


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
