#!/usr/bin/env bash
# Runs the built rowfreq as a user would and compares its standard output,
# standard error and exit status with what each case expects.
# Usage: end_to_end.sh path/to/rowfreq[.exe] [out-of-memory]
# With out-of-memory, runs only the cases under a memory limit.
# FAIL_READ_LIBRARY names the built fail_read library (ctest sets it where
# the system can preload one). ROWFREQ_EMULATOR, when set, is the command
# that runs the program, split on spaces (for rowfreq.exe: Wine).
# A Windows build (rowfreq.exe) runs in the C runtime's text mode: where
# that changes what a case expects, the Windows expectation is given beside
# the other, and each newline written is expected as CR LF.
set -u
program=$(realpath "$1")
section=${2:-all}
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
passed=0 failed=0 skipped=0

windows=false line_end=$'\n'
[[ $program == *.exe ]] && windows=true line_end=$'\r\n'
# Prints POSIX_TEXT, or WINDOWS_TEXT for a Windows build.
on_platform() {
  if $windows; then printf '%s' "$2"; else printf '%s' "$1"; fi
}

# Prints the command that runs PROGRAM: the program itself, or a launcher,
# written as SCRATCH/NAME, that runs it under the emulator.
launcher() {
  if [ -z "${ROWFREQ_EMULATOR:-}" ]; then
    printf '%s' "$1"
    return
  fi
  printf '#!/bin/sh\nexec %s "%s" "$@"\n' "$ROWFREQ_EMULATOR" "$1" >"$scratch/$2"
  chmod +x "$scratch/$2"
  printf '%s' "$scratch/$2"
}
# Every case runs "$rowfreq".
rowfreq=$(launcher "$program" rowfreq)
export rowfreq

# Copies a report from standard input to standard output with the line ends
# the program writes: CR LF on Windows.
platform_line_ends() {
  if $windows; then LC_ALL=C sed 's/$/\r/'; else cat; fi
}

# skip NAME REASON: counts a case that cannot run here and says why.
skip() {
  skipped=$((skipped + 1))
  echo "SKIPPED: $1 ($2)"
}

# check NAME STATUS STDERR STDOUT_FILE COMMAND: runs the shell COMMAND and
# compares its exit status, its standard error (the text, with the
# platform's line end added when not empty) and its standard output (the
# bytes of STDOUT_FILE).
check() {
  local name=$1 want_status=$2 want_err=$3 want_out=$4 command=$5
  bash -c "$command" >"$scratch/out" 2>"$scratch/err"
  local status=$?
  [ -n "$want_err" ] && want_err+=$line_end
  if [ "$status" = "$want_status" ] && [ "$(cat "$scratch/err"; echo .)" = "$want_err." ] &&
    cmp -s "$scratch/out" "$want_out"; then
    passed=$((passed + 1))
    return
  fi
  failed=$((failed + 1))
  echo "FAIL: $name"
  echo "  command: $command"
  echo "  status: $status (expected $want_status)"
  echo "  stderr: $(head -c 300 "$scratch/err")"
  echo "  stdout, then expected stdout:"
  head -c 400 "$scratch/out" | od -c | head -n 8 | sed 's/^/    /'
  echo "    --"
  head -c 400 "$want_out" | od -c | head -n 8 | sed 's/^/    /'
}

# row_case NAME INPUT REPORT [WINDOWS_REPORT]: INPUT and the reports are
# printf %b texts; WINDOWS_REPORT, when given, is what a Windows build reports
# instead. The input is given as a file and through a pipe, and when its last
# line is neither empty nor ended by CR LF, also without its final newline,
# which must not change the report.
case_number=0
row_case() {
  local name=$1 dir="$scratch/case$((case_number += 1))"
  mkdir "$dir"
  printf '%b' "$2" >"$dir/in"
  printf '%b' "$(on_platform "$3" "${4:-$3}")" | platform_line_ends >"$dir/want"
  check "$name (file)" 0 "" "$dir/want" '"$rowfreq" <'"$dir/in"
  check "$name (pipe)" 0 "" "$dir/want" 'cat '"$dir/in"' | "$rowfreq"'
  local tail_bytes
  tail_bytes=$(tail -c 2 "$dir/in" | od -An -tx1 | tr -d ' \n')
  if [[ $tail_bytes == ??0a && $tail_bytes != 0a0a && $tail_bytes != 0d0a ]]; then
    head -c -1 "$dir/in" >"$dir/in-unended"
    check "$name (no final newline)" 0 "" "$dir/want" '"$rowfreq" <'"$dir/in-unended"
  fi
}

# Prints the closing count and exits non-zero when a case failed.
finish() {
  echo "$passed passed, $failed failed, $skipped skipped"
  [ "$failed" = 0 ]
  exit
}

