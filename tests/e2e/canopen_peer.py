#!/usr/bin/env python3
"""A CANopen node on a CAN-via-UDP bus, written from the CANopen application layer description
(CiA 301) alone, to check busprobe's SDO client and servers from the outside.

  canopen_peer.py PORT NODE [--lss IDENTITY] [--device IDENTITY[@NODE]]... [--client NODE OP...]

The peer is a CAN-via-UDP server whose bus holds one CANopen node with the node-ID NODE: an SDO
server (requests on 0x600 + NODE, responses on 0x580 + NODE, expedited and segmented transfers) over
the small object dictionary below, and the NMT slave state machine (boot-up message when a client
connects and after a reset, no SDO service while stopped). A busprobe client connects to it as to
any CAN-via-UDP server.

With --client the peer is also an SDO client of the node NODE on the client's side of the bus (the
tool's own SDO server) and runs the operations OP, one after the other, once the tool's client has
connected:
  r:IIII:SS             upload of object IIII sub-index SS (hexadecimal)
  w:IIII:SS:HEX         download of the bytes HEX (e.g. 78563412); up to 4 bytes go expedited,
                        more go segmented
Each result is printed as one line:
  canopen_peer: read IIII.SS = HEX (N bytes, expedited|segmented)
  canopen_peer: wrote IIII.SS (N bytes, expedited|segmented)
  canopen_peer: IIII.SS aborted XXXXXXXX
  canopen_peer: IIII.SS no answer

Every device on the bus is also an LSS slave (layer setting services: requests on 0x7E5, answers
on 0x7E4). IDENTITY is VVVVVVVV:PPPPPPPP:RRRRRRRR:SSSSSSSS (vendor, product, revision, serial,
hexadecimal) and is also what 0x1018 holds; the node's default is 00ABCDEF:00001234:00010002:0000BEEF.
A NODE of 255 starts the node unconfigured: no SDO server, NMT slave or boot-up until the LSS master
gives it a node-ID. --device adds another device with its own identity, unconfigured unless @NODE
(decimal) is given. A configured node-ID takes effect when an unconfigured device leaves the
configuration state, or at the NMT reset communication/node otherwise. Each LSS event is printed:
  canopen_peer: lss IDENTITY configuration state | waiting state
  canopen_peer: lss IDENTITY node-ID N configured
  canopen_peer: lss IDENTITY bit timing table T index I
  canopen_peer: lss IDENTITY activate bit timing delay D ms
  canopen_peer: lss IDENTITY stored node-ID N index I
  canopen_peer: lss IDENTITY fast scan answered sub S bit B
  canopen_peer: lss IDENTITY boot-up as node N

Every SDO request the peer's server answers is printed as "canopen_peer: served ..." The peer ends
when the client disconnects (exit 0), or after 60 s without (exit 1). It binds its socket first and
then prints "canopen_peer: ready on port N".
"""
import os
import struct
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from cvudp_peer import (CAN_MSG, COMMAND, CONNECT, DISCONNECT, RX_REPORT, TIMESTAMP,  # noqa: E402
                        command, fail, frame, packets, ready_socket)
import socket  # noqa: E402

# Abort codes of the application layer.
ABORT_TOGGLE = 0x05030000
ABORT_TIMEOUT = 0x05040000
ABORT_COMMAND = 0x05040001
ABORT_WRITE_ONLY = 0x06010001
ABORT_READ_ONLY = 0x06010002
ABORT_NO_OBJECT = 0x06020000
ABORT_LENGTH = 0x06070010
ABORT_TOO_LONG = 0x06070012
ABORT_TOO_SHORT = 0x06070013
ABORT_NO_SUBINDEX = 0x06090011
ABORT_GENERAL = 0x08000000

NMT_PRE_OPERATIONAL, NMT_OPERATIONAL, NMT_STOPPED = 0x7F, 0x05, 0x04


class Entry:
    """One object dictionary entry: access 'ro', 'rw', 'wo' or 'const'; size None for strings."""

    def __init__(self, access, size, value, capacity=64):
        self.access, self.size, self.value, self.capacity = access, size, bytes(value), capacity


def u8(v):
    return struct.pack('<B', v)


def u16(v):
    return struct.pack('<H', v)


def u32(v):
    return struct.pack('<I', v)


