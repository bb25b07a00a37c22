// CAN-via-UDP: CAN frames and a few commands in UDP datagrams between a client (which uses a remote
// bus as if it were local, interface type 1) and a server (which relays its own bus). Up to four
// endpoints at a time, each with its own socket, receive thread and receive ring. The receive
// threads write only their ring and the deferred message queue; a server's thread also sends the
// client's transmit requests through the relay function (the common send path).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "base/clock.h"
#include "base/message_queue.h"
#include "can/can_frame.h"
#include "can/frame_ring.h"

struct msghdr;

namespace busprobe {

// Packet types and command codes of the protocol.
enum CvUdpPacketType : uint8_t {
  kCvUdpNull = 0,
  kCvUdpHeader = 1,
  kCvUdpString = 2,
  kCvUdpCommand = 3,
  kCvUdpCanMsg = 4,
  kCvUdpFileTr = 5,
  kCvUdpKtrApp = 6,
};
enum CvUdpCommandCode : uint8_t {
  kCvUdpConnect = 1,
  kCvUdpDisconnect = 2,
  kCvUdpTimestamp = 3,
  kCvUdpCanInitBus = 17,
  kCvUdpCanAddRxId = 18,
  kCvUdpCanFilterMask = 19,
  kCvUdpCanBitTiming = 20,
  kCvUdpTxBufParams = 23,
  kCvUdpRxBufParams = 24,
  kCvUdpBusStatus = 25,
  kCvUdpMsgCounters = 26,
};
constexpr uint32_t kCvUdpInfoRemote = 0x10000;
constexpr uint32_t kCvUdpInfoTxRequest = 0x40000;
constexpr uint32_t kCvUdpInfoRxReport = 0x80000;
constexpr int kCvUdpMaxPayload = 1024;
constexpr int kCvUdpEntrySize = 76;
constexpr int kCvUdpMaxEndpoints = 4;

enum CvUdpState : int { kCvUdpIdle = 0, kCvUdpConnected = 1, kCvUdpConnecting = 2, kCvUdpClosing = 3 };

// Reassembler: a datagram may hold several packets and a packet may span datagrams, so each
// sender's bytes form a stream of their own. Malformed headers (type 0 or above 10, length 0 or
// above 1024) are discarded and the next four bytes are read as a header. Pure; no I/O.
//
// Anyone can send to an endpoint's port, so what one sender leaves half-done must never cost
// another sender's packets, nor the same sender's next whole datagram:
// - a sender's unfinished packet is kept per source (at most kMaxPartialSources of them; a new one
//   beyond that evicts the one that waited longest);
// - the sender's next datagram continues its unfinished packet only when it does so consistently:
//   read as the continuation it meets no malformed header, and read on its own it is not nothing
//   but whole, well-formed packets (what every sender of whole packets sends). Otherwise the
//   unfinished packet is dropped and counted, and the datagram is read on its own.
class CvUdpReassembler {
 public:
  static constexpr int kMaxPartialSources = 16;  // at most 32: one bit each in used_
  // Called once per complete packet of type COMMAND or CAN_MSG (other types are dropped).
  using PacketHandler = std::function<void(uint8_t type, const uint8_t* payload, int length)>;
  explicit CvUdpReassembler(PacketHandler handler);
  ~CvUdpReassembler();
  CvUdpReassembler(const CvUdpReassembler&) = delete;
  CvUdpReassembler& operator=(const CvUdpReassembler&) = delete;

  // One datagram from `source`, any key naming the sender (the endpoint uses address and port).
  void feed(uint64_t source, const uint8_t* bytes, size_t length);
  void feed(const uint8_t* bytes, size_t length) { feed(0, bytes, length); }
  // Starts afresh: forgets every unfinished packet and zeroes the counts.
  void reset();

  uint64_t discardedHeaders() const { return discardedHeaders_; }
  // Every byte thrown away: those of malformed headers and of unfinished packets dropped or evicted.
  uint64_t discardedBytes() const { return discardedBytes_; }
  // Unfinished packets the next datagram of their source did not continue.
  uint64_t droppedPartials() const { return droppedPartials_; }
  // Unfinished packets pushed out by those of more recent sources.
  uint64_t evictedPartials() const { return evictedPartials_; }
  // Sources with an unfinished packet now.
  int pendingSources() const;

