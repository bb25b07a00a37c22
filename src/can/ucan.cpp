#include "can/ucan.h"

#include <cctype>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "base/number_lex.h"
#include "base/translator.h"
#include "can/can_backend.h"

namespace busprobe {

namespace {
// A driver call this long means the driver (or the machine) is in trouble: say so once, then stop
// hammering it for a while.
constexpr double kSlowCallMs = 200.0;
constexpr double kSlowDriverHoldMs = 7000.0;
constexpr double kResyncIntervalMs = 1000.0;
constexpr int kHistorySize = 10;
constexpr int kAnyBus = 255;

struct StatusBitName {
  uint8_t bit;
  const char* name;
};
// The order in which the status bits are always printed.
constexpr StatusBitName kStatusBitNames[] = {
    {kUcanRxOvf, "RX_OVF"},     {kUcanTxOvf, "TX_OVF"},         {kUcanIrqFail, "IRQ_FAIL"},
    {kUcanTxError, "TX_ERROR"}, {kUcanBusError, "BUSERROR"},    {kUcanWarning, "WARNING"},
    {kUcanBusOff, "BUS_OFF"},   {kUcanOther, "other error(s)"},
};

// 1..8 hex digits with an optional "0x"/"0X"/"$" prefix, nothing else.
bool ParseHexToken(std::string_view token, uint32_t& value) {
  uint64_t v = 0;
  if (!ParseUnsignedToken(token.substr(HexPrefixLength(token, true)), 16, 8, 0xFFFFFFFFu, v)) return false;
  value = static_cast<uint32_t>(v);
  return true;
}

// Hex identifier with an optional "0x"/"$" prefix and an optional x (extended) or s (standard) suffix.
bool ParseIdToken(std::string token, uint32_t& id, bool& forceExtended, bool& forceStandard) {
  forceExtended = forceStandard = false;
  if (token.size() > 1 && token != "0x" && token != "0X") {
    const char last = token.back();
    if (last == 'x' || last == 'X') {
      forceExtended = true;
      token.pop_back();
    } else if (last == 's' || last == 'S') {
      forceStandard = true;
      token.pop_back();
    }
  }
  if (!ParseHexToken(token, id) || id > CanFrame::kIdMask) return false;
  // A standard frame cannot carry identifier bits above 10.
  return !(forceStandard && (id & CanFrame::kExtendedOnlyBits));
}
}  // namespace

std::string UcanStatusText(uint8_t status) {
  if (status == 0) return "all_ok";
  std::string text;
  for (const StatusBitName& b : kStatusBitNames) {
    if (!(status & b.bit)) continue;
    if (!text.empty()) text += ' ';
    text += b.name;
  }
  return text;
}

// ---------------------------------------------------------------------------------------------
// What an interface type without a back-end of its own answers.

void CanBackendHost::setError(const char* format, ...) {
  va_list args;
  va_start(args, format);
  setErrorV(format, args);
  va_end(args);
}

int CanBackend::open() {
  return 0;
}

int CanBackend::initCtrl(int bus, int, int) {
  host_.setError("UCAN_Init: Unknown interface (CAN%d) !", bus + 1);
  return 0;
}

int CanBackend::setBaudrate(int, int, int) {
  host_.setError("UCAN_SetBaudrate: Unknown interface !");
  return 0;
}

int CanBackend::getBaudrate(int, int* baudKbit, int* fdDataRate, std::string*) {
  *baudKbit = 0;
  if (fdDataRate) *fdDataRate = 0;
  host_.setError("UCAN_GetBaudrate: not supported !");
  return 0;
}

int CanBackend::isChannelOpen(int) {
  host_.setError("UCAN_IsChannelOpen: unknown interface !");
  return 0;
}

uint8_t CanBackend::status(int) {
  host_.setError("UCAN_ReadStatus: Unknown interface !");
  return 0;
}

int CanBackend::setRcvId(int, uint32_t, uint32_t) {
  if (type_ == kIntfNone) {
    host_.setError("UCAN_SetRcvID: No interface selected !");
  } else {
    host_.setError("UCAN_SetRcvID: Unknown interface !");
  }
  return 0;
}

int CanBackend::receive(int, CanFrame&) {
  host_.setError("UCAN_Receive: Unknown interface !");
  return 0;
}

int CanBackend::txBusy(int) {
  return 1;
}

int CanBackend::transmit(int, CanFrame&) {
  host_.setError("UCAN_Transmit: Unknown interface !");
  return kTransmitRefused;
}

std::string CanBackend::channelName(int bus) const {
  return "CAN" + std::to_string(bus + 1);
}

// ---------------------------------------------------------------------------------------------

Ucan::Ucan(Clock& clock, DeferredMessageQueue& messages)
    : clock_(clock),
      messages_(messages),
      cvudp_(std::make_unique<CvUdpHub>(clock, messages)),
      virtualBus_(),
      backend_(std::make_unique<CanBackend>(*this, kIntfNone)),
      ownerThread_(std::this_thread::get_id()) {
  cvudp_->setRelay([this](CanFrame& frame) { return relayFromServer(frame); });
}

Ucan::~Ucan() {
  UCAN_Exit();
  cvudp_->setRelay(nullptr);
}

void Ucan::setVirtualBus(std::shared_ptr<VirtualBus> bus) {
  virtualBus_ = std::move(bus);
}

std::shared_ptr<VirtualBus> Ucan::virtualBus() {
  if (!virtualBus_) virtualBus_ = VirtualBus::create();
  return virtualBus_;
}

void Ucan::setPrinters(std::function<void(const std::string&)> printCan,
                       std::function<void(const std::string&)> printAlways) {
  printCan_ = std::move(printCan);
  printAlways_ = std::move(printAlways);
}

void Ucan::setRelayTransmit(std::function<bool(CanFrame&)> transmit) {
  std::lock_guard<std::mutex> guard(relayMutex_);
  relayTransmit_ = std::move(transmit);
}

void Ucan::setBackendFactory(std::function<std::unique_ptr<CanBackend>(int type)> factory) {
  backendFactory_ = std::move(factory);
}

bool Ucan::relayFromServer(CanFrame& frame) {
  std::function<bool(CanFrame&)> transmit;
  {
    std::lock_guard<std::mutex> guard(relayMutex_);
    transmit = relayTransmit_;
  }
  if (!transmit) return false;
  // The owner may hold the UCAN lock while it closes this very endpoint and waits for its thread;
  // waiting here without a way out would deadlock both, so give up once closing has begun.
  while (!lock_.try_lock()) {
    if (relayClosing_.load()) return false;
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  std::lock_guard<UcanLock> guard(lock_, std::adopt_lock);
  if (relayClosing_.load()) return false;
  return transmit(frame);
}

void Ucan::setTranslator(const Translator* translator) {
  std::lock_guard<UcanLock> guard(lock_);
  translator_ = translator;
}

void Ucan::registerInterfaceType(CanInterfaceTypeRow row) {
  std::lock_guard<UcanLock> guard(lock_);
  interfaces_.registerType(std::move(row));
}

std::unique_ptr<CanBackend> Ucan::makeBackend(int type) {
  if (backendFactory_) {
    if (auto custom = backendFactory_(type)) return custom;
  }
  return interfaces_.makeBackend(*this, type);
}

// Every operation takes the UCAN lock itself (it is recursive, so callers that already hold it, like
// the common send path, are not disturbed): a server's relay may transmit on its receive thread at
// any moment.
int Ucan::UCAN_Init(const CanInterfaceSettings& params) {
  std::lock_guard<UcanLock> guard(lock_);
  params_ = params;
  trace("UCAN_Init(intf=%d)\n", params.interfaceType);
  lastError_.clear();
  slowDriver_ = false;

  closeCvUdp();
  backend_->close();
  ready_ = false;
  for (BusState& b : bus_) {
    b.initialised = false;
    b.pendingOverflow = false;
  }
  updateControllerFlag();

  const int type = params.interfaceType;
  CvUdpReport cvudpReport;
  int cvudpOk = 1;
  if (type == kIntfCvUdp || (params.cvudpFlags & kCvUdpServer)) cvudpOk = openCvUdp(cvudpReport);

  std::unique_ptr<CanBackend> fresh = makeBackend(type);
  {
    // The clock is read without the UCAN lock (from any thread); swap what it asks under its own.
    std::lock_guard<std::mutex> guard(stateMutex_);
    backend_.swap(fresh);
    lastSyncLocalMs_ = -1e18;
  }
  fresh.reset();
  loadedType_ = type;

  int ok = 0;
  if (type == kIntfNone) {
    setError("No interface selected, cannot initialize \"UCAN\" !");
  } else if (type == kIntfCvUdp && !cvudpOk) {
    ok = 0;  // the CAN-via-UDP text says why
  } else {
    ok = backend_->open();
  }
  ready_ = ok != 0;

  if (lastError_.empty()) {
    const uint32_t ip = cvudpReport.ip;
    const int a = static_cast<int>(ip >> 24), b = static_cast<int>((ip >> 16) & 0xFF),
              c = static_cast<int>((ip >> 8) & 0xFF), d = static_cast<int>(ip & 0xFF);
    if (!ok || !cvudpOk) {
      setError("UCAN_Init failed, why ?");
    } else if (!cvudpReport.open) {
      setError("UCAN_Init successful.");
    } else if (cvudpReport.client) {
      setError("Acting as CLIENT using CAN-via-UDP, remote IP=%d.%d.%d.%d, remote port=%d .", a, b, c, d,
               cvudpReport.port);
    } else {
      setError("Acting as SERVER for CAN-via-UDP on port %d, local IP=%d.%d.%d.%d .", cvudpReport.port, a, b,
               c, d);
    }
  }
  // A failing server endpoint does not take the local bus down, but the caller must hear of it.
  return ok && cvudpOk ? 1 : 0;
}

int Ucan::openCvUdp(CvUdpReport& report) {
  const bool client = params_.interfaceType == kIntfCvUdp;
  // A client endpoint only makes sense as the bus itself (type 1); beside another adapter only the
  // server role can do anything useful.
  const int role = (client ? kCvUdpClient : 0) | (params_.cvudpFlags & kCvUdpServer);

  uint32_t localIp = 0, remoteIp = 0;
  if (!params_.cvudpLocalIp.empty() && !CvUdpParseIp(params_.cvudpLocalIp, localIp)) {
    setError("Invalid 'local' IP (%s) ?", params_.cvudpLocalIp.c_str());
    return 0;
  }
  // A server learns its peer from the CONNECT it receives; only a client needs the remote address.
  if (client && !CvUdpParseIp(params_.cvudpRemoteIp, remoteIp)) {
    setError("Invalid 'remote' IP (%s) ?", params_.cvudpRemoteIp.c_str());
    return 0;
  }

  endpoint_ = cvudp_->createEndpoint();
  if (!endpoint_ ||
      !endpoint_->open(role, remoteIp, params_.cvudpRemotePort, localIp, params_.cvudpLocalPort)) {
    closeCvUdp();
    setError("UCAN_Init: Failed to init CAN-via-UDP !");
    return 0;
  }
  messages_.QueueCanMessage("Initialized CAN-via-UDP .");
  report.open = true;
  report.client = client;
  report.ip = client ? remoteIp : localIp;
  report.port = client ? params_.cvudpRemotePort : endpoint_->boundPort();
  return 1;
}

void Ucan::closeCvUdp() {
  if (!endpoint_) return;
  collectDropped();  // its counts go with it
  relayClosing_ = true;
  endpoint_->close();
  cvudp_->destroyEndpoint(endpoint_);
  endpoint_ = nullptr;
  relayClosing_ = false;
}

int Ucan::UCAN_Exit() {
  std::lock_guard<UcanLock> guard(lock_);
  trace("UCAN_Exit()\n");
  ready_ = false;
  backend_->close();
  closeCvUdp();
  for (BusState& b : bus_) b.initialised = false;
  updateControllerFlag();
  return 1;
}

void Ucan::updateControllerFlag() {
  controllerInitialised_ = bus_[0].initialised || bus_[1].initialised;
}

int Ucan::UCAN_InitCtrl(int bus, int baudKbit, int fdDataRate) {
  std::lock_guard<UcanLock> guard(lock_);
  if (!validBus(bus)) {
    setError("UCAN_InitCtrl: Illegal bus-index (%d, allowed: 0..%d) !", bus, 1);
    return 0;
  }
  bus_[bus].baud = baudKbit;
  bus_[bus].fdRate = fdDataRate;
  const int ok = backend_->initCtrl(bus, baudKbit, fdDataRate);
  bus_[bus].initialised = ok != 0;
  updateControllerFlag();
  flushPendingPrints();
  return ok;
}

int Ucan::UCAN_SetBaudrate(int bus, int baudKbit, int fdDataRate) {
  std::lock_guard<UcanLock> guard(lock_);
  if (!validBus(bus)) {
    setError("UCAN_SetBaudrate: Illegal bus-index (%d, allowed: 0..%d) !", bus, 1);
    return 0;
  }
  bus_[bus].baud = baudKbit;
  bus_[bus].fdRate = fdDataRate;
  return backend_->setBaudrate(bus, baudKbit, fdDataRate);
}

int Ucan::UCAN_GetBaudrate(int bus, int* baudKbit, int* fdDataRate, std::string* text) {
  std::lock_guard<UcanLock> guard(lock_);
  int unusedBaud = 0;
  if (!baudKbit) baudKbit = &unusedBaud;
  *baudKbit = 0;
  if (fdDataRate) *fdDataRate = 0;
  if (!validBus(bus)) {
    setError("UCAN_GetBaudrate: Illegal bus-index (%d, allowed: 0..%d) !", bus, 1);
    return 0;
  }
  return backend_->getBaudrate(bus, baudKbit, fdDataRate, text);
}

int Ucan::UCAN_IsChannelOpen(int bus) {
  std::lock_guard<UcanLock> guard(lock_);
  if (!validBus(bus)) return 0;
  return backend_->isChannelOpen(bus);
}

int Ucan::UCAN_Status(int bus) {
  std::lock_guard<UcanLock> guard(lock_);
  const double start = clock_.nowMs();
  uint8_t status = validBus(bus) ? backend_->status(bus) : 0;
  noteDuration(start, "ResetController");
  collectDropped();
  if (validBus(bus) && bus_[bus].pendingOverflow) {
    status |= kUcanRxOvf;
    bus_[bus].pendingOverflow = false;
  }
  lastStatus_ = status;
  flushPendingPrints();
  return status;
}

int Ucan::UCAN_SetRcvID(int bus, uint32_t id, uint32_t mask) {
  std::lock_guard<UcanLock> guard(lock_);
  if (!validBus(bus)) {
    setError("UCAN_SetRcvID: Illegal bus-index (%d, allowed: 0..%d) !", bus, 1);
    return 0;
  }
  bus_[bus].filterId = id;
  bus_[bus].filterMask = mask;
  return backend_->setRcvId(bus, id, mask);
}

int Ucan::UCAN_Receive(int bus, CanFrame& out) {
  std::lock_guard<UcanLock> guard(lock_);
  if (bus != kAnyBus && !validBus(bus)) {
    setError("UCAN_Receive: Illegal bus-index (%d, allowed: 0..%d or %d) !", bus, 1, kAnyBus);
    return 0;
  }
  const bool watched = backend_->mayStall();
  const double start = watched ? clock_.nowMs() : 0.0;
  const int got = backend_->receive(bus, out);
  if (watched) noteDuration(start, "CAN-Receive");
  collectDropped();
  if (got) {
    ++rxCounter_;
    // A server relays whatever the local adapter delivers to its client.
    if (endpoint_ && params_.interfaceType != kIntfCvUdp && (endpoint_->roleFlags() & kCvUdpServer) &&
        endpoint_->connected()) {
      CanFrame copy = out;
      endpoint_->sendFrame(copy, false);
    }
  }
  flushPendingPrints();
  return got;
}

int Ucan::UCAN_TxBusy(int bus) {
  std::lock_guard<UcanLock> guard(lock_);
  if (!validBus(bus)) return 0;
  if (!ready_ || !bus_[bus].initialised) return 1;
  return backend_->txBusy(bus);
}

UcanTxResult Ucan::tryTransmit(int bus, CanFrame& frame) {
  std::lock_guard<UcanLock> guard(lock_);
  if (!validBus(bus)) {
    setError("UCAN_Transmit: Illegal bus-index (%d, allowed: 0..%d) !", bus, 1);
    return UcanTxResult::kRefused;
  }
  const int result = backend_->transmit(bus, frame);
  if (result == 1) {
    ++txCounter_;
    return UcanTxResult::kSent;
  }
  return result == kTransmitRefused ? UcanTxResult::kRefused : UcanTxResult::kFailed;
}

int Ucan::resetController(int bus) {
  std::lock_guard<UcanLock> guard(lock_);
  if (!validBus(bus)) return 0;
  const double start = clock_.nowMs();
  const int ok = backend_->resetController(bus);
  noteDuration(start, "ResetController");
  flushPendingPrints();
  return ok;
}

void Ucan::printNotice(const std::string& line) {
  // The window's printer belongs to the user-interface thread; a relay thread queues its line.
  if (std::this_thread::get_id() == ownerThread_) {
    printCan(line);
  } else {
    messages_.QueueCanMessage("%s", line.c_str());
  }
}

int Ucan::channelCount() const {
  const CanInterfaceTypeRow* row = interfaces_.find(backend_->type());
  return row && row->channelCount > 0 ? row->channelCount : backend_->channelCount();
}

std::string Ucan::channelName(int bus) const {
  return backend_->channelName(bus);
}

void Ucan::collectDropped() {
  uint8_t busMask = 0;
  uint64_t dropped = backend_->takeDropped(busMask);
  if (endpoint_) {
    const uint64_t lost = endpoint_->takeDroppedFrames();
    if (lost) {
      dropped += lost;
      busMask |= 3;
    }
    // A datagram may carry frames of either bus.
    const uint64_t lostDatagrams = endpoint_->takeKernelDrops();
    if (lostDatagrams) {
      cvudpDatagramsLost_ += lostDatagrams;
      busMask |= 3;
    }
    cvudpMalformedBytes_ += endpoint_->takeMalformedBytes();
  }
  droppedTotal_ += dropped;
  if (busMask & 1) bus_[0].pendingOverflow = true;
  if (busMask & 2) bus_[1].pendingOverflow = true;
}

uint64_t Ucan::cvudpDatagramsLost() {
  std::lock_guard<UcanLock> guard(lock_);
  collectDropped();
  return cvudpDatagramsLost_;
}

uint64_t Ucan::cvudpMalformedBytes() {
  std::lock_guard<UcanLock> guard(lock_);
  collectDropped();
  return cvudpMalformedBytes_;
}

// ---------------------------------------------------------------------------------------------
// Clock and slow-driver watchdog

double Ucan::clockMs() {
  double result;
  bool havePrints;
  {
    std::lock_guard<std::mutex> guard(stateMutex_);
    const double local = clock_.nowMs();
    expireSlowDriverLocked(local);
    const double elapsed = local - lastSyncLocalMs_;
    // A driver in trouble is not asked for its time; the local clock carries on from the last sync.
    if ((elapsed >= 0 && elapsed < kResyncIntervalMs) || slowDriver_) {
      result = clockOffsetMs_ + elapsed;
    } else {
      double reference = local;
      if (!backend_->referenceTimeMs(reference)) reference = local;
      noteDurationLocked(local, clock_.nowMs(), "QueryClock");
      clockOffsetMs_ = reference;
      lastSyncLocalMs_ = local;
      result = reference;
    }
    havePrints = !pendingPrints_.empty();
  }
  if (havePrints) flushPendingPrints();
  return result;
}

void Ucan::expireSlowDriverLocked(double nowMs) {
  if (slowDriver_ && nowMs - slowSinceMs_ >= kSlowDriverHoldMs) slowDriver_ = false;
}

void Ucan::noteDurationLocked(double startMs, double endMs, const char* what) {
  expireSlowDriverLocked(endMs);
  const double took = endMs - startMs;
  if (took <= kSlowCallMs) return;
  slowSinceMs_ = endMs;
  if (!slowDriver_) {
    char line[128];
    std::snprintf(line, sizeof line, "UCAN: Incredibly slow driver function call (%s: %d ms)", what,
                  static_cast<int>(took));
    trace("%s\n", line);
    pendingPrints_.emplace_back(line);
  }
  slowDriver_ = true;
}

void Ucan::noteDuration(double startMs, const char* what) {
  std::lock_guard<std::mutex> guard(stateMutex_);
  noteDurationLocked(startMs, clock_.nowMs(), what);
}

void Ucan::flushPendingPrints() {
  // The printers belong to the user-interface thread; a relay thread leaves its lines for it.
  if (std::this_thread::get_id() != ownerThread_) return;
  std::vector<std::string> lines;
  {
    std::lock_guard<std::mutex> guard(stateMutex_);
    lines.swap(pendingPrints_);
  }
  for (const std::string& line : lines) {
    if (printAlways_) {
      printAlways_(line);
    } else {
      messages_.QueueCanMessage("%s", line.c_str());
    }
  }
}

void Ucan::trace(const char* format, ...) {
  if (!(params_.debugFlags & 1)) return;
  va_list args;
  va_start(args, format);
  std::vfprintf(stderr, format, args);
  va_end(args);
}

// ---------------------------------------------------------------------------------------------
// Last error, history, state

std::string Ucan::takeLastError() {
  std::lock_guard<UcanLock> guard(lock_);
  std::string text;
  text.swap(lastError_);
  return text;
}

void Ucan::setErrorV(const char* format, va_list args) {
  std::lock_guard<UcanLock> guard(lock_);
  if (!lastError_.empty()) return;
  char buf[512];
  if (std::strcmp(format, "%s") == 0) {
    // A text chosen at run time (a back-end's fixed line) is looked up whole.
    va_list copy;
    va_copy(copy, args);
    const char* text = va_arg(copy, const char*);
    va_end(copy);
    std::snprintf(buf, sizeof buf, "%s", translator_ && text ? translator_->translate(text) : text);
  } else {
    std::vsnprintf(buf, sizeof buf, translateFormat(format), args);
  }
  // The buffer holds one line: whatever a driver appends after a line break is not ours to show.
  buf[std::strcspn(buf, "\r\n")] = '\0';
  lastError_ = buf;
  trace("%s\n", buf);
}

namespace {
// The arguments a printf format consumes, as a string of their conversions ("d,s,*ld,").
std::string ArgumentSignature(const char* format) {
  std::string signature;
  for (const char* f = format; *f != '\0'; ++f) {
    if (*f != '%') continue;
    if (*++f == '%') continue;
    for (; *f != '\0' && std::strchr("-+ #0123456789.*", *f); ++f) {
      if (*f == '*') signature += '*';
    }
    for (; *f != '\0' && std::strchr("hlLqjzt", *f); ++f) signature += *f;
    if (*f == '\0') return signature + '?';
    signature += *f;
    signature += ',';
  }
  return signature;
}
}  // namespace

const char* Ucan::translateFormat(const char* format) const {
  if (!translator_) return format;
  const char* translated = translator_->translate(format);
  // A translation that would read other arguments than the caller passed must never be used.
  if (translated != format && ArgumentSignature(translated) != ArgumentSignature(format)) return format;
  return translated;
}

int Ucan::baudrate(int bus) const {
  return validBus(bus) ? bus_[bus].baud : 0;
}

int Ucan::fdDataRate(int bus) const {
  return validBus(bus) ? bus_[bus].fdRate : 0;
}

uint32_t Ucan::errorFrameCount(int bus) const {
  return validBus(bus) ? backend_->errorFrames(bus) : 0;
}

void Ucan::addErrorHistory(uint8_t status, uint8_t reg, uint8_t ext, int line, const char* tag) {
  std::lock_guard<UcanLock> guard(lock_);
  if (haveLastHistory_ && lastHistory_.status == status && lastHistory_.line == line &&
      lastHistory_.reg == reg)
    return;
  // A full history keeps what is already there; the first errors explain the later ones.
  if (historyCount_ == kHistorySize) return;
  UcanErrorEntry entry;
  entry.timeMs = clockMsWhole();
  entry.status = status;
  entry.reg = reg;
  entry.ext = ext;
  entry.line = line;
  std::snprintf(entry.tag, sizeof entry.tag, "%s", tag ? tag : "");
  history_[(historyHead_ + historyCount_) % kHistorySize] = entry;
  ++historyCount_;
  lastHistory_ = entry;
  haveLastHistory_ = true;
}

bool Ucan::popErrorHistory(UcanErrorEntry& out) {
  std::lock_guard<UcanLock> guard(lock_);
  if (historyCount_ == 0) return false;
  out = history_[historyHead_];
  historyHead_ = (historyHead_ + 1) % kHistorySize;
  --historyCount_;
  return true;
}

// ---------------------------------------------------------------------------------------------
// Convenience layer

void Ucan::printCan(const std::string& line) {
  if (printCan_) {
    printCan_(line);
  } else {
    messages_.QueueCanMessage("%s", line.c_str());
  }
}

void Ucan::printPendingError() {
  if (lastError_.empty()) return;
  printCan(takeLastError());
}

int Ucan::initController(int bus, int baudKbit, int mode, int option, int fdDataRate) {
  std::lock_guard<UcanLock> guard(lock_);
  (void)option;
  if (!validBus(bus)) {
    setError("UCAN_InitCtrl: Illegal bus-index (%d, allowed: 0..%d) !", bus, 1);
    printPendingError();
    return 0;
  }
  bus_[bus].baud = baudKbit;
  bus_[bus].mode = mode;
  bus_[bus].fdRate = fdDataRate;
  // The register byte carries the bus, so initialising both buses leaves two entries.
  addErrorHistory(lastStatus_, static_cast<uint8_t>(bus), static_cast<uint8_t>(mode), __LINE__, "CAN_INIT");
  if (baudKbit == 0) {
    // An unused bus: only this bus is marked closed, the other one keeps running.
    bus_[bus].initialised = false;
    updateControllerFlag();
    return 1;
  }
  const int ok = UCAN_InitCtrl(bus, baudKbit, fdDataRate);
  if (!ok) printPendingError();
  return ok;
}

int Ucan::setReceiveFilter(int bus, uint32_t id, uint32_t mask) {
  std::lock_guard<UcanLock> guard(lock_);
  if (!validBus(bus)) {
    setError("UCAN_SetRcvID: Illegal bus-index (%d, allowed: 0..%d) !", bus, 1);
    printPendingError();
    return 0;
  }
  bus_[bus].filterId = id;
  bus_[bus].filterMask = mask;
  if (!bus_[bus].initialised) {
    printCan("CANnot add id, controller not initialized");
    return 0;
  }
  const int ok = UCAN_SetRcvID(bus, id, mask);
  if (!ok) printPendingError();
  return ok;
}

int Ucan::sendFrame(int bus, CanFrame& frame) {
  std::lock_guard<UcanLock> guard(lock_);
  if (validBus(bus) && !bus_[bus].initialised) {
    setError("UCAN_Transmit: CAN%d not initialized, frame not sent !", bus + 1);
    printPendingError();
    return 0;
  }
  const int ok = UCAN_Transmit(bus, frame);
  if (!ok) printPendingError();
  return ok;
}

int Ucan::receiveOne(CanFrame& out) {
  std::lock_guard<UcanLock> guard(lock_);
  // Simulated receptions need no driver, so they come through even without a bus.
  if (receiveRing_.pop(out)) return 1;
  // Only a driver marked slow has anything to expire; the common case costs no clock read.
  if (slowDriver_) {
    std::lock_guard<std::mutex> guard(stateMutex_);
    expireSlowDriverLocked(clock_.nowMs());
  }
  if (slowDriver_ || !controllerInitialised_) return 0;
  const int got = UCAN_Receive(kAnyBus, out);
  if (!got) printPendingError();
  return got;
}

bool Ucan::simulateReception(const std::string& line) {
  std::lock_guard<UcanLock> guard(lock_);
  std::vector<std::string> tokens;
  std::string current;
  for (char c : line) {
    if (c == ' ' || c == '\t' || c == ',' || c == '\r' || c == '\n') {
      if (!current.empty()) tokens.push_back(current);
      current.clear();
    } else {
      current += c;
    }
  }
  if (!current.empty()) tokens.push_back(current);

  size_t i = 0;
  uint32_t id = 0;
  bool forceExtended = false, forceStandard = false;
  // Leading words ("rx", "can1") are skipped; the first token that reads as an identifier is one.
  while (i < tokens.size() && std::islower(static_cast<unsigned char>(tokens[i][0])) &&
         !ParseIdToken(tokens[i], id, forceExtended, forceStandard)) {
    ++i;
  }
  if (i == tokens.size() || !ParseIdToken(tokens[i++], id, forceExtended, forceStandard)) return false;

  CanFrame frame;
  frame.id = id;
  if (forceExtended || (!forceStandard && (id & CanFrame::kExtendedOnlyBits)))
    frame.id |= CanFrame::kExtended;
  int length = 0;
  for (; i < tokens.size(); ++i) {
    uint32_t byte = 0;
    if (length == 64 || !ParseHexToken(tokens[i], byte) || byte > 0xFF) return false;
    frame.data[length++] = static_cast<uint8_t>(byte);
  }
  if (length > 8) {
    frame.fdFlags |= CanFrame::kFdf;
    length = CanRoundUpFdLength(length);
  }
  frame.length = static_cast<uint8_t>(length);
  frame.timestamp = clockMsWhole();
  return receiveRing_.push(frame);
}

}  // namespace busprobe
