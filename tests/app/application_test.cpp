#include "app/application.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "test_support.h"

namespace busprobe {
namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream(path) << text;
}

CanFrame Frame(uint32_t id, uint8_t first = 0) {
  CanFrame f;
  f.id = id;
  f.length = 1;
  f.data[0] = first;
  return f;
}

// Records what the traffic display is told as well.
class TrafficUi : public test::RecordingUi {
 public:
  void onChange(UiTopic topic) override {
    if (topic == UiTopic::kRxList) ++listChanges[1];
    if (topic == UiTopic::kTxList) ++listChanges[2];
    if (topic == UiTopic::kTrafficHeaders) headers.push_back(app_->trafficDisplay().headers());
  }
  void presentMessageBox(const std::string& title, const std::string& text) override {
    boxes.push_back(title + "|" + text);
  }
  int listChanges[4] = {0, 0, 0, 0};
  std::vector<TrafficHeaders> headers;
  std::vector<std::string> boxes;
};

// One application on a shared virtual bus, with its own configuration directory, a manual clock
// and a user interface that records everything.
struct Instance {
  Instance(const test::ScratchDir& locks, std::shared_ptr<VirtualBus> bus, ManualClock& clock,
           std::vector<std::string> args = {}) {
    AppOptions o;
    o.configDir = config.path();
    o.lockDir = locks.path();
    o.virtualBus = std::move(bus);
    o.arguments = std::move(args);
    app = std::make_unique<Application>(ui, clock, o);
  }
  void startAndRun(ManualClock& clock, int ticks = 5) {
    app->startUp();
    for (int i = 0; i < ticks; ++i) {
      app->tick();
      clock.advance(50);
    }
  }
  test::ScratchDir config;
  TrafficUi ui;
  std::unique_ptr<Application> app;
};

class ApplicationTest : public ::testing::Test {
 protected:
  ManualClock clock{1000};
  test::ScratchDir locks;
  std::shared_ptr<VirtualBus> bus = VirtualBus::create();
};

TEST_F(ApplicationTest, StartsUpInFiveTicksOnTheVirtualBusAndShowsTheStepNames) {
  Instance a(locks, bus, clock);
  WriteFile(a.config.file("script.bpr"), "print \"hello\"\nend\n");
  a.app->startUp();
  a.app->settings().currFile = a.config.file("script.bpr");
  EXPECT_FALSE(a.app->ucan().ready()) << "the interface must stay closed until Init2";
  for (int i = 0; i < 4; ++i) a.app->tick();
  EXPECT_FALSE(a.app->ucan().ready());
  a.app->tick();
  EXPECT_TRUE(a.app->running());
  EXPECT_TRUE(a.app->ucan().ready());
  EXPECT_EQ(a.app->ucan().interfaceType(), kIntfVirtual);
  EXPECT_EQ(a.ui.labels, (std::vector<std::string>{"Init0", "Init1", "Init2", ""}));
  EXPECT_TRUE(a.ui.hasLine("Loaded Busprobe command file from \"" + a.config.file("script.bpr") + "\" ."));
  EXPECT_EQ(a.app->commandFile().text(), "print \"hello\"\nend\n");
  EXPECT_EQ(a.app->commandFile().lineCount(), 2);
  EXPECT_FALSE(a.app->commandFile().modified());
  EXPECT_EQ(a.ui.countPrefix("Error:"), 0);
  EXPECT_EQ(a.app->caption(), "Busprobe");
  a.app->tick();
  EXPECT_FALSE(a.app->startupInProgress());
}