 private:
  struct Partial;
  int find(uint64_t source) const;  // slot index or -1
  int acquire(uint64_t source);
  size_t finishPending(Partial& p, const uint8_t* bytes, size_t length);

  PacketHandler handler_;
  // Slots are allocated once, on the first unfinished packet; a burst of senders cannot grow them.
  // Which are in use, and for whom, is kept apart from the buffers so that looking a sender up
  // touches one cache line.
  std::unique_ptr<Partial[]> partials_;
  uint32_t used_ = 0;  // bit i: slot i holds an unfinished packet of sources_[i]
  uint64_t sources_[kMaxPartialSources] = {};
  uint64_t useCounter_ = 0;
  uint64_t discardedHeaders_ = 0, droppedPartials_ = 0, evictedPartials_ = 0, discardedBytes_ = 0;
};

// Decoded COMMAND payload. Valid only when the payload length is above 3 and byte 3 equals
// (length - 4) / 4.
struct CvUdpCommand {
  uint8_t code = 0, argA = 0, argB = 0, paramCount = 0;
  uint32_t p[4] = {};
};
bool CvUdpParseCommand(const uint8_t* payload, int length, CvUdpCommand& out);
// Builds a whole COMMAND packet (4-byte header + 20-byte payload) into out[24].
void CvUdpBuildCommand(const CvUdpCommand& cmd, uint8_t out[24]);
// Builds a whole CAN_MSG packet with one entry (80 bytes) into out[80].
void CvUdpBuildFrame(uint32_t idWord, uint32_t info, uint32_t ticks, const uint8_t data8[8], uint8_t out[80]);

// The count of datagrams the kernel has dropped at the socket for want of buffer space (running
// total since the socket was made, wrapping at 2^32), from the ancillary data of a recvmsg on a
// socket with SO_RXQ_OVFL set. False when the message carries none (the kernel adds it only once
// something was dropped).
bool CvUdpReadKernelDrops(const msghdr& message, uint32_t& count);

struct CvUdpCounters {
  uint64_t packetsReceived = 0, packetsSent = 0, connections = 0, framesDropped = 0;
  // Datagrams longer than the receive buffer (recognised by their true length and skipped whole).
  uint64_t datagramsTooLarge = 0;
  // Receive errors of the packet stream: malformed headers skipped, unfinished packets that the
  // next datagram of their sender did not continue, and unfinished packets evicted by other senders.
  uint64_t malformedHeaders = 0, partialsDropped = 0, partialsEvicted = 0;
  // Bytes of malformed input discarded: the reassembler's, oversized datagrams, COMMAND packets that
  // do not parse, CAN_MSG payload bytes that make no whole entry.
  uint64_t malformedBytes = 0;
  // Datagrams the kernel dropped before this endpoint could read them (socket receive buffer full).
  uint64_t kernelDropped = 0;
};

class CvUdpHub;

class CvUdpEndpoint {
 public:
  ~CvUdpEndpoint();

  // Resets state, stores addresses (IPv4 in host order, a.b.c.d = a<<24|b<<16|c<<8|d) and, if a
  // role is set, connects (socket, bind, receive thread). A client then sends CONNECT at once and
  // every 5 s until a Timestamp arrives. Returns 1 on success, 0 with a queued message on failure.
  int open(int roleFlags, uint32_t remoteIp, uint16_t remotePort, uint32_t localIp, uint16_t localPort);
  // Sends DISCONNECT when connected, stops the thread, closes the socket.
  void close();

  bool connected() const { return state_.load() == kCvUdpConnected; }
  int state() const { return state_.load(); }
  int roleFlags() const { return roleFlags_.load(); }
  // The port the socket is bound to (after open), useful when the local port was 0.
  uint16_t boundPort() const { return boundPort_; }

  // Oldest received frame, its timestamp converted to milliseconds with the peer's tick rate.
  bool popFrame(CanFrame& out);
  // Frames dropped because the receive ring was full, since the last call (resets the count).
  uint64_t takeDroppedFrames();
  // The same for datagrams the kernel dropped at the socket, and for bytes of malformed input.
  uint64_t takeKernelDrops();
  uint64_t takeMalformedBytes();

