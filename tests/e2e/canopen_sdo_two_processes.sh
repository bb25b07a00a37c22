#!/usr/bin/env bash
# SDO between two headless busprobe processes joined by CAN-via-UDP: the server relays its virtual
# bus and serves a dictionary file as node 2; the client's script reads and writes that node
# through the relay, expedited and segmented, in every basic type, and gets the aborts of a
# write-only, a missing, a read-only and an oversized object.
source "$(dirname "$0")/lib.sh"
e2e_init "${1:-}"

mkdir -p "$WORK/server/Objects"
eds_entry() {  # index type access default name
  printf '\n[%s]\nParameterName=%s\nObjectType=0x7\nDataType=%s\nAccessType=%s\n' "$1" "$5" "$2" "$3"
  [ -z "$4" ] || printf 'DefaultValue=%s\n' "$4"
}
{
  printf '[FileInfo]\nFileName=node.eds\nEDSVersion=4.0\n\n[DeviceInfo]\nVendorName=Test\n'
  printf '\n[MandatoryObjects]\nSupportedObjects=1\n1=0x1000\n'
  eds_entry 1000 0x0007 ro 0x00000191 "Device type"
  printf '\n[OptionalObjects]\nSupportedObjects=1\n1=0x1008\n'
  eds_entry 1008 0x0009 const "relayed test node" "Device name"
  printf '\n[ManufacturerObjects]\nSupportedObjects=10\n1=0x2000\n2=0x2001\n3=0x2002\n4=0x2003\n'
  printf '5=0x2004\n6=0x2005\n7=0x2006\n8=0x2007\n9=0x2008\n10=0x2009\n'
  eds_entry 2000 0x0007 rw 0 "Word"
  eds_entry 2001 0x0003 rw 0 "Signed"
  eds_entry 2002 0x0009 rw x "Text"
  eds_entry 2003 0x0007 wo "" "Command"
  eds_entry 2004 0x0005 rw 0 "Byte"
  eds_entry 2005 0x0006 rw 0 "Half word"
  eds_entry 2006 0x0004 rw 0 "Signed word"
  eds_entry 2007 0x0008 rw 0 "Real"
  eds_entry 2008 0x0002 rw 0 "Signed byte"
  eds_entry 2009 0x000A rw "" "Octets"
} > "$WORK/server/Objects/node.eds"
cat > "$WORK/server/NVK_Busprobe.ini" <<INI
[CanInterface]
CanInterfaceType=10
CvUDP_flags=2
CvUDP_LocalIP=127.0.0.1
CvUDP_local_server_port=0
[Directories]
MyObjectDictionary=node.eds
INI
start_busprobe server --exit-after 60
SERVER_PID=$BUSPROBE_PID
wait_for_re "$WORK/server.out" '^CAN: Acting as SERVER for CAN-via-UDP on port [0-9]+,' "$READY_SECS" "$SERVER_PID" ||
  fail "the server did not report its port within $READY_SECS s"
SERVER_PORT=$(sed -nE 's/^CAN: Acting as SERVER for CAN-via-UDP on port ([0-9]+),.*/\1/p' "$WORK/server.out")
grep -qF "Loaded CANopen OD for SDO server from \"$WORK/server/Objects/node.eds\" ." "$WORK/server.out" ||
  fail "the server did not load its dictionary"

# The client hears its own requests back from the relay: its own server must not be node 2 too.
cvudp_client_config client "$SERVER_PORT" '[SdoSettings]' 'ClientNodeID=2' 'ServerNodeID=9' 'ClientTimeout=2000'
cat > "$WORK/sdo.bpr" <<'BPR'
print "device type: %08X", sdo.read(0x1000)
print "device name:", sdo.read(0x1008, VIS_STRING)
sdo.write(0x2000, U32, 0x0BADCAFE)
print "word: %08X", sdo.read(0x2000, U32)
sdo.write(0x2001, I16, -1234)
print "signed:", sdo.read(0x2001, I16)
sdo.write(0x2002, VIS_STRING, "written through the relay")
print "text:", sdo.read(0x2002, VIS_STRING)
v := 7
sdo.read(0x2003, U32, v)
print "write-only:", v, ErrorInfo.code
sdo.read(0x3000, U32, v)
print "missing:", v, ErrorInfo.code
sdo.write(0x2004, U8, 200)
sdo.write(0x2005, U16, 60000)
sdo.write(0x2006, I32, -100000)
sdo.write(0x2007, FLOAT32, 2.25)
sdo.write(0x2008, I8, -5)
sdo.write(0x2009, OCTET_STRING, "octets of more than one segment")
print "types:", sdo.read(0x2004, U8), sdo.read(0x2005, U16), sdo.read(0x2006, I32), sdo.read(0x2007, FLOAT32), sdo.read(0x2008, I8)
print "octets:", sdo.read(0x2009, VIS_STRING)
sdo.write(0x2005, U32, 70000)
BPR
# A refused write ends a script with its abort text: one run each.
cat > "$WORK/readonly.bpr" <<'BPR'
sdo.write(0x1000, U32, 1)
BPR
start_busprobe client --run "$WORK/sdo.bpr" --exit-after 60
CLIENT_PID=$BUSPROBE_PID
status=0
finish "$CLIENT_PID" 90 "the client" || status=$?
# The oversized write at the end stops the script with its error.
[ "$status" = 1 ] || fail "client exit status $status: $(tail -n 5 "$WORK/client.out")"
check() { grep -qxF "$1" "$WORK/client.out" || fail "expected the line \"$1\""; }
check 'device type: 00000191'
check 'device name: "relayed test node"'
check 'word: 0BADCAFE'
check 'signed: -1234'
check 'text: "written through the relay"'
check 'write-only: 7 -19'
check 'missing: 7 -19'
check 'types: 200 60000 -100000 2.250000 -5'
check 'octets: "octets of more than one segment"'
grep -qF 'abort code = 0x06070012' "$WORK/client.out" ||
  fail "the oversized write was not refused: $(tail -n 3 "$WORK/client.out")"
cvudp_client_config readonly "$SERVER_PORT" '[SdoSettings]' 'ClientNodeID=2' 'ServerNodeID=9' 'ClientTimeout=2000'
start_busprobe readonly --run "$WORK/readonly.bpr" --exit-after 60
status=0
finish "$BUSPROBE_PID" 90 "the read-only client" || status=$?
[ "$status" = 1 ] || fail "read-only client exit status $status: $(tail -n 5 "$WORK/readonly.out")"
grep -qF 'write error, abort code = 0x06010002 = "object is READ-ONLY"' "$WORK/readonly.out" ||
  fail "the read-only write was not refused: $(tail -n 3 "$WORK/readonly.out")"
kill -TERM "$SERVER_PID"
finish "$SERVER_PID" 30 "the server after SIGTERM" || true
echo "canopen_sdo_two_processes: all checks passed"
