#!/usr/bin/env bash
# The LSS master of a headless busprobe (--lss-scan) against the independent peer's LSS slaves over
# CAN-via-UDP: one unconfigured device, then two, are all found, get distinct node IDs counted
# from the first wanted one and store them; the second run also switches them to another bit rate.
# The peer's printed lines prove what each device was told.
source "$(dirname "$0")/lib.sh"
e2e_init "${1:-}"

ONE=00000123:00000456:00000789:00000ABC
TWO=00000123:00000456:00000789:00000ABD
# The tool's own slave stays silent; the scan delay gives a loaded machine time for each answer.
lss_client() {  # name port
  cvudp_client_config "$1" "$2" '[CANopen_LSS]' 'SlaveOptions=1' 'MasterOptions=17' 'ScanDelay_us=30000'
}
peer_says() {  # peer-output text
  grep -qxF "canopen_peer: $2" "$1" || fail "expected the peer line \"$2\""
}

start_peer one canopen_peer.py 0 255 --lss "$ONE"
PEER_ONE=$PEER_PID
lss_client single "$PEER_PORT"
start_busprobe single --lss-scan --lss-first-node 20 --exit-after 90
status=0
finish "$BUSPROBE_PID" 100 "the single-device scan" || status=$?
[ "$status" = 0 ] || fail "single-device scan exit status $status: $(tail -n 5 "$WORK/single.out")"
grep -qxF '14 00000123 00000456 00000789 00000ABC' "$WORK/single.out" || fail "the device was not listed as node 20"
grep -qxF 'Found 1 LSS slave. Select one from the list:' "$WORK/single.out" || fail "no final line for one slave"
finish "$PEER_ONE" 30 "the peer of one device" || true
peer_says "$WORK/one.out" "lss $ONE node-ID 20 configured"
grep -qE "^canopen_peer: lss $ONE stored node-ID 20( |$)" "$WORK/one.out" || fail "the device did not store node-ID 20"

start_peer two canopen_peer.py 0 255 --lss "$ONE" --device "$TWO"
PEER_TWO=$PEER_PID
lss_client pair "$PEER_PORT"
start_busprobe pair --lss-scan --lss-first-node 30 --lss-baud 250 --exit-after 90
status=0
finish "$BUSPROBE_PID" 100 "the two-device scan" || status=$?
[ "$status" = 0 ] || fail "two-device scan exit status $status: $(tail -n 5 "$WORK/pair.out")"
grep -qxF 'Found 2 LSS slaves. Select one from the list:' "$WORK/pair.out" || fail "no final line for two slaves"
listed=$(grep -E '^[0-9A-F]{2} 00000123 00000456 00000789 00000AB[CD]$' "$WORK/pair.out" | sort)
ids=$(printf '%s\n' "$listed" | cut -c1-2 | sort | tr '\n' ' ')
[ "$ids" = "1E 1F " ] || fail "the two devices were not listed as nodes 30 and 31: $listed"
finish "$PEER_TWO" 30 "the peer of two devices" || true
for identity in "$ONE" "$TWO"; do
  node=$(printf '%s\n' "$listed" | grep "${identity##*:}\$" | cut -c1-2)
  peer_says "$WORK/two.out" "lss $identity node-ID $((16#$node)) configured"
  grep -qE "^canopen_peer: lss $identity bit timing table 0 index 3$" "$WORK/two.out" ||
    fail "$identity was not given 250 kbit/s"
  grep -qE "^canopen_peer: lss $identity stored node-ID $((16#$node))( |$)" "$WORK/two.out" ||
    fail "$identity did not store its node-ID"
done
echo "lss_peer: all checks passed"
