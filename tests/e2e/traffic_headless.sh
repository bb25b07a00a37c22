#!/usr/bin/env bash
# Traffic of a headless busprobe checked from outside over CAN-via-UDP on 127.0.0.1:
# 1. a server on the virtual bus with --show-traffic and --record relays a peer's 10,000 transmit
#    requests; every one shows up on its standard output as a sent and as a received line, and the
#    recorded .asc, read back by python-can, holds exactly those frames in order;
# 2. a client with --play replays a file to a peer server with the file's spacing and then ends
#    by itself.
source "$(dirname "$0")/lib.sh"
e2e_init "${1:-}"
COUNT=10000

# 1. relay, show, record
mkdir -p "$WORK/server"
cat > "$WORK/server/NVK_Busprobe.ini" <<INI
[CanInterface]
CanInterfaceType=10
CvUDP_flags=2
CvUDP_LocalIP=127.0.0.1
CvUDP_local_server_port=0
[SdoSettings]
ServerEnable=0
INI
# The relayed identifiers run through 0x100..0x6FF: the SDO server's answers to 0x602 would join
# the echoes, so it is off here.
start_busprobe server --show-traffic --record "$WORK/recorded.asc" --exit-after 100
SERVER_PID=$BUSPROBE_PID
wait_for_re "$WORK/server.out" '^CAN: Acting as SERVER for CAN-via-UDP on port [0-9]+,' "$READY_SECS" "$SERVER_PID" ||
  fail "the server did not report its port within $READY_SECS s"
SERVER_PORT=$(sed -nE 's/^CAN: Acting as SERVER for CAN-via-UDP on port ([0-9]+),.*/\1/p' "$WORK/server.out")
"$PY" -u "$E2E_DIR/traffic_peer.py" relay "$SERVER_PORT" "$COUNT" > "$WORK/relay.out" 2>&1 || fail "relay peer"
# The peer has all echoes; the server prints (and logs) the last one on its next tick.
LAST=$((COUNT - 1))
LAST_LINE=$(printf '%03X %02X %02X %02X %02X 5A A5 0F F0' $((0x100 + LAST % 0x600)) $((LAST & 255)) \
  $(((LAST >> 8) & 255)) $(((LAST >> 16) & 255)) $(((LAST >> 24) & 255)))
wait_for_re "$WORK/server.out" "^[0-9]{8}: $LAST_LINE \$" "$READY_SECS" "$SERVER_PID" ||
  fail "the server did not show the last echo ($LAST_LINE) within $READY_SECS s"
kill -TERM "$SERVER_PID"
finish "$SERVER_PID" 30 "the server after SIGTERM" || fail "server exit status $?"

# The first request as a sent line (with its mark) and as the bus's echo.
grep -qE '^[0-9]{8}: 100 00 00 00 00 5A A5 0F F0 +;\[T\]$' "$WORK/server.out" || fail "first sent line missing"
grep -qE '^[0-9]{8}: 100 00 00 00 00 5A A5 0F F0 $' "$WORK/server.out" || fail "first received line missing"
SENT=$(grep -cE '^[0-9]{8}: [0-9A-F]{3} .*;\[T\]$' "$WORK/server.out" || true)
RECEIVED=$(grep -cE '^[0-9]{8}: [0-9A-F]{3} [^;]*$' "$WORK/server.out" || true)
[ "$SENT" -eq "$COUNT" ] || fail "$SENT sent lines on stdout, not $COUNT"
[ "$RECEIVED" -eq "$COUNT" ] || fail "$RECEIVED received lines on stdout, not $COUNT"
/usr/bin/python3 "$E2E_DIR/traffic_peer.py" checkasc "$WORK/recorded.asc" "$COUNT" || fail "recorded file"

# 2. replay with the file's spacing
"$PY" "$E2E_DIR/traffic_peer.py" playfile "$WORK/play.asc"
start_peer sink traffic_peer.py sink 0
SINK_PID=$PEER_PID
cvudp_client_config player "$PEER_PORT"
START=$SECONDS
start_busprobe player --play "$WORK/play.asc" --exit-after 30
finish "$BUSPROBE_PID" 40 "the player" || fail "player exit status $?"
[ $((SECONDS - START)) -lt 15 ] || fail "the player did not end with its file"
finish "$SINK_PID" 40 "the sink peer" || fail "sink peer"
cat "$WORK/sink.out"
echo "traffic_headless: all checks passed"
