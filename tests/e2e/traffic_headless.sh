#!/usr/bin/env bash
# Traffic of a headless busprobe checked from outside over CAN-via-UDP on 127.0.0.1:
# 1. a server on the virtual bus with --show-traffic and --record relays a peer's 10,000 transmit
#    requests; every one shows up on its standard output as a sent and as a received line, and the
#    recorded .asc, read back by python-can, holds exactly those frames in order;
# 2. a client with --play replays a file to a peer server with the file's spacing and then ends
#    by itself.
set -euo pipefail
BUSPROBE=${1:?path to busprobe}
HERE=$(cd "$(dirname "$0")" && pwd)
WORK=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null || true; wait 2>/dev/null || true; rm -rf "$WORK"' EXIT
COUNT=10000

free_port() { python3 -c 'import socket; s=socket.socket(socket.AF_INET, socket.SOCK_DGRAM); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }
fail() { echo "FAIL: $*"; for f in "$WORK"/*.out; do echo "== $f"; tail -n 40 "$f"; done; exit 1; }
wait_for() {  # file text seconds
  for _ in $(seq 1 $(( $3 * 10 ))); do grep -qF -- "$2" "$1" 2>/dev/null && return 0; sleep 0.1; done
  return 1
}

# 1. relay, show, record
SERVER_PORT=$(free_port)
mkdir -p "$WORK/server"
cat > "$WORK/server/NVK_Busprobe.ini" <<INI
[CanInterface]
CanInterfaceType=10
CvUDP_flags=2
CvUDP_LocalIP=127.0.0.1
CvUDP_local_server_port=$SERVER_PORT
INI
XDG_RUNTIME_DIR="$WORK/server" "$BUSPROBE" --headless --config-dir "$WORK/server" --show-traffic \
  --record "$WORK/recorded.asc" --exit-after 90 > "$WORK/server.out" 2>&1 &
SERVER_PID=$!
wait_for "$WORK/server.out" "Acting as SERVER" 10 || true
python3 "$HERE/traffic_peer.py" relay "$SERVER_PORT" "$COUNT" > "$WORK/relay.out" 2>&1 || fail "relay peer"
sleep 0.3  # the last echoes reach the log and the output on the next tick
kill -TERM $SERVER_PID; wait $SERVER_PID || fail "server exit status"

# The first request as a sent line (with its mark) and as the bus's echo.
grep -qE '^[0-9]{8}: 100 00 00 00 00 5A A5 0F F0 +;\[T\]$' "$WORK/server.out" || fail "first sent line missing"
grep -qE '^[0-9]{8}: 100 00 00 00 00 5A A5 0F F0 $' "$WORK/server.out" || fail "first received line missing"
SENT=$(grep -cE '^[0-9]{8}: [0-9A-F]{3} .*;\[T\]$' "$WORK/server.out" || true)
RECEIVED=$(grep -cE '^[0-9]{8}: [0-9A-F]{3} [^;]*$' "$WORK/server.out" || true)
[ "$SENT" -eq "$COUNT" ] || fail "$SENT sent lines on stdout, not $COUNT"
[ "$RECEIVED" -eq "$COUNT" ] || fail "$RECEIVED received lines on stdout, not $COUNT"
/usr/bin/python3 "$HERE/traffic_peer.py" checkasc "$WORK/recorded.asc" "$COUNT" || fail "recorded file"

# 2. replay with the file's spacing
PEER_PORT=$(free_port)
mkdir -p "$WORK/player"
cat > "$WORK/player/NVK_Busprobe.ini" <<INI
[CanInterface]
CanInterfaceType=1
CvUDP_flags=1
CvUDP_RemoteIP=127.0.0.1
CvUDP_remote_server_port=$PEER_PORT
CvUDP_LocalIP=127.0.0.1
CvUDP_local_server_port=0
INI
python3 "$HERE/traffic_peer.py" playfile "$WORK/play.asc"
python3 "$HERE/traffic_peer.py" sink "$PEER_PORT" > "$WORK/sink.out" 2>&1 &
SINK_PID=$!
sleep 0.3
START=$(date +%s)
XDG_RUNTIME_DIR="$WORK/player" "$BUSPROBE" --headless --config-dir "$WORK/player" --play "$WORK/play.asc" \
  --exit-after 30 > "$WORK/player.out" 2>&1 || fail "player exit status"
[ $(( $(date +%s) - START )) -lt 15 ] || fail "the player did not end with its file"
wait $SINK_PID || fail "sink peer"
cat "$WORK/sink.out"
echo "traffic_headless: all checks passed"
