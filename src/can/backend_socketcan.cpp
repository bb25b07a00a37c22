// Interface type 9: the native Linux CAN bus. One raw socket per bus on the interface named in the
// settings, CAN FD and error messages switched on. Bit rates belong to the system (ip link): opening a
// controller only opens its socket, and the rate is read back from the kernel's link description.
// Reads never block; a receive thread would only add a second queue in front of the kernel's.
#include <fcntl.h>
#include <linux/can/error.h>
#include <linux/can/netlink.h>
#include <linux/can/raw.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <net/if_arp.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <string>

#include "can/can_backend.h"
#include "can/socketcan_convert.h"
#include "can/ucan.h"  // the status bits

namespace busprobe {

// ---------------------------------------------------------------------------------------------
// Conversions

SocketCanRead SocketCanDecode(const canfd_frame& in, size_t bytes, int bus, CanFrame& out,
                              SocketCanError& error) {
  error = SocketCanError{};
  if (bytes != CAN_MTU && bytes != CANFD_MTU) return SocketCanRead::kInvalid;

  if (in.can_id & CAN_ERR_FLAG) {
    if (bytes != CAN_MTU) return SocketCanRead::kInvalid;
    const canid_t cls = in.can_id & CAN_ERR_MASK;
    error.errorFrame = (cls & (CAN_ERR_PROT | CAN_ERR_ACK | CAN_ERR_BUSERROR | CAN_ERR_TRX)) != 0;
    if (cls & CAN_ERR_TX_TIMEOUT) error.events |= kUcanTxError;
    if (cls & CAN_ERR_CRTL) {
      const uint8_t ctrl = in.data[1];
      if (ctrl & CAN_ERR_CRTL_RX_OVERFLOW) error.events |= kUcanRxOvf;
      if (ctrl & CAN_ERR_CRTL_TX_OVERFLOW) error.events |= kUcanTxOvf;
      const uint8_t stateBits = CAN_ERR_CRTL_RX_WARNING | CAN_ERR_CRTL_TX_WARNING | CAN_ERR_CRTL_RX_PASSIVE |
                                CAN_ERR_CRTL_TX_PASSIVE | CAN_ERR_CRTL_ACTIVE;
      if (ctrl & stateBits) {
        // A state report names the state the controller is in now, in either direction.
        error.clear |= kUcanWarning | kUcanBusError | kUcanBusOff;
        if (ctrl & (CAN_ERR_CRTL_RX_WARNING | CAN_ERR_CRTL_TX_WARNING)) error.set |= kUcanWarning;
        if (ctrl & (CAN_ERR_CRTL_RX_PASSIVE | CAN_ERR_CRTL_TX_PASSIVE)) error.set |= kUcanBusError;
      }
    }
    if (cls & CAN_ERR_RESTARTED) error.clear |= kUcanBusOff | kUcanBusError | kUcanWarning;
    if (cls & CAN_ERR_BUSOFF) {
      error.set |= kUcanBusOff;
      error.clear &= static_cast<uint8_t>(~kUcanBusOff);
    }
    return SocketCanRead::kError;
  }

  out = CanFrame{};
  if (in.can_id & CAN_EFF_FLAG) {
    out.id = (in.can_id & CAN_EFF_MASK) | CanFrame::kExtended;
  } else {
    out.id = in.can_id & CAN_SFF_MASK;
  }
  out.setBus(bus);
  int length = in.len;
  if (bytes == CAN_MTU) {
    out.rtr = (in.can_id & CAN_RTR_FLAG) ? 1 : 0;
    length = std::min(length, 8);
  } else {
    out.fdFlags = CanFrame::kFdf;
    if (in.flags & CANFD_BRS) out.fdFlags |= CanFrame::kBrs;
    if (in.flags & CANFD_ESI) out.fdFlags |= CanFrame::kEsi;
    length = CanRoundUpFdLength(std::min(length, 64));
  }
  out.length = static_cast<uint8_t>(length);
  if (!out.rtr) std::memcpy(out.data, in.data, static_cast<size_t>(std::min<int>(length, in.len)));
  return SocketCanRead::kFrame;
}

size_t SocketCanEncode(const CanFrame& in, canfd_frame& out) {
  out = canfd_frame{};
  if (in.length > 64) return 0;
  const bool fd = in.isFd() || in.length > 8;
  if (fd && in.rtr) return 0;
  // An identifier that does not fit 11 bits can only go out as an extended one.
  if (in.extended() || (in.identifier() & ~CAN_SFF_MASK)) {
    out.can_id = (in.identifier() & CAN_EFF_MASK) | CAN_EFF_FLAG;
  } else {
    out.can_id = in.identifier() & CAN_SFF_MASK;
  }
  if (fd) {
    out.len = static_cast<uint8_t>(CanRoundUpFdLength(in.length));
    out.flags = CANFD_FDF;
    if (in.fdFlags & CanFrame::kBrs) out.flags |= CANFD_BRS;
    if (in.fdFlags & CanFrame::kEsi) out.flags |= CANFD_ESI;
    std::memcpy(out.data, in.data, in.length);
    return CANFD_MTU;
  }
  out.len = in.length;
  if (in.rtr) {
    out.can_id |= CAN_RTR_FLAG;
  } else {
    std::memcpy(out.data, in.data, in.length);
  }
  return CAN_MTU;
}

namespace {

// Visits the attributes in [begin, end) of a routing message; stops at the first malformed one.
template <typename Visit>
void ForEachAttribute(const uint8_t* message, size_t begin, size_t end, Visit visit) {
  while (begin + sizeof(rtattr) <= end) {
    rtattr attr;
    std::memcpy(&attr, message + begin, sizeof attr);
    if (attr.rta_len < sizeof(rtattr) || attr.rta_len > end - begin) return;
    visit(static_cast<unsigned>(attr.rta_type & NLA_TYPE_MASK), begin + RTA_LENGTH(0), begin + attr.rta_len);
    begin += RTA_ALIGN(attr.rta_len);
  }
}

uint32_t ReadBitrate(const uint8_t* message, size_t begin, size_t end) {
  uint32_t bitrate = 0;  // the first member of the bit-timing record
  if (end - begin >= sizeof(can_bittiming)) std::memcpy(&bitrate, message + begin, sizeof bitrate);
  return bitrate;
}

}  // namespace

bool SocketCanParseLinkBitrates(const uint8_t* message, size_t length, uint32_t& bitrate,
                                uint32_t& dataBitrate) {
  bitrate = dataBitrate = 0;
  if (!message) return false;
  bool found = false;
  size_t offset = 0;
  while (offset + sizeof(nlmsghdr) <= length) {
    nlmsghdr header;
    std::memcpy(&header, message + offset, sizeof header);
    if (header.nlmsg_len < sizeof(nlmsghdr) || header.nlmsg_len > length - offset) break;
    const size_t end = offset + header.nlmsg_len;
    const size_t attributes = offset + NLMSG_HDRLEN + NLMSG_ALIGN(sizeof(ifinfomsg));
    if (header.nlmsg_type == RTM_NEWLINK && attributes <= end) {
      found = true;
      ForEachAttribute(message, attributes, end, [&](unsigned type, size_t b, size_t e) {
        if (type != IFLA_LINKINFO) return;
        bool isCan = false;
        size_t dataBegin = 0, dataEnd = 0;
        ForEachAttribute(message, b, e, [&](unsigned infoType, size_t ib, size_t ie) {
          if (infoType == IFLA_INFO_KIND) {
            isCan = ie - ib >= 3 && std::memcmp(message + ib, "can", 3) == 0 &&
                    (ie - ib == 3 || message[ib + 3] == 0);
          } else if (infoType == IFLA_INFO_DATA) {
            dataBegin = ib;
            dataEnd = ie;
          }
        });
        // Other link kinds number their attributes differently.
        if (!isCan || dataEnd == 0) return;
        ForEachAttribute(message, dataBegin, dataEnd, [&](unsigned canType, size_t cb, size_t ce) {
          if (canType == IFLA_CAN_BITTIMING) bitrate = ReadBitrate(message, cb, ce);
          if (canType == IFLA_CAN_DATA_BITTIMING) dataBitrate = ReadBitrate(message, cb, ce);
        });
      });
    }
    offset += NLMSG_ALIGN(header.nlmsg_len);
  }
  return found;
}

// ---------------------------------------------------------------------------------------------
// The back-end

namespace {

std::string SystemText(int err) {
  return std::strerror(err);
}

class SocketCanBackend final : public CanBackend {
 public:
  explicit SocketCanBackend(CanBackendHost& host) : CanBackend(host, kIntfSocketCan) {}
  ~SocketCanBackend() override { close(); }