TEST_F(ApplicationTest, SecondInstanceUsesItsOwnConfigurationAndWarns) {
  Instance first(locks, bus, clock);
  Instance second(locks, bus, clock);
  first.app->startUp();
  second.startAndRun(clock);
  EXPECT_EQ(second.app->instanceNumber(), 1);
  EXPECT_EQ(second.app->caption(), "Busprobe (2nd instance)");
  EXPECT_NE(second.app->iniPath().find("NVK_Busprobe1.ini"), std::string::npos);
  EXPECT_TRUE(second.ui.hasLine("Warning: Multiple program instances running !"));
  EXPECT_TRUE(second.ui.hasLine("         This may cause CAN DRIVER problems !"));
  EXPECT_FALSE(first.ui.hasLine("Warning: Multiple program instances running !"));
}

TEST_F(ApplicationTest, PumpHandlesAtMostItsLimitPerCall) {
  Instance a(locks, bus, clock);
  a.startAndRun(clock);
  for (int i = 0; i < 600; ++i) bus->inject(Frame(0x100 + static_cast<uint32_t>(i % 100)));
  EXPECT_EQ(a.app->ProcessReceivedFrames(0), 500);
  EXPECT_EQ(a.app->ProcessReceivedFrames(0), 100);
  EXPECT_EQ(a.app->ProcessReceivedFrames(0), 0);
  EXPECT_EQ(a.app->history().count(), 600u);
}

// Two saturated buses bring about 2,300 frames per 50 ms tick: a tick takes every waiting frame
// in batches of 500 (it used to stop after two batches, losing a quarter of such traffic), but
// only as long as its time budget lasts.
TEST_F(ApplicationTest, ATickTakesEveryWaitingFrameWithinItsBudget) {
  Instance a(locks, bus, clock);
  a.startAndRun(clock);
  const uint64_t before = a.app->framesPumped();
  for (int i = 0; i < 3000; ++i) bus->inject(Frame(0x100 + static_cast<uint32_t>(i % 100)));
  clock.advance(50);
  a.app->tick();
  EXPECT_EQ(a.app->framesPumped() - before, 3000u);
  EXPECT_EQ(a.app->traffic().statistics().received(0), 3000);

  // A clock that moves 3 ms with every read: each receive step ends once its budget has passed,
  // after at least one full batch, and leaves the rest for the next tick.
  for (int i = 0; i < 20000; ++i) bus->inject(Frame(0x200));
  clock.setAutoAdvance(3.0);
  const uint64_t start = a.app->framesPumped();
  a.app->tick();
  clock.setAutoAdvance(0);
  const uint64_t taken = a.app->framesPumped() - start;
  EXPECT_GE(taken, 2u * Application::kDefaultPumpLimit);
  EXPECT_LT(taken, 20000u);
  a.app->tick();
  EXPECT_GT(a.app->framesPumped() - start, taken) << "the rest waits for the next tick";
}

// Every text passes the application's translator: message formats before their arguments are
// filled in, and the questions to the user.
TEST_F(ApplicationTest, MessagesAndQuestionsPassTheTranslator) {
  Instance a(locks, bus, clock);
  a.app->translator().add("Loaded Busprobe command file from \"%s\" .", "Kommandodatei \"%s\" geladen .");
  a.app->translator().add("Busprobe terminating", "Busprobe wird beendet");
  WriteFile(a.config.file("script.bpr"), "print \"x\"\n");
  ASSERT_TRUE(a.app->scripts().loadCommandFile(a.config.file("script.bpr")));
  EXPECT_TRUE(a.ui.hasLine("Kommandodatei \"" + a.config.file("script.bpr") + "\" geladen ."));
  EXPECT_TRUE(a.app->ui().askYesNo("Busprobe terminating", "?", false) == false);
  ASSERT_FALSE(a.ui.questions.empty());
  EXPECT_EQ(a.ui.questions.back(), "Busprobe wird beendet|?");
}

