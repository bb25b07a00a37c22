#!/usr/bin/env bash
# Two headless busprobe processes joined by CAN-via-UDP on 127.0.0.1, checked from outside by an
# independent peer: a server on the virtual bus, a busprobe client, a peer client whose transmit
# request must come back as the server's echo, and a peer server for the busprobe client role.
set -euo pipefail
BUSPROBE=${1:?path to busprobe}
HERE=$(cd "$(dirname "$0")" && pwd)
WORK=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null || true; wait 2>/dev/null || true; rm -rf "$WORK"' EXIT

free_port() { python3 -c 'import socket; s=socket.socket(socket.AF_INET, socket.SOCK_DGRAM); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }
SERVER_PORT=$(free_port); CLIENT_PORT=$(free_port); PEER_SERVER_PORT=$(free_port)
# Each process keeps its instance lock in its own directory, so each is a first instance and reads
# NVK_Busprobe.ini (a second instance on one lock directory would read NVK_Busprobe1.ini).

mkdir -p "$WORK/server" "$WORK/client" "$WORK/client2"
cat > "$WORK/server/NVK_Busprobe.ini" <<INI
[CanInterface]
CanInterfaceType=10
CvUDP_flags=2
CvUDP_LocalIP=127.0.0.1
CvUDP_local_server_port=$SERVER_PORT
INI
cat > "$WORK/client/NVK_Busprobe.ini" <<INI
[CanInterface]
CanInterfaceType=1
CvUDP_flags=1
CvUDP_RemoteIP=127.0.0.1
CvUDP_remote_server_port=$SERVER_PORT
CvUDP_LocalIP=127.0.0.1
CvUDP_local_server_port=$CLIENT_PORT
INI

fail() { echo "FAIL: $*"; for f in "$WORK"/*.out; do echo "== $f"; cat "$f"; done; exit 1; }
wait_for() {  # file pattern seconds
  for _ in $(seq 1 $(( $3 * 10 ))); do grep -qF -- "$2" "$1" 2>/dev/null && return 0; sleep 0.1; done
  return 1
}

# 1. busprobe server + busprobe client
XDG_RUNTIME_DIR="$WORK/server" "$BUSPROBE" --headless --config-dir "$WORK/server" --exit-after 20 > "$WORK/server.out" 2>&1 &
SERVER_PID=$!
wait_for "$WORK/server.out" "Acting as SERVER" 5 || true
XDG_RUNTIME_DIR="$WORK/client" "$BUSPROBE" --headless --config-dir "$WORK/client" --exit-after 4 > "$WORK/client.out" 2>&1 &
CLIENT_PID=$!
wait_for "$WORK/server.out" "CAN: CvUDP Server: Connected by 127.0.0.1:$CLIENT_PORT ." 10 || fail "server did not report the client"
wait_for "$WORK/client.out" "CAN: CvUDP Server reports t=" 10 || fail "client did not report the server's Timestamp"
grep -qE "^CAN: CvUDP Server reports t=[0-9]+, f=1000 Hz \.$" "$WORK/client.out" || fail "Timestamp line malformed"
wait $CLIENT_PID || fail "client exit status"

# 2. an independent peer as client: its transmit request comes back as the server's echo
python3 "$HERE/cvudp_peer.py" client "$SERVER_PORT" > "$WORK/peer_client.out" 2>&1 || fail "peer client"
kill -TERM $SERVER_PID; wait $SERVER_PID || fail "server exit status after SIGTERM"
grep -q "CvUDP Server disconnected from 127.0.0.1" "$WORK/server.out" || fail "server did not see the peer disconnect"
[ -f "$WORK/server/NVK_Busprobe.ini" ] && grep -q "CanInterfaceType=10" "$WORK/server/NVK_Busprobe.ini" || fail "server configuration not written"

# 3. an independent peer as server: the busprobe client connects, sends its bit rate, gets a frame
cat > "$WORK/client2/NVK_Busprobe.ini" <<INI
[CanInterface]
CanInterfaceType=1
CvUDP_flags=1
CvUDP_RemoteIP=127.0.0.1
CvUDP_remote_server_port=$PEER_SERVER_PORT
CvUDP_LocalIP=127.0.0.1
CvUDP_local_server_port=0
INI
python3 "$HERE/cvudp_peer.py" server "$PEER_SERVER_PORT" > "$WORK/peer_server.out" 2>&1 &
PEER_PID=$!
sleep 0.3
XDG_RUNTIME_DIR="$WORK/client2" "$BUSPROBE" --headless --config-dir "$WORK/client2" --exit-after 3 > "$WORK/client2.out" 2>&1 || fail "client2 exit status"
wait $PEER_PID || fail "peer server"
grep -q "CAN: CvUDP Server reports t=4242, f=1000 Hz ." "$WORK/client2.out" || fail "client2 did not report the peer's Timestamp"
echo "cvudp_headless: all checks passed"
