// A scripted XL driver (see vxlapi_fake.h); with FAKE_VXLAPI_PARTIAL it lacks xlCanTransmit. Ports are
// numbered from 1 in opening order; received events go to every open port in one queue, taken by whichever
// port asks first.
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <thread>

#include "can/fakes/fake_call_recorder.h"  // FAKE_EXPORT
#include "can/fakes/vxlapi_fake.h"

namespace {

struct Driver {
  std::recursive_mutex mutex;
  std::string log, logCopy;
  int channels = 2;
  std::string prefix = "Fake Channel";
  std::map<std::string, int> failNext, blockNext;
  std::deque<FakeXlEvent> events;
  long nextPort = 1;
  bool errorStrings = true;
  uint64_t syncTime = 0;
  uint64_t syncTimeOnActivate = 0;  // 0: unchanged
  void reset() {
    log.clear();
    channels = 2;
    prefix = "Fake Channel";
    failNext.clear();
    blockNext.clear();
    events.clear();
    nextPort = 1;
    errorStrings = true;
    syncTime = 0;
    syncTimeOnActivate = 0;
  }
};

Driver& driver() {
  static Driver d;
  return d;
}

int Call(const char* entry, int status, const char* format, ...) __attribute__((format(printf, 3, 4)));
int Call(const char* entry, int status, const char* format, ...) {
  Driver& d = driver();
  int blockMs = 0;
  {
    std::lock_guard<std::recursive_mutex> guard(d.mutex);
    auto b = d.blockNext.find(entry);
    if (b != d.blockNext.end()) {
      blockMs = b->second;
      d.blockNext.erase(b);
    }
  }
  if (blockMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(blockMs));
  std::lock_guard<std::recursive_mutex> guard(d.mutex);
  auto f = d.failNext.find(entry);
  if (f != d.failNext.end()) {
    status = f->second;
    d.failNext.erase(f);
  }
  char args[256];
  va_list list;
  va_start(list, format);
  std::vsnprintf(args, sizeof args, format, list);
  va_end(list);
  char line[320];
  std::snprintf(line, sizeof line, "%s(%s) = %d\n", entry, args, status);
  d.log += line;
  return status;
}

bool WillFail(const char* entry) {
  std::lock_guard<std::recursive_mutex> guard(driver().mutex);
  return driver().failNext.count(entry) != 0;
}

}  // namespace

FAKE_EXPORT void fake_xl_reset() {
  std::lock_guard<std::recursive_mutex> guard(driver().mutex);
  driver().reset();
}

FAKE_EXPORT const char* fake_xl_log() {
  std::lock_guard<std::recursive_mutex> guard(driver().mutex);
  driver().logCopy = driver().log;
  return driver().logCopy.c_str();
}

FAKE_EXPORT void fake_xl_set_channels(int count, const char* prefix) {
  std::lock_guard<std::recursive_mutex> guard(driver().mutex);
  driver().channels = count;
  driver().prefix = prefix ? prefix : "";
}

FAKE_EXPORT void fake_xl_fail_next(const char* entry, int status) {
  std::lock_guard<std::recursive_mutex> guard(driver().mutex);
  driver().failNext[entry] = status;
}

FAKE_EXPORT void fake_xl_block_next(const char* entry, int ms) {
  std::lock_guard<std::recursive_mutex> guard(driver().mutex);
  driver().blockNext[entry] = ms;
}

FAKE_EXPORT void fake_xl_push_event(const FakeXlEvent* event) {
  std::lock_guard<std::recursive_mutex> guard(driver().mutex);
  driver().events.push_back(*event);
}

FAKE_EXPORT void fake_xl_set_sync_time(uint64_t ns) {
  std::lock_guard<std::recursive_mutex> guard(driver().mutex);
  driver().syncTime = ns;
}

FAKE_EXPORT void fake_xl_set_sync_time_on_activate(uint64_t ns) {
  std::lock_guard<std::recursive_mutex> guard(driver().mutex);
  driver().syncTimeOnActivate = ns;
}

