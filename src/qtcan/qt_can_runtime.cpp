#include <QCanBus>
#include <QCoreApplication>
#include <QLoggingCategory>
#include <QObject>
#include <QThread>
#include <clocale>
#include <mutex>

#include "qtcan/qt_can_bus.h"

namespace busprobe {

struct QtCanBusRuntime::Impl {
  // QCoreApplication keeps references to its arguments for its whole life.
  int argc = 1;
  char name[9] = "busprobe";
  char* argv[2] = {name, nullptr};
  std::unique_ptr<QCoreApplication> ownApplication;
  std::unique_ptr<QThread> thread;
  QObject* context = nullptr;  // lives in the thread; what the calls are queued to
  QThread* owner = nullptr;    // the thread that started it
};

QtCanBusRuntime::QtCanBusRuntime() : impl_(std::make_unique<Impl>()) {}

QtCanBusRuntime::~QtCanBusRuntime() {
  Impl& d = *impl_;
  if (d.thread) {
    // Devices still open would be left to a thread that is gone; the back-ends closed theirs.
    // Handed back to the thread that made it, from its own thread (the only one allowed to move
    // it), and deleted there once the Qt thread has ended.
    run([&d] { d.context->moveToThread(d.owner); });
    d.thread->quit();
    d.thread->wait();
    delete d.context;
    d.context = nullptr;
    d.thread.reset();
  }
  d.ownApplication.reset();
}

bool QtCanBusRuntime::start(std::string& error) {
  Impl& d = *impl_;
  if (d.thread) return true;
  if (!QCoreApplication::instance()) {
    // Qt sets the whole locale from the environment here; printf-style numbers must keep '.'.
    const char* numeric = std::setlocale(LC_NUMERIC, nullptr);
    const std::string keptNumeric = numeric ? numeric : "C";
    d.ownApplication = std::make_unique<QCoreApplication>(d.argc, d.argv);
    std::setlocale(LC_NUMERIC, keptNumeric.c_str());
  }
  // The plugins' chatter about every connection would bury the program's own lines on a terminal
  // (virtualcan even warns when a device joins the server of another process, which is how two
  // programs share its bus, and peakcan on every start without its driver); what matters reaches
  // the back-end as the device's error text.
  // QT_LOGGING_RULES still turns it on.
  QLoggingCategory::setFilterRules(
      QStringLiteral("qt.canbus*.debug=false\nqt.canbus*.info=false\nqt.canbus*.warning=false"));
  auto thread = std::make_unique<QThread>();
  thread->setObjectName(QStringLiteral("Qt CAN bus"));
  thread->start();
  if (!thread->isRunning()) {
    error = "the Qt CAN bus thread could not be started";
    return false;
  }
  d.owner = QThread::currentThread();
  d.context = new QObject;
  d.context->moveToThread(thread.get());
  d.thread = std::move(thread);
  return true;
}

void QtCanBusRuntime::run(const std::function<void()>& fn) {
  Impl& d = *impl_;
  if (!d.thread || QThread::currentThread() == d.thread.get()) {
    fn();
    return;
  }
  QMetaObject::invokeMethod(d.context, fn, Qt::BlockingQueuedConnection);
}

std::vector<QtCanBusPluginDevices> QtCanBusPlugins(QtCanBusRuntime& runtime, bool withDevices) {
  std::vector<QtCanBusPluginDevices> result;
  std::string error;
  if (!runtime.start(error)) return result;
  runtime.run([&result, withDevices] {
    QCanBus* bus = QCanBus::instance();
    for (const QString& plugin : bus->plugins()) {
      QtCanBusPluginDevices entry;
      entry.plugin = plugin.toStdString();
      QString message;
      if (withDevices)
        for (const QCanBusDeviceInfo& info : bus->availableDevices(plugin, &message))
          entry.devices.push_back(info.name().toStdString());
      entry.error = message.toStdString();
      result.push_back(std::move(entry));
    }
  });
  return result;
}

}  // namespace busprobe
