// A scripted CANLIB device (see canlib_fake.h). Built twice: whole, and with FAKE_CANLIB_PARTIAL
// without canReadErrorCounters, an entry point the back-end never calls but still requires.
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "can/fakes/fake_call_recorder.h"  // FAKE_EXPORT
#include "can/fakes/canlib_fake.h"

namespace {

struct RxFrame {
  long id;
  uint8_t data[64];
  unsigned length, flags;
  unsigned long time;
};

struct Channel {
  bool haveName = true;
  std::string name;
  int openFlags = -1;
  std::deque<RxFrame> rx;
  unsigned long status = 0;
  long freq = 500000, fdFreq = 2000000;
  unsigned tseg1 = 13, tseg2 = 2, sjw = 1, samples = 1;
  unsigned fdTseg1 = 15, fdTseg2 = 4, fdSjw = 4;
};

struct Device {
  std::mutex mutex;
  std::string log, logCopy;
  int channelCount = 2;
  Channel channels[8];
  std::map<std::string, int> failNext;
  std::map<std::string, int> blockNext;
  std::deque<int> txLevels;
  unsigned long timer = 0;
  int major = 5, minor = 2, letter = 0, beta = 0;
  bool errorTexts = true;

  void reset() {
    log.clear();
    channelCount = 2;
    for (int i = 0; i < 8; ++i) {
      channels[i] = Channel{};
      channels[i].name = "Fake channel " + std::to_string(i);
    }
    failNext.clear();
    blockNext.clear();
    txLevels.clear();
    timer = 0;
    major = 5;
    minor = 2;
    letter = 0;
    beta = 0;
    errorTexts = true;
  }
  Device() { reset(); }
};

Device& device() {
  static Device d;
  return d;
}

// Blocks as scripted (outside the lock), then records the call and answers a scripted failure if
// one is due, else `result`.
int Call(const char* entry, int result, const char* format, ...) __attribute__((format(printf, 3, 4)));
int Call(const char* entry, int result, const char* format, ...) {
  Device& d = device();
  int blockMs = 0;
  {
    std::lock_guard<std::mutex> guard(d.mutex);
    auto b = d.blockNext.find(entry);
    if (b != d.blockNext.end()) {
      blockMs = b->second;
      d.blockNext.erase(b);
    }
  }
  if (blockMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(blockMs));
  std::lock_guard<std::mutex> guard(d.mutex);
  auto f = d.failNext.find(entry);
  if (f != d.failNext.end()) {
    result = f->second;
    d.failNext.erase(f);
  }
  char args[256];
  va_list list;
  va_start(list, format);
  std::vsnprintf(args, sizeof args, format, list);
  va_end(list);
  char line[320];
  std::snprintf(line, sizeof line, "%s(%s) = %d\n", entry, args, result);
  d.log += line;
  return result;
}

bool WillFail(const char* entry) {
  Device& d = device();
  std::lock_guard<std::mutex> guard(d.mutex);
  return d.failNext.count(entry) != 0;
}

// The channel behind an open handle, or null.
Channel* ChannelOf(int handle) {
  const int channel = handle - kFakeCanlibHandleBase;
  if (channel < 0 || channel >= 8 || device().channels[channel].openFlags < 0) return nullptr;
  return &device().channels[channel];
}

constexpr int kErrParam = -1;
constexpr int kErrNoMsg = -2;
constexpr int kErrInvHandle = -10;

}  // namespace

// --- control

FAKE_EXPORT void fake_canlib_reset() {
  std::lock_guard<std::mutex> guard(device().mutex);
  device().reset();
}

FAKE_EXPORT const char* fake_canlib_log() {
  Device& d = device();
  std::lock_guard<std::mutex> guard(d.mutex);
  d.logCopy = d.log;
  return d.logCopy.c_str();
}

FAKE_EXPORT void fake_canlib_set_channels(int count) {
  std::lock_guard<std::mutex> guard(device().mutex);
  device().channelCount = count;
}

FAKE_EXPORT void fake_canlib_set_channel_name(int channel, const char* name) {
  std::lock_guard<std::mutex> guard(device().mutex);
  if (channel < 0 || channel >= 8) return;
  device().channels[channel].haveName = name != nullptr;
  device().channels[channel].name = name ? name : "";
}

FAKE_EXPORT void fake_canlib_fail_next(const char* entry, int result) {
  std::lock_guard<std::mutex> guard(device().mutex);
  device().failNext[entry] = result;
}

