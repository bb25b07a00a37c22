// A scripted CAN-API 2 driver: records every call with its arguments and answers from what the test
// queued. FAKE_CANAPI2_PARTIAL leaves out CAN_Status, CAN_Read, CAN_Write, CAN_GetSystemTime and
// CAN_VersionInfo.
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "can/fakes/fake_call_recorder.h"
#include "can/fakes/canapi2_fake.h"

namespace {

constexpr uint32_t kQRcvEmpty = 0x0020;
constexpr uint32_t kIllNet = 0x1800;
constexpr uint32_t kIllParamVal = 0x8000;

struct FakeApi2 : busprobe::fake::CallRecorder<uint32_t> {
  std::vector<std::string> nets{"NvkNet"};
  std::deque<std::tuple<uint32_t, FakeApi2Msg, uint32_t>> reads;
  std::map<uint32_t, uint32_t> btr;  // per hardware
  uint32_t status = 0, timeMs = 0, nextClient = 1;
  int blockMs = 0;

  bool validNet(uint32_t net) const { return net >= 10 && net < 10 + nets.size(); }
};

FakeApi2& Fake() {
  static FakeApi2 fake;
  return fake;
}

}  // namespace

FAKE_EXPORT const char* fake_canapi2_log() {
  FakeApi2& f = Fake();
  std::lock_guard<std::mutex> g(f.mutex);
  return f.logText();
}

FAKE_EXPORT void fake_canapi2_reset() {
  FakeApi2& f = Fake();
  std::lock_guard<std::mutex> g(f.mutex);
  f.log.clear();
  f.nets = {"NvkNet"};
  f.reads.clear();
  f.failures.clear();
  f.btr.clear();
  f.status = 0;
  f.timeMs = 0;
  f.nextClient = 1;
  f.blockMs = 0;
}

FAKE_EXPORT void fake_canapi2_set_nets(const char* names) {
  FakeApi2& f = Fake();
  std::lock_guard<std::mutex> g(f.mutex);
  f.nets.clear();
  std::istringstream in(names);
  for (std::string n; std::getline(in, n, ',');) f.nets.push_back(n);
}

FAKE_EXPORT void fake_canapi2_push_read(uint32_t result, const FakeApi2Msg* msg, uint32_t timeMs) {
  FakeApi2& f = Fake();
  std::lock_guard<std::mutex> g(f.mutex);
  f.reads.emplace_back(result, *msg, timeMs);
}

FAKE_EXPORT void fake_canapi2_fail_next(const char* entry, uint32_t result) {
  FakeApi2& f = Fake();
  std::lock_guard<std::mutex> g(f.mutex);
  f.failures[entry].push_back(result);
}

FAKE_EXPORT void fake_canapi2_set_status(uint32_t status) {
  FakeApi2& f = Fake();
  std::lock_guard<std::mutex> g(f.mutex);
  f.status = status;
}

FAKE_EXPORT void fake_canapi2_set_time(uint32_t timeMs) {
  FakeApi2& f = Fake();
  std::lock_guard<std::mutex> g(f.mutex);
  f.timeMs = timeMs;
}

FAKE_EXPORT void fake_canapi2_set_btr(uint32_t hardware, uint32_t btr0btr1) {
  FakeApi2& f = Fake();
  std::lock_guard<std::mutex> g(f.mutex);
  f.btr[hardware] = btr0btr1;
}

FAKE_EXPORT void fake_canapi2_block_ms(int ms) {
  FakeApi2& f = Fake();
  std::lock_guard<std::mutex> g(f.mutex);
  f.blockMs = ms;
}

// --- the driver's entry points

FAKE_EXPORT uint32_t CAN_RegisterClient(const char* name, uintptr_t window, uint32_t* client) {
  FakeApi2& f = Fake();
  std::lock_guard<std::mutex> g(f.mutex);
  f.note("CAN_RegisterClient(%s,%lu)", name, static_cast<unsigned long>(window));
  uint32_t r = 0;
  if (f.scripted("CAN_RegisterClient", r)) return r;
  *client = f.nextClient++;
  return 0;
}

FAKE_EXPORT uint32_t CAN_RemoveClient(uint32_t client) {
  FakeApi2& f = Fake();
  std::lock_guard<std::mutex> g(f.mutex);
  f.note("CAN_RemoveClient(%u)", client);
  return 0;
}

FAKE_EXPORT uint32_t CAN_ConnectToNet(uint32_t client, const char* netName, uint32_t* net) {
  FakeApi2& f = Fake();
  std::lock_guard<std::mutex> g(f.mutex);
  f.note("CAN_ConnectToNet(%u,%s)", client, netName);
  uint32_t r = 0;
  if (f.scripted("CAN_ConnectToNet", r)) return r;
  for (size_t i = 0; i < f.nets.size(); ++i) {
    if (f.nets[i] == netName) {
      *net = static_cast<uint32_t>(10 + i);
      return 0;
    }
  }
  return kIllNet;
}

