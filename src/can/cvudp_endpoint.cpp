// CAN-via-UDP endpoints: socket, receive thread, connection state machine, command and frame
// handlers, and the hub that owns the endpoint table.
//
// Threads: the owner's thread opens, closes, sends frames and pops the ring; the receive thread
// reads datagrams, runs the handlers (serialised with handleDatagram by rxMutex) and the periodic
// connect retries. Connection fields that both touch live under Impl::mutex; counters and the
// state are atomics; the ring is single-producer (whoever holds rxMutex) / single-consumer.
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <system_error>
#include <thread>
#include <vector>

#include "can/cvudp.h"

namespace busprobe {

namespace {
constexpr int kRoleClient = 1;
constexpr int kRoleServer = 2;
// Connect retries: 100 ticks of the 50 ms main tick.
constexpr int32_t kConnectRetryMs = 100 * 50;
constexpr int kPollMs = 10;
// Larger than any IPv4 UDP payload; MSG_TRUNC still tells when a datagram did not fit.
constexpr size_t kReceiveBufferSize = 65536;
// Datagrams read per wake-up before the stop flag and the periodic handler are looked at again.
constexpr int kDatagramsPerWake = 256;
constexpr int kReceiveSocketBuffer = 4 * 1024 * 1024;
constexpr uint32_t kOwnTickRate = 1000;
constexpr uint8_t kTimestampArgA = 16;
constexpr uint8_t kBitTimingArgA = 2;
constexpr uint8_t kBecomeServerArgB = 254;
constexpr uint32_t kBusSelectorShift = 28;

// Addresses travel in dotted order (a, b, c, d for a.b.c.d), so the little-endian parameter word
// holds the host-order address byte-swapped.
uint32_t IpToPayload(uint32_t hostOrder) {
  return __builtin_bswap32(hostOrder);
}
uint32_t IpFromPayload(uint32_t word) {
  return __builtin_bswap32(word);
}

int Octet(uint32_t ip, int i) {
  return static_cast<int>((ip >> (24 - 8 * i)) & 0xFF);
}

sockaddr_in MakeAddr(uint32_t ip, uint16_t port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(ip);
  a.sin_port = htons(port);
  return a;
}

uint32_t GetU32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// The source address the kernel would use towards the remote: the address at which the remote can
// answer us (the host name's address is wrong for a remote of 127.0.0.1, for example).
bool RouteSourceIp(uint32_t remoteIp, uint16_t remotePort, uint32_t& out) {
  if (remoteIp == 0) return false;
  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_in to = MakeAddr(remoteIp, remotePort != 0 ? remotePort : 9);
  bool ok = false;
  if (connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0) {
    sockaddr_in me{};
    socklen_t len = sizeof me;
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&me), &len) == 0 && me.sin_addr.s_addr != 0) {
      out = ntohl(me.sin_addr.s_addr);
      ok = true;
    }
  }
  ::close(fd);
  return ok;
}
}  // namespace

struct CvUdpEndpoint::Impl {
  explicit Impl(CvUdpEndpoint& owner)
      : reassembler([&owner](uint8_t type, const uint8_t* payload, int length) {
          owner.onPacket(type, payload, length);
        }) {}

  // CONNECT and DISCONNECT name both ends: the address this side states, then the peer's.
  // Call with `mutex` held.
  void addressParams(uint32_t p[4]) const {
    p[0] = IpToPayload(statedIp);
    p[1] = statedPort;
    p[2] = IpToPayload(peerIp);
    p[3] = peerPort;
  }

  // --- socket and thread (fd changes only while no receive thread runs)
  std::atomic<int> fd{-1};
  int wakeFd = -1;  // eventfd: close() wakes the thread at once instead of after its 10 ms poll
  std::thread thread;
  std::atomic<bool> stop{false};
  std::mutex terminatedMutex;
  std::condition_variable terminatedCv;
  bool terminated = true;  // under terminatedMutex
  std::vector<uint8_t> rxBuffer = std::vector<uint8_t>(kReceiveBufferSize);
  uint32_t lastPeriodicTick = 0;  // receive thread only
  uint32_t kernelDropsSeen = 0;   // receive thread only: the socket's count at the last datagram

