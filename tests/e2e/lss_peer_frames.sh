#!/usr/bin/env bash
# A headless client drives the independent peer's LSS slave frame by frame: the fast scan of an
# unconfigured device down to its configuration state, the identity inquiries, a rejected and an
# accepted node-ID, a rejected and an accepted bit timing, the store, the switch back to waiting with
# the boot-up of the new node-ID, and an SDO read from it. A second bus holds two unconfigured devices
# which both answer the fast scan's reset query.
source "$(dirname "$0")/lib.sh"
e2e_init "${1:-}"

# The link may come up after a script starts: each script asks until the non-configured slave answers.
start_peer lss canopen_peer.py 0 255 --lss 00000123:00000456:00000789:00000ABC
PEER_LSS_PID=$PEER_PID
cvudp_client_config client "$PEER_PORT"
cat > "$WORK/lss_frames.bpr" <<'BPR'
n := 0
repeat
  7E5 4C 00 00 00 00 00 00 00
  delay 0.1
  n := n + 1
until canrx(7E4, 0, U8, 0) = 0x50 or n > 100
print "non-configured slave answered"
7E5 51 00 00 00 00 80 00 00
wcan(7E4, 8, 4F, x, x, x, x, x, x, x)
7E5 51 00 00 00 00 1F 00 00
wcan(7E4, 8, 4F, x, x, x, x, x, x, x)
7E5 51 23 01 00 00 00 00 01
wcan(7E4, 8, 4F, x, x, x, x, x, x, x)
7E5 51 56 04 00 00 00 01 02
wcan(7E4, 8, 4F, x, x, x, x, x, x, x)
7E5 51 89 07 00 00 00 02 03
wcan(7E4, 8, 4F, x, x, x, x, x, x, x)
7E5 51 BC 0A 00 00 00 03 00
wcan(7E4, 8, 4F, x, x, x, x, x, x, x)
print "fast scan done"
7E5 04 01 00 00 00 00 00 00
7E5 5A 00 00 00 00 00 00 00
wcan(7E4, 8, 5A, x, x, x, x, x, x, x)
print "vendor: %08X", wcan.dat(8, U32)
7E5 5D 00 00 00 00 00 00 00
wcan(7E4, 8, 5D, x, x, x, x, x, x, x)
print "serial: %08X", wcan.dat(8, U32)
7E5 5E 00 00 00 00 00 00 00
wcan(7E4, 8, 5E, x, x, x, x, x, x, x)
print "node-ID: %02X", wcan.dat(8)
7E5 11 80 00 00 00 00 00 00
wcan(7E4, 8, 11, x, x, x, x, x, x, x)
print "node-ID 128: %02X", wcan.dat(8)
7E5 11 0A 00 00 00 00 00 00
wcan(7E4, 8, 11, x, x, x, x, x, x, x)
print "node-ID 10: %02X", wcan.dat(8)
7E5 13 01 00 00 00 00 00 00
wcan(7E4, 8, 13, x, x, x, x, x, x, x)
print "table 1: %02X", wcan.dat(8)
7E5 13 00 03 00 00 00 00 00
wcan(7E4, 8, 13, x, x, x, x, x, x, x)
print "table 0 index 3: %02X", wcan.dat(8)
7E5 17 00 00 00 00 00 00 00
wcan(7E4, 8, 17, x, x, x, x, x, x, x)
print "store: %02X", wcan.dat(8)
7E5 04 00 00 00 00 00 00 00
wcan(70A, 1, 0)
print "boot-up of node 10"
60A 40 18 10 04 00 00 00 00
wcan(58A, 8, 43, 18, 10, 04, x, x, x, x)
print "serial over SDO: %08X", wcan.dat(32, U32)
BPR
start_busprobe client --run "$WORK/lss_frames.bpr" --exit-after 20
CLIENT_PID=$BUSPROBE_PID
status=0
finish "$CLIENT_PID" 40 "the client" || status=$?
finish "$PEER_LSS_PID" 30 "the peer" || fail "peer: $(tail -n 3 "$WORK/lss.out")"
[ "$status" = 0 ] || fail "client exit status $status: $(tail -n 5 "$WORK/client.out")"
check() { grep -qx "$1" "$WORK/$2.out" || fail "expected the line \"$1\" in $2.out"; }
check 'non-configured slave answered' client
check 'fast scan done' client
check 'vendor: 00000123' client
check 'serial: 00000ABC' client
check 'node-ID: FF' client
check 'node-ID 128: 01' client
check 'node-ID 10: 00' client
check 'table 1: 01' client
check 'table 0 index 3: 00' client
check 'store: 00' client
check 'boot-up of node 10' client
check 'serial over SDO: 00000ABC' client
ID=00000123:00000456:00000789:00000ABC
check "canopen_peer: lss $ID configuration state" lss
check "canopen_peer: lss $ID node-ID 10 configured" lss
check "canopen_peer: lss $ID bit timing table 0 index 3" lss
check "canopen_peer: lss $ID stored node-ID 10 index 3" lss
check "canopen_peer: lss $ID waiting state" lss
check "canopen_peer: lss $ID boot-up as node 10" lss

# Two unconfigured devices: the reset query gets two answers, and only the device whose vendor
# matches answers the first part's full check.
start_peer pair canopen_peer.py 0 255 --lss 00000001:00000002:00000003:00000004 --device 00000011:00000002:00000003:00000005
PEER_PAIR_PID=$PEER_PID
cvudp_client_config client2 "$PEER_PORT"
# Both answers may arrive within one millisecond, too close for two waits in a row: the script
# waits for one, the peer's lines show that both devices answered.
cat > "$WORK/lss_pair.bpr" <<'BPR'
n := 0
repeat
  7E5 4C 00 00 00 00 00 00 00
  delay 0.1
  n := n + 1
until canrx(7E4, 0, U8, 0) = 0x50 or n > 100
7E5 51 00 00 00 00 80 00 00
wcan(7E4, 8, 4F, x, x, x, x, x, x, x)
print "reset answered"
7E5 51 11 00 00 00 00 00 01
wcan(7E4, 8, 4F, x, x, x, x, x, x, x)
print "one answer"
BPR
start_busprobe client2 --run "$WORK/lss_pair.bpr" --exit-after 20
CLIENT_PID=$BUSPROBE_PID
status=0
finish "$CLIENT_PID" 40 "the second client" || status=$?
finish "$PEER_PAIR_PID" 30 "the second peer" || fail "second peer: $(tail -n 3 "$WORK/pair.out")"
[ "$status" = 0 ] || fail "second client exit status $status: $(tail -n 5 "$WORK/client2.out")"
check 'reset answered' client2
check 'one answer' client2
check 'canopen_peer: lss 00000001:00000002:00000003:00000004 fast scan answered sub 0 bit 128' pair
check 'canopen_peer: lss 00000011:00000002:00000003:00000005 fast scan answered sub 0 bit 128' pair
check 'canopen_peer: lss 00000011:00000002:00000003:00000005 fast scan answered sub 0 bit 0' pair
grep -q 'canopen_peer: lss 00000001:00000002:00000003:00000004 fast scan answered sub 0 bit 0$' "$WORK/pair.out" &&
  fail "the device with the other vendor answered the vendor check"
echo "lss_peer_frames: all checks passed"
