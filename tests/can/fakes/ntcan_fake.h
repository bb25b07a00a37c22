// The NTCAN driver's calls and records as the fake library exports them, and the control functions
// through which a test scripts the fake device and reads what the back-end asked of it.
#pragma once

#include <cstdint>

extern "C" {

using FakeNtcanResult = uint32_t;
using FakeNtcanHandle = int32_t;

// The length byte carries the remote-request flag (0x10) above the 4-bit length.
struct FakeNtcanMsg {
  int32_t id;
  uint8_t len;
  uint8_t msgLost;
  uint8_t reserved[2];
  uint8_t data[8];
};

struct FakeNtcanIfStatus {
  uint16_t hardware;
  uint16_t firmware;
  uint16_t driver;
  uint16_t dll;
  uint32_t boardStatus;
  uint8_t boardId[14];
  uint16_t features;
};

// --- control, for tests only
// Every call since the last reset, one line each ("canOpen(0,0,2,2,1000,1000)").
using FakeNtcanLogFn = const char* (*)();
// Forgets calls, queued frames and scripted answers; handles start at 100 again.
using FakeNtcanResetFn = void (*)();
using FakeNtcanPushRxFn = void (*)(const FakeNtcanMsg* msg);
// The next call of that entry point answers result instead (queued per entry point).
using FakeNtcanFailNextFn = void (*)(const char* entry, FakeNtcanResult result);
// The next canTake blocks that long before answering.
using FakeNtcanBlockMsFn = void (*)(int ms);
using FakeNtcanSetVersionsFn = void (*)(uint16_t hardware, uint16_t firmware, uint16_t driver);
// What canGetBaudrate reports from now on (by default the code last set).
using FakeNtcanSetBaudCodeFn = void (*)(uint32_t code);
// The frame count the next canWrite reports back (by default the count asked for).
using FakeNtcanSetWriteCountFn = void (*)(int32_t count);
}