  // --- input side: reassembler and handlers, one producer of the ring at a time
  std::mutex rxMutex;
  CvUdpReassembler reassembler;
  FrameRing ring{FrameRing::kDefaultCapacity};
  std::atomic<uint64_t> droppedBase{0};
  uint64_t droppedTaken = 0;  // consumer side

  // --- connection fields shared by both threads
  std::mutex mutex;
  uint32_t bindIp = 0, remoteIp = 0, statedIp = 0, peerIp = 0;
  uint16_t bindPort = 0, remotePort = 0, statedPort = 0, peerPort = 0;
  bool retryPending = false, connectSent = false;
  uint32_t lastConnectTick = 0;
  bool haveTimestamp = false, timestampReported = false;
  uint32_t peerTickRef = 0, ownTickRef = 0;

  std::atomic<bool> sendFailureReported{false};
  std::atomic<uint64_t> packetsReceived{0}, packetsSent{0}, connections{0}, tooLarge{0};
  std::atomic<uint64_t> malformed{0}, partialsDropped{0}, partialsEvicted{0};  // the reassembler's
  std::atomic<uint64_t> reassemblerBytes{0};  // the reassembler's discarded bytes
  std::atomic<uint64_t> rejectedBytes{0};     // discarded outside the reassembler
  std::atomic<uint64_t> kernelDropped{0};
  uint64_t kernelDropsTaken = 0, malformedBytesTaken = 0;  // consumer side
};

// ------------------------------------------------------------------------------------------------
// CvUdpHub

CvUdpHub::CvUdpHub(Clock& clock, DeferredMessageQueue& messages) : clock_(clock), messages_(messages) {}

CvUdpHub::~CvUdpHub() {
  for (auto& slot : slots_) slot.reset();
}

CvUdpEndpoint* CvUdpHub::createEndpoint() {
  std::lock_guard<std::mutex> lock(slotsLock_);
  for (int i = 0; i < kCvUdpMaxEndpoints; ++i) {
    if (!slots_[i]) {
      slots_[i].reset(new CvUdpEndpoint(*this, i));
      return slots_[i].get();
    }
  }
  messages_.QueueCanMessage("CvUDP_Connect: All instances are occupied !");
  return nullptr;
}

void CvUdpHub::destroyEndpoint(CvUdpEndpoint* endpoint) {
  std::unique_ptr<CvUdpEndpoint> victim;
  {
    std::lock_guard<std::mutex> lock(slotsLock_);
    if (endpoint != nullptr && endpoint->slot_ >= 0 && endpoint->slot_ < kCvUdpMaxEndpoints &&
        slots_[endpoint->slot_].get() == endpoint)
      victim = std::move(slots_[endpoint->slot_]);
  }
  // Closing joins the receive thread; not under slotsLock_ so that a relay may create endpoints.
  victim.reset();
}

void CvUdpHub::setRelay(std::function<bool(CanFrame&)> relay) {
  std::shared_ptr<const RelayFn> fn;
  if (relay) fn = std::make_shared<const RelayFn>(std::move(relay));
  std::lock_guard<std::mutex> lock(relayLock_);
  relay_ = std::move(fn);
}

bool CvUdpHub::relay(CanFrame& frame) {
  std::shared_ptr<const RelayFn> fn;
  {
    std::lock_guard<std::mutex> lock(relayLock_);
    fn = relay_;
  }
  return fn ? (*fn)(frame) : false;
}

uint32_t CvUdpHub::tick() const {
  return static_cast<uint32_t>(static_cast<int64_t>(std::floor(clock_.nowMs())));
}

// ------------------------------------------------------------------------------------------------
// CvUdpEndpoint: lifecycle

CvUdpEndpoint::CvUdpEndpoint(CvUdpHub& hub, int slot)
    : impl_(std::make_unique<Impl>(*this)), hub_(hub), slot_(slot) {}

CvUdpEndpoint::~CvUdpEndpoint() {
  close();
}