FAKE_EXPORT void fake_xl_set_error_strings(int available) {
  std::lock_guard<std::recursive_mutex> guard(driver().mutex);
  driver().errorStrings = available != 0;
}

// --- the library

FAKE_EXPORT int xlOpenDriver() {
  return Call("xlOpenDriver", 0, " ");
}

FAKE_EXPORT int xlCloseDriver() {
  return Call("xlCloseDriver", 0, " ");
}

FAKE_EXPORT int xlGetDriverConfig(FakeXlDriverConfig* config) {
  const int status = Call("xlGetDriverConfig", 0, " ");
  if (status == 0) {
    std::lock_guard<std::recursive_mutex> guard(driver().mutex);
    std::memset(config, 0, sizeof *config);
    config->dllVersion = 0x0A0B0C0D;
    // A driver may claim more channels than the structure holds; the back-end must not believe it.
    config->channelCount = static_cast<uint32_t>(driver().channels);
    for (int i = 0; i < driver().channels && i < 64; ++i) {
      std::snprintf(config->channel[i].name, sizeof config->channel[i].name, "%s %d", driver().prefix.c_str(),
                    i + 1);
      config->channel[i].channelMask = 1ull << i;
    }
  }
  return status;
}

FAKE_EXPORT int xlOpenPort(long* port, const char* user, uint64_t mask, uint64_t* permission, unsigned queue,
                           unsigned version, unsigned busType) {
  long handle = 0;
  {
    std::lock_guard<std::recursive_mutex> guard(driver().mutex);
    handle = driver().nextPort;
  }
  const int status =
      Call("xlOpenPort", 0, "%s, 0x%llx, 0x%llx, %u, %u, %u", user, static_cast<unsigned long long>(mask),
           static_cast<unsigned long long>(permission ? *permission : 0), queue, version, busType);
  if (status == 0) {
    std::lock_guard<std::recursive_mutex> guard(driver().mutex);
    *port = handle;
    ++driver().nextPort;
  }
  return status;
}

FAKE_EXPORT int xlClosePort(long port) {
  return Call("xlClosePort", 0, "%ld", port);
}

FAKE_EXPORT int xlCanSetChannelBitrate(long port, uint64_t mask, unsigned long bitrate) {
  return Call("xlCanSetChannelBitrate", 0, "%ld, 0x%llx, %lu", port, static_cast<unsigned long long>(mask),
              bitrate);
}

FAKE_EXPORT int xlActivateChannel(long port, uint64_t mask, unsigned busType, unsigned flags) {
  {
    std::lock_guard<std::recursive_mutex> guard(driver().mutex);
    if (driver().syncTimeOnActivate) driver().syncTime = driver().syncTimeOnActivate;
    driver().syncTimeOnActivate = 0;
  }
  return Call("xlActivateChannel", 0, "%ld, 0x%llx, %u, %u", port, static_cast<unsigned long long>(mask),
              busType, flags);
}

FAKE_EXPORT int xlDeactivateChannel(long port, uint64_t mask) {
  return Call("xlDeactivateChannel", 0, "%ld, 0x%llx", port, static_cast<unsigned long long>(mask));
}

FAKE_EXPORT int xlFlushReceiveQueue(long port) {
  return Call("xlFlushReceiveQueue", 0, "%ld", port);
}

FAKE_EXPORT int xlCanFlushTransmitQueue(long port, uint64_t mask) {
  return Call("xlCanFlushTransmitQueue", 0, "%ld, 0x%llx", port, static_cast<unsigned long long>(mask));
}

FAKE_EXPORT int xlReceive(long port, unsigned* count, FakeXlEvent* event) {
  int answer = 10;
  FakeXlEvent taken{};
  if (!WillFail("xlReceive")) {
    std::lock_guard<std::recursive_mutex> guard(driver().mutex);
    if (!driver().events.empty()) {
      taken = driver().events.front();
      driver().events.pop_front();
      answer = 0;
    }
  }
  const int status = Call("xlReceive", answer, "%ld, %u", port, count ? *count : 0);
  if (status == 0) *event = taken;
  return status;
}

