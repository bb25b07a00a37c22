// The type-11 back-end: one Qt CAN bus device per bus, living in the runtime's Qt thread. Frames
// arrive there and wait in a queue per bus, so UCAN_Receive and UCAN_Status only read memory and
// never wait for a driver (mayStall() is false). Transmissions are handed to the device's thread
// and leave in order; a write the device refuses later shows as TX_ERROR and a text.
#include <QCanBus>
#include <QCanBusDevice>
#include <QEventLoop>
#include <QTimer>
#include <QVariant>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>

#include "can/can_backend.h"
#include "can/ucan.h"  // the status bits
#include "qtcan/qt_can_bus.h"
#include "qtcan/qt_can_frames.h"

namespace busprobe {

namespace {

// A device on this machine connects in milliseconds; a remote virtualcan server or a slow
// adapter gets more, but an interface that never comes up must not hold start-up for long.
constexpr auto kConnectTimeout = std::chrono::milliseconds(5000);
constexpr size_t kReceiveQueueFrames = 4096;
constexpr int kPendingWriteLimit = 1024;
constexpr int kBusStatusPollMs = 250;
constexpr int kCloseTimeoutMs = 500;

// SocketCAN's bit rate belongs to the system (ip link), as with interface type 9, and the virtual
// bus has none; every other plugin takes the rate in its configuration.
bool PluginTakesBitRate(const std::string& plugin) {
  return plugin != "socketcan" && plugin != "virtualcan";
}

std::string Text(const QString& s) {
  return s.toStdString();
}

class QtCanBusBackend final : public CanBackend {
 public:
  QtCanBusBackend(CanBackendHost& host, QtCanBusRuntime& runtime)
      : CanBackend(host, kIntfQtCanBus), runtime_(runtime) {}
  ~QtCanBusBackend() override { close(); }

  bool mayStall() const override { return false; }

  int open() override {
    std::string error;
    if (!runtime_.start(error)) {
      host_.setError("UCAN_Init: Qt CAN bus not available (%s) !", error.c_str());
      return 0;
    }
    return 1;
  }

  void close() override {
    for (int bus = 0; bus < 2; ++bus) closeChannel(bus);
  }

  int initCtrl(int bus, int baudKbit, int fdDataRate) override {
    closeChannel(bus);
    Channel& c = channel_[bus];
    c.plugin = bus == 0 ? host_.params().qtCanBusPlugin1 : host_.params().qtCanBusPlugin2;
    c.name = bus == 0 ? host_.params().qtCanBusInterface1 : host_.params().qtCanBusInterface2;
    // A bus without a plugin is one the user does not use: it stays closed, quietly, even though
    // its bit rate is configured (a fresh configuration has one for both buses).
    if (c.plugin.empty()) return 1;
    std::string failure;
    if (!runtime_.start(failure)) {
      host_.setError("UCAN_InitCtrl: Qt CAN bus not available (%s) !", failure.c_str());
      return 0;
    }
    c.takesBitRate = PluginTakesBitRate(c.plugin);
    runtime_.run([&] { failure = createDevice(bus, baudKbit, fdDataRate); });
    if (failure.empty()) failure = waitConnected(bus);
    if (!failure.empty()) {
      closeChannel(bus);
      host_.setError("%s", failure.c_str());
      return 0;
    }
    return 1;
  }

  int setBaudrate(int bus, int baudKbit, int fdDataRate) override {
    Channel& c = channel_[bus];
    if (!c.device) {
      host_.setError("UCAN_SetBaudrate: Qt CAN bus device of CAN%d not open !", bus + 1);
      return 0;
    }
    if (!c.takesBitRate) return 1;
    std::string failure;
    runtime_.run([&] {
      configureRates(c, baudKbit, fdDataRate);
      if (c.device->error() == QCanBusDevice::ConfigurationError) failure = Text(c.device->errorString());
    });
    if (!failure.empty()) {
      host_.setError("UCAN: SetBaud error : %s", failure.c_str());
      return 0;
    }
    return 1;
  }

