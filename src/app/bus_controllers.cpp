#include "app/bus_controllers.h"

#include <mutex>

namespace busprobe {

void BusControllers::initConfigured() {
  for (int bus = 0; bus < 2; ++bus) {
    const CanBusSettings& b = buses_[bus];
    if (b.baudrate <= 0) continue;
    std::lock_guard<UcanLock> lock(ucan_.lock());
    if (ucan_.initController(bus, b.baudrate, 2, 0, b.flexDataRate)) ucan_.setReceiveFilter(bus, 0, 0);
  }
}

bool BusControllers::reinit(int bus) {
  const CanBusSettings& b = buses_[bus & 1];
  std::lock_guard<UcanLock> lock(ucan_.lock());
  const bool ok = ucan_.initController(bus & 1, b.baudrate, 2, 0, b.flexDataRate);
  if (ok) ucan_.setReceiveFilter(bus & 1, 0, 0);
  printPendingError();
  return ok;
}

void BusControllers::applyChangedRates(const CanBusSettings (&before)[2]) {
  if (!ucan_.ready()) return;
  for (int bus = 0; bus < 2; ++bus) {
    const CanBusSettings& b = buses_[bus];
    if (b.baudrate == before[bus].baudrate && b.flexDataRate == before[bus].flexDataRate) continue;
    std::lock_guard<UcanLock> lock(ucan_.lock());
    const int ok = ucan_.initController(bus, b.baudrate, 2, 0, b.flexDataRate);
    if (ok && b.baudrate > 0) ucan_.setReceiveFilter(bus, 0, 0);
    printPendingError();
    if (!ok) messages_.PrintMessage("ERROR: CAN_Init(%d) failed !", bus + 1);
  }
}

bool BusControllers::resetHardware() {
  const bool ok = reinit(0);
  if (!ok) messages_.PrintCanMessage("Error: Could not reset CAN controller !");
  return ok;
}

void BusControllers::printPendingError() {
  if (ucan_.lastError().empty()) return;
  messages_.PrintCanMessage("%s", ucan_.takeLastError().c_str());
}

}  // namespace busprobe
