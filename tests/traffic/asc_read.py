"""Reads an ASCII log with python-can and prints one line per message:
timestamp arbitration_id is_extended_id is_remote_frame dlc data_hex channel is_rx is_fd
bitrate_switch error_state_indicator
(data_hex is "-" when the message has no data). Exit status 3 when python-can is missing."""
import sys

try:
    import can
except ImportError:
    sys.exit(3)

for msg in can.ASCReader(sys.argv[1]):
    data = bytes(msg.data).hex().upper() or "-"
    print(f"{msg.timestamp:.6f} {msg.arbitration_id:X} {int(msg.is_extended_id)} "
          f"{int(msg.is_remote_frame)} {msg.dlc} {data} {msg.channel} {int(msg.is_rx)} "
          f"{int(msg.is_fd)} {int(msg.bitrate_switch)} {int(msg.error_state_indicator)}")
# The header's date must be readable as well when absolute time stamps are asked for.
list(can.ASCReader(sys.argv[1], relative_timestamp=False))