TEST_F(ApplicationTest, LoopedBackFrameComesBeforeDriverFrames) {
  Instance a(locks, bus, clock);
  a.startAndRun(clock);
  bus->inject(Frame(0x111));
  CanFrame sent = Frame(0x222);
  ASSERT_TRUE(a.app->TransmitFrame(sent, kTxLoopback));
  ASSERT_EQ(a.app->ProcessReceivedFrames(1), 1);
  EXPECT_EQ(a.app->history().frame(0).identifier(), 0x222u);
  EXPECT_EQ(a.app->history().frame(0).fdFlags & CanFrame::kLoopback, CanFrame::kLoopback);
  a.app->ProcessReceivedFrames(10);
  // then the foreign frame, then the bus's own echo of the sent one
  EXPECT_EQ(a.app->history().frame(1).identifier(), 0x111u);
  EXPECT_EQ(a.app->history().frame(0).identifier(), 0x222u);
}

TEST_F(ApplicationTest, HistoryKeepsTheNewest4096Frames) {
  Instance a(locks, bus, clock);
  a.startAndRun(clock);
  // Every identifier comes by, the SDO server's among them: its answers would join the history.
  a.app->settings().sdo.serverEnable = 0;
  a.app->canopen().applySettings();
  for (uint32_t i = 0; i < 5000; ++i) {
    bus->inject(Frame(i & 0x7FF, static_cast<uint8_t>(i)));
    if (i % 400 == 399) a.app->ProcessReceivedFrames(500);
  }
  a.app->ProcessReceivedFrames(500);
  EXPECT_EQ(a.app->history().count(), 4096u);
  EXPECT_EQ(a.app->history().frame(0).identifier(), 4999u & 0x7FF);
  EXPECT_EQ(a.app->history().frame(4095).identifier(), (5000u - 4096u) & 0x7FF);
}

TEST_F(ApplicationTest, TwoInstancesOnOneVirtualBusSeeEachOthersFrames) {
  Instance a(locks, bus, clock);
  Instance b(locks, bus, clock);
  a.startAndRun(clock);
  b.startAndRun(clock);
  CanFrame f = Frame(0x7E5, 0x42);
  ASSERT_TRUE(a.app->TransmitFrame(f));
  b.app->ProcessReceivedFrames(10);
  ASSERT_EQ(b.app->history().count(), 1u);
  EXPECT_EQ(b.app->history().frame(0).data[0], 0x42);
}

TEST_F(ApplicationTest, ErrorFramesAreReportedAtMostOncePerSecondPerBus) {
  Instance a(locks, bus, clock);
  a.startAndRun(clock);
  for (int tick = 0; tick < 60; ++tick) {  // three seconds of continuous error frames
    bus->injectErrorFrame(0);
    a.app->tick();
    clock.advance(50);
  }
  const int reports = a.ui.countPrefix("t=");
  EXPECT_GE(reports, 2);
  EXPECT_LE(reports, 3);
  a.ui.lines.clear();
  a.app->settings().display.displayOptions = 0;  // reporting switched off
  bus->injectErrorFrame(0);
  clock.advance(2000);
  a.app->tick();
  EXPECT_EQ(a.ui.countPrefix("t="), 0);
}

TEST_F(ApplicationTest, DeferredMessagesReachTheWindowOnTheNextTick) {
  Instance a(locks, bus, clock);
  a.startAndRun(clock);
  a.app->deferredMessages().QueueCanMessage("from thread %d", 7);
  EXPECT_FALSE(a.ui.hasLine("CAN: from thread 7"));
  a.app->tick();
  EXPECT_TRUE(a.ui.hasLine("CAN: from thread 7"));
}

TEST_F(ApplicationTest, CommandLineScriptLoadsAndOtherFilesAreIgnored) {
  test::ScratchDir files;
  WriteFile(files.file("RUN.BPR"), "x = 1\n");
  WriteFile(files.file("notes.DOC"), "nothing");
  Instance a(locks, bus, clock, {files.file("notes.DOC"), files.file("RUN.BPR")});
  a.startAndRun(clock);
  EXPECT_EQ(a.app->commandFile().text(), "x = 1\n");
  EXPECT_EQ(a.app->commandFile().path(), files.file("RUN.BPR"));
  EXPECT_EQ(a.ui.countPrefix("Could not"), 0);
}