  int open() override { return 1; }

  void close() override {
    for (Channel& c : channel_) closeChannel(c);
  }

  int initCtrl(int bus, int, int) override {
    Channel& c = channel_[bus];
    closeChannel(c);
    c.name = interfaceName(bus);
    if (c.name.empty()) {
      host_.setError("UCAN_InitCtrl: No SocketCAN interface configured for CAN%d !", bus + 1);
      return 0;
    }
    if (c.name.size() >= IFNAMSIZ) {
      host_.setError("UCAN_InitCtrl: SocketCAN interface name \"%s\" is too long !", c.name.c_str());
      return 0;
    }
    const unsigned index = if_nametoindex(c.name.c_str());
    if (index == 0) {
      host_.setError("UCAN_InitCtrl: SocketCAN interface \"%s\" not found (%s) !", c.name.c_str(),
                     SystemText(errno).c_str());
      return 0;
    }
    if (!checkInterface(c.name)) return 0;

    const int fd = socket(PF_CAN, SOCK_RAW | SOCK_NONBLOCK | SOCK_CLOEXEC, CAN_RAW);
    if (fd < 0) {
      host_.setError("UCAN_InitCtrl: No SocketCAN support in this system (%s) !", SystemText(errno).c_str());
      return 0;
    }
    const int on = 1;
    // Kernels without CAN FD refuse the option; classic frames still work there.
    c.fdCapable = setsockopt(fd, SOL_CAN_RAW, CAN_RAW_FD_FRAMES, &on, sizeof on) == 0;
    const can_err_mask_t errors = CAN_ERR_MASK;
    setsockopt(fd, SOL_CAN_RAW, CAN_RAW_ERR_FILTER, &errors, sizeof errors);
    // The kernel then tells with every frame how many it had to drop for this socket.
    setsockopt(fd, SOL_SOCKET, SO_RXQ_OVFL, &on, sizeof on);

    sockaddr_can address{};
    address.can_family = AF_CAN;
    address.can_ifindex = static_cast<int>(index);
    if (bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
      const int err = errno;
      ::close(fd);
      host_.setError("UCAN_InitCtrl: Bind to SocketCAN interface \"%s\" failed (%s) !", c.name.c_str(),
                     SystemText(err).c_str());
      return 0;
    }
    c.fd = fd;
    c.state = c.events = 0;
    c.kernelDrops = 0;
    return 1;
  }

