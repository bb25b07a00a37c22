#!/usr/bin/env bash
# A script on a CAN-via-UDP client sees the frames of the bus its server relays: an independent
# peer server carries 181 10 20 every 100 ms; the headless client's script waits for it with wcan,
# reads it with canrx and ends, so the client exits 0 with the values printed.
source "$(dirname "$0")/lib.sh"
e2e_init "${1:-}"

start_peer peer_server cvudp_peer.py cyclic 0 181 10 20
PEER_SERVER_PID=$PEER_PID
cvudp_client_config client "$PEER_PORT"
cat > "$WORK/wait_for_frame.bpr" <<'BPR'
wcan(181, 2, 10, x)
print "wcan: len=%d data=%02X %02X", wcan.len, wcan.dat(0), wcan.dat(8)
print "canrx: %04X", canrx(181, 0, U16, -1)
BPR
# --exit-after only ends a script that waits in vain; the runner then exits 0 as well, so the
# printed lines decide.
start_busprobe client --show-traffic --run "$WORK/wait_for_frame.bpr" --exit-after 20
CLIENT_PID=$BUSPROBE_PID
status=0
finish "$CLIENT_PID" 40 "the client" || status=$?
finish "$PEER_SERVER_PID" 30 "the peer server" || fail "peer server"
if ! grep -q '^wcan: ' "$WORK/client.out"; then
  grep -qE '^[0-9]{8}: 181 10 20 *$' "$WORK/client.out" ||
    fail "the frame never reached the client (no Rx line 181 10 20)"
  fail "the script's wcan(181, 2, 10, x) never ended although the client received 181 10 20"
fi
grep -qx 'wcan: len=2 data=10 20' "$WORK/client.out" || fail "wcan frame differs"
grep -qx 'canrx: 2010' "$WORK/client.out" || fail "canrx(181, 0, U16) differs"
[ "$status" = 0 ] || fail "client exit status $status"
echo "cvudp_client_script: all checks passed"