int CvUdpEndpoint::open(int roleFlags, uint32_t remoteIp, uint16_t remotePort, uint32_t localIp,
                        uint16_t localPort) {
  close();
  Impl& m = *impl_;
  roleFlags_.store(roleFlags);
  state_.store(kCvUdpIdle);
  peerTickRate_.store(kOwnTickRate);
  boundPort_ = 0;
  {
    std::lock_guard<std::mutex> lock(m.mutex);
    m.bindIp = localIp;
    m.bindPort = localPort;
    m.remoteIp = remoteIp;
    m.remotePort = remotePort;
    m.statedIp = localIp;
    m.statedPort = localPort;
    m.peerIp = remoteIp;
    m.peerPort = remotePort;
    m.retryPending = false;
    m.connectSent = false;
    m.lastConnectTick = 0;
    m.haveTimestamp = false;
    m.timestampReported = false;
    m.peerTickRef = 0;
    m.ownTickRef = 0;
  }
  {
    std::lock_guard<std::mutex> lock(m.rxMutex);
    m.reassembler.reset();
    m.ring.clear();  // no receive thread runs here
  }
  m.droppedBase.store(m.ring.dropped());
  m.droppedTaken = m.ring.dropped();
  m.sendFailureReported.store(false);
  m.packetsReceived.store(0);
  m.packetsSent.store(0);
  m.connections.store(0);
  m.tooLarge.store(0);
  m.malformed.store(0);
  m.partialsDropped.store(0);
  m.partialsEvicted.store(0);
  m.reassemblerBytes.store(0);
  m.rejectedBytes.store(0);
  m.kernelDropped.store(0);
  m.kernelDropsTaken = 0;
  m.malformedBytesTaken = 0;
  m.kernelDropsSeen = 0;  // a new socket counts from 0

  if ((roleFlags & (kRoleClient | kRoleServer)) == 0) return 1;
  if (!connectSocket()) return 0;

  if (roleFlags & kRoleClient) {
    state_.store(kCvUdpConnecting);
    {
      std::lock_guard<std::mutex> lock(m.mutex);
      m.retryPending = true;
      m.connectSent = false;
    }
    periodic();  // the first CONNECT goes out at once, before the thread could race us to it
  }

  m.stop.store(false);
  {
    std::lock_guard<std::mutex> lock(m.terminatedMutex);
    m.terminated = false;
  }
  m.lastPeriodicTick = hub_.tick();
  try {
    m.thread = std::thread(&CvUdpEndpoint::receiveLoop, this);
  } catch (const std::system_error&) {
    {
      std::lock_guard<std::mutex> lock(m.terminatedMutex);
      m.terminated = true;
    }
    hub_.messages().QueueCanMessage("CvUDP_Connect: couldn't start the receive thread !");
    disconnectSocket();
    state_.store(kCvUdpIdle);
    return 0;
  }
  return 1;
}

void CvUdpEndpoint::close() {
  Impl& m = *impl_;
  if (state_.load() == kCvUdpConnected) {
    state_.store(kCvUdpClosing);
    uint32_t p[4];
    {
      std::lock_guard<std::mutex> lock(m.mutex);
      m.addressParams(p);
    }
    sendCommand(kCvUdpDisconnect, 0, 0, p);
  }
  disconnectSocket();
  state_.store(kCvUdpIdle);
  std::lock_guard<std::mutex> lock(m.mutex);
  m.retryPending = false;
}

