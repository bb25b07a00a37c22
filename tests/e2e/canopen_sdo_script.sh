#!/usr/bin/env bash
# A headless busprobe on the independent CANopen peer's CAN-via-UDP bus: its script reads and
# writes the peer's node with sdo.read / sdo.write (expedited, segmented, aborts), while the peer's
# own SDO client reads and writes the tool's server over the dictionary file in its Objects
# folder; then the script works on its own dictionary with obj.read / obj.write / obj.load.
source "$(dirname "$0")/lib.sh"
e2e_init "${1:-}"

hex() { printf '%s' "$1" | od -An -tx1 | tr -d ' \n' | tr 'a-f' 'A-F'; }

mkdir -p "$WORK/tool/Objects"
eds_entry() {  # index type access default name
  printf '\n[%s]\nParameterName=%s\nObjectType=0x7\nDataType=%s\nAccessType=%s\n' "$1" "$5" "$2" "$3"
  [ -z "$4" ] || printf 'DefaultValue=%s\n' "$4"
}
{
  printf '[FileInfo]\nFileName=tool.eds\nEDSVersion=4.0\n\n[DeviceInfo]\nVendorName=Test\n'
  printf '\n[MandatoryObjects]\nSupportedObjects=1\n1=0x1000\n'
  eds_entry 1000 0x0007 ro 0x00000192 "Device type"
  printf '\n[OptionalObjects]\nSupportedObjects=1\n1=0x1008\n'
  eds_entry 1008 0x0009 ro "busprobe test node" "Device name"
  printf '\n[ManufacturerObjects]\nSupportedObjects=4\n1=0x2010\n2=0x2011\n3=0x2012\n4=0x2013\n'
  eds_entry 2010 0x0007 rw 0 "Done mark"
  eds_entry 2011 0x0009 rw x "Text"
  eds_entry 2012 0x0007 wo "" "Command"
  eds_entry 2013 0x0006 rw '$NODEID+0x100' "Node word"
} > "$WORK/tool/Objects/tool.eds"
sed -e 's/FileName=tool.eds/FileName=other.eds/' -e 's/^DefaultValue=\$NODEID+0x100$/DefaultValue=$NODEID+0x200/' \
  "$WORK/tool/Objects/tool.eds" > "$WORK/tool/Objects/other.eds"

PEER_TEXT="written by peer"
start_peer node canopen_peer.py 0 5 --client 9 \
  r:1000:00 r:1008:00 "w:2011:00:$(hex "$PEER_TEXT")" r:2011:00 r:2012:00 r:3000:00 \
  w:1000:00:01020304 w:2013:00:3412 r:2013:00 w:2010:00:AA550000
PEER_NODE_PID=$PEER_PID
cvudp_client_config tool "$PEER_PORT" '[Directories]' 'MyObjectDictionary=tool.eds' '[SdoSettings]' \
  'ClientNodeID=5' 'ServerNodeID=9' 'ClientTimeout=2000'
# The peer's boot-up may arrive before the script starts: look for it among the frames received.
cat > "$WORK/sdo_script.bpr" <<'BPR'
b := 0
repeat
  delay 0.02
  b := b + 1
until canrx(705, 0, U8, 0xFF) = 0 or b > 1500
print "device type: %08X", sdo.read(0x1000)
print "device name:", sdo.read(0x1008, VIS_STRING)
sdo.write(0x2000, U32, 0x0BADCAFE)
print "written and read back: %08X", sdo.read(0x2000, U32)
sdo.write(0x2002, VIS_STRING, "a longer text")
print "text:", sdo.read(0x2002, VIS_STRING)
sdo.write(0x2004, I16, -300)
print "signed:", sdo.read(0x2004, I16)
v := 1
sdo.read(0x2003, U32, v)
print "write-only:", v, ErrorInfo.code
sdo.read(0x3099, U32, v)
print "missing:", v, ErrorInfo.code
n := 0
repeat
  delay 0.05
  n := n + 1
until obj.read(0x2010) = 0x55AA or n > 600
print "peer done:", n <= 600
print "own text:", obj.read(0x2011, VIS_STRING), obj.read(0x2013)
obj.write(0x2013, U16, 0x4321)
print "own word: %04X", obj.read(0x2013)
obj.load("other.eds")
print "reloaded: %04X", obj.read(0x2013), obj.read(0x2010)
sdo.write(0x1000, U32, 1)
print "not reached"
BPR
start_busprobe tool --run "$WORK/sdo_script.bpr" --exit-after 60
TOOL_PID=$BUSPROBE_PID
status=0
finish "$TOOL_PID" 90 "the tool" || status=$?
finish "$PEER_NODE_PID" 30 "the peer node" || fail "peer node: $(tail -n 3 "$WORK/node.out")"
# The script ends with the refused write: an error in the script.
[ "$status" = 1 ] || fail "tool exit status $status: $(tail -n 5 "$WORK/tool.out")"
check() { grep -qxF "$1" "$WORK/$2.out" || fail "expected the line \"$1\" in $2.out"; }
check 'device type: 00000191' tool
check 'device name: "CANopen peer node"' tool
check 'written and read back: 0BADCAFE' tool
check 'text: "a longer text"' tool
check 'signed: -300' tool
check 'read error, abort code = 0x06010001 = "object is WRITE-ONLY" .' tool
check 'write-only: 1 -19' tool
check 'missing: 1 -19' tool
check 'peer done: 1' tool
check "own text: \"$PEER_TEXT\" 4660" tool
check 'own word: 4321' tool
check "Loaded CANopen OD for SDO server from \"$WORK/tool/Objects/other.eds\" ." tool
check 'reloaded: 0209 0' tool
grep -qE '^write error, abort code = 0x06010002 = "object is READ-ONLY" \. in line [0-9]+$' "$WORK/tool.out" ||
  fail "no refused write to the peer's read-only object"
grep -q 'not reached' "$WORK/tool.out" && fail "the script went on after the refused write"
check 'canopen_peer: read 1000.00 = 92010000 (4 bytes, expedited)' node
check "canopen_peer: read 1008.00 = $(hex 'busprobe test node') (18 bytes, segmented)" node
check "canopen_peer: wrote 2011.00 (${#PEER_TEXT} bytes, segmented)" node
check "canopen_peer: read 2011.00 = $(hex "$PEER_TEXT") (${#PEER_TEXT} bytes, segmented)" node
check 'canopen_peer: 2012.00 aborted 06010001' node
check 'canopen_peer: 3000.00 aborted 06020000' node
check 'canopen_peer: 1000.00 aborted 06010002' node
check 'canopen_peer: wrote 2013.00 (2 bytes, expedited)' node
check 'canopen_peer: read 2013.00 = 3412 (2 bytes, expedited)' node
check 'canopen_peer: wrote 2010.00 (4 bytes, expedited)' node
echo "canopen_sdo_script: all checks passed"
