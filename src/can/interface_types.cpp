#include "can/interface_types.h"

#include "can/backend_canapi2.h"
#include "can/backend_ntcan.h"
#include "can/backend_pcan_light.h"

namespace busprobe {

namespace {

std::unique_ptr<CanBackend> Vendor(CanBackendHost& host, const CanInterfaceTypeRow& row) {
  return MakeVendorBackend(host, row);
}

}  // namespace

CanInterfaceTable::CanInterfaceTable() {
  const auto cvudp = [](CanBackendHost& host, const CanInterfaceTypeRow&) { return MakeCvUdpBackend(host); };
  const auto socketCan = [](CanBackendHost& host, const CanInterfaceTypeRow&) {
    return MakeSocketCanBackend(host);
  };
  const auto virtualBus = [](CanBackendHost& host, const CanInterfaceTypeRow&) {
    return MakeVirtualBackend(host);
  };
  const CanBackendFactory ntcan = MakeNtcanFactory();
  const CanBackendFactory canApi2 = MakeCanApi2Factory();
  const auto pcanLight = [](CanBackendHost& host, const CanInterfaceTypeRow& row) {
    return MakePcanLightBackend(host, row);
  };
  // The selection list's order: its positions 0..7 are types 0, 1, 2, 5, 6, 4, 7, 8; the two
  // interfaces of this platform follow. Kvaser and Vector report their channels once loaded.
  // NTCAN and CANLIB ship Linux libraries with the same entry points; the PEAK light and CAN-API 2
  // libraries and the XL library exist for Windows only.
  rows_ = {
      {kIntfNone, "none", "", 0, nullptr},
      {kIntfCvUdp, "NVK CAN-via-UDP", "", 2, cvudp},
      {kIntfNtcan, "ESD NTCAN-driver", "UCAN_Init: NTCAN driver (NTCAN.DLL) not loaded !", 1, ntcan,
       {"libntcan.so", "libntcan.so.4"}},
      {kIntfPcanDongle, "PCAN-Dongle LIGHT",
       "UCAN_Init: PCAN-DONGLE-LIGHT driver (PCAN_DNG.DLL) not loaded !", 1, pcanLight},
      {kIntfPcanUsb, "PCAN-USB LIGHT", "UCAN_Init: PCAN-USB-LIGHT driver (PCAN_USB.DLL) not loaded !", 1,
       pcanLight},
      {kIntfCanApi2, "PEAK CanApi2 driver", "UCAN_Init: Peak's CANAPI2 driver not loaded !", 1, canApi2},
      {kIntfKvaser, "KVASER CANLIB", "UCAN_Init: FAILED loading Kvaser's CANLIB32 !", 0, MakeKvaserBackend,
       {"libcanlib.so", "libcanlib.so.1"}},
      {kIntfVector, "VECTOR XL Driver", "UCAN_Init: FAILED loading Vector's VXLAPI.DLL !", 0,
       MakeVectorBackend},
      {kIntfSocketCan, "Linux SocketCAN", "", 2, socketCan},
      {kIntfVirtual, "Virtual bus (built-in)", "", 2, virtualBus},
      // Its back-end lives in a library of its own (it needs Qt) and takes this row's place when
      // registered; until then the type answers as a driver that is not there.
      {kIntfQtCanBus, "Qt CAN bus", "UCAN_Init: Qt CAN bus support is not part of this program !", 2, Vendor},
  };
}

const CanInterfaceTypeRow* CanInterfaceTable::find(int type) const {
  for (const CanInterfaceTypeRow& row : rows_) {
    if (row.type == type) return &row;
  }
  return nullptr;
}

std::string CanInterfaceTable::caption(int type) const {
  const CanInterfaceTypeRow* row = find(type);
  return row ? row->caption : "unknown";
}

void CanInterfaceTable::registerType(CanInterfaceTypeRow row) {
  for (CanInterfaceTypeRow& existing : rows_) {
    if (existing.type == row.type) {
      existing = std::move(row);
      return;
    }
  }
  rows_.push_back(std::move(row));
}

std::unique_ptr<CanBackend> CanInterfaceTable::makeBackend(CanBackendHost& host, int type) const {
  const CanInterfaceTypeRow* row = find(type);
  if (row && row->factory) {
    if (auto made = row->factory(host, *row)) return made;
  }
  return std::make_unique<CanBackend>(host, type);
}

}  // namespace busprobe
