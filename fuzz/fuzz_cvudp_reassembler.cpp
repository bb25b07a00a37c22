// CAN-via-UDP input path under arbitrary bytes in arbitrary datagrams from several senders.
//
// 1. The reassembler alone: it must never fault, must dispatch only COMMAND and CAN_MSG packets of
//    1..1024 bytes, must keep the senders apart (each sender's packets are the same whether the
//    others' datagrams come in between or not), must read a datagram that is whole packets by itself
//    as exactly those packets whatever its sender sent before, must keep its table bounded, and
//    must never count more bytes as discarded than it was fed.
// 2. The same datagrams through the command and frame handlers of a server and a client endpoint:
//    frames that come out (ring or relay) must be sane records.
//
// The endpoints are bound to 127.0.0.1, so the kernel refuses to send anything off this host even
// when a forged CONNECT names another address; a mirror reassembler skips such inputs anyway.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
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

struct Datagram {
  uint64_t source;
  size_t at, length;
};

// Which sender each dispatched packet came from.
struct Tagged {
  uint64_t source;
  Seen packet;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider fdp(data, size);
  // Up to 24 senders, more than the reassembler keeps unfinished packets for.
  const uint64_t senders = fdp.ConsumeIntegralInRange<uint64_t>(1, 24);
  std::vector<std::pair<uint64_t, size_t>> cuts;
  const size_t nCuts = fdp.ConsumeIntegralInRange<size_t>(0, 40);
  for (size_t i = 0; i < nCuts; ++i) {
    const uint64_t source = fdp.ConsumeIntegralInRange<uint64_t>(0, senders - 1);
    cuts.emplace_back(source, fdp.ConsumeIntegralInRange<size_t>(0, 2100));
  }
  const std::vector<uint8_t> stream = fdp.ConsumeRemainingBytes<uint8_t>();

  // Datagrams: the cut sizes in turn, the rest as one last datagram of sender 0.
  std::vector<Datagram> datagrams;
  size_t pos = 0;
  for (const auto& [source, c] : cuts) {
    if (pos >= stream.size()) break;
    const size_t n = std::min(c, stream.size() - pos);
    datagrams.push_back(
        {busprobe::CvUdpSourceKey(0x7F000001, static_cast<uint16_t>(40000 + source)), pos, n});
    pos += n;
  }
  if (pos < stream.size())
    datagrams.push_back({busprobe::CvUdpSourceKey(0x7F000001, 40000), pos, stream.size() - pos});

  // 1a. All senders through one reassembler, checking each datagram that is whole packets by itself.
  std::vector<Tagged> mixed;
  uint64_t current = 0;
  busprobe::CvUdpReassembler all([&](uint8_t t, const uint8_t* p, int n) {
    CheckPacket(t, p, n);
    mixed.push_back({current, {t, std::vector<uint8_t>(p, p + n)}});
  });
  for (const Datagram& d : datagrams) {
    std::vector<Seen> alone;
    busprobe::CvUdpReassembler fresh([&](uint8_t t, const uint8_t* p, int n) {
      alone.push_back({t, std::vector<uint8_t>(p, p + n)});
    });
    fresh.feed(stream.data() + d.at, d.length);
    const bool whole = fresh.pendingSources() == 0 && fresh.discardedHeaders() == 0;
    const size_t before = mixed.size();
    current = d.source;
    all.feed(d.source, stream.data() + d.at, d.length);
    if (all.pendingSources() > busprobe::CvUdpReassembler::kMaxPartialSources) std::abort();
    if (whole) {
      if (mixed.size() - before != alone.size()) std::abort();
      for (size_t i = 0; i < alone.size(); ++i)
        if (!(mixed[before + i].packet == alone[i])) std::abort();
    }
  }
  all.feed(0, nullptr, 5);  // must be harmless
  // What is told as discarded was really fed, and is not counted twice.
  if (all.discardedBytes() > stream.size()) std::abort();

  // 1b. Each sender on its own gives the same packets, as long as none was pushed out of the table.
  if (all.evictedPartials() == 0) {
    std::vector<uint64_t> sources;
    for (const Datagram& d : datagrams)
      if (std::find(sources.begin(), sources.end(), d.source) == sources.end()) sources.push_back(d.source);
    for (uint64_t source : sources) {
      std::vector<Seen> own;
      busprobe::CvUdpReassembler one([&](uint8_t t, const uint8_t* p, int n) {
        own.push_back({t, std::vector<uint8_t>(p, p + n)});
      });
      for (const Datagram& d : datagrams)
        if (d.source == source) one.feed(source, stream.data() + d.at, d.length);
      std::vector<Seen> fromMixed;
      for (const Tagged& t : mixed)
        if (t.source == source) fromMixed.push_back(t.packet);
      if (!(own == fromMixed)) std::abort();
    }
  }

  // 2. Through the endpoints' handlers.
  Rig& rig = TheRig();
  for (const Datagram& d : datagrams) rig.mirror.feed(d.source, stream.data() + d.at, d.length);
  if (!rig.foreignConnect) {
    for (const Datagram& d : datagrams) {
      rig.server->handleDatagram(stream.data() + d.at, d.length, d.source);
      rig.client->handleDatagram(stream.data() + d.at, d.length, d.source);
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
