// The scripted CANLIB device the Kvaser back-end's tests run against: the entry points the back-end
// fetches (plain C calls, int handles, status results: 0 = success, negative = error code) and the
// control functions a test reaches through a second dlopen of the same library.
//
// The device: canOpenChannel(channel, flags) answers handle channel + kFakeCanlibHandleBase; a
// channel opened with flag 0x400 reports CAN FD mode through canIoCtl item kFakeCanlibIoCtlFdMode;
// canIoCtl item 9 answers the scripted transmit buffer levels one by one (then 0); canRead pops the
// channel's scripted frames and answers -2 (no message) when none is left. canGetErrorText answers
// "fake error <code>" unless switched off. canGetVersionEx(0) answers letter << 16 | major << 8 |
// minor, canGetVersionEx(3) the beta flag.
#pragma once

#include <cstdint>

constexpr int kFakeCanlibHandleBase = 5;
constexpr unsigned kFakeCanlibIoCtlFdMode = 40;

extern "C" {
using FakeCanlibResetFn = void (*)();
// Every call so far, one line each ("canOpenChannel(0, 0x20) = 5").
using FakeCanlibLogFn = const char* (*)();
// Channels the library reports; a null name makes canGetChannelData fail for that channel.
using FakeCanlibSetChannelsFn = void (*)(int count);
using FakeCanlibSetChannelNameFn = void (*)(int channel, const char* name);
// The next call of that entry point answers `result` instead (canOpenChannel: as its handle).
using FakeCanlibFailNextFn = void (*)(const char* entry, int result);
// The next call of that entry point blocks that long first.
using FakeCanlibBlockNextFn = void (*)(const char* entry, int ms);
using FakeCanlibPushRxFn = void (*)(int channel, long id, const uint8_t* data, unsigned length,
                                    unsigned flags, unsigned long time);
using FakeCanlibSetStatusFn = void (*)(int channel, unsigned long flags);
using FakeCanlibSetTxLevelsFn = void (*)(const int* levels, int count);
using FakeCanlibSetTimerFn = void (*)(unsigned long ms);
// What canGetBusParams / canGetBusParamsFd report for the channel.
using FakeCanlibSetBusParamsFn = void (*)(int channel, long freq, unsigned tseg1, unsigned tseg2,
                                          unsigned sjw, unsigned samples);
using FakeCanlibSetBusParamsFdFn = void (*)(int channel, long freq, unsigned tseg1, unsigned tseg2,
                                            unsigned sjw);
using FakeCanlibSetVersionFn = void (*)(int major, int minor, int letter, int beta);
using FakeCanlibSetErrorTextsFn = void (*)(int available);
}