TEST_F(ApplicationTest, ShutdownWritesTheConfigurationUnlessTold) {
  {
    Instance a(locks, bus, clock);
    a.startAndRun(clock);
    a.app->settings().bus[1].baudrate = 250;
    a.app->shutDown(true);
    const std::string ini = ReadFile(a.config.file("NVK_Busprobe.ini"));
    EXPECT_NE(ini.find("Baudrate2=250"), std::string::npos);
    EXPECT_NE(ini.find("CanInterfaceType=10"), std::string::npos);
    EXPECT_NE(ini.find("FirstRun=0"), std::string::npos);
    EXPECT_FALSE(a.app->ucan().ready());
    EXPECT_EQ(a.ui.notices,
              (std::vector<std::string>{"this may be TERRIBLY slow due to some stupid antivirus software ...",
                                        "saving USER data ...", "saving VARIABLES ...",
                                        "closing child windows ...", "saving machine-dependent settings ...",
                                        "closing CAN ...", "cleaning up ..."}));
  }
  {
    Instance a(locks, bus, clock);
    WriteFile(a.config.file("NVK_Busprobe.ini"), "[Mine]\nKeep=1\n");
    a.startAndRun(clock);
    a.app->settings().bus[1].baudrate = 250;
    a.app->shutDown(false);
    EXPECT_EQ(ReadFile(a.config.file("NVK_Busprobe.ini")), "[Mine]\nKeep=1\n");
  }
}

TEST_F(ApplicationTest, FailedConfigurationSaveIsReported) {
  Instance a(locks, bus, clock);
  a.startAndRun(clock);
  // A directory where the file should be: the save cannot replace it.
  std::filesystem::create_directory(a.config.file("NVK_Busprobe.ini"));
  a.app->shutDown(true);
  bool reported = false;
  for (const auto& l : a.ui.lines) reported |= l.find("NVK_Busprobe.ini") != std::string::npos;
  EXPECT_TRUE(reported);
}

TEST_F(ApplicationTest, ModifiedCommandFileIsOfferedForSavingAtShutdown) {
  Instance a(locks, bus, clock);
  a.startAndRun(clock);
  a.app->commandFile().setPath(a.config.file("edited.bpr"));
  a.app->commandFile().setText("print 1\n");
  a.ui.answerYes = true;
  a.app->shutDown(false);
  ASSERT_EQ(a.ui.questions.size(), 1u);
  EXPECT_EQ(a.ui.questions[0], "Busprobe terminating|Command window may have been changed :\n\n  " +
                                   a.config.file("edited.bpr") +
                                   "\n\nSave the modified file under this name before closing ?");
  EXPECT_EQ(ReadFile(a.config.file("edited.bpr")), "print 1\n");
}

TEST_F(ApplicationTest, FailingInterfaceInitIsPrintedAndTheProgramRunsOn) {
  Instance a(locks, bus, clock);
  a.app->startUp();
  a.app->interfaceSettings().interfaceType = kIntfNone;
  for (int i = 0; i < 6; ++i) a.app->tick();
  EXPECT_TRUE(a.app->running());
  EXPECT_TRUE(a.ui.hasLine("Error: No interface selected, cannot initialize \"UCAN\" !"));
}