if [ "$section" = out-of-memory ]; then
  if $windows; then
    echo "SKIPPED: out of memory (ulimit cannot bound a Windows program's memory)"
    exit 77
  fi
  : >"$scratch/empty"
  check "out of memory: no report" 1 "rowfreq: out of memory" "$scratch/empty" \
    'seq 1 10000000 | (ulimit -v 120000 && exec "$rowfreq")'
  finish
fi

a99=$(printf 'a%.0s' {1..99})
worked_report='6rows in total:\n2 rows appear 1 times:\nq\nr\n1 rows appear 4 times\n'

# --- The report ---
row_case "worked example" 'p\nq\np\np\np\nr\n' "$worked_report"
row_case "empty input" '' '0rows in total:\n'
row_case "one row lists nothing" 'p\n' '1rows in total:\n1 rows appear 1 times\n'
row_case "product equal to threshold is not listed" 'p\np\nq\nr\n' \
  '4rows in total:\n2 rows appear 1 times\n1 rows appear 2 times\n'
row_case "odd total rounds the threshold down" 'p\np\np\np\nq\n' \
  '5rows in total:\n1 rows appear 1 times:\nq\n1 rows appear 4 times\n'
row_case "all distinct" 'c\nb\na\n' '3rows in total:\n3 rows appear 1 times\n'

# --- What a row is ---
row_case "case, prefix, high bytes, empty row: byte order" \
  'z\nz\nz\nz\nz\nz\nz\nz\nz\nz\nb\nB\npq\np\n\n\x80\n~\n' \
  '17rows in total:\n7 rows appear 1 times:\n\nB\nb\np\npq\n~\n\x80\n1 rows appear 10 times\n'
row_case "98, 99 and 100 characters" \
  "x\nx\nx\nx\nx\nx\n${a99:1}\n${a99}\n${a99}b\n" \
  "9rows in total:\n1 rows appear 1 times:\n${a99:1}\n1 rows appear 2 times:\n${a99}\n1 rows appear 6 times\n"
row_case "equal for 99 characters, different after" "${a99}b\n${a99}c\nx\n" \
  "3rows in total:\n1 rows appear 1 times\n1 rows appear 2 times\n"
row_case "nul cuts the row" 'k\0one\nk\0two\nz\nz\nz\nz\nz\n' \
  '7rows in total:\n1 rows appear 2 times:\nk\n1 rows appear 5 times\n'
# Windows text mode reads CR LF as one newline and ends the input at Ctrl-Z;
# elsewhere both are ordinary characters.
row_case "CR LF line ends" 'p\r\nq\r\np\r\np\r\np\nr\r\n' \
  '6rows in total:\n3 rows appear 1 times\n1 rows appear 3 times\n' \
  "$worked_report"  # Windows: p\r\n and p\n are the same row
row_case "ctrl-z" 'p\nq\np\np\np\nr\x1ap\np\n' \
  '7rows in total:\n2 rows appear 1 times:\nq\nr\x1ap\n1 rows appear 5 times\n' \
  "$worked_report"  # Windows: the input ends at the ctrl-z

dir="$scratch/lines"
mkdir "$dir"
# A row that straddles the 64 KiB read-block boundary, after a long line.
{
  printf 'x\n%.0s' {1..5}
  head -c 65515 /dev/zero | tr '\0' a
  printf '\n%s\n' bbbbbbbbbbbbbbbbbbbb
} >"$dir/straddle"
printf '7rows in total:\n2 rows appear 1 times:\n%s\nbbbbbbbbbbbbbbbbbbbb\n1 rows appear 5 times\n' \
  "$a99" | platform_line_ends >"$dir/straddle-want"
check "row across a read-block boundary" 0 "" "$dir/straddle-want" '"$rowfreq" <'"$dir/straddle"

