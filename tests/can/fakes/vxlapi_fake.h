// The scripted XL driver the Vector back-end's tests run against. The entry points are plain C
// calls answering a status (0 = success, 10 = queue empty); the structures below are the layouts
// the back-end assumes (it declares the same ones). Control functions are reached through a second
// dlopen of the library.
#pragma once

#include <cstdint>

struct FakeXlChannelConfig {
  char name[32];
  uint64_t channelMask;
};

struct FakeXlDriverConfig {
  uint32_t dllVersion;
  uint32_t channelCount;
  FakeXlChannelConfig channel[64];
};

// One event: tag 1 a received message, 4 a chip state, 10 a message to transmit.
struct FakeXlEvent {
  uint8_t tag;
  uint8_t chanIndex;
  uint8_t busStatus;  // chip state: 1 bus off, 2 error passive, 4 error warning, 8 error active
  uint8_t reserved;
  uint32_t id;         // bit 31: extended
  uint64_t timeStamp;  // ns
  uint16_t flags;      // 0x01 error frame, 0x10 remote, 0x40 / 0x80 not for the application
  uint16_t dlc;
  uint8_t data[8];
  uint8_t pad[4];
};

extern "C" {
using FakeXlResetFn = void (*)();
using FakeXlLogFn = const char* (*)();
// Channels the driver configuration reports, named "<prefix> 1", "<prefix> 2", ... with masks 1, 2, 4, ...
using FakeXlSetChannelsFn = void (*)(int count, const char* prefix);
using FakeXlFailNextFn = void (*)(const char* entry, int status);
using FakeXlBlockNextFn = void (*)(const char* entry, int ms);
// Queued for the port that opened first with that access mask; xlReceive answers them in order.
using FakeXlPushEventFn = void (*)(const FakeXlEvent* event);
// What xlGetSyncTime answers (ns).
using FakeXlSetSyncTimeFn = void (*)(uint64_t ns);
// The driver clock jumps to this at the next activation (a controller restart).
using FakeXlSetSyncTimeOnActivateFn = void (*)(uint64_t ns);
using FakeXlSetErrorStringsFn = void (*)(int available);
}
