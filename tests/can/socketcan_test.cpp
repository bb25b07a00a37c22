#include <gtest/gtest.h>
#include <linux/can/error.h>
#include <linux/can/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>

#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "can/socketcan_convert.h"
#include "can/ucan.h"

namespace busprobe {
namespace {

CanFrame RoundTrip(const CanFrame& in, size_t* bytesOut = nullptr) {
  canfd_frame record;
  const size_t bytes = SocketCanEncode(in, record);
  if (bytesOut) *bytesOut = bytes;
  CanFrame out;
  SocketCanError error;
  EXPECT_EQ(SocketCanDecode(record, bytes, 1, out, error), SocketCanRead::kFrame);
  return out;
}

TEST(SocketCanConvert, ClassicFramesRoundTrip) {
  CanFrame std11;
  std11.id = 0x7FF;
  std11.length = 3;
  std11.data[0] = 1;
  std11.data[2] = 3;
  size_t bytes = 0;
  CanFrame back = RoundTrip(std11, &bytes);
  EXPECT_EQ(bytes, CAN_MTU);
  EXPECT_EQ(back.id, 0x40000000u | 0x7FFu);  // the bus index comes from the socket
  EXPECT_EQ(back.length, 3);
  EXPECT_EQ(back.data[2], 3);
  EXPECT_EQ(back.fdFlags, 0);

  CanFrame ext;
  ext.id = CanFrame::kExtended | 0x1ABCDEFu;
  ext.setBus(1);
  ext.length = 8;
  ext.data[7] = 0xEE;
  back = RoundTrip(ext);
  EXPECT_EQ(back.id, ext.id);
  EXPECT_EQ(back.data[7], 0xEE);

  CanFrame rtr;
  rtr.id = 0x123;
  rtr.rtr = 1;
  rtr.length = 4;
  rtr.data[0] = 0x55;  // a remote frame carries no data
  canfd_frame record;
  ASSERT_EQ(SocketCanEncode(rtr, record), CAN_MTU);
  EXPECT_EQ(record.can_id, 0x123u | CAN_RTR_FLAG);
  EXPECT_EQ(record.len, 4);
  EXPECT_EQ(record.data[0], 0);
  back = RoundTrip(rtr);
  EXPECT_EQ(back.rtr, 1);
  EXPECT_EQ(back.length, 4);
  EXPECT_EQ(back.data[0], 0);
}

TEST(SocketCanConvert, IdentifierBeyondElevenBitsGoesOutExtended) {
  CanFrame f;
  f.id = 0x800;  // no extended bit, but a standard frame cannot hold it
  f.length = 0;
  canfd_frame record;
  ASSERT_EQ(SocketCanEncode(f, record), CAN_MTU);
  EXPECT_EQ(record.can_id, 0x800u | CAN_EFF_FLAG);
}

TEST(SocketCanConvert, FdFramesKeepFlagsAndAllSixtyFourBytes) {
  CanFrame fd;
  fd.id = 0x321;
  fd.length = 64;
  fd.fdFlags = CanFrame::kFdf | CanFrame::kBrs | CanFrame::kEsi;
  for (int i = 0; i < 64; ++i) fd.data[i] = static_cast<uint8_t>(i + 1);
  size_t bytes = 0;
  CanFrame back = RoundTrip(fd, &bytes);
  EXPECT_EQ(bytes, CANFD_MTU);
  EXPECT_EQ(back.length, 64);
  EXPECT_EQ(back.fdFlags, fd.fdFlags);
  EXPECT_EQ(std::memcmp(back.data, fd.data, 64), 0);

  // Ten bytes without the FD flag: still an FD frame, padded to the next valid length.
  CanFrame ten;
  ten.id = 0x10;
  ten.length = 10;
  ten.data[9] = 0x99;
  canfd_frame record;
  ASSERT_EQ(SocketCanEncode(ten, record), CANFD_MTU);
  EXPECT_EQ(record.len, 12);
  EXPECT_EQ(record.flags & CANFD_BRS, 0);
  back = RoundTrip(ten);
  EXPECT_EQ(back.length, 12);
  EXPECT_EQ(back.data[9], 0x99);
  EXPECT_EQ(back.data[10], 0);
  EXPECT_EQ(back.fdFlags, CanFrame::kFdf);
}

TEST(SocketCanConvert, FramesThatCannotExistAreRefused) {
  canfd_frame record;
  CanFrame f;
  f.rtr = 1;
  f.fdFlags = CanFrame::kFdf;
  EXPECT_EQ(SocketCanEncode(f, record), 0u);
  f.fdFlags = 0;
  f.length = 12;
  EXPECT_EQ(SocketCanEncode(f, record), 0u);
  f.rtr = 0;
  f.length = 65;
  EXPECT_EQ(SocketCanEncode(f, record), 0u);

  CanFrame out;
  SocketCanError error;
  std::memset(&record, 0, sizeof record);
  EXPECT_EQ(SocketCanDecode(record, 8, 0, out, error), SocketCanRead::kInvalid);
  record.len = 200;  // a corrupt record must not read past the data
  EXPECT_EQ(SocketCanDecode(record, CAN_MTU, 0, out, error), SocketCanRead::kFrame);
  EXPECT_EQ(out.length, 8);
}

canfd_frame ErrorRecord(canid_t classes, uint8_t controller = 0) {
  canfd_frame r{};
  r.can_id = CAN_ERR_FLAG | classes;
  r.len = CAN_ERR_DLC;
  r.data[1] = controller;
  return r;
}

TEST(SocketCanConvert, ErrorMessagesDriveTheControllerState) {
  struct Step {
    canid_t classes;
    uint8_t controller;
    bool errorFrame;
    uint8_t stateAfter;
    uint8_t events;
  };
  const Step steps[] = {
      {CAN_ERR_PROT | CAN_ERR_BUSERROR, 0, true, 0, 0},
      {CAN_ERR_CRTL, CAN_ERR_CRTL_RX_WARNING, false, kUcanWarning, 0},
      {CAN_ERR_CRTL, CAN_ERR_CRTL_TX_PASSIVE, false, kUcanBusError, 0},
      {CAN_ERR_BUSOFF, 0, false, kUcanBusError | kUcanBusOff, 0},
      {CAN_ERR_RESTARTED, 0, false, 0, 0},
      {CAN_ERR_CRTL, CAN_ERR_CRTL_TX_WARNING, false, kUcanWarning, 0},
      {CAN_ERR_CRTL, CAN_ERR_CRTL_ACTIVE, false, 0, 0},
      {CAN_ERR_CRTL, CAN_ERR_CRTL_RX_OVERFLOW | CAN_ERR_CRTL_TX_OVERFLOW, false, 0, kUcanRxOvf | kUcanTxOvf},
      {CAN_ERR_ACK | CAN_ERR_TX_TIMEOUT, 0, true, 0, kUcanTxError},
  };
  uint8_t state = 0;
  for (const Step& s : steps) {
    CanFrame out;
    SocketCanError error;
    ASSERT_EQ(SocketCanDecode(ErrorRecord(s.classes, s.controller), CAN_MTU, 0, out, error),
              SocketCanRead::kError);
    state = SocketCanApplyState(state, error);
    EXPECT_EQ(error.errorFrame, s.errorFrame) << std::hex << s.classes;
    EXPECT_EQ(state, s.stateAfter) << std::hex << s.classes;
    EXPECT_EQ(error.events, s.events) << std::hex << s.classes;
  }
}

// Builds routing messages the way the kernel lays them out.
class LinkMessage {
 public:
  LinkMessage() : bytes_(NLMSG_HDRLEN + NLMSG_ALIGN(sizeof(ifinfomsg)), 0) {}
  size_t open(uint16_t type) {
    const size_t at = bytes_.size();
    rtattr a{};
    a.rta_type = type;
    append(&a, sizeof a);
    return at;
  }
  void close(size_t at) {
    const uint16_t length = static_cast<uint16_t>(bytes_.size() - at);
    std::memcpy(bytes_.data() + at, &length, sizeof length);
    bytes_.resize(RTA_ALIGN(bytes_.size()), 0);
  }
  void attribute(uint16_t type, const void* data, size_t size) {
    const size_t at = open(type);
    append(data, size);
    close(at);
  }
  std::vector<uint8_t> finish(uint16_t messageType = RTM_NEWLINK) {
    nlmsghdr header{};
    header.nlmsg_len = static_cast<uint32_t>(bytes_.size());
    header.nlmsg_type = messageType;
    std::memcpy(bytes_.data(), &header, sizeof header);
    return bytes_;
  }

