#!/usr/bin/env bash
# The exit status of a headless run tells a CI job whether the work was done: a script that is
# still running when --exit-after ends the run gives status 2 and says so; one that ended by
# itself within the time keeps status 0.
source "$(dirname "$0")/lib.sh"
e2e_init "${1:-}"

cat > "$WORK/endless.bpr" <<'BPR'
print "looping"
loop:
delay 10
goto loop
BPR
start_busprobe endless --exit-after 1 --run "$WORK/endless.bpr"
status=0
finish "$BUSPROBE_PID" 60 "the run with the endless script" || status=$?
[ "$status" = 2 ] || fail "a script cut off by --exit-after gave exit status $status, expected 2"
grep -qxF "Script still running after 1 s: stopped." "$WORK/endless.out" || fail "no notice of the unfinished script"
grep -qxF "looping" "$WORK/endless.out" || fail "the script did not run at all"

cat > "$WORK/short.bpr" <<'BPR'
print "done"
BPR
start_busprobe short --exit-after 30 --run "$WORK/short.bpr"
status=0
finish "$BUSPROBE_PID" 60 "the run with the short script" || status=$?
[ "$status" = 0 ] || fail "a script that ended by itself gave exit status $status"
grep -q "Script still running" "$WORK/short.out" && fail "a finished script was reported as still running"
echo "ok"
