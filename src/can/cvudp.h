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

#include "can/can_frame.h"
#include "base/clock.h"
#include "can/frame_ring.h"
#include "base/message_queue.h"

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

// Byte-stream reassembler: a datagram may hold several packets and a packet may span datagrams.
// Malformed headers (type 0 or above 10, length 0 or above 1024) are discarded and the next four
// bytes are read as a header. Pure; no I/O.
class CvUdpReassembler {
 public:
  // Called once per complete packet of type COMMAND or CAN_MSG (other types are dropped).
  using PacketHandler = std::function<void(uint8_t type, const uint8_t* payload, int length)>;
  explicit CvUdpReassembler(PacketHandler handler) : handler_(std::move(handler)) {}
  void feed(const uint8_t* bytes, size_t length);
  void reset();
  uint64_t discardedHeaders() const { return discardedHeaders_; }

 private:
  PacketHandler handler_;
  uint8_t buffer_[4 + kCvUdpMaxPayload] = {};
  int have_ = 0;      // bytes collected of the current header or packet
  int expected_ = 4;  // bytes wanted in total (header + payload)
  uint64_t discardedHeaders_ = 0;
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

struct CvUdpCounters {
  uint64_t packetsReceived = 0, packetsSent = 0, connections = 0, framesDropped = 0;
  // Datagrams longer than the receive buffer (recognised by their true length and skipped whole).
  uint64_t datagramsTooLarge = 0;
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

  // Handles the bytes of one datagram exactly as the receive thread does (serialised with it).
  // Lets tests and the fuzz target drive the command and frame handlers without a socket peer.
  void handleDatagram(const uint8_t* bytes, size_t length);

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

// "a.b.c.d" -> host-order IPv4; false when not a dotted quad (host names are resolved with
// getaddrinfo, IPv4 only).
bool CvUdpParseIp(const std::string& text, uint32_t& out);

}  // namespace busprobe
