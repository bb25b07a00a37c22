#!/usr/bin/env python3
"""A CAN-via-UDP peer written from the protocol description alone, to check busprobe's client and
server roles from the outside.

  cvudp_peer.py client SERVER_PORT   connects to a server on 127.0.0.1, sends a transmit request and
                                     expects the frame back as a received-frame report
  cvudp_peer.py server PORT          waits for a client, answers with Timestamp, expects the
                                     CanBitTiming of channel 2, relays one frame to it and expects
                                     the client to disconnect
  cvudp_peer.py cyclic PORT ID BYTE...
                                     a server whose bus carries the frame ID BYTE... (hexadecimal)
                                     every 100 ms: relays it to the client from its connection on,
                                     until the client disconnects

A PORT of 0 lets the system choose. Each mode binds its socket first and then prints
"cvudp_peer: ready on port N" with the port it got, so a caller can start its counterpart.
Exit status 0 when every check passed; the reason is printed otherwise.
"""
import socket
import struct
import sys
import time

COMMAND, CAN_MSG = 3, 4
CONNECT, DISCONNECT, TIMESTAMP, CAN_BIT_TIMING = 1, 2, 3, 20
TX_REQUEST, RX_REPORT = 0x40000, 0x80000
LOOPBACK = (127, 0, 0, 1)


def ip_word(octets):
    # dotted order in the payload: a, b, c, d for a.b.c.d, read as a little-endian u32
    return struct.unpack('<I', bytes(octets))[0]


def packet(ptype, payload):
    return struct.pack('<BBH', ptype, 0, len(payload)) + payload


def command(code, a, b, params):
    return packet(COMMAND, struct.pack('<BBBB4I', code, a, b, 4, *params))


def frame(id_word, info, ticks, data):
    return packet(CAN_MSG, struct.pack('<III8s56x', id_word, info, ticks, bytes(data).ljust(8, b'\0')))


def packets(datagram):
    """Splits one datagram into (type, payload) packets; returns None when malformed."""
    out, pos = [], 0
    while pos + 4 <= len(datagram):
        ptype, _, length = struct.unpack_from('<BBH', datagram, pos)
        if ptype == 0 or ptype > 10 or length == 0 or length > 1024:
            return None
        out.append((ptype, datagram[pos + 4:pos + 4 + length]))
        pos += 4 + length
    return out if pos == len(datagram) else None


def receive(sock, want, deadline):
    """Waits for the first packet for which want(type, payload) is true."""
    while time.time() < deadline:
        sock.settimeout(max(0.01, deadline - time.time()))
        try:
            data, _ = sock.recvfrom(65536)
        except socket.timeout:
            break
        for ptype, payload in packets(data) or []:
            if want(ptype, payload):
                return ptype, payload
    return None


def fail(text):
    print('cvudp_peer: FAIL: ' + text, flush=True)
    sys.exit(1)


def ready_socket(name, port):
    """Binds a UDP socket on 127.0.0.1 and tells the caller the port before anything else."""
    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    sock.bind(('127.0.0.1', port))
    print('%s: ready on port %d' % (name, sock.getsockname()[1]), flush=True)
    return sock


def wait_connect(sock, deadline, ticks=lambda: 4242):
    """Waits for a client's CONNECT, answers it with a Timestamp; returns the client's address."""
    got = receive(sock, lambda t, p: t == COMMAND and p[0] == CONNECT, deadline)
    if got is None:
        fail('no CONNECT from the client')
    _, _, _, _, ip, cport, _, _ = struct.unpack('<BBBB4I', got[1][:20])
    client = (socket.inet_ntoa(struct.pack('<I', ip)), cport & 0xFFFF)
    print('cvudp_peer: CONNECT from %s:%d' % client)
    sock.sendto(command(TIMESTAMP, 16, 0, [1000, ticks(), 0, 0]), client)
    return client