TEST_F(ApplicationTest, TrafficReachesListsCountersAndLogInEachBatch) {
  Instance a(locks, bus, clock);
  a.startAndRun(clock);
  a.app->settings().display.rxTxCombined = 0;
  ASSERT_TRUE(a.app->logger().OpenLogFile(a.config.file("trace.asc")));
  const int rxChangesBefore = a.ui.listChanges[1];
  for (uint32_t i = 0; i < 3; ++i) bus->inject(Frame(0x100 + i, static_cast<uint8_t>(i)));
  a.app->tick();
  EXPECT_EQ(a.ui.listChanges[1], rxChangesBefore + 1) << "one refresh per batch";
  ASSERT_EQ(a.app->traffic().rxList().count(), 3u);
  EXPECT_EQ(a.app->traffic().rxList().entry(2).view().substr(10, 6), "102 02");
  EXPECT_EQ(a.app->traffic().statistics().received(0), 3);
  EXPECT_EQ(a.app->trafficDisplay().headers().rxCount, "N=3");

  CanFrame f = Frame(0x7FF, 0x55);
  ASSERT_TRUE(a.app->TransmitFrame(f));
  EXPECT_EQ(a.app->traffic().txList().count(), 1u);
  const int txChanges = a.ui.listChanges[2];
  a.app->tick();  // the Tx pane is refreshed by the tick; the bus's echo arrives as a received frame
  EXPECT_EQ(a.ui.listChanges[2], txChanges + 1);
  EXPECT_EQ(a.app->trafficDisplay().headers().txCount, "N=1");
  EXPECT_EQ(a.app->trafficDisplay().headers().rxCount, "N=4");

  a.app->shutDown(false);
  const std::string asc = ReadFile(a.config.file("trace.asc"));
  EXPECT_NE(asc.find("1  102             Rx   d 1 02\r\n"), std::string::npos) << asc;
  EXPECT_NE(asc.find("1  7FF             Tx   d 1 55\r\n"), std::string::npos) << asc;
  EXPECT_NE(asc.find("End Triggerblock\r\n"), std::string::npos) << "the log is closed at shutdown";
}

TEST_F(ApplicationTest, PaneCommandsChangeTitlesButtonsAndLabels) {
  Instance a(locks, bus, clock);
  a.startAndRun(clock);
  TrafficHeaders h = a.app->trafficDisplay().headers();
  EXPECT_EQ(h.rxTitle, "Rx+Tx");
  EXPECT_EQ(h.txTitle, "Tx");
  EXPECT_EQ(h.rxButton, "Stop");
  EXPECT_EQ(h.pauseMenuText, "&Pause !");
  EXPECT_EQ(h.rxListTypeLabel, "history");
  EXPECT_EQ(h.statusText, "-");

  a.app->trafficDisplay().togglePause();
  h = a.app->trafficDisplay().headers();
  EXPECT_TRUE(a.app->traffic().display().rxDisplayStopped && a.app->traffic().display().txDisplayStopped);
  EXPECT_EQ(h.rxTitle, "Rx+Tx (stopped)");
  EXPECT_EQ(h.txTitle, "Tx (stopped)");
  EXPECT_EQ(h.rxButton, "Run");
  EXPECT_EQ(h.txButton, "Run");
  EXPECT_EQ(h.pauseMenuText, "&Paused");
  EXPECT_EQ(a.ui.headers.back(), h);
  a.app->trafficDisplay().toggleTxStopped();
  a.app->trafficDisplay().togglePause();  // both follow the negation of the Tx pane's state
  EXPECT_TRUE(a.app->traffic().display().rxDisplayStopped && a.app->traffic().display().txDisplayStopped);
  a.app->trafficDisplay().togglePause();
  EXPECT_FALSE(a.app->traffic().display().rxDisplayStopped || a.app->traffic().display().txDisplayStopped);

  a.app->trafficDisplay().setRxTxCombined(false);
  EXPECT_EQ(a.app->trafficDisplay().headers().rxTitle, "Rx");
  ASSERT_TRUE(a.app->trafficDisplay().toggleListType(1));
  EXPECT_EQ(a.app->trafficDisplay().headers().rxListTypeLabel, "sorted");
  a.app->settings().display.txListType = 7;
  a.app->trafficDisplay().setWaitLoopRunning(true);
  EXPECT_FALSE(a.app->trafficDisplay().toggleListType(2)) << "no type switch while a wait loop runs";
  for (int i = 0; i < 4; ++i) a.app->tick();  // the titles are refreshed in one of four phases
  EXPECT_EQ(a.app->trafficDisplay().headers().txListTypeLabel, "?list_type?");
  EXPECT_EQ(a.app->trafficDisplay().headers().statusText, "processing");
}

