#!/usr/bin/env bash
# Runs the built rowfreq as a user would and compares its standard output,
# standard error and exit status with what each case expects.
# Usage: end_to_end.sh path/to/rowfreq [out-of-memory]
# With out-of-memory, runs only the cases under a memory limit.
# FAIL_READ_LIBRARY names the built fail_read library (ctest sets it).
set -u
rowfreq=$(realpath "$1")
section=${2:-all}
export rowfreq
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
passed=0 failed=0

# check NAME STATUS STDERR STDOUT_FILE COMMAND: runs the shell COMMAND and
# compares its exit status, its standard error (the text, with a newline
# added when not empty) and its standard output (the bytes of STDOUT_FILE).
check() {
  local name=$1 want_status=$2 want_err=$3 want_out=$4 command=$5
  bash -c "$command" >"$scratch/out" 2>"$scratch/err"
  local status=$?
  [ -n "$want_err" ] && want_err+=$'\n'
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

# row_case NAME INPUT REPORT: INPUT and REPORT are printf %b texts. The input
# is given as a file and through a pipe, and when its last line is not empty,
# also without its final newline, which must not change the report.
case_number=0
row_case() {
  local name=$1 dir="$scratch/case$((case_number += 1))"
  mkdir "$dir"
  printf '%b' "$2" >"$dir/in"
  printf '%b' "$3" >"$dir/want"
  check "$name (file)" 0 "" "$dir/want" '"$rowfreq" <'"$dir/in"
  check "$name (pipe)" 0 "" "$dir/want" 'cat '"$dir/in"' | "$rowfreq"'
  local tail_bytes
  tail_bytes=$(tail -c 2 "$dir/in" | od -An -tx1 | tr -d ' \n')
  if [[ $tail_bytes == ??0a && $tail_bytes != 0a0a ]]; then
    head -c -1 "$dir/in" >"$dir/in-unended"
    check "$name (no final newline)" 0 "" "$dir/want" '"$rowfreq" <'"$dir/in-unended"
  fi
}

# Prints the closing count and exits non-zero when a case failed.
finish() {
  echo "$passed passed, $failed failed"
  [ "$failed" = 0 ]
  exit
}

if [ "$section" = out-of-memory ]; then
  : >"$scratch/empty"
  check "out of memory: no report" 1 "rowfreq: out of memory" "$scratch/empty" \
    'seq 1 3000000 | (ulimit -v 120000 && exec "$rowfreq")'
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
row_case "carriage return and ctrl-z are characters" 'a\r\na\n\x1a\nz\nz\nz\nz\nz\n' \
  '8rows in total:\n3 rows appear 1 times:\n\x1a\na\na\r\n1 rows appear 5 times\n'

dir="$scratch/lines"
mkdir "$dir"
# A row that straddles the 64 KiB read-block boundary, after a long line.
{
  printf 'x\n%.0s' {1..5}
  head -c 65515 /dev/zero | tr '\0' a
  printf '\n%s\n' bbbbbbbbbbbbbbbbbbbb
} >"$dir/straddle"
printf '7rows in total:\n2 rows appear 1 times:\n%s\nbbbbbbbbbbbbbbbbbbbb\n1 rows appear 5 times\n' \
  "$a99" >"$dir/straddle-want"
check "row across a read-block boundary" 0 "" "$dir/straddle-want" '"$rowfreq" <'"$dir/straddle"

# A line of 1 GiB between short ones: read whole, kept to its row, with
# memory bounded. The peak resident memory is measured by the parent.
peak_check='python3 -c "
import resource, subprocess, sys
result = subprocess.run([sys.argv[1]], stdout=subprocess.PIPE)
sys.stdout.buffer.write(result.stdout)
peak = resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss
print(\"peak under 64 MiB\" if peak < 64 * 1024 else f\"peak {peak} KiB\")" "$rowfreq"'
printf '6rows in total:\n2 rows appear 1 times:\n%s\nb\n1 rows appear 4 times\npeak under 64 MiB\n' \
  "$a99" >"$dir/long-want"
check "1 GiB line: right report, bounded memory" 0 "" "$dir/long-want" \
  "{ printf 'x\nx\nx\nx\n'; head -c 1G /dev/zero | tr '\\0' a; printf '\nb\n'; } | $peak_check"

# --- The command line and the environment ---
printf '%b' "$worked_report" >"$scratch/worked-want"
printf 'p\nq\np\np\np\nr' >"$scratch/worked"
check "arguments are ignored" 0 "" "$scratch/worked-want" \
  '"$rowfreq" --help -c nonexistent-file <'"$scratch/worked"
printf 'b\xc3\xa9\nB\nb\n1,5\n1.5\nz\nz\nz\nz\nz\nz\nz\n' >"$dir/bytes"
printf '12rows in total:\n5 rows appear 1 times:\n1,5\n1.5\nB\nb\nb\xc3\xa9\n1 rows appear 7 times\n' \
  >"$dir/bytes-want"
check "locale does not change the report" 0 "" "$dir/bytes-want" \
  'LC_ALL=C.UTF-8 LANG=de_DE.UTF-8 "$rowfreq" <'"$dir/bytes"

# --- Failures ---
: >"$scratch/empty"
seq 1 100000 | sed 's/$/\nrepeated/' >"$scratch/many-listed"
check "directory as standard input" 1 "rowfreq: read error: Is a directory" "$scratch/empty" \
  '"$rowfreq" <'"$scratch"
check "standard input closed" 1 "rowfreq: read error: Bad file descriptor" "$scratch/empty" \
  '"$rowfreq" <&-'
# The sanitizer runtime must come first among preloaded libraries; it may
# come second here, since the preloaded library only wraps read().
if [ -n "${FAIL_READ_LIBRARY:-}" ]; then
  check "read fails midway: no report" 1 "rowfreq: read error: Input/output error" \
    "$scratch/empty" 'ASAN_OPTIONS=verify_asan_link_order=0 LD_PRELOAD="$FAIL_READ_LIBRARY" \
    FAIL_READ_AFTER=200000 "$rowfreq" <'"$scratch/many-listed"
else
  echo "NOT RUN: read fails midway (FAIL_READ_LIBRARY is not set; ctest sets it)"
fi
check "standard output full: one message" 1 "rowfreq: write error: No space left on device" \
  "$scratch/empty" '"$rowfreq" <'"$scratch/many-listed"' >/dev/full'
check "standard output closed" 1 "rowfreq: write error: Bad file descriptor" "$scratch/empty" \
  '"$rowfreq" <'"$scratch/worked"' >&-'

# A pipe whose reader is gone before the first write. The status is printed:
# -13 is death by SIGPIPE.
closed_pipe='python3 -c "
import os, signal, subprocess, sys
r, w = os.pipe(); os.close(r)
ignore = (lambda: signal.signal(signal.SIGPIPE, signal.SIG_IGN)) if sys.argv[2] == \"ignore\" else None
result = subprocess.run([sys.argv[1]], stdin=open(sys.argv[3], \"rb\"), stdout=w, preexec_fn=ignore)
print(result.returncode)" "$rowfreq"'
printf -- '-13\n' >"$scratch/signal-want"
printf '1\n' >"$scratch/status1-want"
check "closed pipe, SIGPIPE default: quiet" 0 "" "$scratch/signal-want" \
  "$closed_pipe default $scratch/many-listed"
check "closed pipe, SIGPIPE ignored: quiet, status 1" 0 "" "$scratch/status1-want" \
  "$closed_pipe ignore $scratch/many-listed"

finish