  int getBaudrate(int bus, int* baudKbit, int* fdDataRate, std::string*) override {
    const Channel& c = channel_[bus];
    if (!c.device) {
      host_.setError("UCAN_GetBaudrate: Qt CAN bus device of CAN%d not open !", bus + 1);
      return 0;
    }
    if (c.takesBitRate) {
      *baudKbit = c.bitRateKbit;
      if (fdDataRate) *fdDataRate = c.dataBitRateKbit;
      return 1;
    }
    if (c.plugin == "virtualcan") {
      // No bit timing of its own: it runs at whatever rate the user configured.
      *baudKbit = host_.baudrate(bus);
      if (fdDataRate) *fdDataRate = host_.fdDataRate(bus);
      return 1;
    }
    host_.setError("UCAN_GetBaudrate: not supported !");
    return 0;
  }

  int isChannelOpen(int bus) override {
    std::lock_guard<std::mutex> lock(mutex_);
    return channel_[bus].device && channel_[bus].state == QCanBusDevice::ConnectedState ? 1 : 0;
  }

  uint8_t status(int bus) override {
    std::lock_guard<std::mutex> lock(mutex_);
    Channel& c = channel_[bus];
    const uint8_t status = c.controller | c.events;
    c.events = 0;
    return status;
  }

  int setRcvId(int bus, uint32_t id, uint32_t mask) override {
    Channel& c = channel_[bus];
    if (!c.device) {
      if (c.plugin.empty()) return 1;  // an unused bus has nothing to filter
      host_.setError("UCAN_SetRcvID: Qt CAN bus device of CAN%d not open !", bus + 1);
      return 0;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    c.filterId = id;
    c.filterMask = mask;
    return 1;
  }

  int receive(int bus, CanFrame& out) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (bus != 255) return takeLocked(bus, out);
    // Alternate which bus is asked first, so that a busy bus cannot starve the other.
    for (int i = 0; i < 2; ++i) {
      const int b = (nextBus_ + i) & 1;
      if (takeLocked(b, out)) {
        nextBus_ = b ^ 1;
        return 1;
      }
    }
    return 0;
  }

  int txBusy(int bus) override {
    std::lock_guard<std::mutex> lock(mutex_);
    return channel_[bus].pendingWrites >= kPendingWriteLimit ? 1 : 0;
  }

  int transmit(int bus, CanFrame& frame) override {
    Channel& c = channel_[bus];
    if (!c.device) {
      if (c.plugin.empty()) {
        host_.setError("UCAN_Transmit: No Qt CAN bus plugin configured for CAN%d !", bus + 1);
      } else {
        host_.setError("UCAN_Transmit: Qt CAN bus device of CAN%d not open !", bus + 1);
      }
      return kTransmitRefused;
    }
    QCanBusFrame qtFrame;
    if (!QtFrameEncode(frame, qtFrame)) {
      host_.setError("UCAN_Transmit: Frame cannot be sent (remote frame with CAN FD or more than 8 bytes) !");
      return kTransmitRefused;
    }
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (c.state == QCanBusDevice::UnconnectedState) {
        host_.setError("UCAN_Transmit: Qt CAN bus device \"%s\" is not connected !", c.name.c_str());
        return kTransmitRefused;
      }
      if (c.state != QCanBusDevice::ConnectedState) {
        host_.setError("UCAN_Transmit: Qt CAN bus device \"%s\" is not connected yet !", c.name.c_str());
        return 0;
      }
      if (c.pendingWrites >= kPendingWriteLimit) {
        c.events |= kUcanTxOvf;
        host_.setError("UCAN_Transmit: Qt CAN bus device \"%s\" still has %d frames to send !",
                       c.name.c_str(), c.pendingWrites);
        return 0;
      }
      ++c.pendingWrites;
    }
    frame.timestamp = host_.clockMsWhole();
    // Queued to the device itself: should it be deleted first, Qt drops the call with it. Any
    // thread may get here (a CAN-via-UDP server relays its client's frames on its own thread).
    QCanBusDevice* device = c.device;
    QMetaObject::invokeMethod(
        device, [this, bus, device, qtFrame] { writeQueued(bus, device, qtFrame); }, Qt::QueuedConnection);
    return 1;
  }