int CvUdpEndpoint::connectSocket() {
  Impl& m = *impl_;
  DeferredMessageQueue& msg = hub_.messages();
  uint32_t bindIp, remoteIp, statedIp;
  uint16_t bindPort, remotePort;
  {
    std::lock_guard<std::mutex> lock(m.mutex);
    bindIp = m.bindIp;
    remoteIp = m.remoteIp;
    bindPort = m.bindPort;
    remotePort = m.remotePort;
  }
  statedIp = bindIp;

  if (bindIp == 0) {
    // The socket listens on every address; the address we state to the peer must be one it can reach.
    bool found = RouteSourceIp(remoteIp, remotePort, statedIp);
    if (!found) {
      char host[256] = {};
      if (gethostname(host, sizeof host - 1) != 0) {
        if (!hub_.hostNameFailReported_.exchange(true)) msg.QueueCanMessage("WSock: gethostname() failed !");
      } else {
        addrinfo hints{};
        hints.ai_family = AF_INET;
        hints.ai_socktype = SOCK_DGRAM;
        addrinfo* result = nullptr;
        if (getaddrinfo(host, nullptr, &hints, &result) == 0 && result != nullptr) {
          for (addrinfo* ai = result; ai != nullptr && !found; ai = ai->ai_next) {
            if (ai->ai_family == AF_INET && ai->ai_addr != nullptr) {
              statedIp = ntohl(reinterpret_cast<const sockaddr_in*>(ai->ai_addr)->sin_addr.s_addr);
              found = true;
            }
          }
          freeaddrinfo(result);
        }
        if (!found && !hub_.hostLookupFailReported_.exchange(true))
          msg.QueueCanMessage("WSock: gethostbyname(\"%s\") failed !", host);
      }
    }
    if (!found) {
      if (!hub_.myIpFailReported_.exchange(true))
        msg.QueueCanMessage("CvUDP_Connect: Couldn't retrieve 'my' IP !");
      // A server can still answer from INADDR_ANY; a client has nothing to state in CONNECT.
      if (roleFlags_.load() & kRoleClient) return 0;
    }
  }

  msg.QueueCanMessage("CvUDP_Connect: Using local IP %d.%d.%d.%d, port %d to access remote %d.%d.%d.%d:%d.",
                      Octet(statedIp, 0), Octet(statedIp, 1), Octet(statedIp, 2), Octet(statedIp, 3),
                      static_cast<int>(bindPort), Octet(remoteIp, 0), Octet(remoteIp, 1), Octet(remoteIp, 2),
                      Octet(remoteIp, 3), static_cast<int>(remotePort));

  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    msg.QueueCanMessage("CvUDP_Connect: socket() failed !");
    return 0;
  }
  // Bursts of relayed traffic must wait in the kernel rather than be lost there; and what is lost
  // there anyway must be told, so the kernel is asked to hand its drop count with every datagram.
  const int rcvbuf = kReceiveSocketBuffer;
  setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &rcvbuf, sizeof rcvbuf);
  const int one = 1;
  setsockopt(fd, SOL_SOCKET, SO_RXQ_OVFL, &one, sizeof one);

  sockaddr_in local = MakeAddr(bindIp, bindPort);
  if (bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
    const int err = errno;
    msg.QueueCanMessage("CvUDP_Connect: bind(port=%d) failed (\"%s\") !", static_cast<int>(bindPort),
                        std::strerror(err));
    ::close(fd);
    return 0;
  }
  sockaddr_in bound{};
  socklen_t len = sizeof bound;
  uint16_t port = bindPort;
  if (getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &len) == 0) port = ntohs(bound.sin_port);
  boundPort_ = port;
  {
    std::lock_guard<std::mutex> lock(m.mutex);
    m.statedIp = statedIp;
    m.statedPort = port;
  }
  m.wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  m.fd.store(fd);
  return 1;
}

void CvUdpEndpoint::disconnectSocket() {
  Impl& m = *impl_;
  if (m.thread.joinable()) {
    m.stop.store(true);
    if (m.wakeFd >= 0) {
      const uint64_t one = 1;
      [[maybe_unused]] const ssize_t n = write(m.wakeFd, &one, sizeof one);
    }
    // It ends within one poll period unless a relay is blocked on a lock our caller holds; threads
    // are never killed, so that is reported and then waited for.
    std::unique_lock<std::mutex> lock(m.terminatedMutex);
    if (!m.terminatedCv.wait_for(lock, std::chrono::seconds(1), [&m] { return m.terminated; }))
      hub_.messages().QueueCanMessage("CvUDP_Disconnect: thread didn't terminate !!!!");
    lock.unlock();
    m.thread.join();
  }
  const int fd = m.fd.exchange(-1);
  if (fd >= 0) ::close(fd);
  if (m.wakeFd >= 0) ::close(m.wakeFd);
  m.wakeFd = -1;
}

// ------------------------------------------------------------------------------------------------
// Receive thread

