# Shared helpers of the end-to-end scripts; each script sources this file first.
#
# Nothing here sleeps for another process to get ready: every wait polls for a line the process
# prints once it is ready, up to a bound generous enough for a loaded machine, and a wait that
# runs out fails the test, names what it waited for and shows every process's output.
#
#   e2e_init BUSPROBE          work directory $WORK, cleanup on exit
#   fail REASON                report, dump $WORK/*.out, exit 1
#   free_port                  a UDP port on 127.0.0.1 that nothing is bound to
#   wait_for FILE TEXT SECS [PID]  returns 1 unless FILE shows the fixed TEXT within SECS (or
#                              before PID, the process writing FILE, has ended)
#   wait_for_re FILE ERE SECS [PID]  the same with an extended regular expression
#   expect FILE TEXT SECS [PID]  wait_for, failing the test with the reason when it returns 1
#   start_peer NAME ARGS...    runs the Python peer ARGS in the background, output $WORK/NAME.out;
#                              waits for its readiness line; sets PEER_PID and PEER_PORT
#   start_busprobe NAME ARGS...  a headless busprobe with the configuration directory $WORK/NAME
#                              (also its lock directory, so each process is a first instance and
#                              reads NVK_Busprobe.ini), output $WORK/NAME.out; sets BUSPROBE_PID
#   cvudp_client_config NAME PORT [LINES...]  writes $WORK/NAME/NVK_Busprobe.ini for a CAN-via-UDP
#                              client of the server on 127.0.0.1:PORT, then the further INI LINES
#   finish PID SECS WHAT       waits at most SECS for PID to end (fails naming WHAT if it does
#                              not); returns its exit status
set -euo pipefail

E2E_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# Debian's interpreter starts in milliseconds; the one first on the PATH may take a second under
# load. The peers use only the standard library, so either will do.
if [ -x /usr/bin/python3 ]; then PY=/usr/bin/python3; else PY=python3; fi
# Readiness and completion bounds: a start-up takes well under a second on an idle machine.
READY_SECS=${E2E_READY_SECS:-30}

E2E_PIDS=()

e2e_init() {
  BUSPROBE=${1:?path to busprobe}
  [ -x "$BUSPROBE" ] || { echo "FAIL: $BUSPROBE is not an executable"; exit 1; }
  WORK=$(mktemp -d)
  trap e2e_cleanup EXIT
}

e2e_cleanup() {
  local pid
  for pid in "${E2E_PIDS[@]}"; do kill -TERM "$pid" 2>/dev/null || :; done
  for pid in "${E2E_PIDS[@]}"; do wait "$pid" 2>/dev/null || :; done
  rm -rf "$WORK"
}

fail() {
  echo "FAIL: $*"
  local f
  for f in "$WORK"/*.out; do
    [ -e "$f" ] || continue
    echo "== $(basename "$f") (last 60 lines)"
    tail -n 60 "$f"
  done
  exit 1
}

free_port() {
  "$PY" -c 'import socket; s=socket.socket(socket.AF_INET, socket.SOCK_DGRAM); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

_wait_grep() {  # grep-mode file pattern seconds [pid]
  local mode=$1 file=$2 pattern=$3 deadline=$((SECONDS + $4)) pid=${5:-} ended=0
  while :; do
    grep -q "$mode" -- "$pattern" "$file" 2>/dev/null && return 0
    # A writer that has ended prints nothing more; one more look covers its last line.
    [ "$ended" = 0 ] || return 1
    [ -z "$pid" ] || kill -0 "$pid" 2>/dev/null || ended=1
    [ "$SECONDS" -lt "$deadline" ] || return 1
    [ "$ended" = 1 ] || sleep 0.05
  done
}
wait_for() { _wait_grep -F "$@"; }
wait_for_re() { _wait_grep -E "$@"; }

expect() {  # file text seconds [pid]
  wait_for "$@" || fail "no \"$2\" in $(basename "$1") within $3 s${4:+ or before its process ended}"
}

start_peer() {  # name peer-script args...
  local name=$1
  shift
  "$PY" -u "$E2E_DIR/$1" "${@:2}" > "$WORK/$name.out" 2>&1 &
  PEER_PID=$!
  E2E_PIDS+=("$PEER_PID")
  wait_for_re "$WORK/$name.out" '^[a-z_]+: ready on port [0-9]+$' "$READY_SECS" "$PEER_PID" ||
    fail "peer $name ($1) did not report its port within $READY_SECS s or ended before"
  PEER_PORT=$(sed -nE 's/^[a-z_]+: ready on port ([0-9]+)$/\1/p' "$WORK/$name.out" | head -n 1)
}

start_busprobe() {  # name busprobe-options...
  local name=$1
  shift
  mkdir -p "$WORK/$name"
  XDG_RUNTIME_DIR="$WORK/$name" "$BUSPROBE" --headless --config-dir "$WORK/$name" "$@" > "$WORK/$name.out" 2>&1 &
  BUSPROBE_PID=$!
  E2E_PIDS+=("$BUSPROBE_PID")
}

cvudp_client_config() {  # name server-port ini-lines...
  local dir="$WORK/$1" port=$2
  shift 2
  mkdir -p "$dir"
  {
    printf '%s\n' '[CanInterface]' 'CanInterfaceType=1' 'CvUDP_flags=1' 'CvUDP_RemoteIP=127.0.0.1' \
      "CvUDP_remote_server_port=$port" 'CvUDP_LocalIP=127.0.0.1' 'CvUDP_local_server_port=0'
    [ "$#" -eq 0 ] || printf '%s\n' "$@"
  } > "$dir/NVK_Busprobe.ini"
}

finish() {  # pid seconds what
  local pid=$1 deadline=$((SECONDS + $2)) status=0
  while kill -0 "$pid" 2>/dev/null; do
    [ "$SECONDS" -lt "$deadline" ] || fail "$3 did not end within $2 s"
    sleep 0.05
  done
  wait "$pid" || status=$?
  return "$status"
}