  uint64_t takeDropped(uint8_t& busMask) override {
    std::lock_guard<std::mutex> lock(mutex_);
    busMask = 0;
    uint64_t dropped = 0;
    for (int bus = 0; bus < 2; ++bus) {
      if (!channel_[bus].dropped) continue;
      dropped += channel_[bus].dropped;
      channel_[bus].dropped = 0;
      busMask |= static_cast<uint8_t>(1 << bus);
    }
    return dropped;
  }

  uint32_t errorFrames(int bus) const override {
    std::lock_guard<std::mutex> lock(mutex_);
    return channel_[bus].errorFrames;
  }

 private:
  struct Channel {
    // Set by the program's thread while the Qt thread is not using the channel (inside run(), or
    // before the device exists); read by either.
    QCanBusDevice* device = nullptr;  // lives in the Qt thread
    std::string plugin, name;
    bool takesBitRate = false;
    int bitRateKbit = 0, dataBitRateKbit = 0;

    // Shared with the Qt thread, under mutex_.
    QCanBusDevice::CanBusDeviceState state = QCanBusDevice::UnconnectedState;
    enum class Connect { kPending, kDone, kFailed } connect = Connect::kPending;
    std::deque<CanFrame> received;
    uint64_t dropped = 0;
    uint32_t filterId = 0, filterMask = 0;
    uint8_t controller = 0;  // controller state, kept until it changes
    uint8_t events = 0;      // reported by the next status call, then forgotten
    uint32_t errorFrames = 0;
    int pendingWrites = 0;
    std::string deviceError;  // the device's last complaint, not yet reported
  };

  std::string deviceName(const Channel& c) const { return c.plugin + ":" + c.name; }

  // In the Qt thread. An empty result: the device exists and is connecting.
  std::string createDevice(int bus, int baudKbit, int fdDataRate) {
    Channel& c = channel_[bus];
    QString message;
    QCanBusDevice* device = QCanBus::instance()->createDevice(QString::fromStdString(c.plugin),
                                                              QString::fromStdString(c.name), &message);
    if (!device) {
      return "UCAN_InitCtrl: Qt CAN bus device \"" + deviceName(c) + "\" cannot be made (" + Text(message) +
             ") !";
    }
    if (device->error() != QCanBusDevice::NoError) {
      const std::string why = Text(device->errorString());
      delete device;
      return "UCAN_InitCtrl: Qt CAN bus device \"" + deviceName(c) + "\" cannot be used (" + why + ") !";
    }
    // Classic frames pass either way; without it the plugins refuse FD frames.
    device->setConfigurationParameter(QCanBusDevice::CanFdKey, QVariant(true));
    c.device = device;
    if (c.takesBitRate) configureRates(c, baudKbit, fdDataRate);

    QObject::connect(device, &QCanBusDevice::framesReceived, device, [this, bus] { takeIn(bus); });
    QObject::connect(device, &QCanBusDevice::stateChanged, device,
                     [this, bus](QCanBusDevice::CanBusDeviceState state) { noteState(bus, state); });
    QObject::connect(device, &QCanBusDevice::errorOccurred, device,
                     [this, bus](QCanBusDevice::CanBusError error) { noteError(bus, error); });
    if (device->hasBusStatus()) {
      auto* poll = new QTimer(device);
      QObject::connect(poll, &QTimer::timeout, device, [this, bus] { pollBusStatus(bus); });
      poll->start(kBusStatusPollMs);
    }
    {
      std::lock_guard<std::mutex> lock(mutex_);
      c.connect = Channel::Connect::kPending;
      c.state = device->state();
    }
    if (!device->connectDevice()) {
      return "UCAN_InitCtrl: Qt CAN bus device \"" + deviceName(c) + "\" cannot connect (" +
             Text(device->errorString()) + ") !";
    }
    noteState(bus, device->state());
    return std::string();
  }