 private:
  void append(const void* data, size_t size) {
    const auto* p = static_cast<const uint8_t*>(data);
    bytes_.insert(bytes_.end(), p, p + size);
  }
  std::vector<uint8_t> bytes_;
};

std::vector<uint8_t> CanLink(const char* kind, uint32_t bitrate, uint32_t dataBitrate) {
  LinkMessage m;
  const uint32_t mtu = 72;
  m.attribute(IFLA_MTU, &mtu, sizeof mtu);
  const size_t info = m.open(IFLA_LINKINFO);
  m.attribute(IFLA_INFO_KIND, kind, std::strlen(kind) + 1);
  const size_t data = m.open(IFLA_INFO_DATA | NLA_F_NESTED);
  can_bittiming timing{};
  timing.bitrate = bitrate;
  if (bitrate) m.attribute(IFLA_CAN_BITTIMING, &timing, sizeof timing);
  timing.bitrate = dataBitrate;
  if (dataBitrate) m.attribute(IFLA_CAN_DATA_BITTIMING, &timing, sizeof timing);
  m.close(data);
  m.close(info);
  return m.finish();
}

TEST(SocketCanConvert, BitRatesAreReadFromTheLinkDescription) {
  uint32_t rate = 0, dataRate = 0;
  auto message = CanLink("can", 500000, 2000000);
  ASSERT_TRUE(SocketCanParseLinkBitrates(message.data(), message.size(), rate, dataRate));
  EXPECT_EQ(rate, 500000u);
  EXPECT_EQ(dataRate, 2000000u);

  // A virtual CAN link has no bit timing; another kind's attribute numbers mean something else.
  message = CanLink("vcan", 0, 0);
  ASSERT_TRUE(SocketCanParseLinkBitrates(message.data(), message.size(), rate, dataRate));
  EXPECT_EQ(rate, 0u);
  message = CanLink("vlan", 500000, 0);
  ASSERT_TRUE(SocketCanParseLinkBitrates(message.data(), message.size(), rate, dataRate));
  EXPECT_EQ(rate, 0u);

  message = CanLink("can", 250000, 0);
  auto error = message;
  const uint16_t errorType = NLMSG_ERROR;
  std::memcpy(error.data() + offsetof(nlmsghdr, nlmsg_type), &errorType, sizeof errorType);
  EXPECT_FALSE(SocketCanParseLinkBitrates(error.data(), error.size(), rate, dataRate));

  // Every truncation of a valid answer is read safely (the sanitizers watch the bounds).
  for (size_t cut = 0; cut < message.size(); ++cut) {
    std::vector<uint8_t> part(message.begin(), message.begin() + static_cast<long>(cut));
    SocketCanParseLinkBitrates(part.data(), part.size(), rate, dataRate);
    EXPECT_TRUE(rate == 0 || rate == 250000u);
  }
}

class UcanSocketCanTest : public ::testing::Test {
 protected:
  int init(const std::string& if1, const std::string& if2) {
    CanInterfaceSettings p;
    p.interfaceType = kIntfSocketCan;
    p.socketCanIf1 = if1;
    p.socketCanIf2 = if2;
    const int ok = ucan.UCAN_Init(p);
    ucan.clearLastError();
    return ok;
  }
  ManualClock clock;
  DeferredMessageQueue queue;
  Ucan ucan{clock, queue};
};

TEST_F(UcanSocketCanTest, EveryFailureSaysWhatIsWrong) {
  ASSERT_EQ(init("bpnone0", "lo"), 1);
  EXPECT_EQ(ucan.UCAN_InitCtrl(0, 500, 0), 0);
  EXPECT_EQ(ucan.takeLastError(),
            "UCAN_InitCtrl: SocketCAN interface \"bpnone0\" not found (No such device) !");
  if (if_nametoindex("lo") != 0) {
    EXPECT_EQ(ucan.UCAN_InitCtrl(1, 500, 0), 0);
    EXPECT_EQ(ucan.takeLastError(), "UCAN_InitCtrl: \"lo\" is not a CAN interface !");
  }
  EXPECT_EQ(ucan.UCAN_IsChannelOpen(0), 0);

  int baud = -1;
  EXPECT_EQ(ucan.UCAN_GetBaudrate(0, &baud), 0);
  EXPECT_EQ(baud, 0);
  EXPECT_EQ(ucan.takeLastError(), "UCAN_GetBaudrate: not supported !");

  CanFrame f;
  EXPECT_EQ(ucan.UCAN_Transmit(0, f), 0);
  EXPECT_EQ(ucan.takeLastError(), "UCAN_Transmit: SocketCAN interface of CAN1 not open !");
  EXPECT_EQ(ucan.UCAN_SetRcvID(1, 0, 0), 0);
  EXPECT_EQ(ucan.takeLastError(), "UCAN_SetRcvID: SocketCAN interface of CAN2 not open !");
  EXPECT_EQ(ucan.UCAN_Receive(255, f), 0);
  EXPECT_TRUE(ucan.lastError().empty());

  ASSERT_EQ(init("", "a-name-much-too-long-for-linux"), 1);
  EXPECT_EQ(ucan.UCAN_InitCtrl(0, 500, 0), 0);
  EXPECT_EQ(ucan.takeLastError(), "UCAN_InitCtrl: No SocketCAN interface configured for CAN1 !");
  EXPECT_EQ(ucan.UCAN_InitCtrl(1, 500, 0), 0);
  EXPECT_EQ(ucan.takeLastError(),
            "UCAN_InitCtrl: SocketCAN interface name \"a-name-much-too-long-for-linux\" is too long !");
}

// Runs only where a virtual CAN interface is up (ip link add vcan0 type vcan; ip link set vcan0 up).
TEST_F(UcanSocketCanTest, FramesCrossALiveVirtualInterface) {
  if (if_nametoindex("vcan0") == 0) GTEST_SKIP() << "no vcan0 on this machine";
  Ucan peer(clock, queue);
  CanInterfaceSettings p;
  p.interfaceType = kIntfSocketCan;
  p.socketCanIf1 = "vcan0";
  ASSERT_EQ(peer.UCAN_Init(p), 1);
  ASSERT_EQ(init("vcan0", ""), 1);
  ASSERT_EQ(ucan.UCAN_InitCtrl(0, 500, 0), 1) << ucan.lastError();
  ASSERT_EQ(peer.UCAN_InitCtrl(0, 500, 0), 1) << peer.lastError();
  CanFrame f;
  f.id = CanFrame::kExtended | 0x1234;
  f.length = 2;
  f.data[1] = 0xAB;
  ASSERT_EQ(ucan.UCAN_Transmit(0, f), 1) << ucan.lastError();
  CanFrame got;
  bool received = false;
  for (int i = 0; i < 1000 && !received; ++i) {
    received = peer.UCAN_Receive(255, got) == 1;
    if (!received) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ASSERT_TRUE(received);
  EXPECT_EQ(got.id, f.id);
  EXPECT_EQ(got.data[1], 0xAB);
}

}  // namespace
}  // namespace busprobe
