// Files the application reads and writes under names it does not control: the command file, the
// configuration file and the variables file in the configuration directory. Whatever stands under
// those names, start-up and loading come back with a message, and saves keep what the user set up.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include "app/application.h"
#include "app/command_file.h"
#include "base/bounded_child.h"
#include "test_support.h"

namespace busprobe {
namespace {

namespace fs = std::filesystem;

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

std::string NumberedLines(int n, const char* eol = "\n") {
  std::string text;
  for (int i = 0; i < n; ++i) text += "Last := " + std::to_string(i + 1) + eol;
  return text;
}

// A FIFO, or a link to an endless device, planted under `path`.
void Plant(const std::string& kind, const std::string& path) {
  if (kind == "fifo") {
    ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
  } else {
    fs::create_symlink("/dev/zero", path);
  }
}

class ScriptUi : public test::RecordingUi {
 public:
  void onChange(UiTopic topic) override {
    if (topic == UiTopic::kScriptEnded)
      ended.push_back(app_->program().stoppedByError() ? app_->program().lastErrorText() : std::string());
  }
  std::vector<std::string> ended;
};

// One application with a user interface of its own, so that each records its own messages.
struct Session {
  Session(AppOptions o, Clock& clock) : app(std::make_unique<Application>(ui, clock, std::move(o))) {}
  ScriptUi ui;
  std::unique_ptr<Application> app;
};

class UserFilesTest : public ::testing::Test {
 protected:
  UserFilesTest() { clock.setAutoAdvance(0.001); }
  std::unique_ptr<Session> makeSession() {
    AppOptions o;
    o.configDir = config.path();
    o.lockDir = locks.path();
    o.virtualBus = bus;
    return std::make_unique<Session>(std::move(o), clock);
  }
  // Start-up and its five steps.
  std::unique_ptr<Session> started() {
    auto s = makeSession();
    s->app->startUp();
    s->app->settings().interp.txDelay = 0;
    ticks(*s->app, 6);
    return s;
  }
  void ticks(Application& app, int n) {
    for (int i = 0; i < n; ++i) {
      const double next = clock.nowMs() + 50.0;
      app.tick();
      if (clock.nowMs() < next) clock.set(next);
    }
  }