TEST_F(ApplicationTest, EraseEmptiesAPaneAtOnce) {
  Instance a(locks, bus, clock);
  a.startAndRun(clock);
  bus->inject(Frame(0x10));
  a.app->tick();
  ASSERT_EQ(a.app->traffic().rxList().count(), 1u);
  const int changes = a.ui.listChanges[1];
  a.app->trafficDisplay().EraseList(1);
  EXPECT_EQ(a.app->traffic().rxList().count(), 0u);
  EXPECT_TRUE(a.app->traffic().rxList().rebuildPending());
  EXPECT_EQ(a.ui.listChanges[1], changes + 1);
  a.app->messages().PrintMessage("something");
  a.app->messages().clear();
  EXPECT_TRUE(a.app->messages().lines().empty());
}

TEST_F(ApplicationTest, TriggerFreezesThePanesButFramesAreStillCountedAndLogged) {
  Instance a(locks, bus, clock);
  a.startAndRun(clock);
  TriggerSettings t;
  t.enableModule = 1;
  t.startEvents = Trigger::kAnyReception;
  t.startActions = Trigger::kFreeze;
  a.app->trigger().configure(t);
  ASSERT_TRUE(a.app->logger().OpenLogFile(a.config.file("trace.txt")));
  for (uint32_t i = 0; i < 5; ++i) bus->inject(Frame(0x100 + i));
  a.app->tick();
  EXPECT_TRUE(a.app->traffic().display().rxDisplayStopped);
  EXPECT_TRUE(a.app->traffic().display().txDisplayStopped);
  EXPECT_LT(a.app->traffic().rxList().count(), 5u);
  EXPECT_EQ(a.app->traffic().statistics().received(0), 5);
  a.app->logger().CloseLogFile();
  const std::string text = ReadFile(a.config.file("trace.txt"));
  for (uint32_t i = 0; i < 5; ++i)
    EXPECT_NE(text.find(": 10" + std::to_string(i) + " 00"), std::string::npos);
}

TEST_F(ApplicationTest, StatisticsAndHardwareResetFromTheMenus) {
  Instance a(locks, bus, clock);
  a.startAndRun(clock);
  for (int i = 0; i < 4; ++i) bus->inject(Frame(0x100));
  bus->injectErrorFrame(0);
  a.app->tick();
  a.ui.lines.clear();
  const int baud[2] = {a.app->settings().bus[0].baudrate, a.app->settings().bus[1].baudrate};
  a.app->traffic().PrintBusStatistics(baud);
  ASSERT_EQ(a.ui.lines.size(), 3u);
  EXPECT_EQ(a.ui.lines[1], "CAN1: 4 frames received, 0 sent, 1 error frames (25 %).");
  EXPECT_EQ(a.ui.lines[2], "CAN2: 0 frames received, 0 sent, 0 error frames.");
  a.app->controllers().resetHardware();
  a.app->traffic().ResetMessageCounters();
  EXPECT_EQ(a.ui.countPrefix("CAN: Error: Could not reset CAN controller !"), 0);
  EXPECT_EQ(a.app->traffic().statistics().receivedTotal(), 0);
  EXPECT_EQ(a.app->traffic().statistics().errorFrames(0), 0);
  clock.advance(50);
  a.app->tick();
  EXPECT_EQ(a.app->trafficDisplay().headers().rxCount, "N=0");
}

