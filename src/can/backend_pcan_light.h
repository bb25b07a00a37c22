// Interface types 5 and 6: the PCAN-Light driver libraries for the parallel-port dongle and for USB,
// loaded at run time and reached only through the entry points they export by name. One channel.
#pragma once

#include <memory>

#include "can/can_backend.h"
#include "can/interface_types.h"

namespace busprobe {

// The dongle's hardware type handed to the library: the SJA1000 dongle on a standard port. The
// library knows 5 and 6 only; any other value fails loading.
constexpr int kPcanDongleHardwareType = 5;

std::unique_ptr<CanBackend> MakePcanLightBackend(CanBackendHost& host, const CanInterfaceTypeRow& row,
                                                 int dongleHardwareType = kPcanDongleHardwareType);

}  // namespace busprobe
