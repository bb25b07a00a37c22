// The CAN-API 2 driver's calls and message record as the fake library exports them, and the control
// functions through which a test scripts the driver: its nets, frames, answers and clock.
#pragma once

#include <cstdint>

extern "C" {

// Type byte: 0x01 remote, 0x02 extended, 0x80 status message.
struct FakeApi2Msg {
  uint32_t id;
  uint8_t msgType;
  uint8_t len;
  uint8_t data[8];
};

// --- control, for tests only
// Every call since the last reset, one line each ("CAN_ConnectToNet(1,NvkNet)").
using FakeApi2LogFn = const char* (*)();
// Forgets calls, frames and answers; the driver then knows the net "NvkNet" only.
using FakeApi2ResetFn = void (*)();
// The nets the driver knows, comma-separated; net n of the list has net handle 10 + n and
// hardware 20 + n. Other names answer ILLNET.
using FakeApi2SetNetsFn = void (*)(const char* names);
// What the next CAN_Read answers: result, message and receive time. With nothing queued CAN_Read
// answers QRCVEMPTY.
using FakeApi2PushReadFn = void (*)(uint32_t result, const FakeApi2Msg* msg, uint32_t timeMs);
// The next call of that entry point answers result instead (queued per entry point).
using FakeApi2FailNextFn = void (*)(const char* entry, uint32_t result);
using FakeApi2SetStatusFn = void (*)(uint32_t status);
// What CAN_GetSystemTime reports from now on.
using FakeApi2SetTimeFn = void (*)(uint32_t timeMs);
// The BTR0BTR1 value the hardware holds, as if someone else had set it.
using FakeApi2SetBtrFn = void (*)(uint32_t hardware, uint32_t btr0btr1);
// The next CAN_Read blocks that long before answering.
using FakeApi2BlockMsFn = void (*)(int ms);
}
