// The contract between the UCAN layer and one adapter back-end. Ucan does the bookkeeping every
// back-end shares (bus-index checks, counters, the clock, the slow-driver watchdog, overflow
// reporting, CAN-via-UDP forwarding); a back-end only talks to its driver and leaves one line in the
// last-error buffer (Ucan::setError) when something fails. The defaults below are what an unknown
// interface type answers, so a back-end overrides only what its driver can do.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "can/can_frame.h"

namespace busprobe {

class Ucan;

class CanBackend {
 public:
  CanBackend(Ucan& ucan, int type) : ucan_(ucan), type_(type) {}
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
  virtual int transmit(int bus, CanFrame& frame);
  virtual int channelCount() const { return 0; }
  virtual std::string channelName(int bus) const;

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
  Ucan& ucan_;

 private:
  int type_;
};

// The back-ends built into the CAN layer.
std::unique_ptr<CanBackend> MakeVirtualBackend(Ucan& ucan);
std::unique_ptr<CanBackend> MakeSocketCanBackend(Ucan& ucan);
std::unique_ptr<CanBackend> MakeCvUdpBackend(Ucan& ucan);
// Types 2 and 4..8: the vendor libraries. Without the library every call fails with its text.
std::unique_ptr<CanBackend> MakeVendorBackend(Ucan& ucan, int type);

// NTCAN's baud-rate codes: kbit/s -> code, -1 when the library has no code for the rate.
int NtcanBaudCode(int baudKbit);
// code -> kbit/s (code 1 reads back as 666), -1 for an unknown code.
int NtcanBaudFromCode(int code);
// NTCAN result code as "NAME(0x%08lx)", "NTCAN_UNKNOWN(0x...)" for codes the table lacks.
std::string NtcanErrorText(uint32_t code);
// "UCAN_Init: ..." line for a vendor type whose library could not be loaded; empty for other types.
const char* VendorNotLoadedText(int type);

}  // namespace busprobe
