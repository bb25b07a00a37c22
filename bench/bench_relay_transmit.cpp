// The cost per frame of a CAN-via-UDP server relaying a full datagram (858 transmit requests) through
// the common send path, for frames of the local bus (sent, listed and counted) and for frames with a
// bus selector the server has no bus for (refused at once). A peer can send the second kind as
// fast as the first, so refusing must be no dearer than sending. Time per frame is the inverse of
// items_per_second.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "can/cvudp.h"
#include "traffic/traffic_paths.h"

namespace {

using namespace busprobe;

constexpr int kPackets = 66;
constexpr int kEntriesPerPacket = 13;
constexpr int kFramesPerDatagram = kPackets * kEntriesPerPacket;

std::vector<uint8_t> Datagram(uint32_t busSelector) {
  std::vector<uint8_t> out;
  const uint8_t data[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  for (int p = 0; p < kPackets; ++p) {
    const uint16_t length = kEntriesPerPacket * kCvUdpEntrySize;
    out.insert(out.end(),
               {kCvUdpCanMsg, 0, static_cast<uint8_t>(length & 0xFF), static_cast<uint8_t>(length >> 8)});
    for (int i = 0; i < kEntriesPerPacket; ++i) {
      uint8_t packet[80];
      CvUdpBuildFrame(0x100u + static_cast<uint32_t>(i), kCvUdpInfoTxRequest | (busSelector << 28) | 8, 0,
                      data, packet);
      out.insert(out.end(), packet + 4, packet + 80);
    }
  }
  return out;
}

// state.range(0): the bus selector of every frame (0: the local bus CAN1, 2: no such bus).
void BM_RelayDatagramThroughSendPath(benchmark::State& state) {
  SteadyClock clock;
  DeferredMessageQueue queue;
  Ucan ucan(clock, queue);
  CanDisplaySettings display;
  LoggingSettings logging;
  uint64_t printed = 0;
  TrafficPaths paths(
      ucan, clock, display, logging, [&](const std::string&) { ++printed; }, [&](const std::string&) {});
  ucan.setRelayTransmit([&](CanFrame& frame) { return paths.TransmitFrame(frame); });
  CanInterfaceSettings p;
  p.interfaceType = kIntfVirtual;
  p.cvudpFlags = kCvUdpServer;
  p.cvudpLocalIp = "127.0.0.1";
  if (ucan.UCAN_Init(p) != 1 || ucan.UCAN_InitCtrl(0, 500, 0) != 1) {
    state.SkipWithError("no CAN-via-UDP server on 127.0.0.1");
    return;
  }
  CvUdpEndpoint* endpoint = ucan.cvudpEndpoint();
  const std::vector<uint8_t> datagram = Datagram(static_cast<uint32_t>(state.range(0)));
  CanFrame echo;
  for (auto _ : state) {
    // Handled on this thread, which owns the traffic paths: what the relay thread does, plus the
    // display and counting the owner would catch up with.
    endpoint->handleDatagram(datagram.data(), datagram.size());
    paths.endTick();
    state.PauseTiming();
    while (ucan.UCAN_Receive(255, echo)) {
    }
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * kFramesPerDatagram);
  state.counters["lines_per_datagram"] =
      benchmark::Counter(static_cast<double>(printed) / static_cast<double>(state.iterations()));
  ucan.UCAN_Exit();
}
BENCHMARK(BM_RelayDatagramThroughSendPath)->Arg(0)->Arg(2)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