  void configureRates(Channel& c, int baudKbit, int fdDataRate) {
    if (baudKbit > 0)
      c.device->setConfigurationParameter(QCanBusDevice::BitRateKey, QVariant(baudKbit * 1000));
    if (fdDataRate > 0)
      c.device->setConfigurationParameter(QCanBusDevice::DataBitRateKey, QVariant(fdDataRate * 1000));
    c.bitRateKbit = baudKbit;
    c.dataBitRateKbit = fdDataRate;
  }

  // In the program's thread: the device's connection is up, or why not.
  std::string waitConnected(int bus) {
    Channel& c = channel_[bus];
    std::unique_lock<std::mutex> lock(mutex_);
    const bool settled =
        connected_.wait_for(lock, kConnectTimeout, [&c] { return c.connect != Channel::Connect::kPending; });
    if (!settled) {
      return "UCAN_InitCtrl: Qt CAN bus device \"" + deviceName(c) + "\" did not connect within " +
             std::to_string(kConnectTimeout.count()) + " ms !";
    }
    if (c.connect == Channel::Connect::kFailed) {
      std::string why = c.deviceError.empty() ? "connection refused" : c.deviceError;
      c.deviceError.clear();
      return "UCAN_InitCtrl: Qt CAN bus device \"" + deviceName(c) + "\" cannot connect (" + why + ") !";
    }
    return std::string();
  }

