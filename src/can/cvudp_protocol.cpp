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

// The payload length a header announces, or -1 for a malformed header.
int PayloadLength(const uint8_t* header) {
  const uint8_t type = header[0];
  const int payload = header[2] | (header[3] << 8);
  if (type == kCvUdpNull || type > kHighestKnownType || payload == 0 || payload > kCvUdpMaxPayload) return -1;
  return payload;
}

// Where the compiler can bound the length it expands memcpy inline as a string move, several
// times slower than the library's copy for the few hundred bytes a packet tail has.
__attribute__((noinline)) void CopyBytes(uint8_t* to, const uint8_t* from, size_t n) {
  std::memcpy(to, from, n);
}

// Whether the datagram reads from `pos` to its end without a malformed header; `whole` tells whether
// that reading ends on a packet boundary. Looks at headers only and stops at the first bad one.
bool HeadersClean(const uint8_t* bytes, size_t pos, size_t length, bool& whole) {
  while (length - pos >= static_cast<size_t>(kHeaderSize)) {
    const int payload = PayloadLength(bytes + pos);
    if (payload < 0) return false;
    pos += static_cast<size_t>(kHeaderSize + payload);
    if (pos >= length) break;
  }
  whole = pos == length;
  return true;
}

// The same for the datagram as the continuation of an unfinished packet of `have` bytes (`head`).
bool ContinuesCleanly(const uint8_t* head, int have, const uint8_t* bytes, size_t length, bool& whole) {
  whole = false;
  size_t pos = 0;
  int payload;
  if (have < kHeaderSize) {
    const size_t missing = static_cast<size_t>(kHeaderSize - have);
    if (length < missing) return true;
    uint8_t header[kHeaderSize];
    std::memcpy(header, head, static_cast<size_t>(have));
    std::memcpy(header + have, bytes, missing);
    payload = PayloadLength(header);
    if (payload < 0) return false;
    pos = missing;
    have = kHeaderSize;
  } else {
    payload = PayloadLength(head);  // stored only once its header proved valid
  }
  const size_t rest = static_cast<size_t>(kHeaderSize + payload - have);
  if (length - pos < rest) return true;
  return HeadersClean(bytes, pos + rest, length, whole);
}

}  // namespace

struct CvUdpReassembler::Partial {
  // First and cache-line aligned: copies into an unaligned buffer measured markedly slower.
  alignas(64) uint8_t buffer[kHeaderSize + kCvUdpMaxPayload];
  int have = 0;  // bytes collected of the header and payload
  uint64_t lastUse = 0;
};

CvUdpReassembler::CvUdpReassembler(PacketHandler handler) : handler_(std::move(handler)) {}

CvUdpReassembler::~CvUdpReassembler() = default;

void CvUdpReassembler::reset() {
  discardedHeaders_ = droppedPartials_ = evictedPartials_ = discardedBytes_ = 0;
  used_ = 0;
}

int CvUdpReassembler::pendingSources() const {
  return __builtin_popcount(used_);
}

int CvUdpReassembler::find(uint64_t source) const {
  for (uint32_t rest = used_; rest != 0; rest &= rest - 1) {
    const int i = __builtin_ctz(rest);
    if (sources_[i] == source) return i;
  }
  return -1;
}

int CvUdpReassembler::acquire(uint64_t source) {
  static_assert(kMaxPartialSources <= 32, "one bit per slot in used_");
  if (!partials_) partials_ = std::make_unique<Partial[]>(kMaxPartialSources);
  int slot = -1;
  if (used_ != (1u << kMaxPartialSources) - 1) {
    slot = __builtin_ctz(~used_);
  } else {
    // The sender that has waited longest is the likeliest to have given up (or to be noise).
    slot = 0;
    for (int i = 1; i < kMaxPartialSources; ++i) {
      if (partials_[i].lastUse < partials_[slot].lastUse) slot = i;
    }
    ++evictedPartials_;
    discardedBytes_ += static_cast<uint64_t>(partials_[slot].have);
  }
  used_ |= 1u << slot;
  sources_[slot] = source;
  partials_[slot].have = 0;
  partials_[slot].lastUse = ++useCounter_;
  return slot;
}