  int setBaudrate(int, int, int) override { return 1; }

  int getBaudrate(int bus, int* baudKbit, int* fdDataRate, std::string*) override {
    const std::string name = interfaceName(bus);
    const unsigned index = name.empty() ? 0 : if_nametoindex(name.c_str());
    uint32_t bitrate = 0, dataBitrate = 0;
    if (index == 0 || !queryBitrates(index, bitrate, dataBitrate) || bitrate == 0) {
      host_.setError("UCAN_GetBaudrate: not supported !");
      return 0;
    }
    *baudKbit = static_cast<int>(bitrate / 1000);
    if (fdDataRate) *fdDataRate = static_cast<int>(dataBitrate / 1000);
    return 1;
  }

  int isChannelOpen(int bus) override { return channel_[bus].fd >= 0 ? 1 : 0; }

  uint8_t status(int bus) override {
    Channel& c = channel_[bus];
    const uint8_t status = c.state | c.events;
    c.events = 0;
    return status;
  }

  int setRcvId(int bus, uint32_t id, uint32_t mask) override {
    Channel& c = channel_[bus];
    if (c.fd < 0) {
      host_.setError("UCAN_SetRcvID: SocketCAN interface of CAN%d not open !", bus + 1);
      return 0;
    }
    // Without the flag bits in the mask the kernel matches standard and extended frames alike.
    can_filter filter{};
    filter.can_id = id & CAN_EFF_MASK;
    filter.can_mask = mask & CAN_EFF_MASK;
    if (setsockopt(c.fd, SOL_CAN_RAW, CAN_RAW_FILTER, &filter, sizeof filter) != 0) {
      host_.setError("UCAN_SetRcvID: SocketCAN filter not accepted (%s) !", SystemText(errno).c_str());
      return 0;
    }
    return 1;
  }