def run_client(server_port):
    sock = ready_socket('cvudp_peer', 0)
    my_port = sock.getsockname()[1]
    server = ('127.0.0.1', server_port)
    deadline = time.time() + 30
    got = None
    while got is None and time.time() < deadline:
        sock.sendto(command(CONNECT, 0, 0, [ip_word(LOOPBACK), my_port, ip_word(LOOPBACK), server_port]), server)
        got = receive(sock, lambda t, p: t == COMMAND and p[0] == TIMESTAMP, time.time() + 1)
    if got is None:
        fail('no Timestamp from the server')
    code, a, b, n, rate, ticks, _, _ = struct.unpack('<BBBB4I', got[1][:20])
    if a != 16 or n != 4 or rate != 1000:
        fail('unexpected Timestamp A=%d n=%d rate=%d' % (a, n, rate))
    print('cvudp_peer: Timestamp t=%d f=%d' % (ticks, rate))

    data = [0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88]
    sock.sendto(frame(0x123, TX_REQUEST | 8, 0, data), server)
    echo = receive(sock, lambda t, p: t == CAN_MSG, time.time() + 5)
    if echo is None:
        fail('the transmitted frame did not come back')
    id_word, info, _ = struct.unpack_from('<III', echo[1])
    if not info & RX_REPORT or info & 0xFF != 8 or id_word & 0x1FFFFFFF != 0x123 or list(echo[1][12:20]) != data:
        fail('unexpected report id=0x%08X info=0x%08X' % (id_word, info))
    print('cvudp_peer: echo id=0x%03X info=0x%05X' % (id_word & 0x1FFFFFFF, info))
    sock.sendto(command(DISCONNECT, 0, 0, [ip_word(LOOPBACK), my_port, ip_word(LOOPBACK), server_port]), server)
    print('cvudp_peer: client checks passed')


def run_server(port):
    sock = ready_socket('cvudp_peer', port)
    client = wait_connect(sock, time.time() + 30)
    timing = receive(sock, lambda t, p: t == COMMAND and p[0] == CAN_BIT_TIMING, time.time() + 10)
    if timing is None:
        fail('no CanBitTiming after the connection')
    _, a, b, _, baud, _, _, _ = struct.unpack('<BBBB4I', timing[1][:20])
    if a != 2 or b != 2 or baud != 500:
        fail('unexpected CanBitTiming A=%d B=%d baud=%d' % (a, b, baud))
    sock.sendto(frame(0x321, RX_REPORT | 2, 5000, [0xAB, 0xCD]), client)
    if receive(sock, lambda t, p: t == COMMAND and p[0] == DISCONNECT, time.time() + 30) is None:
        fail('the client did not disconnect')
    print('cvudp_peer: server checks passed')


def run_cyclic(port, id_word, data):
    sock = ready_socket('cvudp_peer', port)
    start = time.time()

    def ticks():  # our bus clock: milliseconds since start, announced as 1000 Hz
        return int((time.time() - start) * 1000)

    client = wait_connect(sock, start + 30, ticks)
    deadline = start + 60
    sent = 0
    while time.time() < deadline:
        sock.sendto(frame(id_word, RX_REPORT | len(data), ticks(), data), client)
        sent += 1
        got = receive(sock, lambda t, p: t == COMMAND and p[0] in (CONNECT, DISCONNECT), time.time() + 0.1)
        if got is None:
            continue
        if got[1][0] == DISCONNECT:
            print('cvudp_peer: relayed %03X %s %d times, then the client disconnected'
                  % (id_word, ' '.join('%02X' % b for b in data), sent))
            return
        # The client did not hear our Timestamp and asks again.
        sock.sendto(command(TIMESTAMP, 16, 0, [1000, ticks(), 0, 0]), client)
    fail('the client did not disconnect within 60 s')


if __name__ == '__main__':
    mode = sys.argv[1] if len(sys.argv) > 1 else ''
    if mode in ('client', 'server') and len(sys.argv) == 3:
        (run_client if mode == 'client' else run_server)(int(sys.argv[2]))
    elif mode == 'cyclic' and 5 <= len(sys.argv) <= 12:
        run_cyclic(int(sys.argv[2]), int(sys.argv[3], 16), [int(b, 16) for b in sys.argv[4:]])
    else:
        print(__doc__)
        sys.exit(2)
