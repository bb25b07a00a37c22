#include "app/application.h"

#include <gtest/gtest.h>

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
  test::RecordingUi ui;
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
  EXPECT_EQ(a.app->historyCount(), 600u);
}

TEST_F(ApplicationTest, LoopedBackFrameComesBeforeDriverFrames) {
  Instance a(locks, bus, clock);
  a.startAndRun(clock);
  bus->inject(Frame(0x111));
  CanFrame sent = Frame(0x222);
  sent.fdFlags = CanFrame::kLoopback;
  ASSERT_EQ(a.app->TransmitFrame(sent), 1);
  ASSERT_EQ(a.app->ProcessReceivedFrames(1), 1);
  EXPECT_EQ(a.app->historyFrame(0).identifier(), 0x222u);
  a.app->ProcessReceivedFrames(10);
  // then the foreign frame, then the bus's own echo of the sent one
  EXPECT_EQ(a.app->historyFrame(1).identifier(), 0x111u);
  EXPECT_EQ(a.app->historyFrame(0).identifier(), 0x222u);
}

TEST_F(ApplicationTest, HistoryKeepsTheNewest4096Frames) {
  Instance a(locks, bus, clock);
  a.startAndRun(clock);
  for (uint32_t i = 0; i < 5000; ++i) {
    bus->inject(Frame(i & 0x7FF, static_cast<uint8_t>(i)));
    if (i % 400 == 399) a.app->ProcessReceivedFrames(500);
  }
  a.app->ProcessReceivedFrames(500);
  EXPECT_EQ(a.app->historyCount(), 4096u);
  EXPECT_EQ(a.app->historyFrame(0).identifier(), 4999u & 0x7FF);
  EXPECT_EQ(a.app->historyFrame(4095).identifier(), (5000u - 4096u) & 0x7FF);
}

TEST_F(ApplicationTest, TwoInstancesOnOneVirtualBusSeeEachOthersFrames) {
  Instance a(locks, bus, clock);
  Instance b(locks, bus, clock);
  a.startAndRun(clock);
  b.startAndRun(clock);
  CanFrame f = Frame(0x7E5, 0x42);
  ASSERT_EQ(a.app->TransmitFrame(f), 1);
  b.app->ProcessReceivedFrames(10);
  ASSERT_EQ(b.app->historyCount(), 1u);
  EXPECT_EQ(b.app->historyFrame(0).data[0], 0x42);
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
                                        "saving USER data ...", "closing child windows ...",
                                        "saving machine-dependent settings ...", "closing CAN ...",
                                        "cleaning up ..."}));
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

}  // namespace
}  // namespace busprobe
