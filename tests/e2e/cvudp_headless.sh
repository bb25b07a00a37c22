#!/usr/bin/env bash
# Two headless busprobe processes joined by CAN-via-UDP on 127.0.0.1, checked from outside by an
# independent peer: a server on the virtual bus, a busprobe client, a peer client whose transmit
# request must come back as the server's echo, and a peer server for the busprobe client role.
source "$(dirname "$0")/lib.sh"
e2e_init "${1:-}"

# The server takes any free port and names it; the client's own port must be known beforehand,
# as the server reports it.
CLIENT_PORT=$(free_port)
mkdir -p "$WORK/server" "$WORK/client" "$WORK/client2"
cat > "$WORK/server/NVK_Busprobe.ini" <<INI
[CanInterface]
CanInterfaceType=10
CvUDP_flags=2
CvUDP_LocalIP=127.0.0.1
CvUDP_local_server_port=0
INI

# 1. busprobe server + busprobe client
start_busprobe server --exit-after 60
SERVER_PID=$BUSPROBE_PID
wait_for_re "$WORK/server.out" '^CAN: Acting as SERVER for CAN-via-UDP on port [0-9]+,' "$READY_SECS" "$SERVER_PID" ||
  fail "the server did not report its port within $READY_SECS s"
SERVER_PORT=$(sed -nE 's/^CAN: Acting as SERVER for CAN-via-UDP on port ([0-9]+),.*/\1/p' "$WORK/server.out")
[ "$SERVER_PORT" -gt 0 ] || fail "the server reported port $SERVER_PORT"
cat > "$WORK/client/NVK_Busprobe.ini" <<INI
[CanInterface]
CanInterfaceType=1
CvUDP_flags=1
CvUDP_RemoteIP=127.0.0.1
CvUDP_remote_server_port=$SERVER_PORT
CvUDP_LocalIP=127.0.0.1
CvUDP_local_server_port=$CLIENT_PORT
INI
# The client ends by itself: its run time counts from its own start-up, and the exchange with a
# server that is already listening takes milliseconds.
start_busprobe client --exit-after 4
CLIENT_PID=$BUSPROBE_PID
expect "$WORK/server.out" "CAN: CvUDP Server: Connected by 127.0.0.1:$CLIENT_PORT ." "$READY_SECS" "$SERVER_PID"
expect "$WORK/client.out" "CAN: CvUDP Server reports t=" "$READY_SECS" "$CLIENT_PID"
grep -qE "^CAN: CvUDP Server reports t=[0-9]+, f=1000 Hz \.$" "$WORK/client.out" || fail "Timestamp line malformed"
finish "$CLIENT_PID" 30 "the client (--exit-after 4)" || fail "client exit status $?"

# 2. an independent peer as client: its transmit request comes back as the server's echo
"$PY" -u "$E2E_DIR/cvudp_peer.py" client "$SERVER_PORT" > "$WORK/peer_client.out" 2>&1 || fail "peer client"
expect "$WORK/server.out" "CvUDP Server disconnected from 127.0.0.1" "$READY_SECS" "$SERVER_PID"
kill -TERM "$SERVER_PID"
finish "$SERVER_PID" 30 "the server after SIGTERM" || fail "server exit status after SIGTERM: $?"
grep -q "CanInterfaceType=10" "$WORK/server/NVK_Busprobe.ini" || fail "server configuration not written"

# 3. an independent peer as server: the busprobe client connects, sends its bit rate, gets a frame
# and says goodbye when it ends
start_peer peer_server cvudp_peer.py server 0
PEER_SERVER_PID=$PEER_PID
cvudp_client_config client2 "$PEER_PORT"
start_busprobe client2 --show-traffic --exit-after 60
CLIENT2_PID=$BUSPROBE_PID
expect "$WORK/client2.out" "CAN: CvUDP Server reports t=4242, f=1000 Hz ." "$READY_SECS" "$CLIENT2_PID"
wait_for_re "$WORK/client2.out" '^[0-9]{8}: 321 AB CD *$' "$READY_SECS" "$CLIENT2_PID" ||
  fail "client2 did not show the relayed frame 321 AB CD within $READY_SECS s"
kill -TERM "$CLIENT2_PID"
finish "$CLIENT2_PID" 30 "client2 after SIGTERM" || fail "client2 exit status after SIGTERM: $?"
finish "$PEER_SERVER_PID" 30 "the peer server" || fail "peer server"
echo "cvudp_headless: all checks passed"
