// A scripted NTCAN device: records every call with its arguments and answers from what the test
// queued. Built twice: FAKE_NTCAN_PARTIAL leaves out canStatus, canTake and canWrite.
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <thread>

#include "can/fakes/fake_call_recorder.h"
#include "can/fakes/ntcan_fake.h"

namespace {

struct FakeNtcan : busprobe::fake::CallRecorder<FakeNtcanResult> {
  std::deque<FakeNtcanMsg> rx;
  int blockMs = 0;
  FakeNtcanHandle nextHandle = 100;
  FakeNtcanIfStatus status{};
  uint32_t baudCode = 0;
  bool baudOverride = false;
  int32_t writeCount = -1;
};

FakeNtcan& Fake() {
  static FakeNtcan fake;
  return fake;
}

}  // namespace

FAKE_EXPORT const char* fake_ntcan_log() {
  FakeNtcan& f = Fake();
  std::lock_guard<std::mutex> g(f.mutex);
  return f.logText();
}

FAKE_EXPORT void fake_ntcan_reset() {
  FakeNtcan& f = Fake();
  std::lock_guard<std::mutex> g(f.mutex);
  f.log.clear();
  f.rx.clear();
  f.failures.clear();
  f.blockMs = 0;
  f.nextHandle = 100;
  f.status = FakeNtcanIfStatus{};
  f.baudCode = 0;
  f.baudOverride = false;
  f.writeCount = -1;
}

FAKE_EXPORT void fake_ntcan_push_rx(const FakeNtcanMsg* msg) {
  FakeNtcan& f = Fake();
  std::lock_guard<std::mutex> g(f.mutex);
  f.rx.push_back(*msg);
}

FAKE_EXPORT void fake_ntcan_fail_next(const char* entry, FakeNtcanResult result) {
  FakeNtcan& f = Fake();
  std::lock_guard<std::mutex> g(f.mutex);
  f.failures[entry].push_back(result);
}

FAKE_EXPORT void fake_ntcan_block_ms(int ms) {
  FakeNtcan& f = Fake();
  std::lock_guard<std::mutex> g(f.mutex);
  f.blockMs = ms;
}

FAKE_EXPORT void fake_ntcan_set_versions(uint16_t hardware, uint16_t firmware, uint16_t driver) {
  FakeNtcan& f = Fake();
  std::lock_guard<std::mutex> g(f.mutex);
  f.status.hardware = hardware;
  f.status.firmware = firmware;
  f.status.driver = driver;
}

FAKE_EXPORT void fake_ntcan_set_baud_code(uint32_t code) {
  FakeNtcan& f = Fake();
  std::lock_guard<std::mutex> g(f.mutex);
  f.baudCode = code;
  f.baudOverride = true;
}

FAKE_EXPORT void fake_ntcan_set_write_count(int32_t count) {
  FakeNtcan& f = Fake();
  std::lock_guard<std::mutex> g(f.mutex);
  f.writeCount = count;
}

// --- the driver's entry points

FAKE_EXPORT FakeNtcanResult canOpen(int32_t net, uint32_t flags, int32_t txQueue, int32_t rxQueue,
                                    int32_t txTimeout, int32_t rxTimeout, FakeNtcanHandle* handle) {
  FakeNtcan& f = Fake();
  std::lock_guard<std::mutex> g(f.mutex);
  f.note("canOpen(%d,%u,%d,%d,%d,%d)", net, flags, txQueue, rxQueue, txTimeout, rxTimeout);
  FakeNtcanResult r = 0;
  if (f.scripted("canOpen", r)) return r;
  *handle = f.nextHandle++;
  return 0;
}

FAKE_EXPORT FakeNtcanResult canClose(FakeNtcanHandle handle) {
  FakeNtcan& f = Fake();
  std::lock_guard<std::mutex> g(f.mutex);
  f.note("canClose(%d)", handle);
  FakeNtcanResult r = 0;
  f.scripted("canClose", r);
  return r;
}

#ifndef FAKE_NTCAN_PARTIAL
FAKE_EXPORT FakeNtcanResult canStatus(FakeNtcanHandle handle, FakeNtcanIfStatus* status) {
  FakeNtcan& f = Fake();
  std::lock_guard<std::mutex> g(f.mutex);
  f.note("canStatus(%d)", handle);
  FakeNtcanResult r = 0;
  if (f.scripted("canStatus", r)) return r;
  *status = f.status;
  return 0;
}
#endif

