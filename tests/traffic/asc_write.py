"""Writes an ASCII log of classic and CAN FD traffic with python-can's ASCWriter to argv[1] and
prints each message written, one a line, in the form asc_read.py prints (times relative to the
first message). Exit status 3 when python-can is missing."""
import random
import sys

try:
    import can
except ImportError:
    sys.exit(3)

FD_LENGTHS = [0, 1, 2, 3, 4, 5, 6, 7, 8, 12, 16, 20, 24, 32, 48, 64]

rng = random.Random(int(sys.argv[2]) if len(sys.argv) > 2 else 1)
messages = []
time = 1700000000.0
for _ in range(int(sys.argv[3]) if len(sys.argv) > 3 else 2000):
    time += rng.randrange(0, 4000) / 1e6
    extended = rng.random() < 0.3
    ident = rng.getrandbits(29) if extended else rng.getrandbits(11)
    fd = rng.random() < 0.5
    remote = not fd and rng.random() < 0.1
    length = rng.choice(FD_LENGTHS) if fd else rng.randrange(0, 9)
    data = b"" if remote else bytes(rng.getrandbits(8) for _ in range(length))
    messages.append(can.Message(
        timestamp=time, arbitration_id=ident, is_extended_id=extended, is_remote_frame=remote,
        is_fd=fd, bitrate_switch=fd and rng.random() < 0.5,
        error_state_indicator=fd and rng.random() < 0.5, dlc=length, data=data,
        channel=rng.randrange(0, 4), is_rx=rng.random() < 0.5))

writer = can.ASCWriter(sys.argv[1])
for msg in messages:
    writer.on_message_received(msg)
writer.stop()

first = messages[0].timestamp
for msg in messages:
    data = bytes(msg.data).hex().upper() or "-"
    print(f"{msg.timestamp - first:.6f} {msg.arbitration_id:X} {int(msg.is_extended_id)} "
          f"{int(msg.is_remote_frame)} {msg.dlc} {data} {msg.channel} {int(msg.is_rx)} "
          f"{int(msg.is_fd)} {int(msg.bitrate_switch)} {int(msg.error_state_indicator)}")
