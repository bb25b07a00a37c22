#!/usr/bin/env bash
# A headless busprobe on the independent CANopen peer's CAN-via-UDP bus scans node IDs 1..127
# (--scan-nodes): the peer's two configured devices are listed with device type and name, and the
# silent IDs in between are skipped.
source "$(dirname "$0")/lib.sh"
e2e_init "${1:-}"

start_peer node canopen_peer.py 0 5 --device 00ABCDEF:00001234:00010002:0000BEF0@42
# The tool's own server stays out of the list: it is switched off.
cvudp_client_config scanner "$PEER_PORT" '[SdoSettings]' 'ServerEnable=0'
start_busprobe scanner --scan-nodes --exit-after 100
SCANNER_PID=$BUSPROBE_PID
status=0
finish "$SCANNER_PID" 110 "the scanner" || status=$?
[ "$status" = 0 ] || fail "scanner exit status $status: $(tail -n 5 "$WORK/scanner.out")"
check() { grep -qxF "$1" "$WORK/scanner.out" || fail "expected the line \"$1\" from the scanner"; }
check '005 0x00000191 "CANopen peer node"'
check '042 0x00000191 "CANopen peer node"'
check 'Found 2 CANopen nodes. Select one from the list:'
[ "$(grep -cE '^[0-9]{3} 0x' "$WORK/scanner.out")" = 2 ] || fail "more nodes listed than the peer has"
grep -q '^canopen_peer: served 4008100000000000 ' "$WORK/node.out" || fail "the peer did not serve the device name"
echo "node_scan_peer: all checks passed"