FAKE_EXPORT uint32_t CAN_DisconnectFromNet(uint32_t client, uint32_t net) {
  FakeApi2& f = Fake();
  std::lock_guard<std::mutex> g(f.mutex);
  f.note("CAN_DisconnectFromNet(%u,%u)", client, net);
  return 0;
}

FAKE_EXPORT uint32_t CAN_RegisterMsg(uint32_t client, uint32_t net, uint32_t fromId, uint32_t toId,
                                     uint8_t msgType) {
  FakeApi2& f = Fake();
  std::lock_guard<std::mutex> g(f.mutex);
  f.note("CAN_RegisterMsg(%u,%u,0x%x,0x%x,%u)", client, net, fromId, toId, msgType);
  uint32_t r = 0;
  if (f.scripted("CAN_RegisterMsg", r)) return r;
  return 0;
}

FAKE_EXPORT uint32_t CAN_GetNetParam(uint32_t net, uint16_t param, uint32_t* value) {
  FakeApi2& f = Fake();
  std::lock_guard<std::mutex> g(f.mutex);
  f.note("CAN_GetNetParam(%u,%u)", net, param);
  uint32_t r = 0;
  if (f.scripted("CAN_GetNetParam", r)) return r;
  if (param != 19 || !f.validNet(net)) return kIllParamVal;
  *value = net + 10;
  return 0;
}

FAKE_EXPORT uint32_t CAN_SetHwParam(uint32_t hardware, uint16_t param, uint32_t value) {
  FakeApi2& f = Fake();
  std::lock_guard<std::mutex> g(f.mutex);
  f.note("CAN_SetHwParam(%u,%u,0x%04x)", hardware, param, value);
  uint32_t r = 0;
  if (f.scripted("CAN_SetHwParam", r)) return r;
  if (param != 7) return kIllParamVal;
  f.btr[hardware] = value;
  return 0;
}

FAKE_EXPORT uint32_t CAN_GetHwParam(uint32_t hardware, uint16_t param, uint32_t* value) {
  FakeApi2& f = Fake();
  std::lock_guard<std::mutex> g(f.mutex);
  f.note("CAN_GetHwParam(%u,%u)", hardware, param);
  uint32_t r = 0;
  if (f.scripted("CAN_GetHwParam", r)) return r;
  if (param != 7) return kIllParamVal;
  *value = f.btr[hardware];
  return 0;
}

FAKE_EXPORT uint32_t CAN_ResetHardware(uint32_t hardware) {
  FakeApi2& f = Fake();
  std::lock_guard<std::mutex> g(f.mutex);
  f.note("CAN_ResetHardware(%u)", hardware);
  return 0;
}

#ifndef FAKE_CANAPI2_PARTIAL
FAKE_EXPORT uint32_t CAN_Status(uint32_t hardware) {
  FakeApi2& f = Fake();
  std::lock_guard<std::mutex> g(f.mutex);
  f.note("CAN_Status(%u)", hardware);
  return f.status;
}

FAKE_EXPORT uint32_t CAN_Read(uint32_t client, FakeApi2Msg* msg, uint32_t* receiveTimeMs) {
  int blockMs = 0;
  {
    FakeApi2& f = Fake();
    std::lock_guard<std::mutex> g(f.mutex);
    blockMs = f.blockMs;
    f.blockMs = 0;
  }
  if (blockMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(blockMs));
  FakeApi2& f = Fake();
  std::lock_guard<std::mutex> g(f.mutex);
  f.note("CAN_Read(%u)", client);
  if (f.reads.empty()) return kQRcvEmpty;
  const auto [result, m, t] = f.reads.front();
  f.reads.pop_front();
  *msg = m;
  *receiveTimeMs = t;
  return result;
}

FAKE_EXPORT uint32_t CAN_Write(uint32_t client, uint32_t net, FakeApi2Msg* msg, uint32_t sendTimeMs) {
  FakeApi2& f = Fake();
  std::lock_guard<std::mutex> g(f.mutex);
  std::string data;
  for (int i = 0; i < msg->len && i < 8; ++i) {
    char byte[4];
    std::snprintf(byte, sizeof byte, " %02x", msg->data[i]);
    data += byte;
  }
  f.note("CAN_Write(%u,%u,0x%08x,0x%02x,%u,%u)%s", client, net, msg->id, msg->msgType, msg->len, sendTimeMs,
         data.c_str());
  uint32_t r = 0;
  if (f.scripted("CAN_Write", r)) return r;
  return 0;
}

FAKE_EXPORT uint32_t CAN_GetSystemTime(uint32_t* timeMs) {
  FakeApi2& f = Fake();
  std::lock_guard<std::mutex> g(f.mutex);
  *timeMs = f.timeMs;
  return 0;
}

FAKE_EXPORT uint32_t CAN_VersionInfo(char* text) {
  FakeApi2& f = Fake();
  std::lock_guard<std::mutex> g(f.mutex);
  f.note("CAN_VersionInfo()");
  std::strcpy(text, "fake CAN-API 2");
  uint32_t r = 0;
  if (f.scripted("CAN_VersionInfo", r)) return r;
  return 0;
}
#endif