TEST_F(ApplicationTest, PlayedFramesGoThroughTheSendPathAndUnknownSymbolsAreToldOnce) {
  Instance a(locks, bus, clock);
  a.startAndRun(clock);
  a.app->settings().display.rxTxCombined = 0;
  WriteFile(a.config.file("play.asc"),
            "date Mon Dec 07 23:51:00 2026\nbase hex  timestamps absolute\n"
            "   0.000 1  123             Rx   d 2 11 22\n"
            "   0.010 1  Mystery         Rx   d 1 01\n"
            "   0.020 1  Mystery2        Rx   d 1 01\n"
            "   0.030 1  456             Rx   d 1 33\n");
  ASSERT_TRUE(a.app->player().OpenPlayerFile(a.config.file("play.asc")));
  PlayerOptions o;
  o.loopMode = false;
  ASSERT_TRUE(a.app->player().play(o));
  for (int i = 0; i < 20; ++i) {
    a.app->player().PlayerTick();
    clock.advance(5);
    if (i % 10 == 9) a.app->tick();
  }
  EXPECT_EQ(a.app->player().state(), PlayerState::kPaused);
  EXPECT_EQ(a.app->traffic().statistics().sent(0), 2);
  ASSERT_EQ(a.app->traffic().txList().count(), 2u);
  EXPECT_EQ(a.app->traffic().txList().entry(1).view().substr(10, 6), "456 33");
  EXPECT_EQ(a.ui.boxes,
            (std::vector<std::string>{"Problem with the CAN Logfile Player|The logfile contains unknown "
                                      "ID-Symbols.\nCheck the CAN MESSAGE table for details !"}));
  a.app->shutDown(false);
  EXPECT_EQ(a.app->player().state(), PlayerState::kStopped);
}

TEST_F(ApplicationTest, TheFileBeingPlayedIsNotRecordedIntoNorTheRecordedOnePlayed) {
  Instance a(locks, bus, clock);
  a.startAndRun(clock);
  const std::string played = a.config.file("played.asc");
  const std::string content =
      "date Mon Dec 07 23:51:00 2026\nbase hex  timestamps absolute\n   0.000 1  123             Rx   d 1 "
      "11\n";
  WriteFile(played, content);
  ASSERT_EQ(::symlink(played.c_str(), a.config.file("soft.txt").c_str()), 0);
  ASSERT_EQ(::link(played.c_str(), a.config.file("hard.txt").c_str()), 0);
  Logger& logger = a.app->logger();
  LogPlayer& player = a.app->player();

  // Playing first: no way of naming the file records into it; the log open before stays open.
  ASSERT_TRUE(logger.OpenLogFile(a.config.file("other.asc")));
  ASSERT_TRUE(player.OpenPlayerFile(played));
  for (const char* name : {"soft.txt", "hard.txt"}) {
    EXPECT_FALSE(logger.OpenLogFile(a.config.file(name)));
    EXPECT_TRUE(a.ui.hasLine("Log file " + a.config.file(name) + " is the file being played: not recorded."));
    EXPECT_EQ(logger.path(), a.config.file("other.asc"));
  }
  EXPECT_EQ(ReadFile(played), content);

  // Recording first: the recorded file is not played, through a link either.
  player.StopPlayer();
  logger.CloseLogFile();
  ASSERT_TRUE(logger.OpenLogFile(a.config.file("hard.txt")));
  EXPECT_FALSE(player.OpenPlayerFile(a.config.file("soft.txt")));
  EXPECT_EQ(player.openFailureText(),
            "Log file " + a.config.file("soft.txt") + " is being recorded: not played.");
  EXPECT_FALSE(player.isFileOpen());
  player.setFileName(played);
  EXPECT_FALSE(player.play());  // the window's Play opens the named file: refused as well
  logger.CloseLogFile();
  EXPECT_TRUE(player.OpenPlayerFile(played));
  EXPECT_EQ(player.openFailureText(), kPlayerOpenFailedText);
  a.app->shutDown(false);
}

}  // namespace
}  // namespace busprobe
