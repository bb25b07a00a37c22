#include "can/interface_settings.h"

namespace busprobe {

const char* CanInterfaceCaption(int32_t type) {
  switch (type) {
    case kIntfNone:
      return "none";
    case kIntfCvUdp:
      return "NVK CAN-via-UDP";
    case kIntfNtcan:
      return "ESD NTCAN-driver";
    case kIntfCanApi2:
      return "PEAK CanApi2 driver";
    case kIntfPcanDongle:
      return "PCAN-Dongle LIGHT";
    case kIntfPcanUsb:
      return "PCAN-USB LIGHT";
    case kIntfKvaser:
      return "KVASER CANLIB";
    case kIntfVector:
      return "VECTOR XL Driver";
    case kIntfSocketCan:
      return "Linux SocketCAN";
    case kIntfVirtual:
      return "Virtual bus (built-in)";
    default:
      return "unknown";
  }
}

}  // namespace busprobe