FAKE_EXPORT void fake_canlib_block_next(const char* entry, int ms) {
  std::lock_guard<std::mutex> guard(device().mutex);
  device().blockNext[entry] = ms;
}

FAKE_EXPORT void fake_canlib_push_rx(int channel, long id, const uint8_t* data, unsigned length,
                                     unsigned flags, unsigned long time) {
  std::lock_guard<std::mutex> guard(device().mutex);
  if (channel < 0 || channel >= 8) return;
  RxFrame frame{id, {}, length, flags, time};
  if (data) std::memcpy(frame.data, data, length < 64 ? length : 64);
  device().channels[channel].rx.push_back(frame);
}

FAKE_EXPORT void fake_canlib_set_status(int channel, unsigned long flags) {
  std::lock_guard<std::mutex> guard(device().mutex);
  if (channel >= 0 && channel < 8) device().channels[channel].status = flags;
}

FAKE_EXPORT void fake_canlib_set_tx_levels(const int* levels, int count) {
  std::lock_guard<std::mutex> guard(device().mutex);
  device().txLevels.assign(levels, levels + count);
}

FAKE_EXPORT void fake_canlib_set_timer(unsigned long ms) {
  std::lock_guard<std::mutex> guard(device().mutex);
  device().timer = ms;
}

FAKE_EXPORT void fake_canlib_set_bus_params(int channel, long freq, unsigned tseg1, unsigned tseg2,
                                            unsigned sjw, unsigned samples) {
  std::lock_guard<std::mutex> guard(device().mutex);
  if (channel < 0 || channel >= 8) return;
  Channel& c = device().channels[channel];
  c.freq = freq;
  c.tseg1 = tseg1;
  c.tseg2 = tseg2;
  c.sjw = sjw;
  c.samples = samples;
}

FAKE_EXPORT void fake_canlib_set_bus_params_fd(int channel, long freq, unsigned tseg1, unsigned tseg2,
                                               unsigned sjw) {
  std::lock_guard<std::mutex> guard(device().mutex);
  if (channel < 0 || channel >= 8) return;
  Channel& c = device().channels[channel];
  c.fdFreq = freq;
  c.fdTseg1 = tseg1;
  c.fdTseg2 = tseg2;
  c.fdSjw = sjw;
}

FAKE_EXPORT void fake_canlib_set_version(int major, int minor, int letter, int beta) {
  std::lock_guard<std::mutex> guard(device().mutex);
  device().major = major;
  device().minor = minor;
  device().letter = letter;
  device().beta = beta;
}

FAKE_EXPORT void fake_canlib_set_error_texts(int available) {
  std::lock_guard<std::mutex> guard(device().mutex);
  device().errorTexts = available != 0;
}

// --- the library

FAKE_EXPORT void canInitializeLibrary() {
  Call("canInitializeLibrary", 0, " ");
}

FAKE_EXPORT int canUnloadLibrary() {
  return Call("canUnloadLibrary", 0, " ");
}

FAKE_EXPORT int canGetNumberOfChannels(int* count) {
  const int result = Call("canGetNumberOfChannels", 0, " ");
  if (result == 0) *count = device().channelCount;
  return result;
}

FAKE_EXPORT int canGetChannelData(int channel, int item, void* buffer, size_t size) {
  const bool known = channel >= 0 && channel < 8 && item == 13 && device().channels[channel].haveName;
  const int result = Call("canGetChannelData", known ? 0 : kErrParam, "%d, %d, %zu", channel, item, size);
  if (result == 0 && known && size > 0) {
    std::snprintf(static_cast<char*>(buffer), size, "%s", device().channels[channel].name.c_str());
  }
  return result;
}

FAKE_EXPORT unsigned short canGetVersion() {
  Call("canGetVersion", 0, " ");
  return static_cast<unsigned short>(device().major << 8 | device().minor);
}

FAKE_EXPORT unsigned canGetVersionEx(unsigned item) {
  Call("canGetVersionEx", 0, "%u", item);
  const Device& d = device();
  if (item == 0) return static_cast<unsigned>(d.letter << 16 | d.major << 8 | d.minor);
  if (item == 3) return static_cast<unsigned>(d.beta);
  return 0;
}

FAKE_EXPORT int canGetErrorText(int err, char* buf, unsigned size) {
  const int result = Call("canGetErrorText", device().errorTexts ? 0 : kErrParam, "%d", err);
  if (result == 0 && size > 0) std::snprintf(buf, size, "fake error %d", err);
  return result;
}

