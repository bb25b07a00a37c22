// CAN-via-UDP input path under arbitrary bytes in arbitrary datagram splits.
//
// 1. The reassembler alone: it must never fault, must dispatch only COMMAND and CAN_MSG packets of
//    1..1024 bytes, and must produce the same packets however the stream is cut into datagrams.
// 2. The same chunks through the command and frame handlers of a server and a client endpoint:
//    frames that come out (ring or relay) must be sane records.
//
// The endpoints are bound to 127.0.0.1, so the kernel refuses to send anything off this host even
// when a forged CONNECT names another address; a mirror reassembler skips such inputs anyway.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "can/cvudp.h"

namespace {

using busprobe::CanFrame;

struct Seen {
  uint8_t type;
  std::vector<uint8_t> payload;
  bool operator==(const Seen& o) const { return type == o.type && payload == o.payload; }
};

void CheckPacket(uint8_t type, const uint8_t* payload, int length) {
  if (type != busprobe::kCvUdpCommand && type != busprobe::kCvUdpCanMsg) std::abort();
  if (length < 1 || length > busprobe::kCvUdpMaxPayload || payload == nullptr) std::abort();
  busprobe::CvUdpCommand cmd;
  if (type == busprobe::kCvUdpCommand && busprobe::CvUdpParseCommand(payload, length, cmd)) {
    if (cmd.paramCount != (length - 4) / 4) std::abort();
  }
}

void CheckFrame(const CanFrame& f) {
  if (f.length > 64) std::abort();
  const int carried = f.rtr ? 0 : (f.length < 8 ? f.length : 8);
  for (int i = carried; i < 64; ++i)
    if (f.data[i] != 0) std::abort();
}

struct Rig {
  busprobe::SteadyClock clock;
  busprobe::DeferredMessageQueue messages;
  busprobe::CvUdpHub hub{clock, messages};
  busprobe::CvUdpEndpoint* server = nullptr;
  busprobe::CvUdpEndpoint* client = nullptr;
  // Follows the bytes the endpoints are fed, to spot CONNECTs that name another host.
  bool foreignConnect = false;
  busprobe::CvUdpReassembler mirror{[this](uint8_t type, const uint8_t* p, int n) {
    busprobe::CvUdpCommand cmd;
    if (type == busprobe::kCvUdpCommand && busprobe::CvUdpParseCommand(p, n, cmd) &&
        cmd.code == busprobe::kCvUdpConnect && (cmd.p[0] & 0xFF) != 127)  // first octet travels first
      foreignConnect = true;
  }};

  Rig() {
    constexpr uint32_t kLoopback = 0x7F000001;
    hub.setRelay([](CanFrame& f) {
      CheckFrame(f);
      return true;
    });
    server = hub.createEndpoint();
    client = hub.createEndpoint();
    // Port 9 (discard): the client's CONNECTs go nowhere, so no real peer writes into the streams.
    if (!server || !client || server->open(2, 0, 0, kLoopback, 0) != 1 ||
        client->open(1, kLoopback, 9, kLoopback, 0) != 1)
      std::abort();
  }
};

Rig& TheRig() {
  static Rig* rig = new Rig();  // lives for the whole run; the receive threads keep running
  return *rig;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider fdp(data, size);
  std::vector<size_t> cuts;
  const size_t nCuts = fdp.ConsumeIntegralInRange<size_t>(0, 12);
  for (size_t i = 0; i < nCuts; ++i) cuts.push_back(fdp.ConsumeIntegralInRange<size_t>(0, 2100));
  const std::vector<uint8_t> stream = fdp.ConsumeRemainingBytes<uint8_t>();

  // Chunks: the cut sizes in turn, the rest as one last datagram.
  std::vector<std::pair<size_t, size_t>> chunks;
  size_t pos = 0;
  for (size_t c : cuts) {
    if (pos >= stream.size()) break;
    const size_t n = std::min(c, stream.size() - pos);
    chunks.emplace_back(pos, n);
    pos += n;
  }
  if (pos < stream.size()) chunks.emplace_back(pos, stream.size() - pos);

  // 1. Split invariance of the reassembler.
  std::vector<Seen> whole, split;
  busprobe::CvUdpReassembler a([&](uint8_t t, const uint8_t* p, int n) {
    CheckPacket(t, p, n);
    whole.push_back({t, std::vector<uint8_t>(p, p + n)});
  });
  busprobe::CvUdpReassembler b([&](uint8_t t, const uint8_t* p, int n) {
    CheckPacket(t, p, n);
    split.push_back({t, std::vector<uint8_t>(p, p + n)});
  });
  a.feed(stream.data(), stream.size());
  for (const auto& [at, n] : chunks) b.feed(stream.data() + at, n);
  if (!(whole == split) || a.discardedHeaders() != b.discardedHeaders()) std::abort();
  b.feed(nullptr, 5);  // must be harmless

  // 2. Through the endpoints' handlers.
  Rig& rig = TheRig();
  for (const auto& [at, n] : chunks) rig.mirror.feed(stream.data() + at, n);
  if (!rig.foreignConnect) {
    for (const auto& [at, n] : chunks) {
      rig.server->handleDatagram(stream.data() + at, n);
      rig.client->handleDatagram(stream.data() + at, n);
    }
  } else {
    // Keep the endpoints' streams aligned with the mirror without acting on them.
    rig.foreignConnect = false;
    rig.server->close();
    rig.client->close();
    rig.mirror.reset();
    if (rig.server->open(2, 0, 0, 0x7F000001, 0) != 1 ||
        rig.client->open(1, 0x7F000001, 9, 0x7F000001, 0) != 1)
      std::abort();
  }
  CanFrame f;
  while (rig.server->popFrame(f)) CheckFrame(f);
  while (rig.client->popFrame(f)) CheckFrame(f);
  rig.server->takeDroppedFrames();
  rig.client->takeDroppedFrames();
  rig.messages.drain();
  return 0;
}