  ManualClock clock{1000};
  test::ScratchDir locks, config, files;
  std::shared_ptr<VirtualBus> bus = VirtualBus::create();
};

TEST(CommandFileLines, AnyLineEndGivesTheSameLines) {
  const std::vector<std::string> expected = {"a := 1", "", "print a", "b := 2"};
  for (const char* eol : {"\n", "\r\n", "\r"}) {
    SCOPED_TRACE(testing::PrintToString(std::string(eol)));
    CommandFile file;
    std::string text;
    for (const auto& l : expected) text += l + eol;
    file.setText(text);
    ASSERT_EQ(file.lineCount(), 4);
    for (int i = 0; i < 4; ++i) {
      std::string_view line;
      ASSERT_TRUE(file.line(i, line));
      EXPECT_EQ(line, expected[static_cast<size_t>(i)]);
    }
    std::string_view beyond;
    EXPECT_FALSE(file.line(4, beyond));
    // Without a break after the last line, the same lines.
    file.setText(text.substr(0, text.size() - std::string(eol).size()));
    EXPECT_EQ(file.lineCount(), 4);
  }
  // Mixed ends in one text: each counts once, a CR LF pair as one.
  CommandFile mixed;
  mixed.setText("one\rtwo\r\nthree\nfour");
  ASSERT_EQ(mixed.lineCount(), 4);
  std::string_view line;
  ASSERT_TRUE(mixed.line(2, line));
  EXPECT_EQ(line, "three");
}

TEST_F(UserFilesTest, ScriptWithCarriageReturnLineEndsRunsEveryLine) {
  auto s = started();
  WriteFile(files.file("cr.bpr"), NumberedLines(5, "\r"));
  ASSERT_TRUE(s->app->scripts().loadCommandFile(files.file("cr.bpr")));
  s->app->scripts().run();
  ticks(*s->app, 4);
  ASSERT_EQ(s->ui.ended.size(), 1u);
  EXPECT_EQ(s->ui.ended[0], "");
  InterpState& st = s->app->interpState();
  ASSERT_GE(st.findVariable("Last"), 0);
  EXPECT_EQ(st.variable(st.findVariable("Last")).value.i, 5);
}

TEST_F(UserFilesTest, ScriptLongerThanTheLineLimitIsNotLoaded) {
  auto s = started();
  Application* app = s->app.get();
  WriteFile(files.file("fits.bpr"), NumberedLines(kMaxScriptLines));
  ASSERT_TRUE(app->scripts().loadCommandFile(files.file("fits.bpr")));
  EXPECT_EQ(app->commandFile().lineCount(), kMaxScriptLines);

  const std::string tooLong = files.file("long.bpr");
  WriteFile(tooLong, NumberedLines(kMaxScriptLines + 1));
  EXPECT_FALSE(app->scripts().loadCommandFile(tooLong));
  EXPECT_TRUE(s->ui.hasLine("Command file \"" + tooLong +
                            "\" has 10000 lines; at most 9999 lines can be run: not loaded."));
  // The editor keeps the script it had.
  EXPECT_EQ(app->commandFile().path(), files.file("fits.bpr"));
  EXPECT_EQ(app->commandFile().lineCount(), kMaxScriptLines);
}

TEST_F(UserFilesTest, FifoOrDeviceAsCommandFileIsReportedAtOnce) {
  for (const std::string kind : {"fifo", "zero"}) {
    SCOPED_TRACE(kind);
    const std::string path = files.file(kind + ".bpr");
    Plant(kind, path);
    auto s = started();
    ASSERT_TRUE(test::ReturnsWithin(10, [&] { s->app->scripts().loadCommandFile(path); }));
    EXPECT_FALSE(s->app->scripts().loadCommandFile(path));
    EXPECT_TRUE(s->ui.hasLine("Could not read command file \"" + path + "\": not a regular file ."));
  }
}

// The configuration file, the variables file and the remembered command file, each in turn a FIFO
// or a link to /dev/zero: start-up completes and says which file it did not read.
TEST_F(UserFilesTest, StartUpComesBackWhateverStandsUnderTheFileNames) {
  struct Case {
    std::string file, expected;
  };
  const std::string ini = config.file("NVK_Busprobe.ini");
  const std::string vars = config.file("current_vars.txt");
  const std::string cmd = config.file("Programs/default.cmd");
  fs::create_directories(config.file("Programs"));
  const Case cases[] = {
      {ini, "Could not read configuration file \"" + ini + "\": not a regular file"},
      {vars, "Variables file \"" + vars + "\" not loaded: not a regular file."},
      {cmd, "Could not read command file \"" + cmd + "\": not a regular file ."},
  };
  for (const Case& c : cases) {
    for (const std::string kind : {"fifo", "zero"}) {
      SCOPED_TRACE(c.file + " " + kind);
      Plant(kind, c.file);
      ASSERT_TRUE(test::ReturnsWithin(10, [&] { started(); }));
      auto s = started();
      EXPECT_TRUE(s->app->running());
      EXPECT_TRUE(s->ui.hasLine(c.expected));
      // Not even tried: a save through a link to /dev/zero must never reach the device.
      s->app->settings().interp.saveVarValues = 0;
      s->app->shutDown(false);
      s.reset();
      fs::remove(c.file);
    }
  }
}

TEST_F(UserFilesTest, StartUpRemovesLeftoversOfKilledSavesOnly) {
  const pid_t dead = ::fork();
  if (dead == 0) ::_exit(0);
  int status = 0;
  ::waitpid(dead, &status, 0);
  // The names a save gives its temporary file: ".<name>.tmp<pid>-<attempt>".
  const auto temp = [&](const std::string& name, pid_t pid, int attempt) {
    return config.file("." + name + ".tmp" + std::to_string(pid) + "-" + std::to_string(attempt));
  };
  const std::string staleIni = temp("NVK_Busprobe.ini", dead, 0);
  const std::string staleSecond = temp("NVK_Busprobe1.ini", dead, 2);
  const std::string staleVars = temp("current_vars.txt", dead, 1);
  const std::string live = temp("NVK_Busprobe.ini", ::getpid(), 0);
  const std::string foreign = temp("notes.txt", dead, 0);
  for (const auto& p : {staleIni, staleSecond, staleVars, live, foreign}) WriteFile(p, "half a save");

  makeSession()->app->startUp();
  EXPECT_FALSE(fs::exists(staleIni));
  EXPECT_FALSE(fs::exists(staleSecond));
  EXPECT_FALSE(fs::exists(staleVars));
  EXPECT_TRUE(fs::exists(live));
  EXPECT_TRUE(fs::exists(foreign));
}

TEST_F(UserFilesTest, ReadOnlyConfigurationIsKeptAndToldOnce) {
  const std::string ini = config.file("NVK_Busprobe.ini");
  WriteFile(ini, "[CanSettings]\nBaudrate2=125\n");
  ::chmod(ini.c_str(), 0444);
  auto s = started();
  s->app->settings().bus[1].baudrate = 250;
  s->app->shutDown(true);
  EXPECT_EQ(ReadFile(ini), "[CanSettings]\nBaudrate2=125\n");
  EXPECT_EQ(s->ui.countPrefix("Configuration file \"" + ini + "\" is read-only: settings not saved."), 1);
}

TEST_F(UserFilesTest, ConfigurationBehindALinkIsSavedThroughIt) {
  fs::create_directories(files.file("shared"));
  const std::string target = files.file("shared/busprobe.ini");
  fs::create_symlink(target, config.file("NVK_Busprobe.ini"));  // dangling until the first save
  {
    auto s = started();
    s->app->settings().bus[1].baudrate = 250;
    s->app->shutDown(true);
  }
  EXPECT_TRUE(fs::is_symlink(config.file("NVK_Busprobe.ini")));
  EXPECT_NE(ReadFile(target).find("Baudrate2=250"), std::string::npos);
  {
    auto s = started();
    EXPECT_EQ(s->app->settings().bus[1].baudrate, 250);
    s->app->settings().bus[1].baudrate = 125;
    s->app->shutDown(true);
  }
  EXPECT_TRUE(fs::is_symlink(config.file("NVK_Busprobe.ini")));
  EXPECT_NE(ReadFile(target).find("Baudrate2=125"), std::string::npos);
}

}  // namespace
}  // namespace busprobe