FAKE_EXPORT int canOpenChannel(int channel, int flags) {
  const bool exists = channel >= 0 && channel < device().channelCount && channel < 8;
  const int handle = Call("canOpenChannel", exists ? channel + kFakeCanlibHandleBase : kErrParam, "%d, 0x%x",
                          channel, flags);
  if (handle >= 0 && exists) device().channels[channel].openFlags = flags;
  return handle;
}

FAKE_EXPORT int canClose(int handle) {
  Channel* c = ChannelOf(handle);
  const int result = Call("canClose", c ? 0 : kErrInvHandle, "%d", handle);
  if (c) c->openFlags = -1;
  return result;
}

FAKE_EXPORT int canBusOn(int handle) {
  return Call("canBusOn", ChannelOf(handle) ? 0 : kErrInvHandle, "%d", handle);
}

FAKE_EXPORT int canBusOff(int handle) {
  return Call("canBusOff", ChannelOf(handle) ? 0 : kErrInvHandle, "%d", handle);
}

FAKE_EXPORT int canResetBus(int handle) {
  return Call("canResetBus", ChannelOf(handle) ? 0 : kErrInvHandle, "%d", handle);
}

FAKE_EXPORT int canSetBusParams(int handle, long freq, unsigned tseg1, unsigned tseg2, unsigned sjw,
                                unsigned samples, unsigned syncMode) {
  return Call("canSetBusParams", ChannelOf(handle) ? 0 : kErrInvHandle, "%d, %ld, %u, %u, %u, %u, %u", handle,
              freq, tseg1, tseg2, sjw, samples, syncMode);
}

FAKE_EXPORT int canGetBusParams(int handle, long* freq, unsigned* tseg1, unsigned* tseg2, unsigned* sjw,
                                unsigned* samples, unsigned* syncMode) {
  Channel* c = ChannelOf(handle);
  const int result = Call("canGetBusParams", c ? 0 : kErrInvHandle, "%d", handle);
  if (result == 0 && c) {
    *freq = c->freq;
    *tseg1 = c->tseg1;
    *tseg2 = c->tseg2;
    *sjw = c->sjw;
    *samples = c->samples;
    *syncMode = 0;
  }
  return result;
}

FAKE_EXPORT int canSetBusParamsFd(int handle, long freq, unsigned tseg1, unsigned tseg2, unsigned sjw) {
  return Call("canSetBusParamsFd", ChannelOf(handle) ? 0 : kErrInvHandle, "%d, %ld, %u, %u, %u", handle, freq,
              tseg1, tseg2, sjw);
}

FAKE_EXPORT int canGetBusParamsFd(int handle, long* freq, unsigned* tseg1, unsigned* tseg2, unsigned* sjw) {
  Channel* c = ChannelOf(handle);
  const int result = Call("canGetBusParamsFd", c ? 0 : kErrInvHandle, "%d", handle);
  if (result == 0 && c) {
    *freq = c->fdFreq;
    *tseg1 = c->fdTseg1;
    *tseg2 = c->fdTseg2;
    *sjw = c->fdSjw;
  }
  return result;
}

FAKE_EXPORT int canSetBusOutputControl(int handle, unsigned driverType) {
  return Call("canSetBusOutputControl", ChannelOf(handle) ? 0 : kErrInvHandle, "%d, %u", handle, driverType);
}

FAKE_EXPORT int canGetBusOutputControl(int handle, unsigned* driverType) {
  *driverType = 4;
  return Call("canGetBusOutputControl", 0, "%d", handle);
}

FAKE_EXPORT int canAccept(int handle, long envelope, unsigned flag) {
  return Call("canAccept", 0, "%d, %ld, %u", handle, envelope, flag);
}

FAKE_EXPORT int canSetAcceptanceFilter(int handle, unsigned code, unsigned mask, int extended) {
  return Call("canSetAcceptanceFilter", ChannelOf(handle) ? 0 : kErrInvHandle, "%d, 0x%x, 0x%x, %d", handle,
              code, mask, extended);
}

FAKE_EXPORT int canReadStatus(int handle, unsigned long* flags) {
  Channel* c = ChannelOf(handle);
  const int result = Call("canReadStatus", c ? 0 : kErrInvHandle, "%d", handle);
  if (result == 0 && c) *flags = c->status;
  return result;
}

#ifndef FAKE_CANLIB_PARTIAL
FAKE_EXPORT int canReadErrorCounters(int handle, unsigned* tx, unsigned* rx, unsigned* overruns) {
  *tx = *rx = *overruns = 0;
  return Call("canReadErrorCounters", 0, "%d", handle);
}
#endif