#ifndef FAKE_VXLAPI_PARTIAL
FAKE_EXPORT int xlCanTransmit(long port, uint64_t mask, unsigned* count, void* events) {
  const auto* e = static_cast<const FakeXlEvent*>(events);
  std::string data;
  for (int i = 0; i < 8; ++i) {
    char b[4];
    std::snprintf(b, sizeof b, "%02X", e->data[i]);
    data += b;
  }
  return Call("xlCanTransmit", 0, "%ld, 0x%llx, %u, tag=%u, id=0x%x, flags=0x%x, dlc=%u, %s", port,
              static_cast<unsigned long long>(mask), count ? *count : 0, e->tag, e->id, e->flags, e->dlc,
              data.c_str());
}
#endif

FAKE_EXPORT int xlCanSetChannelAcceptance(long port, uint64_t mask, unsigned long code, unsigned long idMask,
                                          unsigned range) {
  return Call("xlCanSetChannelAcceptance", 0, "%ld, 0x%llx, 0x%lx, 0x%lx, %u", port,
              static_cast<unsigned long long>(mask), code, idMask, range);
}

FAKE_EXPORT int xlGetSyncTime(long port, uint64_t* time) {
  {
    std::lock_guard<std::recursive_mutex> guard(driver().mutex);
    *time = driver().syncTime;
  }
  return Call("xlGetSyncTime", 0, "%ld", port);
}

FAKE_EXPORT const char* xlGetErrorString(int status) {
  static thread_local char text[64];
  std::snprintf(text, sizeof text, "fake xl error %d", status);
  std::lock_guard<std::recursive_mutex> guard(driver().mutex);
  return driver().errorStrings ? text : nullptr;
}

FAKE_EXPORT int xlPopupHwConfig(char* callSign, unsigned timeout) {
  return Call("xlPopupHwConfig", 0, "%s, %u", callSign ? callSign : "null", timeout);
}

// Fetched by the back-end, never called.
#define FAKE_UNUSED(name)       \
  FAKE_EXPORT int name() {      \
    return Call(#name, 0, " "); \
  }
FAKE_UNUSED(xlGetApplConfig)
FAKE_UNUSED(xlSetApplConfig)
FAKE_UNUSED(xlGetChannelIndex)
FAKE_UNUSED(xlGetChannelMask)
FAKE_UNUSED(xlSetTimerRate)
FAKE_UNUSED(xlResetClock)
FAKE_UNUSED(xlSetNotification)
FAKE_UNUSED(xlGetReceiveQueueLevel)
FAKE_UNUSED(xlGetEventString)
FAKE_UNUSED(xlGenerateSyncPulse)
FAKE_UNUSED(xlCanSetChannelOutput)
FAKE_UNUSED(xlCanSetChannelMode)
FAKE_UNUSED(xlCanSetReceiveMode)
FAKE_UNUSED(xlCanSetChannelTransceiver)
FAKE_UNUSED(xlCanSetChannelParams)
FAKE_UNUSED(xlCanSetChannelParamsC200)
FAKE_UNUSED(xlCanAddAcceptanceRange)
FAKE_UNUSED(xlCanRemoveAcceptanceRange)
FAKE_UNUSED(xlCanResetAcceptance)
FAKE_UNUSED(xlCanRequestChipState)
FAKE_UNUSED(xlLinSetChannelParams)
FAKE_UNUSED(xlLinSetDLC)
FAKE_UNUSED(xlLinSetSlave)
FAKE_UNUSED(xlLinSendRequest)
FAKE_UNUSED(xlLinWakeUp)
FAKE_UNUSED(xlLinSetChecksum)
FAKE_UNUSED(xlLinSwitchSlave)
