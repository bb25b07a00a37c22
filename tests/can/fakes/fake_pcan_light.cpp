// A scripted PCAN-Light device: records every call with its arguments and answers from what the
// test queued. FAKE_PCAN_DONGLE builds the dongle library (its CAN_Init takes the hardware
// parameters, and it has CAN_InitPnP), else the USB one; FAKE_PCAN_PARTIAL leaves out CAN_Status,
// CAN_Read, CAN_Write and CAN_VersionInfo.
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <utility>

#include "can/fakes/fake_call_recorder.h"
#include "can/fakes/pcan_light_fake.h"

namespace {

struct FakePcan : busprobe::fake::CallRecorder<uint32_t> {
  std::deque<std::pair<uint32_t, FakePcanMsg>> reads;
  uint32_t status = 0;
  int blockMs = 0;
};

FakePcan& Fake() {
  static FakePcan fake;
  return fake;
}

}  // namespace

FAKE_EXPORT const char* fake_pcan_log() {
  FakePcan& f = Fake();
  std::lock_guard<std::mutex> g(f.mutex);
  return f.logText();
}

FAKE_EXPORT void fake_pcan_reset() {
  FakePcan& f = Fake();
  std::lock_guard<std::mutex> g(f.mutex);
  f.log.clear();
  f.reads.clear();
  f.failures.clear();
  f.status = 0;
  f.blockMs = 0;
}

FAKE_EXPORT void fake_pcan_push_read(uint32_t result, const FakePcanMsg* msg) {
  FakePcan& f = Fake();
  std::lock_guard<std::mutex> g(f.mutex);
  f.reads.emplace_back(result, *msg);
}

FAKE_EXPORT void fake_pcan_fail_next(const char* entry, uint32_t result) {
  FakePcan& f = Fake();
  std::lock_guard<std::mutex> g(f.mutex);
  f.failures[entry].push_back(result);
}

FAKE_EXPORT void fake_pcan_set_status(uint32_t status) {
  FakePcan& f = Fake();
  std::lock_guard<std::mutex> g(f.mutex);
  f.status = status;
}

FAKE_EXPORT void fake_pcan_block_ms(int ms) {
  FakePcan& f = Fake();
  std::lock_guard<std::mutex> g(f.mutex);
  f.blockMs = ms;
}

// --- the driver's entry points

#ifdef FAKE_PCAN_DONGLE
FAKE_EXPORT uint32_t CAN_Init(uint16_t btr0btr1, int32_t msgType, int32_t hwType, uint32_t ioPort,
                              uint16_t interrupt) {
  FakePcan& f = Fake();
  std::lock_guard<std::mutex> g(f.mutex);
  f.note("CAN_Init(0x%04x,%d,%d,%u,%u)", btr0btr1, msgType, hwType, ioPort, interrupt);
  return f.answer("CAN_Init", 0);
}

FAKE_EXPORT uint32_t CAN_InitPnP(uint16_t btr0btr1, int32_t msgType) {
  FakePcan& f = Fake();
  std::lock_guard<std::mutex> g(f.mutex);
  f.note("CAN_InitPnP(0x%04x,%d)", btr0btr1, msgType);
  return f.answer("CAN_InitPnP", 0);
}
#else
FAKE_EXPORT uint32_t CAN_Init(uint16_t btr0btr1, int32_t msgType) {
  FakePcan& f = Fake();
  std::lock_guard<std::mutex> g(f.mutex);
  f.note("CAN_Init(0x%04x,%d)", btr0btr1, msgType);
  return f.answer("CAN_Init", 0);
}
#endif

FAKE_EXPORT uint32_t CAN_Close() {
  FakePcan& f = Fake();
  std::lock_guard<std::mutex> g(f.mutex);
  f.note("CAN_Close()");
  return f.answer("CAN_Close", 0);
}

#ifndef FAKE_PCAN_PARTIAL
FAKE_EXPORT uint32_t CAN_Status() {
  FakePcan& f = Fake();
  std::lock_guard<std::mutex> g(f.mutex);
  f.note("CAN_Status()");
  return f.answer("CAN_Status", f.status);
}

FAKE_EXPORT uint32_t CAN_Write(FakePcanMsg* msg) {
  FakePcan& f = Fake();
  std::lock_guard<std::mutex> g(f.mutex);
  std::string data;
  for (int i = 0; i < msg->len && i < 8; ++i) {
    char byte[4];
    std::snprintf(byte, sizeof byte, " %02x", msg->data[i]);
    data += byte;
  }
  f.note("CAN_Write(0x%08x,0x%02x,%u)%s", msg->id, msg->msgType, msg->len, data.c_str());
  return f.answer("CAN_Write", 0);
}

FAKE_EXPORT uint32_t CAN_Read(FakePcanMsg* msg) {
  int blockMs = 0;
  {
    FakePcan& f = Fake();
    std::lock_guard<std::mutex> g(f.mutex);
    blockMs = f.blockMs;
    f.blockMs = 0;
  }
  if (blockMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(blockMs));
  FakePcan& f = Fake();
  std::lock_guard<std::mutex> g(f.mutex);
  f.note("CAN_Read()");
  if (f.reads.empty()) return 0x0020;  // QRCVEMPTY
  const auto [result, m] = f.reads.front();
  f.reads.pop_front();
  *msg = m;
  return result;
}

FAKE_EXPORT uint32_t CAN_VersionInfo(char* text) {
  FakePcan& f = Fake();
  std::lock_guard<std::mutex> g(f.mutex);
  f.note("CAN_VersionInfo()");
  std::strcpy(text, "fake PCAN-Light 1.0");
  return f.answer("CAN_VersionInfo", 0);
}
#endif
