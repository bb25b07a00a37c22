#!/usr/bin/env bash
# Scripts run by a headless busprobe with --run on the virtual bus (every frame comes back to its
# sender): each example prints what it should and exits with status 0; a script that stops with an
# error prints the message and exits with 1; the command families not in the examples (delay,
# sound, freeze, can.send, can.reset, ctx, display switches, ClearVars) run in one more script whose
# frames are checked with --show-traffic.
source "$(dirname "$0")/lib.sh"
e2e_init "${1:-}"
EXAMPLES="$E2E_DIR/../../examples"

# run SCRIPT EXPECTED_STATUS [extra options...]: the whole output in $WORK/run.out, without the
# start-up lines in $WORK/out
run() {
  local script=$1 expected=$2
  shift 2
  rm -rf "$WORK/cfg" && mkdir -p "$WORK/cfg"
  local status=0
  XDG_RUNTIME_DIR="$WORK/cfg" timeout 60 "$BUSPROBE" --headless --config-dir "$WORK/cfg" "$@" --run "$script" \
    > "$WORK/run.out" 2>&1 || status=$?
  grep -v -e '^CAN' -e '^Loaded' -e '^Warning' -e '^         This may' "$WORK/run.out" > "$WORK/out" || :
  [ "$status" = "$expected" ] || fail "$(basename "$script") exited with $status, expected $expected"
}
expect_output() {  # the output equals these lines
  printf '%s\n' "$@" > "$WORK/expected"
  diff -u "$WORK/expected" "$WORK/out" > "$WORK/diff" || { cat "$WORK/diff"; fail "output differs"; }
}

run "$EXAMPLES/send_and_wait.bpr" 0
expect_output "sending request" "answer: id=601 len=8 byte2=10" "16-bit value at byte 1: 4096" "both frames seen"

run "$EXAMPLES/paced_sequence.bpr" 0
expect_output "sent 50 frames" "spacing ok"

run "$EXAMPLES/loops_and_subroutines.bpr" 0
expect_output "sq[7] = 49" "sum 1..100 = 5050" "  5 = 00000101" "170 = 10101010" "sum ok" "(stop) in line 26"

run "$EXAMPLES/error_handler.bpr" 0
expect_output "error -3 in line 5: division by zero (class 3)" "after the division" \
  "error -14 in line 7: types incompatible (class 3)" "after the type error, errors = 2" "handler removed" \
  "(stop) in line 11"

cat > "$WORK/failing.bpr" <<'BPR'
print "before"
x := 1
print "%d", 1.5
print "never"
BPR
run "$WORK/failing.bpr" 1
expect_output "before" "types incompatible in print-cmd in line 3"

cat > "$WORK/families.bpr" <<'BPR'
tx_interval := 0.005
t0 := t
delay 0.2
waited := t - t0
if waited >= 195 && waited < 1000
  print "delay ok"
endif
sound(440, 100)
freeze
was := freeze
freeze = 0
print "freeze was", was
can.reset
can.show_msgs_as_strings(300)
can.send(300, g=5, "Hello CAN!")
ctx(7E5 04 01 02 03 04)
ctx 123.x 55
Keep := 1 : Drop := 2
ClearVars()
print "vars cleared"
BPR
run "$WORK/families.bpr" 0 --show-traffic
grep -q '^delay ok$' "$WORK/out" || fail "delay"
grep -q '^freeze was 1$' "$WORK/out" || fail "freeze"
# Sent lines of the traffic display: two can.send frames shown as text, then the two ctx frames.
grep -Eq '300 +"Hello CA"' "$WORK/out" || fail "first can.send frame"
grep -Eq '300 +"N!"' "$WORK/out" || fail "second can.send frame"
grep -q '7E5 04 01 02 03 04' "$WORK/out" || fail "ctx frame"
grep -q '00000123 55' "$WORK/out" || fail "extended ctx frame"
grep -q '^vars cleared$' "$WORK/out" || fail "ClearVars"
# The variables saved at exit: ClearVars left none.
grep -q 'Keep' "$WORK/cfg/current_vars.txt" && fail "ClearVars did not empty the table"
grep -q '^; Current variable values saved' "$WORK/cfg/current_vars.txt" || fail "variables file"

# A script that cannot be read: status 1 and a message.
rm -rf "$WORK/cfg" && mkdir -p "$WORK/cfg"
status=0
XDG_RUNTIME_DIR="$WORK/cfg" timeout 30 "$BUSPROBE" --headless --config-dir "$WORK/cfg" --run "$WORK/missing.bpr" \
  > "$WORK/run.out" 2>&1 || status=$?
[ "$status" = 1 ] || fail "missing script exited with $status"
grep -q 'Could not read command file' "$WORK/run.out" || fail "missing script message"
echo "PASS"
