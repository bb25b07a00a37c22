// The one home of (re-)initialising the CAN controllers with their configured rates: start-up
// ("Init2"), a changed bit rate from the settings window, the Tools menu's "Reset CAN hardware"
// and the script's reset all come here.
#pragma once

#include "app/messages.h"
#include "app/settings.h"
#include "can/ucan.h"

namespace busprobe {

class BusControllers {
 public:
  BusControllers(Ucan& ucan, MessageLog& messages, const CanBusSettings (&buses)[2])
      : ucan_(ucan), messages_(messages), buses_(buses) {}

  // Every bus with a configured rate: its rates, mode 2, every identifier open.
  void initConfigured();
  // One bus again with its configured rates and an open filter; false on failure. A pending CAN
  // error text is printed as a CAN line.
  bool reinit(int bus);
  // After the settings changed: the buses whose rates changed, at once on a running interface
  // (rate 0 closes that bus); "ERROR: CAN_Init(%d) failed !" for each that fails.
  void applyChangedRates(const CanBusSettings (&before)[2]);
  // The Tools menu's reset: bus 1 again, "Error: Could not reset CAN controller !" on failure.
  bool resetHardware();

 private:
  void printPendingError();

  Ucan& ucan_;
  MessageLog& messages_;
  const CanBusSettings (&buses_)[2];
};

}  // namespace busprobe
