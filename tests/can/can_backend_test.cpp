// Back-ends on their own, on a fake host that records what they ask for; the interface-type table;
// and the last-error texts passing the translator.
#include "can/can_backend.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "base/translator.h"
#include "can/interface_types.h"
#include "can/ucan.h"
#include "can/virtual_bus.h"

namespace busprobe {
namespace {

class FakeHost final : public CanBackendHost {
 public:
  void setErrorV(const char* format, va_list args) override {
    char buf[512];
    std::vsnprintf(buf, sizeof buf, format, args);
    errors.emplace_back(buf);
  }
  uint32_t clockMsWhole() override { return nowMs; }
  const CanInterfaceSettings& params() const override { return settings; }
  int baudrate(int bus) const override { return baud[bus]; }
  int fdDataRate(int bus) const override { return fdRate[bus]; }
  std::shared_ptr<VirtualBus> virtualBus() override { return bus; }
  CvUdpEndpoint* cvudpEndpoint() override { return nullptr; }

  std::vector<std::string> errors;
  uint32_t nowMs = 0;
  CanInterfaceSettings settings;
  int baud[2] = {}, fdRate[2] = {};
  std::shared_ptr<VirtualBus> bus = VirtualBus::create();
};

TEST(CanBackendAlone, VendorBackendWithoutItsLibraryNamesWhatIsMissing) {
  const CanInterfaceTable table;
  FakeHost host;
  auto kvaser = table.makeBackend(host, kIntfKvaser);
  EXPECT_EQ(kvaser->open(), 0);
  EXPECT_EQ(kvaser->initCtrl(0, 500, 0), 0);
  int baud = -1;
  EXPECT_EQ(kvaser->getBaudrate(1, &baud, nullptr, nullptr), 0);
  EXPECT_EQ(baud, 0);
  EXPECT_EQ(kvaser->txBusy(0), 1);
  EXPECT_EQ(kvaser->status(0), 0) << "polled every tick: no text";
  EXPECT_EQ(host.errors, (std::vector<std::string>{"UCAN_Init: FAILED loading Kvaser's CANLIB32 !",
                                                   "UCAN_InitCtrl: KVASER CANLIB not loaded !",
                                                   "UCAN_GetBaudrate: KVASER CANLIB not loaded !"}));

  // NTCAN has wordings of its own.
  FakeHost other;
  auto ntcan = table.makeBackend(other, kIntfNtcan);
  EXPECT_EQ(ntcan->open(), 0);
  EXPECT_EQ(ntcan->setBaudrate(0, 500, 0), 0);
  CanFrame f;
  EXPECT_EQ(ntcan->transmit(0, f), kTransmitRefused) << "no library: no later attempt can do better";
  EXPECT_EQ(ntcan->txBusy(0), 0);
  EXPECT_EQ(other.errors, (std::vector<std::string>{"UCAN_Init: NTCAN driver (NTCAN.DLL) not loaded !",
                                                    "UCAN_GetBaudrate: NTCAN not initialized !",
                                                    "UCAN_Transmit: NTCAN_INVALID_HANDLE(0x00000006)",
                                                    "UCAN_TxBusy: NTCAN not initialized !"}));
}

TEST(CanBackendAlone, TwoVirtualBackendsShareTheHostsBus) {
  FakeHost a, b;
  b.bus = a.bus;
  auto left = MakeVirtualBackend(a);
  auto right = MakeVirtualBackend(b);
  CanFrame f;
  f.id = 0x321;
  f.length = 1;
  EXPECT_EQ(left->transmit(0, f), kTransmitRefused) << "not open yet";
  EXPECT_EQ(a.errors, (std::vector<std::string>{"UCAN_Transmit: Virtual bus CAN1 not initialized !"}));
  a.errors.clear();
  ASSERT_EQ(left->open(), 1);
  ASSERT_EQ(right->open(), 1);
  ASSERT_EQ(left->initCtrl(0, 250, 0), 1);
  ASSERT_EQ(right->initCtrl(0, 250, 0), 1);

  a.nowMs = 1234;
  ASSERT_EQ(left->transmit(0, f), 1);
  EXPECT_EQ(f.timestamp, 1234u) << "stamped with the host's clock";
  CanFrame got;
  ASSERT_EQ(right->receive(255, got), 1);
  EXPECT_EQ(got.identifier(), 0x321u);
  EXPECT_EQ(got.timestamp, 1234u);

  // The bus has no bit timing: it reports what the host was configured with.
  b.baud[0] = 125;
  b.fdRate[0] = 2000;
  int baud = 0, fd = 0;
  ASSERT_EQ(right->getBaudrate(0, &baud, &fd, nullptr), 1);
  EXPECT_EQ(baud, 125);
  EXPECT_EQ(fd, 2000);
  EXPECT_TRUE(a.errors.empty());
  EXPECT_TRUE(b.errors.empty());
}

TEST(CanInterfaceTable, EveryTypeHasOneRowInTheSelectionOrder) {
  const CanInterfaceTable table;
  std::vector<int> order;
  for (const CanInterfaceTypeRow& row : table.types()) order.push_back(row.type);
  EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 5, 6, 4, 7, 8, 9, 10, 11}));

  const struct {
    int type;
    const char* caption;
    int channels;
    bool vendor;
  } expected[] = {
      {kIntfNone, "none", 0, false},
      {kIntfCvUdp, "NVK CAN-via-UDP", 2, false},
      {kIntfNtcan, "ESD NTCAN-driver", 1, true},
      {kIntfCanApi2, "PEAK CanApi2 driver", 1, true},
      {kIntfPcanDongle, "PCAN-Dongle LIGHT", 1, true},
      {kIntfPcanUsb, "PCAN-USB LIGHT", 1, true},
      {kIntfKvaser, "KVASER CANLIB", 0, true},
      {kIntfVector, "VECTOR XL Driver", 0, true},
      {kIntfSocketCan, "Linux SocketCAN", 2, false},
      {kIntfVirtual, "Virtual bus (built-in)", 2, false},
      {kIntfQtCanBus, "Qt CAN bus", 2, true},
  };
  for (const auto& e : expected) {
    const CanInterfaceTypeRow* row = table.find(e.type);
    ASSERT_NE(row, nullptr) << e.type;
    EXPECT_EQ(row->caption, e.caption);
    EXPECT_EQ(table.caption(e.type), e.caption);
    EXPECT_EQ(row->channelCount, e.channels) << e.caption;
    EXPECT_EQ(row->notLoadedText.empty(), !e.vendor) << e.caption;
    EXPECT_EQ(row->factory == nullptr, e.type == kIntfNone) << e.caption;
  }

  // Unknown types: no row, and a back-end that answers as an unknown interface.
  for (int type : {3, 12, -1, 1000}) {
    EXPECT_EQ(table.find(type), nullptr) << type;
    EXPECT_EQ(table.caption(type), "unknown");
    FakeHost host;
    auto backend = table.makeBackend(host, type);
    EXPECT_EQ(backend->type(), type);
    EXPECT_EQ(backend->open(), 0);
    EXPECT_EQ(backend->initCtrl(1, 500, 0), 0);
    EXPECT_EQ(host.errors, (std::vector<std::string>{"UCAN_Init: Unknown interface (CAN2) !"}));
  }
}