def i16(v):
    return struct.pack('<h', v)


DEFAULT_IDENTITY = (0x00ABCDEF, 0x00001234, 0x00010002, 0x0000BEEF)
LSS_REQUEST, LSS_ANSWER = 0x7E5, 0x7E4
UNCONFIGURED = 255
# The bit timing table of the application layer: index 5 is reserved.
BIT_TIMING_INDICES = (0, 1, 2, 3, 4, 6, 7, 8)


def dictionary(node, identity=DEFAULT_IDENTITY):
    return {
        (0x1000, 0): Entry('ro', 4, u32(0x00000191)),
        (0x1001, 0): Entry('ro', 1, u8(0)),
        (0x1008, 0): Entry('const', None, b'CANopen peer node'),
        (0x1009, 0): Entry('const', None, b'1.0'),
        (0x1017, 0): Entry('rw', 2, u16(0)),
        (0x1018, 0): Entry('const', 1, u8(4)),
        (0x1018, 1): Entry('ro', 4, u32(identity[0])),
        (0x1018, 2): Entry('ro', 4, u32(identity[1])),
        (0x1018, 3): Entry('ro', 4, u32(identity[2])),
        (0x1018, 4): Entry('ro', 4, u32(identity[3])),
        (0x1200, 0): Entry('const', 1, u8(2)),
        (0x1200, 1): Entry('ro', 4, u32(0x600 + node)),
        (0x1200, 2): Entry('ro', 4, u32(0x580 + node)),
        (0x2000, 0): Entry('rw', 4, u32(0x12345678)),
        (0x2001, 0): Entry('rw', 1, u8(7)),
        (0x2002, 0): Entry('rw', None, b'hello'),
        (0x2003, 0): Entry('wo', 4, u32(0)),
        (0x2004, 0): Entry('rw', 2, i16(-2)),
        (0x2005, 0): Entry('rw', None, bytes(range(100)), capacity=1024),
    }


class SdoServer:
    """The server side of the SDO protocol for one node over one dictionary."""

    def __init__(self, node, objects):
        self.node, self.objects = node, objects
        self.mode = None  # None, 'upload' or 'download' while a segmented transfer runs
        self.mux = (0, 0)
        self.toggle = 0
        self.data = b''
        self.size = 0

    def abort(self, mux, code):
        self.mode = None
        return struct.pack('<BHBI', 0x80, mux[0], mux[1], code)

    def lookup(self, mux):
        if mux in self.objects:
            return self.objects[mux], 0
        if any(index == mux[0] for index, _ in self.objects):
            return None, ABORT_NO_SUBINDEX
        return None, ABORT_NO_OBJECT

    def store(self, mux, entry, data):
        if entry.access in ('ro', 'const'):
            return ABORT_READ_ONLY
        if entry.size is not None and len(data) != entry.size:
            return ABORT_TOO_LONG if len(data) > entry.size else ABORT_TOO_SHORT
        if entry.size is None and len(data) > entry.capacity:
            return ABORT_TOO_LONG
        entry.value = bytes(data)
        return 0

    def request(self, data):
        """Answers one request frame (8 data bytes); returns the response's data, or None."""
        ccs = data[0] >> 5
        mux = (data[1] | data[2] << 8, data[3])
        if ccs == 4:  # abort from the client: ends any transfer, no answer
            self.mode = None
            return None
        if ccs == 1:  # initiate download
            entry, code = self.lookup(mux)
            if entry is None:
                return self.abort(mux, code)
            if entry.access in ('ro', 'const'):
                return self.abort(mux, ABORT_READ_ONLY)
            expedited, sized = data[0] & 0x02, data[0] & 0x01
            if expedited:
                n = 4 - ((data[0] >> 2) & 3) if sized else 4
                code = self.store(mux, entry, data[4:4 + n])
                if code:
                    return self.abort(mux, code)
                self.mode = None
                return struct.pack('<BHB4x', 0x60, mux[0], mux[1])
            self.size = struct.unpack_from('<I', data, 4)[0] if sized else -1
            limit = entry.size if entry.size is not None else entry.capacity
            if self.size > limit:
                return self.abort(mux, ABORT_TOO_LONG)
            self.mode, self.mux, self.toggle, self.data = 'download', mux, 0, b''
            return struct.pack('<BHB4x', 0x60, mux[0], mux[1])
        if ccs == 0:  # download segment
            if self.mode != 'download':
                return self.abort(self.mux, ABORT_COMMAND)
            if (data[0] & 0x10) != self.toggle:
                return self.abort(self.mux, ABORT_TOGGLE)
            n = 7 - ((data[0] >> 1) & 7)
            self.data += bytes(data[1:1 + n])
            answer = struct.pack('<B7x', 0x20 | self.toggle)
            self.toggle ^= 0x10
            if data[0] & 0x01:  # last segment
                if self.size >= 0 and len(self.data) != self.size:
                    return self.abort(self.mux, ABORT_LENGTH)
                code = self.store(self.mux, self.objects[self.mux], self.data)
                self.mode = None
                if code:
                    return self.abort(self.mux, code)
            return answer
        if ccs == 2:  # initiate upload
            entry, code = self.lookup(mux)
            if entry is None:
                return self.abort(mux, code)
            if entry.access == 'wo':
                return self.abort(mux, ABORT_WRITE_ONLY)
            value = entry.value
            if 0 < len(value) <= 4:
                self.mode = None
                return struct.pack('<BHB', 0x43 | ((4 - len(value)) << 2), mux[0], mux[1]) + value.ljust(4, b'\0')
            self.mode, self.mux, self.toggle, self.data = 'upload', mux, 0, value
            return struct.pack('<BHBI', 0x41, mux[0], mux[1], len(value))
        if ccs == 3:  # upload segment
            if self.mode != 'upload':
                return self.abort(self.mux, ABORT_COMMAND)
            if (data[0] & 0x10) != self.toggle:
                return self.abort(self.mux, ABORT_TOGGLE)
            chunk, self.data = self.data[:7], self.data[7:]
            last = 0x01 if not self.data else 0
            if last:
                self.mode = None
            answer = bytes([self.toggle | ((7 - len(chunk)) << 1) | last]) + chunk.ljust(7, b'\0')
            self.toggle ^= 0x10
            return answer
        # Block transfers and anything else: this node does not know the command.
        return self.abort(mux, ABORT_COMMAND)


