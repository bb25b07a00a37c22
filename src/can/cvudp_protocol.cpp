// Packet layer of CAN-via-UDP: the byte-stream reassembler and explicit little-endian packing of the
// COMMAND and CAN_MSG packets. No I/O here, so all of it can be tested and fuzzed in isolation.
#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstring>

#include "base/byte_order.h"
#include "can/cvudp.h"

namespace busprobe {

namespace {
constexpr int kHeaderSize = 4;
constexpr uint8_t kHighestKnownType = 10;

}  // namespace

void CvUdpReassembler::reset() {
  have_ = 0;
  expected_ = kHeaderSize;
}

void CvUdpReassembler::feed(const uint8_t* bytes, size_t length) {
  if (bytes == nullptr) return;
  size_t pos = 0;
  while (pos < length) {
    const size_t want = static_cast<size_t>(expected_ - have_);
    const size_t take = std::min(want, length - pos);
    std::memcpy(buffer_ + have_, bytes + pos, take);
    have_ += static_cast<int>(take);
    pos += take;
    if (have_ < expected_) break;

    if (expected_ == kHeaderSize) {
      // A valid packet always has a payload, so "expecting 4 bytes" means "collecting a header".
      const uint8_t type = buffer_[0];
      const int payload = buffer_[2] | (buffer_[3] << 8);
      if (type == kCvUdpNull || type > kHighestKnownType || payload == 0 || payload > kCvUdpMaxPayload) {
        ++discardedHeaders_;
        have_ = 0;
      } else {
        expected_ = kHeaderSize + payload;
      }
      continue;
    }

    const uint8_t type = buffer_[0];
    const int payload = expected_ - kHeaderSize;
    // Ready for the next header before dispatching, so the handler sees a consistent reassembler.
    reset();
    if ((type == kCvUdpCommand || type == kCvUdpCanMsg) && handler_)
      handler_(type, buffer_ + kHeaderSize, payload);
  }
}

bool CvUdpParseCommand(const uint8_t* payload, int length, CvUdpCommand& out) {
  out = CvUdpCommand{};
  if (payload == nullptr || length <= 3) return false;
  if (payload[3] != (length - 4) / 4) return false;
  out.code = payload[0];
  out.argA = payload[1];
  out.argB = payload[2];
  out.paramCount = payload[3];
  // paramCount == (length-4)/4 guarantees that every parameter read here lies inside the payload.
  const int n = std::min<int>(out.paramCount, 4);
  for (int i = 0; i < n; ++i) out.p[i] = GetLe32(payload + 4 + 4 * i);
  return true;
}

void CvUdpBuildCommand(const CvUdpCommand& cmd, uint8_t out[24]) {
  out[0] = kCvUdpCommand;
  out[1] = 0;
  PutLe16(out + 2, 20);
  out[4] = cmd.code;
  out[5] = cmd.argA;
  out[6] = cmd.argB;
  out[7] = 4;
  for (int i = 0; i < 4; ++i) PutLe32(out + 8 + 4 * i, cmd.p[i]);
}

void CvUdpBuildFrame(uint32_t idWord, uint32_t info, uint32_t ticks, const uint8_t data8[8],
                     uint8_t out[80]) {
  std::memset(out, 0, 80);
  out[0] = kCvUdpCanMsg;
  out[1] = 0;
  PutLe16(out + 2, kCvUdpEntrySize);
  PutLe32(out + 4, idWord);
  PutLe32(out + 8, info);
  PutLe32(out + 12, ticks);
  std::memcpy(out + 16, data8, 8);
}

bool CvUdpParseIp(const std::string& text, uint32_t& out) {
  const size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return false;
  const size_t last = text.find_last_not_of(" \t\r\n");
  const std::string trimmed = text.substr(first, last - first + 1);

  in_addr addr{};
  if (inet_pton(AF_INET, trimmed.c_str(), &addr) == 1) {
    out = ntohl(addr.s_addr);
    return true;
  }
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_DGRAM;
  addrinfo* result = nullptr;
  if (getaddrinfo(trimmed.c_str(), nullptr, &hints, &result) != 0 || result == nullptr) return false;
  bool found = false;
  for (addrinfo* ai = result; ai != nullptr; ai = ai->ai_next) {
    if (ai->ai_family == AF_INET && ai->ai_addr != nullptr) {
      out = ntohl(reinterpret_cast<const sockaddr_in*>(ai->ai_addr)->sin_addr.s_addr);
      found = true;
      break;
    }
  }
  freeaddrinfo(result);
  return found;
}

}  // namespace busprobe