  int receive(int bus, CanFrame& out) override {
    if (bus != 255) return readChannel(bus, out);
    // Alternate which bus is asked first, so that a busy bus cannot starve the other.
    for (int i = 0; i < 2; ++i) {
      const int b = (nextBus_ + i) & 1;
      if (channel_[b].fd < 0) continue;
      if (readChannel(b, out)) {
        nextBus_ = b ^ 1;
        return 1;
      }
    }
    return 0;
  }

  int txBusy(int) override { return 0; }

  int transmit(int bus, CanFrame& frame) override {
    Channel& c = channel_[bus];
    if (c.fd < 0) {
      host_.setError("UCAN_Transmit: SocketCAN interface of CAN%d not open !", bus + 1);
      return kTransmitRefused;
    }
    canfd_frame record;
    const size_t bytes = SocketCanEncode(frame, record);
    if (bytes == 0) {
      host_.setError("UCAN_Transmit: Frame cannot be sent (remote frame with CAN FD or more than 8 bytes) !");
      return kTransmitRefused;
    }
    if (bytes == CANFD_MTU && !c.fdCapable) {
      host_.setError("UCAN_Transmit: SocketCAN interface \"%s\" does not take CAN FD frames !",
                     c.name.c_str());
      return kTransmitRefused;
    }
    frame.timestamp = host_.clockMsWhole();
    const ssize_t n = send(c.fd, &record, bytes, MSG_DONTWAIT);
    if (n != static_cast<ssize_t>(bytes)) {
      const int err = n < 0 ? errno : EIO;
      // A full queue is the transmitter's overflow; everything else is a transmit error.
      c.state |= (err == ENOBUFS || err == EAGAIN) ? kUcanTxOvf : kUcanTxError;
      host_.setError("UCAN_Transmit: Write to SocketCAN interface \"%s\" failed (%s) !", c.name.c_str(),
                     SystemText(err).c_str());
      // The kernel refuses a frame it can never pass on with these; anything else may clear.
      return (err == EINVAL || err == EMSGSIZE) ? kTransmitRefused : 0;
    }
    c.state &= static_cast<uint8_t>(~(kUcanTxOvf | kUcanTxError));
    return 1;
  }

  uint64_t takeDropped(uint8_t& busMask) override {
    busMask = 0;
    uint64_t dropped = 0;
    for (int bus = 0; bus < 2; ++bus) {
      if (!channel_[bus].newDrops) continue;
      dropped += channel_[bus].newDrops;
      channel_[bus].newDrops = 0;
      busMask |= static_cast<uint8_t>(1 << bus);
    }
    return dropped;
  }

  uint32_t errorFrames(int bus) const override { return channel_[bus].errorFrames; }

 private:
  struct Channel {
    int fd = -1;
    std::string name;
    bool fdCapable = false;
    uint8_t state = 0;   // controller state from the error messages, kept until it changes
    uint8_t events = 0;  // reported by the next status call, then forgotten
    uint32_t errorFrames = 0;
    uint32_t kernelDrops = 0;  // the kernel's running count for the socket
    uint64_t newDrops = 0;
  };

  std::string interfaceName(int bus) const {
    return bus == 0 ? host_.params().socketCanIf1 : host_.params().socketCanIf2;
  }

  void closeChannel(Channel& c) {
    if (c.fd >= 0) ::close(c.fd);
    c.fd = -1;
  }