// Completes the unfinished packet from the front of the datagram; returns the bytes used.
size_t CvUdpReassembler::finishPending(Partial& p, const uint8_t* bytes, size_t length) {
  size_t pos = 0;
  while (pos < length && p.have > 0) {
    if (p.have < kHeaderSize) {
      const size_t take = std::min<size_t>(static_cast<size_t>(kHeaderSize - p.have), length - pos);
      std::memcpy(p.buffer + p.have, bytes + pos, take);
      p.have += static_cast<int>(take);
      pos += take;
      if (p.have < kHeaderSize) break;
      if (PayloadLength(p.buffer) < 0) {
        ++discardedHeaders_;
        discardedBytes_ += kHeaderSize;
        p.have = 0;
      }
      continue;
    }
    const int expected = kHeaderSize + PayloadLength(p.buffer);
    const size_t take = std::min<size_t>(static_cast<size_t>(expected - p.have), length - pos);
    std::memcpy(p.buffer + p.have, bytes + pos, take);
    p.have += static_cast<int>(take);
    pos += take;
    if (p.have < expected) break;
    p.have = 0;
    const uint8_t type = p.buffer[0];
    if ((type == kCvUdpCommand || type == kCvUdpCanMsg) && handler_)
      handler_(type, p.buffer + kHeaderSize, expected - kHeaderSize);
  }
  return pos;
}

void CvUdpReassembler::feed(uint64_t source, const uint8_t* bytes, size_t length) {
  if (bytes == nullptr || length == 0) return;
  size_t pos = 0;
  const int slot = used_ != 0 ? find(source) : -1;
  if (slot >= 0) {
    Partial& pending = partials_[slot];
    bool continuedWhole = false, aloneWhole = false;
    const bool continues = ContinuesCleanly(pending.buffer, pending.have, bytes, length, continuedWhole);
    if (continues && !(HeadersClean(bytes, 0, length, aloneWhole) && aloneWhole)) {
      pending.lastUse = ++useCounter_;
      pos = finishPending(pending, bytes, length);
    } else {
      ++droppedPartials_;
      discardedBytes_ += static_cast<uint64_t>(pending.have);
      pending.have = 0;
    }
    if (pending.have == 0) used_ &= ~(1u << slot);
  }

  // Packets that lie wholly inside the datagram are handed on where they lie.
  while (length - pos >= static_cast<size_t>(kHeaderSize)) {
    const uint8_t* header = bytes + pos;
    const int payload = PayloadLength(header);
    if (payload < 0) {
      ++discardedHeaders_;
      discardedBytes_ += kHeaderSize;
      pos += kHeaderSize;
      continue;
    }
    if (length - pos - kHeaderSize < static_cast<size_t>(payload)) break;
    pos += static_cast<size_t>(kHeaderSize + payload);
    const uint8_t type = header[0];
    if ((type == kCvUdpCommand || type == kCvUdpCanMsg) && handler_)
      handler_(type, header + kHeaderSize, payload);
  }
  if (pos < length) {
    Partial& tail = partials_[acquire(source)];
    CopyBytes(tail.buffer, bytes + pos, length - pos);
    tail.have = static_cast<int>(length - pos);
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

bool CvUdpReadKernelDrops(const msghdr& message, uint32_t& count) {
  // CMSG_NXTHDR only reads the message, but is declared to take it writable.
  msghdr& m = const_cast<msghdr&>(message);
  if (m.msg_control == nullptr || m.msg_controllen < sizeof(cmsghdr)) return false;
  for (cmsghdr* c = CMSG_FIRSTHDR(&m); c != nullptr; c = CMSG_NXTHDR(&m, c)) {
    if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SO_RXQ_OVFL) continue;
    const auto* end = static_cast<const unsigned char*>(m.msg_control) + m.msg_controllen;
    if (c->cmsg_len < CMSG_LEN(sizeof(uint32_t)) || CMSG_DATA(c) + sizeof(uint32_t) > end) return false;
    std::memcpy(&count, CMSG_DATA(c), sizeof(uint32_t));
    return true;
  }
  return false;
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
