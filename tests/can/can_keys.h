// The keys of the CAN layer's sections as users find them in their files.
#pragma once

#include "base/key_list_check.h"

namespace busprobe::test {

inline std::vector<Key> BusKeys() {
  return Keys({{"CanSettings", "Baudrate FlexDataRate Baudrate2 FlexDataRate2"}}, 1000);
}

inline std::vector<Key> InterfaceKeys() {
  return Keys({{"CanInterface",
                "DebugFlags CanInterfaceType CanDongleBaseAddr NTCanNetNumber NTCanStartPCC "
                "NTCanStopPCC PCAN_IOaddress PCAN_Interrupt $PCAN_NetName VectorAccessMask "
                "$VectorChannelName CvUDP_flags $CvUDP_RemoteIP $CvUDP_LocalIP "
                "CvUDP_remote_server_port CvUDP_local_server_port $SocketCanIf1 $SocketCanIf2 "
                "$QtCanBusPlugin1 $QtCanBusInterface1 $QtCanBusPlugin2 $QtCanBusInterface2"}},
              1100);
}

}  // namespace busprobe::test