FAKE_EXPORT FakeNtcanResult canSetBaudrate(FakeNtcanHandle handle, uint32_t code) {
  FakeNtcan& f = Fake();
  std::lock_guard<std::mutex> g(f.mutex);
  f.note("canSetBaudrate(%d,%u)", handle, code);
  FakeNtcanResult r = 0;
  if (f.scripted("canSetBaudrate", r)) return r;
  if (!f.baudOverride) f.baudCode = code;
  return 0;
}

FAKE_EXPORT FakeNtcanResult canGetBaudrate(FakeNtcanHandle handle, uint32_t* code) {
  FakeNtcan& f = Fake();
  std::lock_guard<std::mutex> g(f.mutex);
  f.note("canGetBaudrate(%d)", handle);
  FakeNtcanResult r = 0;
  if (f.scripted("canGetBaudrate", r)) return r;
  *code = f.baudCode;
  return 0;
}

FAKE_EXPORT FakeNtcanResult canIdAdd(FakeNtcanHandle handle, int32_t id) {
  FakeNtcan& f = Fake();
  std::lock_guard<std::mutex> g(f.mutex);
  f.note("canIdAdd(%d,0x%x)", handle, static_cast<unsigned>(id));
  FakeNtcanResult r = 0;
  f.scripted("canIdAdd", r);
  return r;
}

FAKE_EXPORT FakeNtcanResult canIdRangeAdd(FakeNtcanHandle handle, int32_t first, int32_t last) {
  FakeNtcan& f = Fake();
  std::lock_guard<std::mutex> g(f.mutex);
  f.note("canIdRangeAdd(%d,0x%x,0x%x)", handle, static_cast<unsigned>(first), static_cast<unsigned>(last));
  return 0;
}

FAKE_EXPORT FakeNtcanResult canIdDelete(FakeNtcanHandle handle, int32_t id) {
  FakeNtcan& f = Fake();
  std::lock_guard<std::mutex> g(f.mutex);
  f.note("canIdDelete(%d,0x%x)", handle, static_cast<unsigned>(id));
  return 0;
}

FAKE_EXPORT FakeNtcanResult canIdRangeDelete(FakeNtcanHandle handle, int32_t first, int32_t last) {
  FakeNtcan& f = Fake();
  std::lock_guard<std::mutex> g(f.mutex);
  f.note("canIdRangeDelete(%d,0x%x,0x%x)", handle, static_cast<unsigned>(first), static_cast<unsigned>(last));
  return 0;
}

#ifndef FAKE_NTCAN_PARTIAL
FAKE_EXPORT FakeNtcanResult canTake(FakeNtcanHandle handle, FakeNtcanMsg* msg, int32_t* count) {
  int blockMs = 0;
  {
    FakeNtcan& f = Fake();
    std::lock_guard<std::mutex> g(f.mutex);
    blockMs = f.blockMs;
    f.blockMs = 0;
  }
  // A driver in trouble: the call takes that long, outside the lock so the test can still look.
  if (blockMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(blockMs));
  FakeNtcan& f = Fake();
  std::lock_guard<std::mutex> g(f.mutex);
  f.note("canTake(%d,%d)", handle, *count);
  FakeNtcanResult r = 0;
  if (f.scripted("canTake", r)) return r;
  if (f.rx.empty() || *count < 1) {
    *count = 0;
    return 0;
  }
  *msg = f.rx.front();
  f.rx.pop_front();
  *count = 1;
  return 0;
}

FAKE_EXPORT FakeNtcanResult canWrite(FakeNtcanHandle handle, FakeNtcanMsg* msg, int32_t* count,
                                     void* overlapped) {
  FakeNtcan& f = Fake();
  std::lock_guard<std::mutex> g(f.mutex);
  std::string data;
  for (int i = 0; i < (msg->len & 0x0F) && i < 8; ++i) {
    char byte[4];
    std::snprintf(byte, sizeof byte, " %02x", msg->data[i]);
    data += byte;
  }
  f.note("canWrite(%d,0x%08x,0x%02x,%d,%s)%s", handle, static_cast<unsigned>(msg->id), msg->len, *count,
         overlapped ? "ovl" : "null", data.c_str());
  FakeNtcanResult r = 0;
  if (f.scripted("canWrite", r)) return r;
  if (f.writeCount >= 0) {
    *count = f.writeCount;
    f.writeCount = -1;
  }
  return 0;
}
#endif