def identity_text(identity):
    return ':'.join('%08X' % part for part in identity)


def lss_print(device, text):
    print('canopen_peer: lss %s %s' % (identity_text(device.identity), text), flush=True)


class Device:
    """One device on the bus: an LSS slave and, while it has a node-ID, an SDO server and NMT slave."""

    def __init__(self, identity, node):
        self.identity, self.node = identity, node
        self.pending = self.stored = node  # the node-ID given by LSS, and the one stored
        self.timing = self.stored_timing = 2
        self.lss_config = False  # configuration state; waiting state otherwise
        self.selective = 0  # how many parts of a selective switch have matched so far
        self.scan_pos = 0  # the identity part a fast scan examines next
        self.state = NMT_PRE_OPERATIONAL
        self.server = SdoServer(node, dictionary(node, identity)) if node != UNCONFIGURED else None

    def boot(self, bus):
        """Takes the pending node-ID into use and, with one, sends the boot-up message."""
        self.node = self.pending
        self.state = NMT_PRE_OPERATIONAL
        if self.node == UNCONFIGURED:
            self.server = None
            return
        self.server = SdoServer(self.node, dictionary(self.node, self.identity))
        bus.send(0x700 + self.node, b'\0')
        lss_print(self, 'boot-up as node %d' % self.node)

    def enter(self, config):
        self.selective = 0
        if config == self.lss_config:
            return
        self.lss_config = config
        lss_print(self, 'configuration state' if config else 'waiting state')

    def leave_to_waiting(self, bus):
        was_config = self.lss_config
        self.enter(False)
        # An unconfigured device starts as soon as it has a node-ID; a running one keeps its
        # node-ID until it is reset.
        if was_config and self.node == UNCONFIGURED and self.pending != UNCONFIGURED:
            self.boot(bus)

    def lss(self, data, bus):
        """Answers one LSS request; returns the answer's data, or None."""
        cs = data[0]
        value = struct.unpack_from('<I', data, 1)[0]
        if cs == 0x04:
            if data[1] == 1:
                self.enter(True)
            elif data[1] == 0:
                self.leave_to_waiting(bus)
            return None
        if 0x40 <= cs <= 0x43:
            if self.lss_config:
                return None
            part = cs - 0x40
            if part == 0:
                self.selective = 0
            if part != self.selective or value != self.identity[part]:
                self.selective = 0
                return None
            self.selective += 1
            if self.selective == 4:
                self.enter(True)
                return bytes([0x44]) + bytes(7)
            return None
        if 0x46 <= cs <= 0x4B:
            return self.identify(cs - 0x46, value)
        if cs == 0x4C:
            return bytes([0x50]) + bytes(7) if self.node == UNCONFIGURED else None
        if cs == 0x51:
            return self.fast_scan(value, data[5], data[6], data[7])
        if not self.lss_config:
            return None
        if cs == 0x11:
            if not (1 <= data[1] <= 127 or data[1] == UNCONFIGURED):
                return bytes([0x11, 1]) + bytes(6)
            self.pending = data[1]
            lss_print(self, 'node-ID %d configured' % data[1])
            return bytes([0x11, 0]) + bytes(6)
        if cs == 0x13:
            if data[1] != 0 or data[2] not in BIT_TIMING_INDICES:
                return bytes([0x13, 1]) + bytes(6)
            self.timing = data[2]
            lss_print(self, 'bit timing table %d index %d' % (data[1], data[2]))
            return bytes([0x13, 0]) + bytes(6)
        if cs == 0x15:
            lss_print(self, 'activate bit timing delay %d ms' % (data[1] | data[2] << 8))
            return None
        if cs == 0x17:
            self.stored, self.stored_timing = self.pending, self.timing
            lss_print(self, 'stored node-ID %d index %d' % (self.stored, self.stored_timing))
            return bytes([0x17, 0]) + bytes(6)
        if 0x5A <= cs <= 0x5D:
            return struct.pack('<BI3x', cs, self.identity[cs - 0x5A])
        if cs == 0x5E:
            return struct.pack('<BB6x', cs, self.node)
        return None

    def identify(self, step, value):
        """The remote slave identification: vendor, product, then revision and serial ranges."""
        if step == 0:
            self.identify_ok = value == self.identity[0]
        elif step == 1:
            self.identify_ok = getattr(self, 'identify_ok', False) and value == self.identity[1]
        elif step in (2, 4):
            self.identify_ok = getattr(self, 'identify_ok', False) and self.identity[step // 2 + 1] >= value
        else:
            ok = getattr(self, 'identify_ok', False) and self.identity[step // 2 + 1] <= value
            self.identify_ok = False if step == 5 else ok
            if step == 5 and ok:
                return bytes([0x4F]) + bytes(7)
        return None

    def fast_scan(self, id_number, bit, sub, nxt):
        # Only unconfigured devices in the waiting state take part.
        if self.lss_config or self.node != UNCONFIGURED:
            return None
        if bit == 0x80:
            self.scan_pos = 0
            lss_print(self, 'fast scan answered sub %d bit %d' % (sub, bit))
            return bytes([0x4F]) + bytes(7)
        if bit > 31 or sub > 3 or self.scan_pos != sub:
            return None
        if (self.identity[sub] ^ id_number) >> bit:
            return None
        if bit == 0:
            # The confirmation of the last part sends LSSNext back below LSSSub; a BitCheck 0
            # query that only asks for bit 0 leaves the position where it is.
            if nxt < sub:
                self.enter(True)
            else:
                self.scan_pos = nxt
        lss_print(self, 'fast scan answered sub %d bit %d' % (sub, bit))
        return bytes([0x4F]) + bytes(7)


def describe(mux):
    return '%04X.%02X' % mux


def client_operations(node, ops):
    """An SDO client as a generator: yields (cob_id, data) to send and receives the response's
    data (or None on a timeout); prints one line per operation."""
    for op in ops:
        parts = op.split(':')
        mux = (int(parts[1], 16), int(parts[2], 16))
        name = describe(mux)
        if parts[0] == 'r':
            reply = yield struct.pack('<BHB4x', 0x40, mux[0], mux[1])
            if reply is None:
                print('canopen_peer: %s no answer' % name, flush=True)
                continue
            scs = reply[0] >> 5
            if scs == 4:
                print('canopen_peer: %s aborted %08X' % (name, struct.unpack_from('<I', reply, 4)[0]), flush=True)
                continue
            if scs != 2 or (reply[1] | reply[2] << 8, reply[3]) != mux:
                print('canopen_peer: %s unexpected answer %s' % (name, reply.hex()), flush=True)
                continue
            if reply[0] & 0x02:  # expedited
                n = 4 - ((reply[0] >> 2) & 3) if reply[0] & 0x01 else 4
                print('canopen_peer: read %s = %s (%d bytes, expedited)' % (name, reply[4:4 + n].hex().upper(), n),
                      flush=True)
                continue
            size = struct.unpack_from('<I', reply, 4)[0] if reply[0] & 0x01 else None
            data, toggle, outcome = b'', 0, None
            while outcome is None:
                seg = yield bytes([0x60 | toggle]) + bytes(7)
                if seg is None:
                    outcome = 'no answer'
                elif seg[0] >> 5 == 4:
                    outcome = 'aborted %08X' % struct.unpack_from('<I', seg, 4)[0]
                elif seg[0] >> 5 != 0 or (seg[0] & 0x10) != toggle:
                    outcome = 'bad segment %s' % seg.hex()
                else:
                    data += bytes(seg[1:8 - ((seg[0] >> 1) & 7)])
                    toggle ^= 0x10
                    if seg[0] & 0x01:
                        outcome = 'done'
            if outcome != 'done':
                print('canopen_peer: %s %s' % (name, outcome), flush=True)
            elif size is not None and size != len(data):
                print('canopen_peer: %s size %d announced, %d received' % (name, size, len(data)), flush=True)
            else:
                print('canopen_peer: read %s = %s (%d bytes, segmented)' % (name, data.hex().upper(), len(data)),
                      flush=True)
        elif parts[0] == 'w':
            value = bytes.fromhex(parts[3])
            if len(value) <= 4:
                reply = yield (struct.pack('<BHB', 0x23 | ((4 - len(value)) << 2), mux[0], mux[1])
                               + value.ljust(4, b'\0'))
                kind = 'expedited'
            else:
                reply = yield struct.pack('<BHBI', 0x21, mux[0], mux[1], len(value))
                kind = 'segmented'
                toggle, rest, expected = 0, value, 3  # the initiate response, then segment responses
                while reply is not None and reply[0] >> 5 == expected and rest:
                    chunk, rest = rest[:7], rest[7:]
                    reply = yield bytes([toggle | ((7 - len(chunk)) << 1) | (0 if rest else 0x01)]) + chunk.ljust(7, b'\0')
                    if reply is not None and reply[0] >> 5 == 1 and (reply[0] & 0x10) != toggle:
                        reply = b'toggle'
                    toggle ^= 0x10
                    expected = 1
            if reply is None:
                print('canopen_peer: %s no answer' % name, flush=True)
            elif reply == b'toggle':
                print('canopen_peer: %s bad toggle in the response' % name, flush=True)
            elif reply[0] >> 5 == 4:
                print('canopen_peer: %s aborted %08X' % (name, struct.unpack_from('<I', reply, 4)[0]), flush=True)
            elif reply[0] >> 5 in (1, 3):
                print('canopen_peer: wrote %s (%d bytes, %s)' % (name, len(value), kind), flush=True)
            else:
                print('canopen_peer: %s unexpected answer %s' % (name, reply.hex()), flush=True)
    print('canopen_peer: client operations done', flush=True)


class Bus:
    """The peer's side of the CAN-via-UDP link: frames to the connected client."""

    def __init__(self, sock, start):
        self.sock, self.start, self.client = sock, start, None

    def ticks(self):
        return int((time.time() - self.start) * 1000)

    def send(self, cob_id, data):
        if self.client is not None:
            self.sock.sendto(frame(cob_id, RX_REPORT | len(data), self.ticks(), data), self.client)


def run(port, devices, client_node, ops):
    sock = ready_socket('canopen_peer', port)
    start = time.time()
    bus = Bus(sock, start)
    client = None  # the generator of the client operations, once started
    client_wait = None  # the deadline of the client's outstanding request
    deadline = start + 60

    def client_step(reply, first=False):
        """Hands the client its response (None: timed out) and sends its next request."""
        nonlocal client, client_wait
        client_wait = None
        try:
            request = next(client) if first else client.send(reply)
        except StopIteration:
            client = None
            return
        bus.send(0x600 + client_node, request)
        client_wait = time.time() + 2.0

    while time.time() < deadline:
        timeout = 0.05
        if client_wait is not None:
            timeout = max(0.001, min(timeout, client_wait - time.time()))
        sock.settimeout(timeout)
        try:
            datagram, _ = sock.recvfrom(65536)
        except socket.timeout:
            datagram = None
        if client is not None and client_wait is not None and time.time() >= client_wait:
            client_step(None)
        if datagram is None:
            continue
        for ptype, payload in packets(datagram) or []:
            if ptype == COMMAND and payload[0] == CONNECT:
                _, _, _, _, ip, cport, _, _ = struct.unpack('<BBBB4I', payload[:20])
                first = bus.client is None
                bus.client = (socket.inet_ntoa(struct.pack('<I', ip)), cport & 0xFFFF)
                sock.sendto(command(TIMESTAMP, 16, 0, [1000, bus.ticks(), 0, 0]), bus.client)
                if first:
                    print('canopen_peer: CONNECT from %s:%d' % bus.client, flush=True)
                    for device in devices:
                        if device.node != UNCONFIGURED:
                            device.boot(bus)
                    if client_node:
                        client = client_operations(client_node, ops)
                        client_step(None, first=True)
            elif ptype == COMMAND and payload[0] == DISCONNECT:
                print('canopen_peer: the client disconnected', flush=True)
                return 0
            elif ptype == CAN_MSG and len(payload) >= 20:
                id_word, info, _ = struct.unpack_from('<III', payload)
                cob_id, length = id_word & 0x1FFFFFFF, info & 0xFF
                data = bytes(payload[12:12 + min(length, 8)]).ljust(8, b'\0')
                if cob_id == LSS_REQUEST and length == 8:
                    for device in devices:
                        answer = device.lss(data, bus)
                        if answer is not None:
                            bus.send(LSS_ANSWER, answer)
                for device in devices:
                    node = device.node
                    if node == UNCONFIGURED:
                        continue
                    if cob_id == 0 and length >= 2 and data[1] in (0, node):
                        device.state = {0x01: NMT_OPERATIONAL, 0x02: NMT_STOPPED,
                                        0x80: NMT_PRE_OPERATIONAL}.get(data[0], device.state)
                        if data[0] == 0x81:  # reset node: back to the stored configuration
                            device.pending = device.stored
                        if data[0] in (0x81, 0x82):
                            device.boot(bus)
                    elif cob_id == 0x600 + node and length == 8 and device.state != NMT_STOPPED:
                        answer = device.server.request(data)
                        if answer is not None:
                            print('canopen_peer: served %s -> %s' % (data.hex().upper(), answer.hex().upper()),
                                  flush=True)
                            bus.send(0x580 + node, answer)
                if client is not None and client_wait is not None and cob_id == 0x580 + client_node:
                    client_step(data)
    fail('the client did not disconnect within 60 s')
    return 1


def parse_identity(text):
    parts = text.split(':')
    if len(parts) != 4:
        raise ValueError(text)
    return tuple(int(part, 16) for part in parts)


def usage():
    print(__doc__)
    sys.exit(2)


if __name__ == '__main__':
    args = sys.argv[1:]
    if len(args) < 2:
        usage()
    try:
        port, node = int(args[0]), int(args[1])
        identity, extra, rest = DEFAULT_IDENTITY, [], args[2:]
        while rest and rest[0] in ('--lss', '--device') and len(rest) >= 2:
            if rest[0] == '--lss':
                identity = parse_identity(rest[1])
            else:
                text, _, extra_node = rest[1].partition('@')
                extra.append((parse_identity(text), int(extra_node) if extra_node else UNCONFIGURED))
            rest = rest[2:]
    except ValueError:
        usage()
    client_node, ops = 0, []
    if rest:
        if rest[0] != '--client' or len(rest) < 2:
            usage()
        client_node, ops = int(rest[1]), rest[2:]
    nodes = [node] + [n for _, n in extra]
    if not all(1 <= n <= 127 or n == UNCONFIGURED for n in nodes) or not 0 <= client_node <= 127:
        print('canopen_peer: node-IDs are 1..127 (255: unconfigured)')
        sys.exit(2)
    devices = [Device(identity, node)] + [Device(i, n) for i, n in extra]
    sys.exit(run(port, devices, client_node, ops))
