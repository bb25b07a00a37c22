// Any frame sequence from the bus reaches the SDO client and servers: answers out of order,
// wrong toggles and sizes, unknown specifiers, block requests, peers that vanish. Two engines
// talk to each other while the input interleaves its own frames, client transfers, callback
// answers and clock steps; nothing may write outside a buffer, and every frame sent must be a
// well-formed SDO frame of the channel that sent it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "base/clock.h"
#include "canopen/sdo_engine.h"
#include "canopen/sdo_settings.h"

using namespace busprobe;

namespace {

class Input {
 public:
  Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool empty() const { return pos_ >= size_; }
  uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }
  uint16_t u16() { return static_cast<uint16_t>(byte() | (byte() << 8)); }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

// A dictionary whose blocks may be of any length, even longer than a channel's buffer, as a
// faulty dictionary could deliver.
class FuzzDictionary : public SdoDictionaryAccess {
 public:
  int SDO_USER_DictionaryAccess(SdoChannel& ch) override {
    const uint8_t kind = static_cast<uint8_t>(ch.index ^ ch.subIndex);
    if (kind % 7 == 0) {
      ch.abortCode = 0x06020000;
      return 0;
    }
    if (kind % 11 == 0) return 0;  // fails without saying why
    if (ch.isDownload) {
      if (ch.blockLength > 0) stored.assign(ch.buffer, ch.buffer + std::min(ch.blockLength, kSdoBufferSize));
      if (kind % 5 == 0) ch.abortCode = 0x06010002;
      return 1;
    }
    ch.dataType = static_cast<uint8_t>(kind % 13);
    ch.setValue32(0x01020304u * kind);
    ch.rawValue = 0;
    if (kind % 3 == 0) {
      ch.segmentMode = kSdoSegmentedUpload;
      ch.blockLength = (kind % 2) ? static_cast<int32_t>(kind) * 17 : static_cast<int32_t>(stored.size());
      const size_t n = std::min<size_t>(static_cast<size_t>(ch.blockLength), kSdoBufferSize);
      for (size_t i = 0; i < n; ++i) ch.buffer[i] = static_cast<uint8_t>(i < stored.size() ? stored[i] : i);
    }
    return 1;
  }
  std::vector<uint8_t> stored;
};

struct Node {
  SdoSettings settings;
  FuzzDictionary dictionary;
};

void CheckSent(const SdoEngine& engine, const CanFrame& f) {
  if (f.length != 8 || f.rtr) std::abort();
  bool ours = f.id == engine.client().txCobId;
  for (int i = 0; i < kSdoServerCount; ++i) ours |= f.id == engine.server(i).txCobId;
  if (!ours) std::abort();
}

void CheckChannel(const SdoChannel& ch) {
  if (ch.state != kSdoIdle && ch.state != kSdoFinished && ch.state != kSdoFailed && ch.state != kSdoBusy)
    std::abort();
  if (ch.toggle != 0 && ch.toggle != 0x10) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Input in(data, size);
  ManualClock clock(in.byte() * 1000.0);
  std::deque<std::pair<int, CanFrame>> wire;
  Node nodes[2];
  nodes[0].settings.clientNodeId = 2;
  nodes[0].settings.serverNodeId = 1;
  nodes[1].settings.clientNodeId = 1;
  nodes[1].settings.serverNodeId = 2;
  nodes[1].settings.moreServerNodeIds[0] = 2;  // two servers on one node
  nodes[1].settings.moreServerNodeIds[1] = in.byte() % 4;
  nodes[0].settings.clientTimeoutMs = in.byte() * 4;
  int32_t callbackAnswer = 0;
  bool failSends = false;

  std::vector<std::unique_ptr<SdoEngine>> engines;
  for (int n = 0; n < 2; ++n) {
    SdoEngineLinks links;
    links.transmit = [&wire, &failSends, &engines, n](CanFrame& f) {
      CheckSent(*engines[static_cast<size_t>(n)], f);
      if (failSends) return false;
      if (wire.size() < 64) wire.push_back({n, f});
      return true;
    };
    links.message = [](std::string_view line) {
      if (line.empty()) std::abort();
    };
    engines.push_back(
        std::make_unique<SdoEngine>(nodes[n].settings, nodes[n].dictionary, clock, std::move(links)));
  }
  for (auto& e : engines) {
    e->client().dataCallback = [&callbackAnswer](SdoChannel& ch, int event, int32_t number,
                                                 const uint8_t* bytes) {
      if (event == kSdoBlockData) {
        if (number < 0 || number > 7 || !bytes) std::abort();
        volatile uint8_t sink = 0;
        for (int32_t i = 0; i < number; ++i) sink = sink ^ bytes[i];
        ch.timer = ch.timeoutTicks;
      }
      return event == kSdoBlockAnnounced ? callbackAnswer : 0;
    };
  }

  int steps = 0;
  while (!in.empty() && steps++ < 4000) {
    const uint8_t op = in.byte();
    SdoEngine& e = *engines[op & 1];
    switch ((op >> 1) % 8) {
      case 0:
      case 1: {  // a frame of the input's own, to any of the identifiers in use or near them
        CanFrame f;
        static const uint32_t kIds[] = {0x581, 0x582, 0x601, 0x602, 0x600, 0x603};
        const uint8_t pick = in.byte();
        f.id = kIds[pick % 6];
        if (pick & 0x80) f.id |= CanFrame::kRelayedBusBit;
        f.length = static_cast<uint8_t>(in.byte() % 9);
        if (pick & 0x40) f.length = 64;
        for (int i = 0; i < 8; ++i) f.data[i] = in.byte();
        f.rtr = (pick & 0x38) == 0x38;
        e.ProcessFrame(f);
        break;
      }
      case 2: {  // start a client transfer
        SdoChannel& c = e.client();
        const uint8_t how = in.byte();
        c.index = static_cast<uint16_t>((how & 0x80) ? 0x1021 : in.u16());
        c.subIndex = in.byte();
        c.isDownload = how & 1;
        c.dataType = in.byte() % 64;
        c.rawValue = (how >> 1) & 1;
        c.valueSize = in.byte() % 6;
        c.setValue32(static_cast<uint32_t>(in.u16()) << 8);
        c.blockLength = (how & 4) ? static_cast<int32_t>(in.u16() % 2100) : 0;
        if (how & 8) c.blockLength = -static_cast<int32_t>(in.byte());
        for (int i = 0; i < std::min(c.blockLength, kSdoBufferSize); i += 97) c.buffer[i] = how;
        c.abortCode = 0;
        if (how & 0x40) c.txCobId = in.u16();
        e.InitTransfer();
        break;
      }
      case 3:  // let the two engines talk for a while
        for (int k = in.byte() % 64; k > 0 && !wire.empty(); --k) {
          const auto [from, f] = wire.front();
          wire.pop_front();
          engines[static_cast<size_t>(1 - from)]->ProcessFrame(f);
        }
        break;
      case 4:  // a frame lost on the way
        if (!wire.empty()) wire.pop_front();
        break;
      case 5:
        clock.advance(in.byte());
        if (in.byte() & 1) clock.set(clock.nowMs() / 2);
        e.SdoTimeoutTick();
        break;
      case 6: {
        static const int32_t kAnswers[] = {0, -1, 0x08000021, 1, 0x05040005};
        callbackAnswer = kAnswers[in.byte() % 5];
        failSends = (in.byte() & 7) == 0;
        break;
      }
      case 7:
        if (in.byte() == 0xA5) {
          nodes[op & 1].settings.serverNodeId = in.byte();
          e.SdoApplySettings();
        }
        break;
    }
    for (auto& en : engines) {
      CheckChannel(en->client());
      for (int i = 0; i < kSdoServerCount; ++i) CheckChannel(en->server(i));
      (void)SdoTransferValue(en->client());
      (void)SdoTransferValue(en->server(0));
    }
  }
  return 0;
}
