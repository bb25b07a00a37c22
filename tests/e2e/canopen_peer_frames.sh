#!/usr/bin/env bash
# A headless client of the independent CANopen peer's CAN-via-UDP bus talks SDO to the peer's node
# frame by frame from a script: an expedited upload of the device type, a segmented upload of the
# device name with its toggling segment requests, an expedited download read back, and the aborts
# for a write-only object, a missing object and a write to a read-only one.
source "$(dirname "$0")/lib.sh"
e2e_init "${1:-}"

start_peer node canopen_peer.py 0 5
PEER_NODE_PID=$PEER_PID
cvudp_client_config client "$PEER_PORT"
# The peer's boot-up may arrive before the script starts: look for it among the frames received.
cat > "$WORK/sdo_frames.bpr" <<'BPR'
b := 0
repeat
  delay 0.02
  b := b + 1
until canrx(705, 0, U8, 0xFF) = 0 or b > 1500
print "boot-up of node 5"
605 40 00 10 00 00 00 00 00
wcan(585, 8, 43, 00, 10, 00, x, x, x, x)
print "device type: %08X", wcan.dat(32, U32)
605 40 08 10 00 00 00 00 00
wcan(585, 8, 41, 08, 10, 00, x, x, x, x)
print "name size: %d", wcan.dat(32, U32)
605 60 00 00 00 00 00 00 00
wcan(585, 8, 00, x, x, x, x, x, x, x)
print "segment 1: %02X %02X", wcan.dat(8), wcan.dat(56)
605 70 00 00 00 00 00 00 00
wcan(585, 8, 10, x, x, x, x, x, x, x)
print "segment 2: %02X %02X", wcan.dat(8), wcan.dat(56)
605 60 00 00 00 00 00 00 00
wcan(585, 8, 09, x, x, x, x, x, x, x)
print "segment 3: %02X %02X %02X", wcan.dat(8), wcan.dat(16), wcan.dat(24)
605 2F 01 20 00 2A 00 00 00
wcan(585, 8, 60, 01, 20, 00, x, x, x, x)
605 40 01 20 00 00 00 00 00
wcan(585, 8, 4F, 01, 20, 00, x, x, x, x)
print "written and read back: %02X", wcan.dat(32)
605 40 03 20 00 00 00 00 00
wcan(585, 8, 80, 03, 20, 00, x, x, x, x)
print "abort 2003: %08X", wcan.dat(32, U32)
605 40 99 30 00 00 00 00 00
wcan(585, 8, 80, 99, 30, 00, x, x, x, x)
print "abort 3099: %08X", wcan.dat(32, U32)
605 23 00 10 00 01 02 03 04
wcan(585, 8, 80, 00, 10, 00, x, x, x, x)
print "abort 1000: %08X", wcan.dat(32, U32)
BPR
start_busprobe client --run "$WORK/sdo_frames.bpr" --exit-after 20
CLIENT_PID=$BUSPROBE_PID
status=0
finish "$CLIENT_PID" 40 "the client" || status=$?
finish "$PEER_NODE_PID" 30 "the peer node" || fail "peer node: $(tail -n 3 "$WORK/node.out")"
[ "$status" = 0 ] || fail "client exit status $status: $(tail -n 5 "$WORK/client.out")"
check() { grep -qx "$1" "$WORK/client.out" || fail "expected the line \"$1\""; }
check 'boot-up of node 5'
check 'device type: 00000191'
check 'name size: 17'
check 'segment 1: 43 6E'   # "CANopen": C .. n
check 'segment 2: 20 6E'   # " peer n"
check 'segment 3: 6F 64 65'  # "ode", the last segment with 3 bytes
check 'written and read back: 2A'
check 'abort 2003: 06010001'
check 'abort 3099: 06020000'
check 'abort 1000: 06010002'
echo "canopen_peer_frames: all checks passed"