void CvUdpEndpoint::receiveLoop() {
  Impl& m = *impl_;
  const int fd = m.fd.load();
  uint8_t* buf = m.rxBuffer.data();
  alignas(cmsghdr) unsigned char control[CMSG_SPACE(sizeof(uint32_t))];
  while (!m.stop.load(std::memory_order_relaxed)) {
    pollfd pfd[2] = {};
    pfd[0].fd = fd;
    pfd[0].events = POLLIN;
    pfd[1].fd = m.wakeFd;
    pfd[1].events = POLLIN;
    const int rc = poll(pfd, m.wakeFd >= 0 ? 2 : 1, kPollMs);
    if (rc < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (m.stop.load()) break;
    if (rc > 0 && pfd[0].revents != 0) {
      for (int i = 0; i < kDatagramsPerWake && !m.stop.load(std::memory_order_relaxed); ++i) {
        sockaddr_in src{};  // keys the reassembly; replies go to the address the peer states
        iovec iov{buf, kReceiveBufferSize};
        msghdr msg{};
        msg.msg_name = &src;
        msg.msg_namelen = sizeof src;
        msg.msg_iov = &iov;
        msg.msg_iovlen = 1;
        msg.msg_control = control;
        msg.msg_controllen = sizeof control;
        const ssize_t n = recvmsg(fd, &msg, MSG_TRUNC | MSG_DONTWAIT);
        if (n < 0) break;  // drained, or a pending error that this read has cleared
        m.packetsReceived.fetch_add(1, std::memory_order_relaxed);
        uint32_t drops = 0;
        if (CvUdpReadKernelDrops(msg, drops) && drops != m.kernelDropsSeen) {
          m.kernelDropped.fetch_add(static_cast<uint32_t>(drops - m.kernelDropsSeen),
                                    std::memory_order_relaxed);
          m.kernelDropsSeen = drops;
        }
        if (static_cast<size_t>(n) > kReceiveBufferSize) {
          m.tooLarge.fetch_add(1, std::memory_order_relaxed);
          m.rejectedBytes.fetch_add(static_cast<uint64_t>(n), std::memory_order_relaxed);
          continue;
        }
        handleDatagram(buf, static_cast<size_t>(n),
                       CvUdpSourceKey(ntohl(src.sin_addr.s_addr), ntohs(src.sin_port)));
      }
    }
    // Retries must also go out while garbage keeps the socket busy, so not only on empty waits.
    const uint32_t now = hub_.tick();
    const int32_t since = static_cast<int32_t>(now - m.lastPeriodicTick);
    if (rc == 0 || since >= kPollMs || since < 0) {
      m.lastPeriodicTick = now;
      periodic();
    }
  }
  std::lock_guard<std::mutex> lock(m.terminatedMutex);
  m.terminated = true;
  m.terminatedCv.notify_all();
}

void CvUdpEndpoint::handleDatagram(const uint8_t* bytes, size_t length, uint64_t source) {
  Impl& m = *impl_;
  std::lock_guard<std::mutex> lock(m.rxMutex);
  m.reassembler.feed(source, bytes, length);
  // Copied out rather than read under rxMutex: a relay may hold that for as long as the owner
  // holds the UCAN lock, and the owner must still be able to read the counters.
  m.malformed.store(m.reassembler.discardedHeaders(), std::memory_order_relaxed);
  m.partialsDropped.store(m.reassembler.droppedPartials(), std::memory_order_relaxed);
  m.partialsEvicted.store(m.reassembler.evictedPartials(), std::memory_order_relaxed);
  m.reassemblerBytes.store(m.reassembler.discardedBytes(), std::memory_order_relaxed);
}

void CvUdpEndpoint::periodic() {
  if ((roleFlags_.load() & kRoleClient) == 0) return;
  Impl& m = *impl_;
  const uint32_t now = hub_.tick();
  uint32_t p[4];
  {
    std::lock_guard<std::mutex> lock(m.mutex);
    if (!m.retryPending) return;
    const int32_t since = static_cast<int32_t>(now - m.lastConnectTick);
    if (m.connectSent && since < kConnectRetryMs && since >= 0) return;
    m.addressParams(p);
  }
  if (!sendCommand(kCvUdpConnect, 0, 0, p)) return;
  std::lock_guard<std::mutex> lock(m.mutex);
  m.lastConnectTick = now;
  m.connectSent = true;
  if (m.retryPending) state_.store(kCvUdpConnecting);
}

// ------------------------------------------------------------------------------------------------
// Handlers (run under rxMutex)

void CvUdpEndpoint::onPacket(uint8_t type, const uint8_t* payload, int length) {
  constexpr int kHeaderSize = 4;
  // Bytes that said nothing usable count as malformed input: a COMMAND that does not parse, and
  // what of a CAN_MSG payload makes no whole entry (all of it, header too, when there is none).
  uint64_t rejected = 0;
  if (type == kCvUdpCommand) {
    CvUdpCommand cmd;
    if (CvUdpParseCommand(payload, length, cmd)) {
      onCommand(cmd);
    } else {
      rejected = static_cast<uint64_t>(kHeaderSize + length);
    }
  } else if (type == kCvUdpCanMsg) {
    rejected = length < kCvUdpEntrySize ? static_cast<uint64_t>(kHeaderSize + length)
                                        : static_cast<uint64_t>(length % kCvUdpEntrySize);
    onFrames(payload, length);
  }
  if (rejected) impl_->rejectedBytes.fetch_add(rejected, std::memory_order_relaxed);
}

void CvUdpEndpoint::onCommand(const CvUdpCommand& cmd) {
  Impl& m = *impl_;
  DeferredMessageQueue& msg = hub_.messages();
  switch (cmd.code) {
    case kCvUdpConnect: {
      if ((roleFlags_.load() & kRoleClient) && cmd.argB == kBecomeServerArgB) {
        // The peer asks us to swap roles: leave the current connection, then serve this CONNECT.
        if (state_.load() == kCvUdpConnected) {
          uint32_t p[4];
          {
            std::lock_guard<std::mutex> lock(m.mutex);
            m.addressParams(p);
          }
          sendCommand(kCvUdpDisconnect, 0, 0, p);
        }
        state_.store(kCvUdpIdle);
        roleFlags_.store(kRoleServer);
      }
      if ((roleFlags_.load() & kRoleServer) && cmd.paramCount >= 4) {
        const uint32_t ip = IpFromPayload(cmd.p[0]);
        const uint16_t port = static_cast<uint16_t>(cmd.p[1] & 0xFFFF);
        {
          std::lock_guard<std::mutex> lock(m.mutex);
          m.peerIp = ip;
          m.peerPort = port;
          m.retryPending = false;
        }
        state_.store(kCvUdpConnected);
        m.connections.fetch_add(1);
        msg.QueueCanMessage("CvUDP Server: Connected by %d.%d.%d.%d:%d .", Octet(ip, 0), Octet(ip, 1),
                            Octet(ip, 2), Octet(ip, 3), static_cast<int>(port));
        if (cmd.argA == 0) {
          const uint32_t p[4] = {kOwnTickRate, hub_.tick(), 0, 0};
          sendCommand(kCvUdpTimestamp, kTimestampArgA, 0, p);
        }
      }
      break;
    }
    case kCvUdpDisconnect: {
      if (state_.load() == kCvUdpIdle || cmd.paramCount < 2) break;
      uint32_t ip;
      uint16_t port;
      {
        std::lock_guard<std::mutex> lock(m.mutex);
        if (IpFromPayload(cmd.p[0]) != m.peerIp || cmd.p[1] != m.peerPort) break;
        ip = m.peerIp;
        port = m.peerPort;
        if (roleFlags_.load() & kRoleServer) {
          state_.store(kCvUdpIdle);
        } else {
          state_.store(kCvUdpConnecting);
          m.retryPending = true;
          m.connectSent = true;
          m.lastConnectTick = hub_.tick();
          m.timestampReported = false;
        }
      }
      if (roleFlags_.load() & kRoleServer) {
        msg.QueueCanMessage("CvUDP Server disconnected from %d.%d.%d.%d:%d .", Octet(ip, 0), Octet(ip, 1),
                            Octet(ip, 2), Octet(ip, 3), static_cast<int>(port));
      } else {
        msg.QueueCanMessage("CvUDP Client disconnected BY SERVER, %d.%d.%d.%d:%d !", Octet(ip, 0),
                            Octet(ip, 1), Octet(ip, 2), Octet(ip, 3), static_cast<int>(port));
      }
      break;
    }
    case kCvUdpTimestamp: {
      if ((roleFlags_.load() & kRoleClient) == 0 || cmd.paramCount < 4) break;
      bool first;
      {
        std::lock_guard<std::mutex> lock(m.mutex);
        if (state_.load() != kCvUdpConnected) m.connections.fetch_add(1);
        state_.store(kCvUdpConnected);
        m.retryPending = false;
        peerTickRate_.store(cmd.p[0]);
        m.peerTickRef = cmd.p[1];
        m.ownTickRef = hub_.tick();
        m.haveTimestamp = true;
        first = !m.timestampReported;
        m.timestampReported = true;
      }
      if (first)
        msg.QueueCanMessage("CvUDP Server reports t=%ld, f=%ld Hz .", static_cast<long>(cmd.p[1]),
                            static_cast<long>(cmd.p[0]));
      break;
    }
    default:
      break;  // the bus-configuration commands are only named by the protocol
  }
}

void CvUdpEndpoint::onFrames(const uint8_t* payload, int length) {
  Impl& m = *impl_;
  const int count = length / kCvUdpEntrySize;
  for (int i = 0; i < count; ++i) {
    const uint8_t* e = payload + i * kCvUdpEntrySize;
    const uint32_t info = GetU32(e + 4);
    CanFrame f;
    f.id = GetU32(e);
    // The info byte can say up to 255; the frame record holds at most 64 bytes.
    const int len = std::min<int>(static_cast<int>(info & 0xFF), 64);
    f.length = static_cast<uint8_t>(len);
    f.rtr = (info & kCvUdpInfoRemote) ? 1 : 0;
    f.fdFlags = len > 8 ? CanFrame::kFdf : 0;
    // Only eight data bytes cross the link; the rest of the frame stays zero.
    if (!f.rtr) std::memcpy(f.data, e + 12, static_cast<size_t>(std::min(len, 8)));
    const uint32_t selector = (info >> kBusSelectorShift) & 3;

    if (info & kCvUdpInfoTxRequest) {
      if ((roleFlags_.load() & kRoleServer) == 0) continue;
      f.timestamp = 0;
      if (selector != 0) f.id = (f.id & ~CanFrame::kBusMask) | (selector << CanFrame::kBusShift);
      hub_.relay(f);
    } else {
      f.id |= 0x80000000u;
      if (selector & 1) f.id |= 0x40000000u;
      f.timestamp = GetU32(e + 8);
      m.ring.push(f);  // a full ring counts the drop
    }
  }
}

// ------------------------------------------------------------------------------------------------
// Sending

int CvUdpEndpoint::sendPacket(const uint8_t* bytes, int length) {
  Impl& m = *impl_;
  DeferredMessageQueue& msg = hub_.messages();
  uint32_t ip;
  uint16_t port;
  {
    std::lock_guard<std::mutex> lock(m.mutex);
    ip = m.peerIp;
    port = m.peerPort;
  }
  std::lock_guard<std::mutex> lock(hub_.sendLock());
  const int fd = m.fd.load();
  if (fd < 0) {
    if (!m.sendFailureReported.exchange(true)) msg.QueueCanMessage("CvUDP_Send: socket not 'connected' !");
    return 0;
  }
  const sockaddr_in to = MakeAddr(ip, port);
  const ssize_t n = sendto(fd, bytes, static_cast<size_t>(length), MSG_NOSIGNAL,
                           reinterpret_cast<const sockaddr*>(&to), sizeof to);
  if (n < 0) {
    // Reported once until a send succeeds again: a dead peer must not flood the message queue.
    const int err = errno;
    if (!m.sendFailureReported.exchange(true))
      msg.QueueCanMessage("UDP_Send: sendto failed, error code %d !", err);
    return 0;
  }
  if (n != length) {
    msg.QueueCanMessage("CvUDP_Send: sendto only sent %d instead of %d bytes !", static_cast<int>(n), length);
    return 0;
  }
  m.sendFailureReported.store(false);
  m.packetsSent.fetch_add(1, std::memory_order_relaxed);
  return 1;
}

int CvUdpEndpoint::sendCommand(uint8_t code, uint8_t argA, uint8_t argB, const uint32_t p[4]) {
  CvUdpCommand cmd;
  cmd.code = code;
  cmd.argA = argA;
  cmd.argB = argB;
  cmd.paramCount = 4;
  for (int i = 0; i < 4; ++i) cmd.p[i] = p[i];
  uint8_t packet[24];
  CvUdpBuildCommand(cmd, packet);
  return sendPacket(packet, sizeof packet);
}

int CvUdpEndpoint::sendFrame(CanFrame& frame, bool asTransmitRequest) {
  uint32_t info = (asTransmitRequest ? kCvUdpInfoTxRequest : kCvUdpInfoRxReport) | frame.length;
  if (asTransmitRequest && (frame.id & CanFrame::kBusMask) == CanFrame::kBusMask)
    info |= 1u << kBusSelectorShift;
  if (frame.rtr) info |= kCvUdpInfoRemote;
  uint8_t data8[8] = {};
  if (!frame.rtr) std::memcpy(data8, frame.data, std::min<size_t>(frame.length, 8));
  uint8_t packet[80];
  CvUdpBuildFrame(frame.id, info, frame.timestamp, data8, packet);
  if (!sendPacket(packet, sizeof packet)) return 0;
  frame.timestamp = hub_.tick();
  return 1;
}

int CvUdpEndpoint::sendBitRate(int channel, int baudKbit) {
  const uint32_t p[4] = {static_cast<uint32_t>(baudKbit), 0xFFFFFFFFu, 0xFFFFFFFFu, 0};
  return sendCommand(kCvUdpCanBitTiming, kBitTimingArgA, static_cast<uint8_t>(channel), p);
}

// ------------------------------------------------------------------------------------------------
// Consumer side and queries

bool CvUdpEndpoint::popFrame(CanFrame& out) {
  if (!impl_->ring.pop(out)) return false;
  uint32_t rate = peerTickRate_.load();
  if (rate == 0) rate = kOwnTickRate;
  out.timestamp = static_cast<uint32_t>(static_cast<uint64_t>(out.timestamp) * 1000u / rate);
  return true;
}

uint64_t CvUdpEndpoint::takeDroppedFrames() {
  const uint64_t total = impl_->ring.dropped();
  const uint64_t fresh = total - impl_->droppedTaken;
  impl_->droppedTaken = total;
  return fresh;
}

uint64_t CvUdpEndpoint::takeKernelDrops() {
  const uint64_t total = impl_->kernelDropped.load(std::memory_order_relaxed);
  const uint64_t fresh = total - impl_->kernelDropsTaken;
  impl_->kernelDropsTaken = total;
  return fresh;
}

uint64_t CvUdpEndpoint::takeMalformedBytes() {
  const uint64_t total = impl_->reassemblerBytes.load(std::memory_order_relaxed) +
                         impl_->rejectedBytes.load(std::memory_order_relaxed);
  const uint64_t fresh = total - impl_->malformedBytesTaken;
  impl_->malformedBytesTaken = total;
  return fresh;
}

double CvUdpEndpoint::peerTimeMs() const {
  Impl& m = *impl_;
  const uint32_t now = hub_.tick();
  std::lock_guard<std::mutex> lock(m.mutex);
  if (!m.haveTimestamp) return static_cast<double>(now);
  uint32_t rate = peerTickRate_.load();
  if (rate == 0) rate = kOwnTickRate;
  const uint64_t refMs = static_cast<uint64_t>(m.peerTickRef) * 1000u / rate;
  return static_cast<double>(refMs) + static_cast<double>(static_cast<uint32_t>(now - m.ownTickRef));
}

CvUdpCounters CvUdpEndpoint::counters() const {
  const Impl& m = *impl_;
  CvUdpCounters c;
  c.packetsReceived = m.packetsReceived.load();
  c.packetsSent = m.packetsSent.load();
  c.connections = m.connections.load();
  c.framesDropped = m.ring.dropped() - m.droppedBase.load();
  c.datagramsTooLarge = m.tooLarge.load();
  c.malformedHeaders = m.malformed.load(std::memory_order_relaxed);
  c.partialsDropped = m.partialsDropped.load(std::memory_order_relaxed);
  c.partialsEvicted = m.partialsEvicted.load(std::memory_order_relaxed);
  c.malformedBytes =
      m.reassemblerBytes.load(std::memory_order_relaxed) + m.rejectedBytes.load(std::memory_order_relaxed);
  c.kernelDropped = m.kernelDropped.load(std::memory_order_relaxed);
  return c;
}

}  // namespace busprobe
