// Interface type 10: the built-in virtual bus. The two channels of one member share the member's
// receive queue; a channel behaves like a controller that is closed until UCAN_InitCtrl opens it, so
// traffic of a bus the user has not configured stays invisible, as it would on an adapter.
#include <deque>

#include "can/can_backend.h"
#include "can/virtual_bus.h"

namespace busprobe {

namespace {

class VirtualBackend final : public CanBackend {
 public:
  explicit VirtualBackend(CanBackendHost& host) : CanBackend(host, kIntfVirtual) {}

  bool mayStall() const override { return false; }

  int open() override {
    bus_ = host_.virtualBus();
    port_ = bus_->join();
    return 1;
  }

  void close() override {
    port_.reset();
    bus_.reset();
    held_.clear();
    for (Channel& c : channel_) c = Channel{};
  }

  int initCtrl(int bus, int, int) override {
    if (!port_) {
      host_.setError("UCAN_InitCtrl: Virtual bus not initialized !");
      return 0;
    }
    channel_[bus].open = true;
    return 1;
  }

  int setBaudrate(int, int, int) override {
    if (!port_) {
      host_.setError("UCAN_SetBaudrate: Virtual bus not initialized !");
      return 0;
    }
    return 1;
  }

  // The bus has no bit timing of its own; it runs at whatever rate the user configured.
  int getBaudrate(int bus, int* baudKbit, int* fdDataRate, std::string*) override {
    if (!port_) {
      host_.setError("UCAN_GetBaudrate: Virtual bus not initialized !");
      return 0;
    }
    *baudKbit = host_.baudrate(bus);
    if (fdDataRate) *fdDataRate = host_.fdDataRate(bus);
    return 1;
  }

  int isChannelOpen(int bus) override { return port_ && channel_[bus].open ? 1 : 0; }
  uint8_t status(int) override { return 0; }

  int setRcvId(int bus, uint32_t id, uint32_t mask) override {
    if (!port_) {
      host_.setError("UCAN_SetRcvID: Virtual bus not initialized !");
      return 0;
    }
    channel_[bus].filterId = id;
    channel_[bus].filterMask = mask;
    return 1;
  }

  int receive(int bus, CanFrame& out) override {
    if (!port_) return 0;
    // Frames set aside by an earlier single-bus receive are older than anything still queued.
    for (auto it = held_.begin(); it != held_.end(); ++it) {
      if (bus == 255 || it->bus() == bus) {
        out = *it;
        held_.erase(it);
        return 1;
      }
    }
    CanFrame frame;
    while (port_->receive(frame)) {
      if (!accepts(frame)) continue;
      if (bus == 255 || frame.bus() == bus) {
        out = frame;
        return 1;
      }
      if (held_.size() >= FrameRing::kDefaultCapacity) {
        ++heldDropped_;
      } else {
        held_.push_back(frame);
      }
    }
    return 0;
  }

  int txBusy(int) override { return 0; }

  int transmit(int bus, CanFrame& frame) override {
    if (!port_ || !channel_[bus].open) {
      host_.setError("UCAN_Transmit: Virtual bus CAN%d not initialized !", bus + 1);
      return kTransmitRefused;
    }
    frame.timestamp = host_.clockMsWhole();
    CanFrame onBus = frame;
    onBus.setBus(bus);
    // Only a bus that no longer exists refuses a frame.
    return port_->send(onBus) ? 1 : kTransmitRefused;
  }

  uint64_t takeDropped(uint8_t& busMask) override {
    uint64_t dropped = heldDropped_;
    heldDropped_ = 0;
    if (port_) dropped += port_->takeDropped();
    // One queue serves both channels, so either bus may have lost the frames.
    busMask = dropped ? 3 : 0;
    return dropped;
  }

  uint32_t errorFrames(int bus) const override { return port_ ? port_->errorFrames(bus) : 0; }

 private:
  struct Channel {
    bool open = false;
    uint32_t filterId = 0, filterMask = 0;
  };

  bool accepts(const CanFrame& frame) const {
    const int bus = frame.bus();
    if (bus > 1) return true;  // relayed indices 2 and 3 have no controller here
    const Channel& c = channel_[bus];
    return c.open && ((frame.identifier() ^ c.filterId) & c.filterMask & CanFrame::kIdMask) == 0;
  }

  std::shared_ptr<VirtualBus> bus_;
  std::shared_ptr<VirtualBus::Port> port_;
  Channel channel_[2];
  std::deque<CanFrame> held_;
  uint64_t heldDropped_ = 0;
};

}  // namespace

std::unique_ptr<CanBackend> MakeVirtualBackend(CanBackendHost& host) {
  return std::make_unique<VirtualBackend>(host);
}

}  // namespace busprobe
