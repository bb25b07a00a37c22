// Interface type 4: the PEAK CAN-API 2 driver library, loaded at run time and reached only through
// the entry points it exports by name. The bus is one of the driver's configured nets: the first
// name of the configured list the driver knows.
//
// The row's factory shares one CanApi2Session between the back-ends it makes, for what is said
// only once per program run.
#pragma once

#include <memory>

#include "can/can_backend.h"
#include "can/interface_types.h"

namespace busprobe {

struct CanApi2Session {
  bool noNetNameReported = false;
};

std::unique_ptr<CanBackend> MakeCanApi2Backend(CanBackendHost& host, const CanInterfaceTypeRow& row,
                                               std::shared_ptr<CanApi2Session> session);
CanBackendFactory MakeCanApi2Factory(std::shared_ptr<CanApi2Session> session = nullptr);

}  // namespace busprobe