// A type registered at run time, as a back-end from another library adds itself.
class LateBackend final : public CanBackend {
 public:
  LateBackend(CanBackendHost& host, int type) : CanBackend(host, type) {}
  int open() override { return 1; }
  int initCtrl(int, int, int) override { return 1; }
};

TEST(CanInterfaceTable, TypeRegisteredAtRunTimeIsSelectedListedAndReplaceable) {
  ManualClock clock;
  DeferredMessageQueue queue;
  Ucan ucan(clock, queue);
  CanInterfaceSettings p;
  p.interfaceType = 12;
  EXPECT_EQ(ucan.UCAN_Init(p), 0);
  EXPECT_EQ(ucan.takeLastError(), "UCAN_Init failed, why ?");

  int made = 0;
  ucan.registerInterfaceType(
      {12, "Late CAN bus", "", 1, [&made](CanBackendHost& host, const CanInterfaceTypeRow& row) {
         ++made;
         return std::make_unique<LateBackend>(host, row.type);
       }});
  EXPECT_EQ(ucan.interfaceTypes().types().back().caption, "Late CAN bus");
  ASSERT_EQ(ucan.UCAN_Init(p), 1);
  EXPECT_EQ(made, 1);
  EXPECT_EQ(ucan.takeLastError(), "UCAN_Init successful.");
  EXPECT_EQ(ucan.channelCount(), 1) << "the row's count";
  EXPECT_EQ(ucan.UCAN_InitCtrl(0, 500, 0), 1);

  // Replacing a built-in row keeps its place in the list.
  const size_t rows = ucan.interfaceTypes().types().size();
  ucan.registerInterfaceType(
      {kIntfKvaser, "KVASER CANLIB", "", 2, [](CanBackendHost& host, const CanInterfaceTypeRow& row) {
         return std::make_unique<LateBackend>(host, row.type);
       }});
  EXPECT_EQ(ucan.interfaceTypes().types().size(), rows);
  EXPECT_EQ(ucan.interfaceTypes().types()[6].type, kIntfKvaser);
  p.interfaceType = kIntfKvaser;
  EXPECT_EQ(ucan.UCAN_Init(p), 1);
  EXPECT_EQ(ucan.channelCount(), 2);
}

