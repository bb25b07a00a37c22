#!/usr/bin/env bash
# Exit statuses of headless runs by what became of their log files: a recording that could not be
# written and a replay of a file without one playable frame exit 1; a complete replay exits 0 with
# its summary; recording into the file being played (here through a link) is refused before
# anything is written to it.
source "$(dirname "$0")/lib.sh"
e2e_init "${1:-}"

# Ten frames 1 ms apart.
{
  printf 'date Mon Dec 07 23:51:00 2026\r\nbase hex  timestamps absolute\r\ninternal events logged\r\n'
  printf 'Begin Triggerblock Mon Dec 07 23:51:00 2026\r\n'
  for i in 0 1 2 3 4 5 6 7 8 9; do printf '   0.00%d 1  123             Rx   d 2 11 22\r\n' "$i"; done
} > "$WORK/ten.asc"
cp "$WORK/ten.asc" "$WORK/ten.orig"

start_busprobe complete --play "$WORK/ten.asc"
status=0
finish "$BUSPROBE_PID" 60 "the complete replay" || status=$?
[ "$status" = 0 ] || fail "a complete replay gave exit status $status"
grep -qxF "Played $WORK/ten.asc: 10 frames sent, 0 lines skipped, 0 excluded, 0 unmapped, 0 refused." \
  "$WORK/complete.out" || fail "no summary of the complete replay"

# Random bytes with a line that begins ';' somewhere: taken for a PCAN Explorer trace.
"$PY" -c 'import random, sys; random.seed(1); sys.stdout.buffer.write(random.randbytes(1 << 20))' > "$WORK/random.log"
start_busprobe random --exit-after 60 --play "$WORK/random.log"
status=0
finish "$BUSPROBE_PID" 60 "the replay of random bytes" || status=$?
[ "$status" = 1 ] || fail "a replay of random bytes gave exit status $status, expected 1"
grep -qE "^Played $WORK/random.log: 0 frames sent, [0-9]+ lines skipped, 0 excluded, 0 unmapped, 0 refused\.$" \
  "$WORK/random.out" || fail "the replay of random bytes did not say that nothing was played"

ln -s "$WORK/ten.asc" "$WORK/link.asc"
start_busprobe feed --exit-after 60 --record "$WORK/link.asc" --play "$WORK/ten.asc"
status=0
finish "$BUSPROBE_PID" 60 "the run recording into its replay" || status=$?
[ "$status" = 1 ] || fail "recording into the played file gave exit status $status, expected 1"
grep -qxF "Log file $WORK/link.asc is the file being played: not recorded." "$WORK/feed.out" ||
  fail "no refusal of recording into the played file"
cmp -s "$WORK/ten.asc" "$WORK/ten.orig" || fail "the played file was written to"

# A device that takes no byte: whether it is refused at the open or fails at the first write, the
# recording did not happen.
start_busprobe full --exit-after 0.2 --record /dev/full
status=0
finish "$BUSPROBE_PID" 60 "the recording into /dev/full" || status=$?
[ "$status" = 1 ] || fail "a recording into /dev/full gave exit status $status, expected 1"
grep -qE "^(Log file write failed: |Cannot open log-file\.)" "$WORK/full.out" ||
  fail "no report of the failed recording into /dev/full"

# A regular file that may not grow: it is continued (a text log) at the size limit, so its first
# line fails. The limit is ignored-signal plus ulimit, which the process inherits.
mkdir -p "$WORK/limit"
head -c 65536 /dev/zero | tr '\0' 'x' > "$WORK/limited.txt"
(
  trap '' XFSZ
  ulimit -f 64
  exec env XDG_RUNTIME_DIR="$WORK/limit" "$BUSPROBE" --headless --config-dir "$WORK/limit" --exit-after 0.2 \
    --record "$WORK/limited.txt" > "$WORK/limit.out" 2>&1
) &
BUSPROBE_PID=$!
E2E_PIDS+=("$BUSPROBE_PID")
status=0
finish "$BUSPROBE_PID" 60 "the recording into a file at its size limit" || status=$?
[ "$status" = 1 ] || fail "a recording that could not grow its file gave exit status $status, expected 1"
grep -qF "Log file write failed: " "$WORK/limit.out" || fail "no report of the failed write"
echo "ok"
