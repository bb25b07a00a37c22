// The contract between the UCAN layer and one adapter back-end. Ucan does the bookkeeping every
// back-end shares (bus-index checks, counters, the clock, the slow-driver watchdog, overflow
// reporting, CAN-via-UDP forwarding); a back-end only talks to its driver and leaves one line in the
// last-error text when something fails. The defaults below are what an unknown interface type
// answers, so a back-end overrides only what its driver can do.
//
// A back-end sees the layer only through CanBackendHost, so it can be built and tested alone.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <memory>
#include <string>

#include "can/can_frame.h"
#include "can/interface_settings.h"

namespace busprobe {

class CvUdpEndpoint;
class VirtualBus;

// CanBackend::transmit answers 1 (sent), 0 (not sent this time: a full queue or a busy link may
// clear) or kTransmitRefused: no attempt can ever succeed (the channel is not open, the bus cannot
// carry the frame, the driver is missing), so the send path must not wait and try again.
constexpr int kTransmitRefused = -1;

// What a back-end may ask of the layer that owns it. Ucan implements it; tests hand a fake.
class CanBackendHost {
 public:
  // Leaves the one-line error text (printf-style) unless one is pending already. The format is
  // translated before it is filled in; a text passed whole as ("%s", text) is translated as itself.
  void setError(const char* format, ...) __attribute__((format(printf, 2, 3)));
  virtual void setErrorV(const char* format, va_list args) = 0;
  // A line for the messages window that is a notice, not the failure of the call (the last-error
  // text stays free for that). A host without a window drops it.
  virtual void printNotice(const std::string& /*line*/) {}
  // The local time base the UCAN clock runs on (ms), for drivers that relate their own timers to it.
  virtual double localMs() { return 0.0; }
  // True while the slow-driver watchdog holds: drivers then skip their optional queries.
  virtual bool driverSlow() const { return false; }

  // The UCAN clock in whole milliseconds: frame timestamps.
  virtual uint32_t clockMsWhole() = 0;
  // The interface parameters of the last UCAN_Init.
  virtual const CanInterfaceSettings& params() const = 0;
  // The rates the bus was last configured with (kbit/s), for back-ends without bit timing of their own.
  virtual int baudrate(int bus) const = 0;
  virtual int fdDataRate(int bus) const = 0;
  // The virtual bus that type 10 joins.
  virtual std::shared_ptr<VirtualBus> virtualBus() = 0;
  // The CAN-via-UDP endpoint UCAN_Init opened, or null.
  virtual CvUdpEndpoint* cvudpEndpoint() = 0;
  // Waits on the UCAN clock, for drivers that must be given time before a call is repeated. A host
  // without a clock of its own does not wait.
  virtual void sleepMs(double /*ms*/) {}

 protected:
  ~CanBackendHost() = default;
};

class CanBackend {
 public:
  CanBackend(CanBackendHost& host, int type) : host_(host), type_(type) {}
  virtual ~CanBackend() = default;
  CanBackend(const CanBackend&) = delete;
  CanBackend& operator=(const CanBackend&) = delete;

  int type() const { return type_; }

  // Loads the library or joins the bus; 1/0. A success may leave an informational line.
  virtual int open();
  // Releases everything open() and the controllers took. Must be safe to call twice.
  virtual void close() {}

  // bus is 0 or 1 in every call below except receive(), where 255 means "any bus".
  virtual int initCtrl(int bus, int baudKbit, int fdDataRate);
  virtual int setBaudrate(int bus, int baudKbit, int fdDataRate);
  virtual int getBaudrate(int bus, int* baudKbit, int* fdDataRate, std::string* text);
  virtual int isChannelOpen(int bus);
  virtual uint8_t status(int bus);
  virtual int setRcvId(int bus, uint32_t id, uint32_t mask);
  // Non-blocking: 1 with a frame, 0 when none is waiting (with a text only on a real failure).
  virtual int receive(int bus, CanFrame& out);
  virtual int txBusy(int bus);
  // 1, 0 or kTransmitRefused (see there).
  virtual int transmit(int bus, CanFrame& frame);
  // False for a back-end whose calls stay in this process and never wait (the virtual bus): the
  // slow-driver watchdog then skips the two clock reads around each receive.
  virtual bool mayStall() const { return true; }
  // Channels the driver reports, for types whose count is not fixed (the interface-type table
  // holds the fixed ones).
  virtual int channelCount() const { return 0; }
  virtual std::string channelName(int bus) const;
  // Opens the driver's own hardware configuration tool without waiting for it; false when the
  // driver has none or it could not be opened.
  virtual bool popupHardwareConfig() { return false; }
  // Restarts the bus's controller (after bus-off); 1/0. Types without one have nothing to reset.
  virtual int resetController(int /*bus*/) { return 0; }

  // The back-end's own time base for the UCAN clock's resynchronisation; false = use local time.
  // Called on whichever thread reads the clock.
  virtual bool referenceTimeMs(double& /*out*/) { return false; }
  // Frames lost in the back-end's receive queues since the last call; busMask receives bit 0 / bit 1
  // for the buses that lost them.
  virtual uint64_t takeDropped(uint8_t& busMask) {
    busMask = 0;
    return 0;
  }
  virtual uint32_t errorFrames(int /*bus*/) const { return 0; }

 protected:
  CanBackendHost& host_;

 private:
  int type_;
};

struct CanInterfaceTypeRow;

// The back-ends built into the CAN layer.
std::unique_ptr<CanBackend> MakeVirtualBackend(CanBackendHost& host);
std::unique_ptr<CanBackend> MakeSocketCanBackend(CanBackendHost& host);
std::unique_ptr<CanBackend> MakeCvUdpBackend(CanBackendHost& host);
// Types 2 and 4..8: the vendor libraries. Without the library every call fails with its text; the
// row gives the caption and the "not loaded" line.
std::unique_ptr<CanBackend> MakeVendorBackend(CanBackendHost& host, const CanInterfaceTypeRow& row);
// Kvaser CANLIB (type 7), loading the library from the row's file names.
std::unique_ptr<CanBackend> MakeKvaserBackend(CanBackendHost& host, const CanInterfaceTypeRow& row);
// Vector XL (type 8), likewise.
std::unique_ptr<CanBackend> MakeVectorBackend(CanBackendHost& host, const CanInterfaceTypeRow& row);

// NTCAN's baud-rate codes: kbit/s -> code, -1 when the library has no code for the rate.
int NtcanBaudCode(int baudKbit);
// code -> kbit/s (code 1 reads back as 666), -1 for an unknown code.
int NtcanBaudFromCode(int code);
// NTCAN result code as "NAME(0x%08lx)", "NTCAN_UNKNOWN(0x...)" for codes the table lacks.
std::string NtcanErrorText(uint32_t code);

}  // namespace busprobe
