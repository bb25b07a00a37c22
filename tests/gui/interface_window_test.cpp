// The "CAN Interface Selection" window on a session's interface record, and its menu command,
// whose OK re-opens the bus on the next tick.
#include "gui/interface_window.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QLineEdit>

#include "gui_session.h"

namespace busprobe {
namespace {

using testing::GuiSession;
using testing::MessageBoxCatcher;
using testing::ShowOnDisplay;
using testing::TempDir;

QLineEdit* Edit(QWidget& w, const char* name) {
  auto* edit = w.findChild<QLineEdit*>(QString::fromLatin1(name));
  EXPECT_NE(edit, nullptr) << name;
  return edit;
}

QCheckBox* Box(QWidget& w, const char* name) {
  auto* box = w.findChild<QCheckBox*>(QString::fromLatin1(name));
  EXPECT_NE(box, nullptr) << name;
  return box;
}

QComboBox* Combo(QWidget& w, const char* name) {
  auto* combo = w.findChild<QComboBox*>(QString::fromLatin1(name));
  EXPECT_NE(combo, nullptr) << name;
  return combo;
}

void ClickOk(QWidget& w) {
  w.findChild<QPushButton*>(QStringLiteral("Btn_Ok"))->click();
}

// Answers the modal window the menu opens: `answer` gets it once it is up, and closes it.
class ModalAnswer {
 public:
  explicit ModalAnswer(std::function<void(InterfaceWindow&)> answer) : answer_(std::move(answer)) {
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      auto* w = qobject_cast<InterfaceWindow*>(QApplication::activeModalWidget());
      if (!w || answered_) return;
      answered_ = true;
      answer_(*w);
    });
    timer_.start(5);
  }
  bool answered() const { return answered_; }

 private:
  std::function<void(InterfaceWindow&)> answer_;
  QTimer timer_;
  bool answered_ = false;
};

// A Vector driver that opened, with a hardware configuration tool that opens or fails.
class OpenedVectorDriver : public CanBackend {
 public:
  OpenedVectorDriver(CanBackendHost& host, bool toolOpens)
      : CanBackend(host, kIntfVector), toolOpens_(toolOpens) {}
  int open() override { return 1; }
  bool popupHardwareConfig() override {
    ++toolCalls;
    return toolOpens_;
  }
  static inline int toolCalls = 0;

 private:
  bool toolOpens_;
};

TEST(InterfaceWindow, ListsEveryInterfaceAndShowsThePageOfTheChosenOne) {
  TempDir config, locks;
  GuiSession session(config.path(), locks.path());
  session.window();
  InterfaceWindow w(session.app());
  EXPECT_EQ(w.windowTitle(), QStringLiteral("CAN Interface Selection"));

  const char* captions[] = {"none",
                            "NVK CAN-via-UDP",
                            "ESD NTCAN-driver",
                            "PCAN-Dongle LIGHT",
                            "PCAN-USB LIGHT",
                            "PEAK CanApi2 driver",
                            "KVASER CANLIB",
                            "VECTOR XL Driver",
                            "Linux SocketCAN",
                            "Virtual bus (built-in)",
                            "Qt CAN bus"};
  const char* pages[] = {"Info",   "CAN via UDP", "NTCAN",     "PCAN Light",  "PCAN USB",  "PCAN API",
                         "Kvaser", "Vector",      "SocketCAN", "Virtual bus", "Qt CAN bus"};
  ASSERT_EQ(w.entryCount(), 11);
  // The fresh configuration's virtual bus is chosen, and its page shown.
  EXPECT_EQ(w.chosenEntry(), 9);
  EXPECT_EQ(w.shownPage(), QStringLiteral("Virtual bus"));
  for (int i = 0; i < w.entryCount(); ++i) {
    EXPECT_EQ(w.entry(i)->text(), QString::fromLatin1(captions[i]));
    w.entry(i)->click();
    EXPECT_EQ(w.chosenEntry(), i);
    EXPECT_EQ(w.shownPage(), QString::fromLatin1(pages[i]));
    EXPECT_TRUE(ShowOnDisplay(&w, QStringLiteral("InterfaceWindow_%1").arg(i))) << pages[i];
  }
  // The fields of a page live on that page.
  w.entry(3)->click();
  EXPECT_TRUE(w.shownPageWidget()->isAncestorOf(Edit(w, "Ed_IOAddress")));
  w.entry(1)->click();
  EXPECT_TRUE(w.shownPageWidget()->isAncestorOf(Combo(w, "CB_LocalIP")));
}