  void closeChannel(int bus) {
    Channel& c = channel_[bus];
    if (c.device) {
      QCanBusDevice* device = c.device;
      runtime_.run([device] {
        // Frames handed over just before closing are still in the device's socket or queue; a
        // device that goes away at once would drop them. Its disconnect lets them out first.
        if (device->state() != QCanBusDevice::UnconnectedState) {
          QEventLoop loop;
          QObject::connect(device, &QCanBusDevice::stateChanged, &loop,
                           [&loop](QCanBusDevice::CanBusDeviceState s) {
                             if (s == QCanBusDevice::UnconnectedState) loop.quit();
                           });
          QTimer::singleShot(kCloseTimeoutMs, &loop, &QEventLoop::quit);
          device->disconnectDevice();
          if (device->state() != QCanBusDevice::UnconnectedState) loop.exec();
        }
        delete device;
      });
      c.device = nullptr;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    c.state = QCanBusDevice::UnconnectedState;
    c.received.clear();
    c.controller = c.events = 0;
    c.pendingWrites = 0;
    c.deviceError.clear();
  }

  // --- in the Qt thread

  void takeIn(int bus) {
    Channel& c = channel_[bus];
    if (!c.device) return;
    const QList<QCanBusFrame> frames = c.device->readAllFrames();
    if (frames.isEmpty()) return;
    // Stamped on arrival: the program may take them in only at its next tick.
    const uint32_t arrivedMs = host_.clockMsWhole();
    std::lock_guard<std::mutex> lock(mutex_);
    for (const QCanBusFrame& in : frames) {
      CanFrame frame;
      SocketCanError error;
      switch (QtFrameDecode(in, bus, frame, error)) {
        case QtFrameRead::kFrame:
          if (((frame.identifier() ^ c.filterId) & c.filterMask & CanFrame::kIdMask) != 0) break;
          if (c.received.size() >= kReceiveQueueFrames) {
            ++c.dropped;
            break;
          }
          frame.timestamp = arrivedMs;
          c.received.push_back(frame);
          break;
        case QtFrameRead::kError:
          if (error.errorFrame) ++c.errorFrames;
          c.controller = SocketCanApplyState(c.controller, error);
          c.events |= error.events;
          break;
        case QtFrameRead::kIgnored:
          break;
      }
    }
  }

  void noteState(int bus, QCanBusDevice::CanBusDeviceState state) {
    Channel& c = channel_[bus];
    std::lock_guard<std::mutex> lock(mutex_);
    const bool wasConnected = c.state == QCanBusDevice::ConnectedState;
    c.state = state;
    if (state == QCanBusDevice::ConnectedState && c.connect == Channel::Connect::kPending) {
      c.connect = Channel::Connect::kDone;
      connected_.notify_all();
    } else if (state == QCanBusDevice::UnconnectedState) {
      if (c.connect == Channel::Connect::kPending) {
        c.connect = Channel::Connect::kFailed;
        connected_.notify_all();
      } else if (wasConnected) {
        // The adapter went away or the server closed: the bus is gone until it is opened again.
        c.events |= kUcanOther;
        if (c.deviceError.empty()) c.deviceError = "connection lost";
      }
    }
  }

  void noteError(int bus, QCanBusDevice::CanBusError error) {
    Channel& c = channel_[bus];
    if (error == QCanBusDevice::NoError || !c.device) return;
    const std::string why = Text(c.device->errorString());
    std::lock_guard<std::mutex> lock(mutex_);
    c.events |= error == QCanBusDevice::WriteError ? kUcanTxError : kUcanOther;
    c.deviceError = why;
    if (error == QCanBusDevice::ConnectionError && c.connect == Channel::Connect::kPending) {
      c.connect = Channel::Connect::kFailed;
      connected_.notify_all();
    }
  }

  void pollBusStatus(int bus) {
    Channel& c = channel_[bus];
    if (!c.device || c.device->state() != QCanBusDevice::ConnectedState) return;
    bool known = false;
    const uint8_t bits = QtBusStatusBits(c.device->busStatus(), known);
    if (!known) return;
    std::lock_guard<std::mutex> lock(mutex_);
    constexpr uint8_t kStateBits = kUcanWarning | kUcanBusError | kUcanBusOff;
    c.controller = static_cast<uint8_t>((c.controller & ~kStateBits) | bits);
  }

  void writeQueued(int bus, QCanBusDevice* device, const QCanBusFrame& frame) {
    const bool ok = device->writeFrame(frame);
    const std::string why = ok ? std::string() : Text(device->errorString());
    std::lock_guard<std::mutex> lock(mutex_);
    Channel& c = channel_[bus];
    if (c.pendingWrites > 0) --c.pendingWrites;
    if (!ok) {
      c.events |= kUcanTxError;
      c.deviceError = why.empty() ? "frame not written" : why;
    }
  }

  // --- in the program's thread, under mutex_

  int takeLocked(int bus, CanFrame& out) {
    Channel& c = channel_[bus];
    if (!c.received.empty()) {
      out = c.received.front();
      c.received.pop_front();
      return 1;
    }
    if (!c.deviceError.empty()) {
      // Said once, on the read that finds nothing, like a driver's read error.
      host_.setError("UCAN_Receive: Qt CAN bus device \"%s\" of CAN%d: %s !", deviceName(c).c_str(), bus + 1,
                     c.deviceError.c_str());
      c.deviceError.clear();
    }
    return 0;
  }

  QtCanBusRuntime& runtime_;
  Channel channel_[2];
  mutable std::mutex mutex_;
  std::condition_variable connected_;
  int nextBus_ = 0;
};

}  // namespace

CanInterfaceTypeRow QtCanBusInterfaceRow(QtCanBusRuntime& runtime) {
  CanInterfaceTypeRow row;
  row.type = kIntfQtCanBus;
  row.caption = "Qt CAN bus";
  row.channelCount = 2;
  row.factory = [&runtime](CanBackendHost& host, const CanInterfaceTypeRow&) -> std::unique_ptr<CanBackend> {
    return std::make_unique<QtCanBusBackend>(host, runtime);
  };
  return row;
}

}  // namespace busprobe
