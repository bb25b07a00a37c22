#!/usr/bin/env bash
# The node scan between two headless busprobe processes joined by CAN-via-UDP: the server serves a
# dictionary file as node 2, the client scans (--scan-nodes) and lists it with its type and name.
# The client hears its own requests back from the relay, so its own server (node 9) answers for
# itself; it must not answer for node 2. A scan cut short by --exit-after ends with status 2.
source "$(dirname "$0")/lib.sh"
e2e_init "${1:-}"

eds() {  # file device-type name
  printf '[FileInfo]\nFileName=%s\nEDSVersion=4.0\n\n[MandatoryObjects]\nSupportedObjects=1\n1=0x1000\n' "$1"
  printf '\n[1000]\nParameterName=Device type\nObjectType=0x7\nDataType=0x0007\nAccessType=ro\nDefaultValue=%s\n' "$2"
  printf '\n[OptionalObjects]\nSupportedObjects=1\n1=0x1008\n'
  printf '\n[1008]\nParameterName=Device name\nObjectType=0x7\nDataType=0x0009\nAccessType=const\nDefaultValue=%s\n' "$3"
}
mkdir -p "$WORK/server/Objects" "$WORK/client/Objects"
eds node.eds 0x00040191 "scanned server node" > "$WORK/server/Objects/node.eds"
eds node.eds 0x00000192 "the scanning client" > "$WORK/client/Objects/node.eds"
cat > "$WORK/server/NVK_Busprobe.ini" <<INI
[CanInterface]
CanInterfaceType=10
CvUDP_flags=2
CvUDP_LocalIP=127.0.0.1
CvUDP_local_server_port=0
[Directories]
MyObjectDictionary=node.eds
INI
start_busprobe server --exit-after 100
SERVER_PID=$BUSPROBE_PID
wait_for_re "$WORK/server.out" '^CAN: Acting as SERVER for CAN-via-UDP on port [0-9]+,' "$READY_SECS" "$SERVER_PID" ||
  fail "the server did not report its port within $READY_SECS s"
SERVER_PORT=$(sed -nE 's/^CAN: Acting as SERVER for CAN-via-UDP on port ([0-9]+),.*/\1/p' "$WORK/server.out")

cvudp_client_config client "$SERVER_PORT" '[Directories]' 'MyObjectDictionary=node.eds' '[SdoSettings]' \
  'ServerNodeID=9'
start_busprobe client --scan-nodes --exit-after 100
CLIENT_PID=$BUSPROBE_PID
status=0
finish "$CLIENT_PID" 110 "the client" || status=$?
[ "$status" = 0 ] || fail "client exit status $status: $(tail -n 5 "$WORK/client.out")"
check() { grep -qxF "$1" "$WORK/client.out" || fail "expected the line \"$1\" from the client"; }
check '002 0x00040191 "scanned server node"'
check '009 0x00000192 "the scanning client"'
check 'Found 2 CANopen nodes. Select one from the list:'
[ "$(grep -c '^002 ' "$WORK/client.out")" = 1 ] || fail "node 2 listed more than once"
# A scan cut short is named, and the run does not pass for complete.
cvudp_client_config cut "$SERVER_PORT" '[SdoSettings]' 'ServerNodeID=9'
start_busprobe cut --scan-nodes --exit-after 3
status=0
finish "$BUSPROBE_PID" 30 "the scan cut short" || status=$?
[ "$status" = 2 ] || fail "a scan cut short ended with status $status"
grep -qxF 'Node scan still running after 3 s: stopped.' "$WORK/cut.out" || fail "the cut-short scan was not named"
grep -q '^Found ' "$WORK/cut.out" && fail "a scan cut short printed a result"
kill -TERM "$SERVER_PID"
finish "$SERVER_PID" 30 "the server after SIGTERM" || true
echo "node_scan_two_processes: all checks passed"