  // Says plainly when the interface is no CAN interface or is down, instead of failing later.
  bool checkInterface(const std::string& name) {
    const int probe = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (probe < 0) return true;  // nothing to ask with; bind will tell
    ifreq request{};
    std::memcpy(request.ifr_name, name.c_str(), name.size());
    bool ok = true;
    if (ioctl(probe, SIOCGIFHWADDR, &request) == 0 && request.ifr_hwaddr.sa_family != ARPHRD_CAN) {
      host_.setError("UCAN_InitCtrl: \"%s\" is not a CAN interface !", name.c_str());
      ok = false;
    } else if (ioctl(probe, SIOCGIFFLAGS, &request) == 0 && !(request.ifr_flags & IFF_UP)) {
      host_.setError(
          "UCAN_InitCtrl: SocketCAN interface \"%s\" is down (set it up with \"ip link set %s up\") !",
          name.c_str(), name.c_str());
      ok = false;
    }
    ::close(probe);
    return ok;
  }

  int readChannel(int bus, CanFrame& out) {
    Channel& c = channel_[bus];
    if (c.fd < 0) return 0;
    // Error messages are consumed here and never delivered; a burst of them must not hold the
    // caller for long, so give up after a bounded number.
    for (int attempt = 0; attempt < 64; ++attempt) {
      canfd_frame record;
      iovec io{&record, sizeof record};
      alignas(cmsghdr) char control[CMSG_SPACE(sizeof(uint32_t))];
      msghdr message{};
      message.msg_iov = &io;
      message.msg_iovlen = 1;
      message.msg_control = control;
      message.msg_controllen = sizeof control;
      const ssize_t n = recvmsg(c.fd, &message, MSG_DONTWAIT);
      if (n < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return 0;
        host_.setError("UCAN_Receive: Read from SocketCAN interface \"%s\" failed (%s) !", c.name.c_str(),
                       SystemText(errno).c_str());
        return 0;
      }
      noteKernelDrops(c, message);
      SocketCanError error;
      switch (SocketCanDecode(record, static_cast<size_t>(n), bus, out, error)) {
        case SocketCanRead::kFrame:
          out.timestamp = host_.clockMsWhole();
          return 1;
        case SocketCanRead::kError:
          if (error.errorFrame) ++c.errorFrames;
          c.state = SocketCanApplyState(c.state, error);
          c.events |= error.events;
          break;
        case SocketCanRead::kInvalid:
          break;
      }
    }
    return 0;
  }

  static void noteKernelDrops(Channel& c, msghdr& message) {
    for (cmsghdr* cm = CMSG_FIRSTHDR(&message); cm; cm = CMSG_NXTHDR(&message, cm)) {
      if (cm->cmsg_level != SOL_SOCKET || cm->cmsg_type != SO_RXQ_OVFL) continue;
      uint32_t total = 0;
      std::memcpy(&total, CMSG_DATA(cm), sizeof total);
      c.newDrops += static_cast<uint32_t>(total - c.kernelDrops);  // the kernel's count wraps
      c.kernelDrops = total;
    }
  }

  static bool queryBitrates(unsigned index, uint32_t& bitrate, uint32_t& dataBitrate) {
    const int fd = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
    if (fd < 0) return false;
    struct {
      nlmsghdr header;
      ifinfomsg info;
    } request{};
    request.header.nlmsg_len = sizeof request;
    request.header.nlmsg_type = RTM_GETLINK;
    request.header.nlmsg_flags = NLM_F_REQUEST;
    request.header.nlmsg_seq = 1;
    request.info.ifi_family = AF_UNSPEC;
    request.info.ifi_index = static_cast<int>(index);
    timeval timeout{1, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    bool ok = false;
    if (send(fd, &request, sizeof request, 0) == static_cast<ssize_t>(sizeof request)) {
      constexpr size_t kAnswerWords = 4096;
      auto answer = std::make_unique<uint64_t[]>(kAnswerWords);
      const ssize_t n = recv(fd, answer.get(), kAnswerWords * sizeof(uint64_t), 0);
      if (n > 0) {
        ok = SocketCanParseLinkBitrates(reinterpret_cast<const uint8_t*>(answer.get()),
                                        static_cast<size_t>(n), bitrate, dataBitrate);
      }
    }
    ::close(fd);
    return ok;
  }

  Channel channel_[2];
  int nextBus_ = 0;
};

}  // namespace

std::unique_ptr<CanBackend> MakeSocketCanBackend(CanBackendHost& host) {
  return std::make_unique<SocketCanBackend>(host);
}

}  // namespace busprobe
