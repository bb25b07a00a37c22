#!/usr/bin/env bash
# A run cut short by a signal or by --exit-after while a script or a replay is still running does
# not pass for complete: it names what it stopped and exits with status 2. Signals are sent only
# once the output shows the script or the replay at work.
source "$(dirname "$0")/lib.sh"
e2e_init "${1:-}"

cat > "$WORK/endless.bpr" <<'BPR'
print "looping"
loop:
delay 10
goto loop
BPR
start_busprobe script_term --run "$WORK/endless.bpr"
expect "$WORK/script_term.out" "looping" "$READY_SECS" "$BUSPROBE_PID"
kill -TERM "$BUSPROBE_PID"
status=0
finish "$BUSPROBE_PID" 60 "the script run given SIGTERM" || status=$?
[ "$status" = 2 ] || fail "a script stopped by SIGTERM gave exit status $status, expected 2"
grep -qxF "Script still running at SIGTERM: stopped." "$WORK/script_term.out" ||
  fail "no notice of the script stopped by SIGTERM"

# 2000 frames 10 ms apart: a replay of 20 s.
{
  printf 'date Mon Dec 07 23:51:00 2026\r\nbase hex  timestamps absolute\r\ninternal events logged\r\n'
  printf 'Begin Triggerblock Mon Dec 07 23:51:00 2026\r\n'
  for ((i = 0; i < 2000; i++)); do
    printf '%4d.%02d0 1  123             Rx   d 2 11 22\r\n' $((i / 100)) $((i % 100))
  done
} > "$WORK/long.asc"

start_busprobe play_cut --exit-after 0.3 --play "$WORK/long.asc"
status=0
finish "$BUSPROBE_PID" 60 "the replay cut by --exit-after" || status=$?
[ "$status" = 2 ] || fail "a replay cut by --exit-after gave exit status $status, expected 2"
grep -qxF "Replay of $WORK/long.asc still running after 0.3 s: stopped." "$WORK/play_cut.out" ||
  fail "no notice of the replay cut by --exit-after"
grep -qE "^Played $WORK/long.asc: [0-9]+ frames sent, 0 lines skipped, 0 excluded, 0 unmapped, 0 refused\.$" \
  "$WORK/play_cut.out" || fail "no summary of the cut replay"

start_busprobe play_term --show-traffic --play "$WORK/long.asc"
expect "$WORK/play_term.out" ";[T]" "$READY_SECS" "$BUSPROBE_PID"
kill -TERM "$BUSPROBE_PID"
status=0
finish "$BUSPROBE_PID" 60 "the replay given SIGTERM" || status=$?
[ "$status" = 2 ] || fail "a replay stopped by SIGTERM gave exit status $status, expected 2"
grep -qxF "Replay of $WORK/long.asc still running at SIGTERM: stopped." "$WORK/play_term.out" ||
  fail "no notice of the replay stopped by SIGTERM"

# A run with nothing to finish ends at --exit-after as planned.
start_busprobe idle --exit-after 0.2
status=0
finish "$BUSPROBE_PID" 60 "the idle run" || status=$?
[ "$status" = 0 ] || fail "an idle run ended by --exit-after gave exit status $status"
grep -q "still running" "$WORK/idle.out" && fail "an idle run reported unfinished work"
echo "ok"