TEST(InterfaceWindow, ShowsTheStoredSettingsInTheirFields) {
  TempDir config, locks;
  GuiSession session(config.path(), locks.path());
  CanInterfaceSettings& s = session.app().interfaceSettings();
  s.interfaceType = kIntfCanApi2;
  s.debugFlags = 1;
  s.pcanIoAddress = 0x2F8;
  s.cvudpFlags = kCvUdpClient | kCvUdpServer;
  s.cvudpLocalIp = "127.0.0.1";
  s.qtCanBusPlugin2 = "virtualcan";
  s.qtCanBusInterface2 = "can1";
  InterfaceWindow w(session.app());
  EXPECT_EQ(w.chosenEntry(), 5);
  EXPECT_EQ(w.shownPage(), QStringLiteral("PCAN API"));
  EXPECT_TRUE(Box(w, "Chk_Debugging")->isChecked());
  EXPECT_EQ(Edit(w, "Ed_IOAddress")->text(), QStringLiteral("$02F8"));
  EXPECT_TRUE(Box(w, "Chk_CvUdpClient")->isChecked());
  EXPECT_TRUE(Box(w, "Chk_CvUdpServer")->isChecked());
  EXPECT_EQ(Combo(w, "CB_LocalIP")->currentText(), QStringLiteral("127.0.0.1"));
  EXPECT_EQ(Combo(w, "CB_QtCanBusPlugin1")->currentText(), QStringLiteral("virtualcan"));
  EXPECT_EQ(Combo(w, "CB_QtCanBusInterface2")->currentText(), QStringLiteral("can1"));
  EXPECT_EQ(Edit(w, "Ed_SocketCanIf1")->text(), QStringLiteral("can0"));

  // A type this build does not list: no entry chosen, and OK keeps it.
  s.interfaceType = 12;
  InterfaceWindow unknown(session.app());
  EXPECT_EQ(unknown.chosenEntry(), -1);
  ClickOk(unknown);
  EXPECT_EQ(s.interfaceType, 12);
}

TEST(InterfaceWindow, OkStoresEveryPageAndCancelNothing) {
  TempDir config, locks;
  GuiSession session(config.path(), locks.path());
  const CanInterfaceSettings before = session.app().interfaceSettings();

  auto fill = [](InterfaceWindow& w) {
    w.entry(2)->click();
    Box(w, "Chk_Debugging")->setChecked(true);
    Edit(w, "Ed_NTCanNetNumber")->setText(QStringLiteral("net"));
    Box(w, "Chk_StartPCC")->setChecked(true);
    Edit(w, "Ed_IOAddress")->setText(QStringLiteral("0x2F8"));
    Edit(w, "Ed_Interrupt")->setText(QStringLiteral("2"));
    Edit(w, "Ed_NetNames")->setText(QStringLiteral("NetA,NetB"));
    Edit(w, "Ed_VectorAccessMask")->setText(QStringLiteral("3"));
    Edit(w, "Ed_VectorChannelName")->setText(QStringLiteral("Channel 2"));
    Box(w, "Chk_CvUdpClient")->setChecked(true);
    Box(w, "Chk_CvUdpServer")->setChecked(true);
    Edit(w, "Ed_RemoteIP")->setText(QStringLiteral("bench-pc"));
    Edit(w, "Ed_RemotePort")->setText(QString());
    Edit(w, "Ed_LocalPort")->setText(QString());
    Combo(w, "CB_LocalIP")->setEditText(QStringLiteral("127.0.0.1"));
    Edit(w, "Ed_SocketCanIf1")->setText(QStringLiteral("vcan0"));
    Edit(w, "Ed_SocketCanIf2")->setText(QString());
    Combo(w, "CB_QtCanBusPlugin1")->setEditText(QStringLiteral("socketcan"));
    Combo(w, "CB_QtCanBusInterface1")->setEditText(QStringLiteral("vcan1"));
    Combo(w, "CB_QtCanBusPlugin2")->setEditText(QStringLiteral("virtualcan"));
    Combo(w, "CB_QtCanBusInterface2")->setEditText(QStringLiteral("can3"));
  };

  {
    InterfaceWindow w(session.app());
    fill(w);
    w.findChild<QPushButton*>(QStringLiteral("Btn_Cancel"))->click();
    EXPECT_EQ(w.result(), QDialog::Rejected);
    EXPECT_EQ(session.app().interfaceSettings(), before);
  }

  InterfaceWindow w(session.app());
  fill(w);
  ClickOk(w);
  EXPECT_EQ(w.result(), QDialog::Accepted);
  const CanInterfaceSettings& s = session.app().interfaceSettings();
  EXPECT_EQ(s.interfaceType, kIntfNtcan);
  EXPECT_EQ(s.debugFlags, 1);
  EXPECT_EQ(s.ntcanNetNumber, 1);
  EXPECT_EQ(s.ntcanStartPcc, 1);
  EXPECT_EQ(s.ntcanStopPcc, 0);
  EXPECT_EQ(s.pcanIoAddress, 760);
  EXPECT_EQ(s.pcanInterrupt, 7);
  EXPECT_EQ(s.pcanNetNames, "NetA,NetB");
  EXPECT_EQ(s.vectorAccessMask, 3);
  EXPECT_EQ(s.vectorChannelName, "Channel 2");
  EXPECT_EQ(s.cvudpFlags, 3);
  EXPECT_EQ(s.cvudpRemoteIp, "bench-pc");
  EXPECT_EQ(s.cvudpRemotePort, 55556);
  EXPECT_EQ(s.cvudpLocalPort, 55557);
  EXPECT_EQ(s.cvudpLocalIp, "127.0.0.1");
  EXPECT_EQ(s.socketCanIf1, "vcan0");
  EXPECT_EQ(s.socketCanIf2, "");
  EXPECT_EQ(s.qtCanBusPlugin1, "socketcan");
  EXPECT_EQ(s.qtCanBusInterface1, "vcan1");
  EXPECT_EQ(s.qtCanBusPlugin2, "virtualcan");
  EXPECT_EQ(s.qtCanBusInterface2, "can3");
  EXPECT_EQ(s.dongleBaseAddr, before.dongleBaseAddr);
}

