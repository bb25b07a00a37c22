// CAN-via-UDP throughput on 127.0.0.1: a server endpoint forwards received-frame reports (one
// frame per datagram, as the server does for every frame its bus delivers) to a connected client
// endpoint, whose ring is drained by a consumer thread every 5 ms (or, in one variant, at the rate
// of the main tick).
//
// Paced runs send at a fixed rate for 2 s and report what arrived and where frames were lost:
// in the kernel (datagrams sent but never read) or in the client's ring (ring_drops). The unpaced
// run sends as fast as the sender can.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include "can/cvudp.h"

namespace {

using busprobe::CanFrame;
using SteadyTime = std::chrono::steady_clock;
constexpr uint32_t kLoopback = 0x7F000001;

struct Link {
  busprobe::SteadyClock clock;
  busprobe::DeferredMessageQueue messages;
  busprobe::CvUdpHub hub{clock, messages};
  busprobe::CvUdpEndpoint* server = nullptr;
  busprobe::CvUdpEndpoint* client = nullptr;
  std::atomic<bool> stop{false};
  std::atomic<uint64_t> delivered{0}, gaps{0};  // gaps: places where frames went missing
  busprobe::CvUdpCounters serverAtStart, clientAtStart;
  std::thread consumer;

  // The consumer empties the ring every periodMs, taking at most maxPerPeriod frames (0: all).
  bool open(int periodMs = 5, uint64_t maxPerPeriod = 0) {
    server = hub.createEndpoint();
    client = hub.createEndpoint();
    if (!server || !client || server->open(2, 0, 0, kLoopback, 0) != 1 ||
        client->open(1, kLoopback, server->boundPort(), kLoopback, 0) != 1)
      return false;
    const auto until = SteadyTime::now() + std::chrono::seconds(5);
    while (!(server->connected() && client->connected())) {
      if (SteadyTime::now() > until) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    consumer = std::thread([this, periodMs, maxPerPeriod] {
      uint32_t expect = 0;
      CanFrame f;
      while (!stop.load(std::memory_order_relaxed)) {
        uint64_t n = 0;
        while ((maxPerPeriod == 0 || n < maxPerPeriod) && client->popFrame(f)) {
          if (f.identifier() != (expect & CanFrame::kIdMask)) gaps.fetch_add(1, std::memory_order_relaxed);
          expect = f.identifier() + 1;
          ++n;
        }
        delivered.fetch_add(n, std::memory_order_relaxed);
        std::this_thread::sleep_for(std::chrono::milliseconds(periodMs));
      }
    });
    serverAtStart = server->counters();
    clientAtStart = client->counters();
    messages.drain();
    return true;
  }

  ~Link() {
    stop.store(true);
    if (consumer.joinable()) consumer.join();
  }

  // Waits until nothing more arrives for 100 ms.
  void settle() {
    uint64_t last = ~0ull;
    while (true) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      const uint64_t now = delivered.load() + client->counters().framesDropped;
      if (now == last) return;
      last = now;
    }
  }
};

// Sends `count` frames at `rate` frames/s (0: as fast as possible), in bursts every millisecond.
// Returns the seconds spent sending.
double SendFlood(Link& link, uint64_t count, double rate) {
  CanFrame f;
  f.length = 8;
  const auto t0 = SteadyTime::now();
  uint64_t sent = 0;
  while (sent < count) {
    uint64_t due = count;
    if (rate > 0) {
      const double elapsed = std::chrono::duration<double>(SteadyTime::now() - t0).count();
      due = std::min<uint64_t>(count, static_cast<uint64_t>(elapsed * rate) + 1);
    }
    for (; sent < due; ++sent) {
      f.id = static_cast<uint32_t>(sent) & CanFrame::kIdMask;
      for (int i = 0; i < 8; ++i) f.data[i] = static_cast<uint8_t>(sent >> (8 * (i & 3)));
      f.timestamp = static_cast<uint32_t>(sent);
      link.server->sendFrame(f, false);
    }
    if (rate > 0 && sent < count) std::this_thread::sleep_for(std::chrono::microseconds(1000));
  }
  return std::chrono::duration<double>(SteadyTime::now() - t0).count();
}

void Report(benchmark::State& state, Link& link, uint64_t count, double seconds) {
  // The handshake's own datagrams are not part of the flood.
  const uint64_t sent = link.server->counters().packetsSent - link.serverAtStart.packetsSent;
  const uint64_t read = link.client->counters().packetsReceived - link.clientAtStart.packetsReceived;
  const double delivered = static_cast<double>(link.delivered.load());
  state.counters["offered_fps"] = static_cast<double>(count) / seconds;
  state.counters["delivered_fps"] = delivered / seconds;
  state.counters["sent"] = static_cast<double>(sent);
  state.counters["delivered"] = delivered;
  state.counters["lost"] = static_cast<double>(count) - delivered;
  state.counters["loss_pct"] = 100.0 * (static_cast<double>(count) - delivered) / static_cast<double>(count);
  state.counters["kernel_lost"] = static_cast<double>(sent) - static_cast<double>(read);
  state.counters["ring_drops"] = static_cast<double>(link.client->counters().framesDropped);
  state.counters["gaps"] = static_cast<double>(link.gaps.load());
}

// Arg: frames per second; 2 s of traffic.
void BM_CvUdpRelayPaced(benchmark::State& state) {
  const double rate = static_cast<double>(state.range(0));
  const uint64_t count = static_cast<uint64_t>(rate * 2);
  for (auto _ : state) {
    Link link;
    if (!link.open()) {
      state.SkipWithError("could not connect the endpoints on 127.0.0.1");
      return;
    }
    const double seconds = SendFlood(link, count, rate);
    link.settle();
    state.SetIterationTime(seconds);
    Report(state, link, count, seconds);
  }
}
BENCHMARK(BM_CvUdpRelayPaced)
    ->Arg(40000)
    ->Arg(80000)
    ->Arg(120000)
    ->Arg(200000)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// The same flood drained the way the main tick drains it: 2 x 500 frames every 50 ms. Shows how
// long the ring bridges a flood faster than the tick takes frames (32768 frames of headroom).
void BM_CvUdpRelayTickConsumer(benchmark::State& state) {
  const double rate = static_cast<double>(state.range(0));
  const uint64_t count = static_cast<uint64_t>(rate * 2);
  for (auto _ : state) {
    Link link;
    if (!link.open(50, 1000)) {
      state.SkipWithError("could not connect the endpoints on 127.0.0.1");
      return;
    }
    const double seconds = SendFlood(link, count, rate);
    link.settle();
    state.SetIterationTime(seconds);
    Report(state, link, count, seconds);
  }
}
BENCHMARK(BM_CvUdpRelayTickConsumer)
    ->Arg(20000)
    ->Arg(40000)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// As fast as the sender goes: the ceiling of one endpoint pair on this machine.
void BM_CvUdpRelayUnpaced(benchmark::State& state) {
  const uint64_t count = 400000;
  for (auto _ : state) {
    Link link;
    if (!link.open()) {
      state.SkipWithError("could not connect the endpoints on 127.0.0.1");
      return;
    }
    const double seconds = SendFlood(link, count, 0);
    link.settle();
    state.SetIterationTime(seconds);
    Report(state, link, count, seconds);
  }
}
BENCHMARK(BM_CvUdpRelayUnpaced)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

// The packet layer alone: reassembling a stream of 13-entry CAN_MSG packets.
void BM_CvUdpReassemble(benchmark::State& state) {
  std::vector<uint8_t> stream;
  const uint8_t data[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  for (int p = 0; p < 64; ++p) {
    const uint16_t len = 13 * busprobe::kCvUdpEntrySize;
    stream.insert(stream.end(), {busprobe::kCvUdpCanMsg, 0, static_cast<uint8_t>(len & 0xFF),
                                 static_cast<uint8_t>(len >> 8)});
    for (int e = 0; e < 13; ++e) {
      uint8_t packet[80];
      busprobe::CvUdpBuildFrame(static_cast<uint32_t>(e), busprobe::kCvUdpInfoRxReport | 8, 0, data, packet);
      stream.insert(stream.end(), packet + 4, packet + 80);
    }
  }
  uint64_t packets = 0;
  busprobe::CvUdpReassembler r([&](uint8_t, const uint8_t*, int) { ++packets; });
  for (auto _ : state) {
    // Fed in 1000-byte pieces so that packets straddle the "datagrams".
    for (size_t at = 0; at < stream.size(); at += 1000)
      r.feed(stream.data() + at, std::min<size_t>(1000, stream.size() - at));
  }
  benchmark::DoNotOptimize(packets);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(stream.size()));
  state.counters["frames_per_s"] =
      benchmark::Counter(static_cast<double>(state.iterations()) * 64 * 13, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_CvUdpReassemble);

// What a server sends: one 80-byte frame packet per datagram, 832 datagrams per iteration. Arg 1:
// strangers have left unfinished packets behind (a full table), which every datagram is looked up in.
void BM_CvUdpReassembleWholeDatagrams(benchmark::State& state) {
  uint8_t packet[80];
  const uint8_t data[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  busprobe::CvUdpBuildFrame(0x123, busprobe::kCvUdpInfoRxReport | 8, 0, data, packet);
  uint64_t packets = 0;
  busprobe::CvUdpReassembler r([&](uint8_t, const uint8_t*, int) { ++packets; });
  const uint64_t client = busprobe::CvUdpSourceKey(0x7F000001, 40000);
  if (state.range(0)) {
    for (int i = 0; i < busprobe::CvUdpReassembler::kMaxPartialSources; ++i)
      r.feed(busprobe::CvUdpSourceKey(0x0A000001u + static_cast<uint32_t>(i), 1), packet, 40);
  }
  constexpr int kDatagrams = 64 * 13;
  for (auto _ : state) {
    for (int i = 0; i < kDatagrams; ++i) r.feed(client, packet, sizeof packet);
  }
  benchmark::DoNotOptimize(packets);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kDatagrams * 80);
  state.counters["frames_per_s"] =
      benchmark::Counter(static_cast<double>(state.iterations()) * kDatagrams, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_CvUdpReassembleWholeDatagrams)->Arg(0)->Arg(1);

}  // namespace

BENCHMARK_MAIN();