TEST(UcanTranslation, ErrorTextsPassTheTranslator) {
  ManualClock clock;
  DeferredMessageQueue queue;
  Ucan ucan(clock, queue);
  Translator tr;
  tr.add("UCAN_Transmit: Illegal bus-index (%d, allowed: 0..%d) !",
         "UCAN_Transmit: Unzulässiger Busindex (%d, erlaubt: 0..%d) !");
  CanFrame f;
  EXPECT_EQ(ucan.UCAN_Transmit(2, f), 0);
  EXPECT_EQ(ucan.takeLastError(), "UCAN_Transmit: Illegal bus-index (2, allowed: 0..1) !") << "no translator";

  ucan.setTranslator(&tr);
  EXPECT_EQ(ucan.UCAN_Transmit(2, f), 0);
  EXPECT_EQ(ucan.takeLastError(), "UCAN_Transmit: Unzulässiger Busindex (2, erlaubt: 0..1) !");

  // A back-end's fixed line, handed over whole.
  tr.add("UCAN_Init: FAILED loading Kvaser's CANLIB32 !", "UCAN_Init: Kvasers CANLIB32 nicht geladen !");
  CanInterfaceSettings p;
  p.interfaceType = kIntfKvaser;
  EXPECT_EQ(ucan.UCAN_Init(p), 0);
  EXPECT_EQ(ucan.takeLastError(), "UCAN_Init: Kvasers CANLIB32 nicht geladen !");

  // A translation that would read other arguments than the text has is not used.
  tr.add("UCAN_Init: Unknown interface (CAN%d) !", "UCAN_Init: Unbekannte Schnittstelle (%s) !");
  p.interfaceType = 3;
  ucan.UCAN_Init(p);
  ucan.clearLastError();
  EXPECT_EQ(ucan.UCAN_InitCtrl(0, 500, 0), 0);
  EXPECT_EQ(ucan.takeLastError(), "UCAN_Init: Unknown interface (CAN1) !");

  ucan.setTranslator(nullptr);
  EXPECT_EQ(ucan.UCAN_Transmit(2, f), 0);
  EXPECT_EQ(ucan.takeLastError(), "UCAN_Transmit: Illegal bus-index (2, allowed: 0..1) !");
}

}  // namespace
}  // namespace busprobe
