// The PCAN-Light driver's calls and message record as the fake libraries export them (one build
// for the dongle, one for USB), and the control functions through which a test scripts the device.
#pragma once

#include <cstdint>

extern "C" {

// Type byte: 0x01 remote, 0x02 extended, 0x80 status message.
struct FakePcanMsg {
  uint32_t id;
  uint8_t msgType;
  uint8_t len;
  uint8_t data[8];
};

// --- control, for tests only
// Every call since the last reset, one line each ("CAN_Init(0x001c,0,5,888,7)").
using FakePcanLogFn = const char* (*)();
using FakePcanResetFn = void (*)();
// What the next CAN_Read answers: its result and the message it fills in. With nothing queued
// CAN_Read answers QRCVEMPTY.
using FakePcanPushReadFn = void (*)(uint32_t result, const FakePcanMsg* msg);
// The next call of that entry point answers result instead (queued per entry point).
using FakePcanFailNextFn = void (*)(const char* entry, uint32_t result);
// What CAN_Status answers from now on.
using FakePcanSetStatusFn = void (*)(uint32_t status);
// The next CAN_Read blocks that long before answering.
using FakePcanBlockMsFn = void (*)(int ms);
}