static std::string Bytes(const void* msg, unsigned length) {
  std::string text;
  const auto* p = static_cast<const uint8_t*>(msg);
  for (unsigned i = 0; i < length && i < 64; ++i) {
    char b[4];
    std::snprintf(b, sizeof b, "%02X", p[i]);
    text += b;
  }
  return text;
}

FAKE_EXPORT int canWrite(int handle, long id, void* msg, unsigned length, unsigned flags) {
  return Call("canWrite", ChannelOf(handle) ? 0 : kErrInvHandle, "%d, 0x%lx, %s, %u, 0x%x", handle, id,
              Bytes(msg, length).c_str(), length, flags);
}

FAKE_EXPORT int canWriteWait(int handle, long id, void* msg, unsigned length, unsigned flags,
                             unsigned long timeout) {
  return Call("canWriteWait", ChannelOf(handle) ? 0 : kErrInvHandle, "%d, 0x%lx, %s, %u, 0x%x, %lu", handle,
              id, Bytes(msg, length).c_str(), length, flags, timeout);
}

FAKE_EXPORT int canWriteSync(int handle, unsigned long timeout) {
  return Call("canWriteSync", 0, "%d, %lu", handle, timeout);
}

FAKE_EXPORT int canRead(int handle, long* id, void* msg, unsigned* length, unsigned* flags,
                        unsigned long* time) {
  Channel* c = ChannelOf(handle);
  int answer = c ? kErrNoMsg : kErrInvHandle;
  RxFrame frame{};
  if (!WillFail("canRead")) {
    std::lock_guard<std::mutex> guard(device().mutex);
    if (c && !c->rx.empty()) {
      frame = c->rx.front();
      c->rx.pop_front();
      answer = 0;
    }
  }
  const int result = Call("canRead", answer, "%d", handle);
  if (result == 0) {
    *id = frame.id;
    // A device that claims more than it holds still fills only the caller's 64 bytes.
    std::memcpy(msg, frame.data, 64);
    *length = frame.length;
    *flags = frame.flags;
    *time = frame.time;
  }
  return result;
}

FAKE_EXPORT int canReadWait(int handle, long*, void*, unsigned*, unsigned*, unsigned long*, unsigned long) {
  return Call("canReadWait", kErrNoMsg, "%d", handle);
}

FAKE_EXPORT int canReadSpecific(int handle, long, void*, unsigned*, unsigned*, unsigned long*) {
  return Call("canReadSpecific", kErrNoMsg, "%d", handle);
}

FAKE_EXPORT int canReadSync(int handle, unsigned long) {
  return Call("canReadSync", kErrNoMsg, "%d", handle);
}

FAKE_EXPORT int canReadSyncSpecific(int handle, long, unsigned long) {
  return Call("canReadSyncSpecific", kErrNoMsg, "%d", handle);
}

FAKE_EXPORT int canReadSpecificSkip(int handle, long, void*, unsigned*, unsigned*, unsigned long*) {
  return Call("canReadSpecificSkip", kErrNoMsg, "%d", handle);
}

FAKE_EXPORT int canSetNotify(int handle, void*, unsigned) {
  return Call("canSetNotify", 0, "%d", handle);
}

FAKE_EXPORT int canTranslateBaud(long*, unsigned*, unsigned*, unsigned*, unsigned*, unsigned*) {
  return Call("canTranslateBaud", 0, " ");
}

FAKE_EXPORT int canIoCtl(int handle, unsigned item, void* buffer, unsigned size) {
  Channel* c = ChannelOf(handle);
  int value = 0;
  if (c && item == 9) {
    std::lock_guard<std::mutex> guard(device().mutex);
    if (!device().txLevels.empty()) {
      value = device().txLevels.front();
      device().txLevels.pop_front();
    }
  } else if (c && item == kFakeCanlibIoCtlFdMode) {
    value = (c->openFlags & 0x400) ? 1 : 0;
  }
  const int result = Call("canIoCtl", c ? 0 : kErrInvHandle, "%d, %u, %u", handle, item, size);
  if (result == 0 && buffer && size >= sizeof value) std::memcpy(buffer, &value, sizeof value);
  return result;
}

FAKE_EXPORT int canReadTimer(int handle, unsigned long* time) {
  const int result = Call("canReadTimer", ChannelOf(handle) ? 0 : kErrInvHandle, "%d", handle);
  if (result == 0) {
    std::lock_guard<std::mutex> guard(device().mutex);
    *time = device().timer;
  }
  return result;
}