TEST(InterfaceWindow, VectorToolNeedsTheLoadedXlDriver) {
  TempDir config, locks;
  GuiSession session(config.path(), locks.path());
  session.window();
  session.ticks(10);
  bool toolOpens = false;
  session.app().ucan().setBackendFactory([&](int type) -> std::unique_ptr<CanBackend> {
    if (type != kIntfVector) return nullptr;
    return std::make_unique<OpenedVectorDriver>(session.app().ucan(), toolOpens);
  });
  OpenedVectorDriver::toolCalls = 0;
  InterfaceWindow w(session.app());
  auto* tool = w.findChild<QPushButton*>(QStringLiteral("Btn_VectorOpenControlPanel"));
  ASSERT_NE(tool, nullptr);
  {
    MessageBoxCatcher box;
    tool->click();  // the virtual bus is open, not the XL driver
    EXPECT_EQ(box.count(), 1);
    EXPECT_EQ(box.title(), QStringLiteral("CAN Interface Selection"));
    EXPECT_EQ(box.text(),
              QStringLiteral("Sorry, the VECTOR XL DRIVER LIBRARY must be loaded\nto open the Vector "
                             "Hardware Config Tool from here.\nMaybe you can find it in the system "
                             "control - good luck !"));
  }
  session.app().interfaceSettings().interfaceType = kIntfVector;
  session.app().restartInterface();
  session.ticks(1);
  ASSERT_TRUE(session.app().ucan().ready());
  {
    MessageBoxCatcher box;
    tool->click();
    EXPECT_EQ(OpenedVectorDriver::toolCalls, 1);
    EXPECT_EQ(box.count(), 1);
    EXPECT_EQ(box.text(),
              QStringLiteral("Sorry, couldn't open the CAN hardware configuration tool.\nMaybe you can "
                             "find it in the system control - good luck !"));
  }
  toolOpens = true;
  session.app().restartInterface();
  session.ticks(1);
  {
    MessageBoxCatcher box;
    tool->click();
    EXPECT_EQ(OpenedVectorDriver::toolCalls, 2);
    EXPECT_EQ(box.count(), 0);
  }
  MessageBoxCatcher help;
  w.findChild<QPushButton*>(QStringLiteral("Btn_Help"))->click();
  EXPECT_EQ(help.count(), 1);
  EXPECT_EQ(help.title(), QStringLiteral("CAN Interface Selection"));
}

TEST(InterfaceWindow, MenuOkReopensTheBusOnTheNextTick) {
  TempDir config, locks;
  GuiSession session(config.path(), locks.path());
  session.window();
  session.ticks(10);
  ASSERT_EQ(session.app().ucan().interfaceType(), kIntfVirtual);
  ASSERT_TRUE(session.app().ucan().ready());
  QAction* item = session.menuItem(QStringLiteral("CAN &Interface Setup.."));
  ASSERT_NE(item, nullptr);

  {
    ModalAnswer answer([](InterfaceWindow& w) {
      w.entry(0)->click();
      ClickOk(w);
    });
    item->trigger();
    EXPECT_TRUE(answer.answered());
  }
  EXPECT_EQ(session.app().interfaceSettings().interfaceType, kIntfNone);
  EXPECT_EQ(session.app().startupStep(), kStepInit2);
  session.ticks(1);
  EXPECT_EQ(session.app().ucan().interfaceType(), kIntfNone);
  EXPECT_TRUE(session.app().running());

  {
    // Cancel: neither the record nor the bus changes.
    ModalAnswer answer([](InterfaceWindow& w) {
      w.entry(9)->click();
      w.findChild<QPushButton*>(QStringLiteral("Btn_Cancel"))->click();
    });
    EXPECT_FALSE(session.window().Menu_CANInterfaceSetupClick());
    EXPECT_TRUE(answer.answered());
  }
  EXPECT_EQ(session.app().interfaceSettings().interfaceType, kIntfNone);
  EXPECT_TRUE(session.app().running());

  {
    ModalAnswer answer([](InterfaceWindow& w) {
      w.entry(9)->click();
      ClickOk(w);
    });
    EXPECT_TRUE(session.window().Menu_CANInterfaceSetupClick());
  }
  session.ticks(1);
  EXPECT_EQ(session.app().ucan().interfaceType(), kIntfVirtual);
  EXPECT_TRUE(session.app().ucan().ready());
  // The bus carries frames again: the controllers were initialised anew.
  CanFrame frame;
  frame.id = 0x123;
  frame.length = 1;
  EXPECT_TRUE(session.app().TransmitFrame(frame));
}

}  // namespace
}  // namespace busprobe
