#!/usr/bin/env bash
# LSS between two headless busprobe processes joined by CAN-via-UDP: the server's built-in slave
# is found by the client's master (--lss-scan), gets a node ID and a bit rate and stores them.
# The scan delay leaves a loaded machine time to relay each answer before the next request.
source "$(dirname "$0")/lib.sh"
e2e_init "${1:-}"

mkdir -p "$WORK/server"
cat > "$WORK/server/NVK_Busprobe.ini" <<INI
[CanInterface]
CanInterfaceType=10
CvUDP_flags=2
CvUDP_LocalIP=127.0.0.1
CvUDP_local_server_port=0
INI
start_busprobe server --exit-after 60
SERVER_PID=$BUSPROBE_PID
wait_for_re "$WORK/server.out" '^CAN: Acting as SERVER for CAN-via-UDP on port [0-9]+,' "$READY_SECS" "$SERVER_PID" ||
  fail "the server did not report its port within $READY_SECS s"
SERVER_PORT=$(sed -nE 's/^CAN: Acting as SERVER for CAN-via-UDP on port ([0-9]+),.*/\1/p' "$WORK/server.out")

# The client hears its own requests back from the relay: its own slave is switched off.
cvudp_client_config client "$SERVER_PORT" '[CANopen_LSS]' 'SlaveOptions=1' 'MasterOptions=0' 'ScanDelay_us=80000'
start_busprobe client --lss-scan --lss-options 11 --lss-first-node 5 --lss-baud 250 --exit-after 60
CLIENT_PID=$BUSPROBE_PID
status=0
finish "$CLIENT_PID" 90 "the client" || status=$?
[ "$status" = 0 ] || fail "client exit status $status: $(tail -n 5 "$WORK/client.out")"
check() { grep -qxF "$1" "$WORK/client.out" || fail "expected the line \"$1\" from the client"; }
check '05 004E564B 00002B29 00010000 00000000'
check 'Found 1 LSS slave. Select one from the list:'
expect "$WORK/server.out" 'LSS slave: stored node ID 5, bit rate 250 kBit/s.' 10 "$SERVER_PID" ||
  fail "the server's slave did not report its configuration"
kill -TERM "$SERVER_PID"
finish "$SERVER_PID" 30 "the server after SIGTERM" || true
echo "lss_two_processes: all checks passed"
