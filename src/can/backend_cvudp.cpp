// Interface type 1: a remote bus through a CAN-via-UDP server. The endpoint itself is opened by
// UCAN_Init (a server endpoint can run beside any type); this back-end only uses it as the bus.
#include "can/can_backend.h"
#include "can/cvudp.h"

namespace busprobe {

namespace {

class CvUdpBackend final : public CanBackend {
 public:
  explicit CvUdpBackend(CanBackendHost& host) : CanBackend(host, kIntfCvUdp) {}

  int open() override {
    if (host_.cvudpEndpoint()) return 1;
    host_.setError("UCAN_Init: Failed to init CAN-via-UDP !");
    return 0;
  }

  int initCtrl(int bus, int baudKbit, int) override { return sendBitRate("UCAN_InitCtrl", bus, baudKbit); }
  int setBaudrate(int bus, int baudKbit, int) override {
    return sendBitRate("UCAN_SetBaudrate", bus, baudKbit);
  }

  // The server never reports its rate. No text: a success must not leave one that would hide the
  // next real failure.
  int getBaudrate(int, int* baudKbit, int* fdDataRate, std::string*) override {
    *baudKbit = 0;
    if (fdDataRate) *fdDataRate = 0;
    return 1;
  }

  int isChannelOpen(int) override {
    CvUdpEndpoint* ep = host_.cvudpEndpoint();
    return ep && ep->connected() ? 1 : 0;
  }

  uint8_t status(int) override { return 0; }
  int setRcvId(int, uint32_t, uint32_t) override { return 0; }

  // The link has one receive ring for everything the server relays (bus index 2 or 3), so a
  // single-bus request is served from it as well.
  int receive(int, CanFrame& out) override {
    CvUdpEndpoint* ep = host_.cvudpEndpoint();
    return ep && ep->popFrame(out) ? 1 : 0;
  }

  int txBusy(int) override { return 0; }

  int transmit(int, CanFrame& frame) override {
    CvUdpEndpoint* ep = host_.cvudpEndpoint();
    if (!ep) {
      host_.setError("UCAN_Transmit: CAN-via-UDP not initialized !");
      return kTransmitRefused;
    }
    if (!ep->sendFrame(frame, true)) {
      host_.setError("UCAN_Transmit: CAN-via-UDP send failed !");
      return 0;
    }
    return 1;
  }

  bool referenceTimeMs(double& out) override {
    CvUdpEndpoint* ep = host_.cvudpEndpoint();
    if (!ep) return false;
    out = ep->peerTimeMs();
    return true;
  }

 private:
  int sendBitRate(const char* operation, int bus, int baudKbit) {
    CvUdpEndpoint* ep = host_.cvudpEndpoint();
    if (!ep) {
      host_.setError("%s: CAN-via-UDP not initialized !", operation);
      return 0;
    }
    // The protocol numbers a client's channels from 2.
    if (!ep->sendBitRate(bus + 2, baudKbit)) {
      host_.setError("%s: CAN-via-UDP send failed !", operation);
      return 0;
    }
    return 1;
  }
};

}  // namespace

std::unique_ptr<CanBackend> MakeCvUdpBackend(CanBackendHost& host) {
  return std::make_unique<CvUdpBackend>(host);
}

}  // namespace busprobe
