#include "can/interface_settings.h"

#include "base/settings_keys.h"

namespace busprobe {

namespace {

template <class C, class V>
void VisitInterface(C& c, V& v) {
  const CanInterfaceSettings d;
  const char* ci = "CanInterface";
  v.integer(ci, "DebugFlags", c.debugFlags, d.debugFlags);
  v.integer(ci, "CanInterfaceType", c.interfaceType, d.interfaceType);
  v.integer(ci, "CanDongleBaseAddr", c.dongleBaseAddr, d.dongleBaseAddr);
  v.integer(ci, "NTCanNetNumber", c.ntcanNetNumber, d.ntcanNetNumber);
  v.integer(ci, "NTCanStartPCC", c.ntcanStartPcc, d.ntcanStartPcc);
  v.integer(ci, "NTCanStopPCC", c.ntcanStopPcc, d.ntcanStopPcc);
  v.integer(ci, "PCAN_IOaddress", c.pcanIoAddress, d.pcanIoAddress);
  v.u16(ci, "PCAN_Interrupt", c.pcanInterrupt, d.pcanInterrupt);
  v.text(ci, "PCAN_NetName", c.pcanNetNames, 254, d.pcanNetNames);
  v.integer(ci, "VectorAccessMask", c.vectorAccessMask, d.vectorAccessMask);
  v.text(ci, "VectorChannelName", c.vectorChannelName, 254, d.vectorChannelName);
  v.integer(ci, "CvUDP_flags", c.cvudpFlags, c.cvudpFlags);
  v.text(ci, "CvUDP_RemoteIP", c.cvudpRemoteIp, 39, d.cvudpRemoteIp);
  v.text(ci, "CvUDP_LocalIP", c.cvudpLocalIp, 39, d.cvudpLocalIp);
  v.u16(ci, "CvUDP_remote_server_port", c.cvudpRemotePort, d.cvudpRemotePort);
  v.u16(ci, "CvUDP_local_server_port", c.cvudpLocalPort, d.cvudpLocalPort);
  v.text(ci, "SocketCanIf1", c.socketCanIf1, 254, d.socketCanIf1);
  v.text(ci, "SocketCanIf2", c.socketCanIf2, 254, d.socketCanIf2);
  v.text(ci, "QtCanBusPlugin1", c.qtCanBusPlugin1, 254, d.qtCanBusPlugin1);
  v.text(ci, "QtCanBusInterface1", c.qtCanBusInterface1, 254, d.qtCanBusInterface1);
  v.text(ci, "QtCanBusPlugin2", c.qtCanBusPlugin2, 254, d.qtCanBusPlugin2);
  v.text(ci, "QtCanBusInterface2", c.qtCanBusInterface2, 254, d.qtCanBusInterface2);
}

}  // namespace

void ReadInterfaceSettings(const IniFile& ini, CanInterfaceSettings& c) {
  SettingsReader r(ini);
  VisitInterface(c, r);
}

void WriteInterfaceSettings(IniFile& ini, const CanInterfaceSettings& c) {
  SettingsWriter w(ini);
  VisitInterface(c, w);
}

}  // namespace busprobe
