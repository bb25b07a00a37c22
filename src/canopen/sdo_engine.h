// The SDO protocol engine: one client channel that reads and writes objects of a remote node, and
// eight server channels that serve the local dictionary to remote clients, all on one bus and at
// the same time (expedited and segmented transfers; block transfer requests are ignored). It has
// no thread of its own: the receive path hands it every received frame (ProcessFrame), the tick
// calls SdoTimeoutTick, and a caller that needs a result starts InitTransfer and then keeps
// pumping the receive path and the timeout tick until the client is no longer busy.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "can/can_frame.h"
#include "canopen/sdo_channel.h"
#include "interp/script_value.h"

namespace busprobe {

class Clock;
class Translator;
struct SdoSettings;

// What the engine reaches outside itself.
struct SdoEngineLinks {
  // The common send path; true when the frame went out. Must not call back into the engine's
  // frame handling before it returns (received frames come through the receive path).
  std::function<bool(CanFrame&)> transmit;
  // One finished line of the SDO message category ("t=..: SDO: ..."), and whether such lines are
  // wanted at the moment (the menu option): no line is formatted while it says no. Without a
  // sink, or without the question, lines are written always.
  std::function<void(std::string_view line)> message;
  std::function<bool()> messagesWanted;
  // Formats pass it before their arguments are filled in, as every message of the program does.
  const Translator* translator = nullptr;
};

class SdoEngine {
 public:
  SdoEngine(SdoSettings& settings, SdoDictionaryAccess& dictionary, Clock& clock, SdoEngineLinks links);
  SdoEngine(const SdoEngine&) = delete;
  SdoEngine& operator=(const SdoEngine&) = delete;

  // Zeroes every channel and sets them up from the settings record (at start and after every
  // change of the settings).
  void SdoApplySettings();

  // Starts a transfer on the client channel as the caller has set it up (see SdoChannel):
  // true when the first frame went out.
  bool InitTransfer();

  // A received frame: to the client when it listens to the frame's identifier, then to every
  // server that does (several servers may share a node). Returns how many channels took it.
  int ProcessFrame(const CanFrame& frame);

  // Counts the client's timer down, at most once per 100 ms; callable as often as wanted.
  void SdoTimeoutTick();
  // The same with the time the caller read already (a wait loop reads the clock once a round).
  void SdoTimeoutTick(double nowMs);

  SdoChannel& client() { return client_; }
  const SdoChannel& client() const { return client_; }
  SdoChannel& server(int i) { return servers_[static_cast<size_t>(i)]; }
  const SdoChannel& server(int i) const { return servers_[static_cast<size_t>(i)]; }
  SdoSettings& settings() { return settings_; }

  // Client timeouts since the program started, saturating at 255.
  int timeoutCount() const { return timeoutCount_; }

  // Set by a window or scanner for the duration of a blocking client transfer, so that the
  // script command does not start a second one.
  bool sdoAccessBusy = false;

 private:
  void clientFrame(SdoChannel& ch, const CanFrame& frame);
  void clientUploadSegment(SdoChannel& ch, const CanFrame& frame, uint8_t c);
  void clientSegmentedUploadResponse(SdoChannel& ch, const CanFrame& frame, uint8_t c);
  void clientExpeditedUploadResponse(SdoChannel& ch, const CanFrame& frame, uint8_t c);
  void clientDownloadResponse(SdoChannel& ch, const CanFrame& frame, uint8_t c);
  void clientDownloadSegmentResponse(SdoChannel& ch, uint8_t c);
  // Fills `frame` with the next download segment of `ch`.
  void nextDownloadSegment(SdoChannel& ch, CanFrame& frame);

  void serverFrame(SdoChannel& ch, const CanFrame& frame);
  // Each returns true when a reply is to be sent (the frame or, with an abort code, an abort).
  bool serverInitiateDownload(SdoChannel& ch, const CanFrame& frame, uint8_t c, CanFrame& reply);
  bool serverExpeditedDownload(SdoChannel& ch, const CanFrame& frame, uint8_t c, CanFrame& reply);
  bool serverDownloadSegment(SdoChannel& ch, const CanFrame& frame, uint8_t c, CanFrame& reply);
  bool serverInitiateUpload(SdoChannel& ch, const CanFrame& frame, CanFrame& reply);
  bool serverUploadSegment(SdoChannel& ch, uint8_t c, CanFrame& reply);

  bool send(SdoChannel& ch, CanFrame& frame);
  bool messagesWanted() const;
  void sdoMessage(const char* format, ...) __attribute__((format(printf, 2, 3)));

  SdoSettings& settings_;
  SdoDictionaryAccess& dictionary_;
  Clock& clock_;
  SdoEngineLinks links_;
  SdoChannel client_;
  std::array<SdoChannel, kSdoServerCount> servers_;
  int timeoutCount_ = 0;
  bool tickStarted_ = false;
  double lastTickMs_ = 0;
};

// A frame as every SDO frame goes out: standard identifier, 8 bytes, the command byte, the
// multiplexer (index low byte first, subindex) and four bytes of data, size or abort code.
CanFrame SdoFrame(uint32_t cobId, uint8_t command, uint16_t index, uint8_t subIndex, uint32_t data);

// The display rendering of bytes, at most 72 characters: for OCTET_STRING (type 10) every byte
// as a blank and two hex digits; for other types runs of printable characters in double quotes
// (a blank before the opening one unless at the start) and every other byte in hex as above.
std::string SdoDisplayBytes(const uint8_t* data, size_t size, int dataType);

// The result of a finished transfer as a script value: a data block as its display rendering,
// the expedited value by its data type (strings rendered, REAL32 as float, integers cut or
// sign-extended to the type's width).
ScriptValue SdoTransferValue(const SdoChannel& channel);

}  // namespace busprobe