  // Client: transmit request (bus selector 1 when the frame's bus bits are 3). Server: received-frame
  // report. On success the frame's timestamp becomes the current tick. Returns 1/0.
  int sendFrame(CanFrame& frame, bool asTransmitRequest);
  // CanBitTiming for a channel (bus index + 2).
  int sendBitRate(int channel, int baudKbit);

  // Peer's tick count now, from the last Timestamp (client), converted to ms; used by the UCAN
  // clock to resynchronise. Falls back to the own tick.
  double peerTimeMs() const;
  uint32_t peerTickRate() const { return peerTickRate_.load(); }
  CvUdpCounters counters() const;

  // Handles the bytes of one datagram exactly as the receive thread does (serialised with it);
  // `source` names the sender as CvUdpSourceKey does. Lets tests and the fuzz target drive the
  // command and frame handlers without a socket peer.
  void handleDatagram(const uint8_t* bytes, size_t length, uint64_t source = 0);

 private:
  friend class CvUdpHub;
  CvUdpEndpoint(CvUdpHub& hub, int slot);
  struct Impl;  // sockets, thread, ring, reassembler and the connection fields (cvudp_endpoint.cpp)

  int connectSocket();
  void disconnectSocket();
  void receiveLoop();
  void periodic();
  int sendPacket(const uint8_t* bytes, int length);
  int sendCommand(uint8_t code, uint8_t argA, uint8_t argB, const uint32_t p[4]);
  void onPacket(uint8_t type, const uint8_t* payload, int length);
  void onCommand(const CvUdpCommand& cmd);
  void onFrames(const uint8_t* payload, int length);

  std::unique_ptr<Impl> impl_;
  CvUdpHub& hub_;
  int slot_;
  std::atomic<int> state_{kCvUdpIdle};
  std::atomic<int> roleFlags_{0};
  std::atomic<uint32_t> peerTickRate_{1000};
  uint16_t boundPort_ = 0;
};

// The endpoint table (at most four endpoints) and what they share: the clock, the deferred
// message queue, the send lock, and the relay for a server's transmit requests.
class CvUdpHub {
 public:
  CvUdpHub(Clock& clock, DeferredMessageQueue& messages);
  ~CvUdpHub();
  CvUdpHub(const CvUdpHub&) = delete;
  CvUdpHub& operator=(const CvUdpHub&) = delete;

  // A new endpoint in a free slot, or null with "CvUDP_Connect: All instances are occupied !" queued.
  CvUdpEndpoint* createEndpoint();
  void destroyEndpoint(CvUdpEndpoint* endpoint);

  // How a server endpoint sends a client's transmit request onto the local bus. Called on the
  // receive thread; the function takes the UCAN lock itself.
  void setRelay(std::function<bool(CanFrame&)> relay);

  // The endpoint's tick counter: milliseconds of the clock, as a wrapping 32-bit count.
  uint32_t tick() const;

  Clock& clock() { return clock_; }
  DeferredMessageQueue& messages() { return messages_; }
  std::mutex& sendLock() { return sendLock_; }
  bool relay(CanFrame& frame);

 private:
  friend class CvUdpEndpoint;
  using RelayFn = std::function<bool(CanFrame&)>;

  Clock& clock_;
  DeferredMessageQueue& messages_;
  std::mutex sendLock_;
  std::mutex relayLock_;
  // Shared so that a receive thread can call it outside relayLock_ while setRelay replaces it.
  std::shared_ptr<const RelayFn> relay_;
  // The host-name lookup texts are printed once per hub, not once per attempt.
  std::atomic<bool> hostNameFailReported_{false}, hostLookupFailReported_{false}, myIpFailReported_{false};
  std::mutex slotsLock_;
  std::unique_ptr<CvUdpEndpoint> slots_[kCvUdpMaxEndpoints];
};

// The reassembler's key for a sender: host-order IPv4 address and port.
constexpr uint64_t CvUdpSourceKey(uint32_t ip, uint16_t port) {
  return (static_cast<uint64_t>(ip) << 16) | port;
}

// "a.b.c.d" -> host-order IPv4; false when not a dotted quad (host names are resolved with
// getaddrinfo, IPv4 only).
bool CvUdpParseIp(const std::string& text, uint32_t& out);

}  // namespace busprobe