# A line of 1 GiB between short ones: read whole, kept to its row, with
# memory bounded. The peak resident memory is measured by the parent.
peak_check='python3 -c "
import resource, subprocess, sys
result = subprocess.run([sys.argv[1]], stdout=subprocess.PIPE)
sys.stdout.buffer.write(result.stdout)
peak = resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss
print(\"peak under 64 MiB\" if peak < 64 * 1024 else f\"peak {peak} KiB\")" "$rowfreq"'
{
  printf '6rows in total:\n2 rows appear 1 times:\n%s\nb\n1 rows appear 4 times\n' "$a99" |
    platform_line_ends
  echo "peak under 64 MiB"
} >"$dir/long-want"
check "1 GiB line: right report, bounded memory" 0 "" "$dir/long-want" \
  "{ printf 'x\nx\nx\nx\n'; head -c 1G /dev/zero | tr '\\0' a; printf '\nb\n'; } | $peak_check"

# --- The command line and the environment ---
printf '%b' "$worked_report" | platform_line_ends >"$scratch/worked-want"
printf 'p\nq\np\np\np\nr' >"$scratch/worked"
check "arguments are ignored" 0 "" "$scratch/worked-want" \
  '"$rowfreq" --help -c nonexistent-file <'"$scratch/worked"
printf 'b\xc3\xa9\nB\nb\n1,5\n1.5\nz\nz\nz\nz\nz\nz\nz\n' >"$dir/bytes"
printf '12rows in total:\n5 rows appear 1 times:\n1,5\n1.5\nB\nb\nb\xc3\xa9\n1 rows appear 7 times\n' |
  platform_line_ends >"$dir/bytes-want"
check "locale does not change the report" 0 "" "$dir/bytes-want" \
  'LC_ALL=C.UTF-8 LANG=de_DE.UTF-8 "$rowfreq" <'"$dir/bytes"

# --- Failures ---
: >"$scratch/empty"
seq 1 100000 | sed 's/$/\nrepeated/' >"$scratch/many-listed"
# The Windows C runtime reports a handle that cannot be read (ReadFile's
# ERROR_INVALID_FUNCTION) as EINVAL. Wine gives a program started with its
# standard input closed such a handle; Windows itself gives it none (EBADF).
check "directory as standard input" 1 \
  "rowfreq: read error: $(on_platform 'Is a directory' 'Invalid argument')" "$scratch/empty" \
  '"$rowfreq" <'"$scratch"
check "standard input closed" 1 \
  "rowfreq: read error: $(on_platform 'Bad file descriptor' 'Invalid argument')" "$scratch/empty" \
  '"$rowfreq" <&-'
# The sanitizer runtime must come first among preloaded libraries; it may
# come second here, since the preloaded library only wraps read(). A Windows
# build runs under Wine, a Linux program: a Linux build's library preloaded
# into it fails the reads Wine makes for the program, which the Windows C
# runtime then reports as EINVAL.
if [ -n "${FAIL_READ_LIBRARY:-}" ]; then
  check "read fails midway: no report" 1 \
    "rowfreq: read error: $(on_platform 'Input/output error' 'Invalid argument')" \
    "$scratch/empty" 'ASAN_OPTIONS=verify_asan_link_order=0 LD_PRELOAD="$FAIL_READ_LIBRARY" \
    FAIL_READ_AFTER=200000 "$rowfreq" <'"$scratch/many-listed"
elif $windows; then
  skip "read fails midway" "FAIL_READ_LIBRARY is not set: a Linux build's fail_read runs under Wine"
else
  skip "read fails midway" "FAIL_READ_LIBRARY is not set; ctest sets it"
fi
check "standard output full: one message" 1 "rowfreq: write error: No space left on device" \
  "$scratch/empty" '"$rowfreq" <'"$scratch/many-listed"' >/dev/full'
check "standard output closed" 1 "rowfreq: write error: Bad file descriptor" "$scratch/empty" \
  '"$rowfreq" <'"$scratch/worked"' >&-'
if [ -n "${ROWFREQ_SMALL_CEILING:-}" ]; then
  small_ceiling=$(launcher "$(realpath "$ROWFREQ_SMALL_CEILING")" small-ceiling)
  check "more distinct rows than the table holds: no report" 1 "rowfreq: too many distinct rows" \
    "$scratch/empty" "seq 1 100000 | \"$small_ceiling\""
else
  skip "more distinct rows than the table holds" "ROWFREQ_SMALL_CEILING is not set; ctest sets it"
fi

# A pipe whose reader is gone before the first write. The status is printed:
# -13 is death by SIGPIPE. Windows has no SIGPIPE: its C runtime fails the
# write (EINVAL or EPIPE), and the run ends quietly with status 1.
closed_pipe='python3 -c "
import os, signal, subprocess, sys
r, w = os.pipe(); os.close(r)
ignore = (lambda: signal.signal(signal.SIGPIPE, signal.SIG_IGN)) if sys.argv[2] == \"ignore\" else None
result = subprocess.run([sys.argv[1]], stdin=open(sys.argv[3], \"rb\"), stdout=w, preexec_fn=ignore)
print(result.returncode)" "$rowfreq"'
on_platform $'-13\n' $'1\n' >"$scratch/default-want"
printf '1\n' >"$scratch/status1-want"
check "closed pipe, SIGPIPE default: quiet" 0 "" "$scratch/default-want" \
  "$closed_pipe default $scratch/many-listed"
check "closed pipe, SIGPIPE ignored: quiet, status 1" 0 "" "$scratch/status1-want" \
  "$closed_pipe ignore $scratch/many-listed"

finish
