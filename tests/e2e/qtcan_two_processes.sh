#!/usr/bin/env bash
# Two headless busprobe processes on one Qt virtualcan bus (its TCP server on 127.0.0.1, served by
# the first process to open the port), chosen with --interface alone: the second sends classic,
# extended, remote and FD frames, the first sees them and answers, and Qt's own canbusutil,
# listening on the same bus, sees what busprobe sends. The configuration never keeps the choice.
source "$(dirname "$0")/lib.sh"
e2e_init "${1:-}"
CANBUSUTIL=${CANBUSUTIL:-/usr/lib/qt6/bin/canbusutil}
# A build without Qt's CAN bus module has no type 11 to test (the listing says so).
if "$BUSPROBE" --list-interfaces 2>/dev/null | grep -A1 '^Qt CAN bus' | grep -q 'not part of this program'; then
  echo "qtcan_two_processes: built without the Qt CAN bus back-end, nothing to check"
  exit 0
fi
[ -x "$CANBUSUTIL" ] || fail "no $CANBUSUTIL (scripts/install-deps.sh installs libqt6serialbus6-bin)"

PORT=$("$PY" -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
BUS="qtcan:virtualcan:tcp://127.0.0.1:$PORT/can0"
# The plugin's own lines say when a device has joined the bus (the server logs each "connect").
export QT_LOGGING_RULES="qt.canbus.plugins.virtualcan.debug=true"
joined() { grep -c "received: 'connect:can0'" "$WORK/a.out" 2>/dev/null || true; }
wait_joined() {  # count seconds
  local deadline=$((SECONDS + $2))
  while [ "$(joined)" -lt "$1" ]; do
    kill -0 "$A_PID" 2>/dev/null || fail "busprobe a ended before $1 devices had joined"
    [ "$SECONDS" -lt "$deadline" ] || fail "$1 devices had not joined the bus within $2 s"
    sleep 0.05
  done
}

cat > "$WORK/a.bpr" <<'BPR'
print "a ready"
wcan(321, 1, 01)
322 AA BB
wcan(7FE, 1, 01)
print "a done"
BPR
cat > "$WORK/b.bpr" <<'BPR'
print "b sending"
123 01 02 03
18FF1234x 11 22 33 44 55 66 77 88
456S 01 02 03 04 05 06 07 08 09 0A 0B 0C
7E5 r4
321 01
wcan(322, 2, AA, BB)
print "b got the answer"
7FE 01
BPR

# 1. The first process serves the bus.
start_busprobe a --interface "$BUS" --show-traffic --run "$WORK/a.bpr" --exit-after 90
A_PID=$BUSPROBE_PID
expect "$WORK/a.out" "a ready" "$READY_SECS" "$A_PID"
wait_joined 1 "$READY_SECS"

# 2. canbusutil listens on the same bus.
"$CANBUSUTIL" -l -f virtualcan "tcp://127.0.0.1:$PORT/can0" > "$WORK/canbusutil.out" 2>&1 &
LISTENER_PID=$!
E2E_PIDS+=("$LISTENER_PID")
wait_joined 2 "$READY_SECS"

# 3. The second process joins, sends, waits for the answer and ends.
start_busprobe b --interface "$BUS" --show-traffic --run "$WORK/b.bpr" --exit-after 90
B_PID=$BUSPROBE_PID
expect "$WORK/b.out" "b got the answer" "$READY_SECS" "$B_PID"
finish "$B_PID" 30 "busprobe b" || fail "busprobe b exit status $?"
expect "$WORK/a.out" "a done" "$READY_SECS" "$A_PID"
finish "$A_PID" 30 "busprobe a" || fail "busprobe a exit status $?"

# What a received (its Rx lines carry no ";[T]" mark).
for line in '123 +01 02 03' '18FF1234 +11 22 33 44 55 66 77 88' '456 +01 02 03 04 05 06 07 08 09 0A 0B 0C' \
  '7E5 +rXX XX XX XX'; do
  grep -E "^[0-9]{8}: $line" "$WORK/a.out" | grep -vq ';\[T\]' || fail "busprobe a did not receive \"$line\""
done
grep -E '^[0-9]{8}: 322 +AA BB' "$WORK/b.out" | grep -vq ';\[T\]' || fail "busprobe b did not receive the answer"

# What canbusutil saw of both.
for frame in '123 +\[3\] +01 02 03' '18FF1234 +\[8\] +11 22 33 44 55 66 77 88' \
  '456 +\[12\] +01 02 03 04 05 06 07 08 09 0A 0B 0C' '7E5 +\[4\] +Remote Request' '322 +\[2\] +AA BB'; do
  grep -qE "$frame" "$WORK/canbusutil.out" || fail "canbusutil did not see \"$frame\""
done
# Its bit-rate switch is on the wire (the plugin's log shows the FD frame's flags: F, B for BRS).
grep -q "received: 'can0:1110#FB#0102030405060708090a0b0c'" "$WORK/a.out" || fail "the FD frame lost its flags"

# The run's interface was the command line's; the saved configuration keeps its own.
grep -q '^CanInterfaceType=10' "$WORK/a/NVK_Busprobe.ini" || fail "a's configuration lost its interface"
grep -q 'tcp://' "$WORK/a/NVK_Busprobe.ini" && fail "a's configuration kept the command line's interface"

# A form the program cannot use is refused before anything starts.
status=0
"$BUSPROBE" --headless --config-dir "$WORK/c" --interface qtcan:nosuchplugin:can0 > "$WORK/c.out" 2>&1 || status=$?
[ "$status" = 2 ] || fail "an unknown Qt CAN bus plugin gave exit status $status, not 2"
grep -q 'Qt has no CAN bus plugin "nosuchplugin"' "$WORK/c.out" || fail "no reason for the unknown plugin"
echo "qtcan_two_processes: all checks passed"
