// The main window: Rx pane and Tx pane side by side on top, the command editor in the middle and
// the messages window at the bottom, with the main menu, the status label, the traffic status and
// the logger lamp. It opens the settings, trigger and player windows. Its timer drives the
// application's run loop (tick, player steps, script slices), restores its geometry and pane sizes from the
// "MainWindow" settings and hands them back when it closes, which runs the application's shutdown.
#pragma once

#include <QAction>
#include <QCloseEvent>
#include <QLabel>
#include <QList>
#include <QMainWindow>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPointer>
#include <QSplitter>
#include <QTimer>
#include <array>
#include <functional>
#include <string>

#include "app/application.h"
#include "gui/dictionary_browser_window.h"
#include "gui/dictionary_scanner_window.h"
#include "gui/interface_window.h"
#include "gui/lss_master_window.h"
#include "gui/node_scanner_window.h"
#include "gui/logger_lamp.h"
#include "gui/messages_pane.h"
#include "gui/player_window.h"
#include "gui/rx_tx_panes.h"
#include "gui/script_editor.h"
#include "gui/settings_window.h"
#include "gui/trigger_window.h"

namespace busprobe {

// A file dialog the main window needs: tests and the real dialog answer the same request.
struct FileDialogRequest {
  QString title;
  QStringList filters;  // Qt name filters, in dialog order
  int filterIndex = 0;
  QString directory;
  QString proposedName;
  QString defaultSuffix;
  bool save = false;
};

// A Windows-style filter ("text|pattern|text|pattern") as Qt name filters.
QStringList QtNameFilters(const std::string& windowsFilter);

// Opening or saving a command file puts its path at the top of the recent files, shifting the
// others down and dropping the last; a path already listed (letter case aside) changes nothing.
void AddRecentFile(std::array<std::string, 5>& recentFiles, const std::string& path);

inline constexpr char kLoadCommandFileTitle[] = "Load a BUSPROBE program file";
inline constexpr char kLoadCommandFileFilter[] =
    "All supported files|*.TXT;*.BPR|Text files (*.txt)|*.TXT|Busprobe Scripts (*.bpr)|*.BPR";
inline constexpr char kSaveCommandFileTitle[] = "Save a BUSPROBE program file";
inline constexpr char kSaveCommandFileFilter[] = "Busprobe Scripts (*.bpr)|*.BPR|Text files (*.txt)|*.TXT";

class MainWindow : public QMainWindow {
  Q_OBJECT

 public:
  static constexpr int kTickMs = 50;
  static constexpr int kDefaultWidth = 1000;
  static constexpr int kDefaultHeight = 750;
  static constexpr int kInstanceOffset = 16;

  // Returns the chosen path, or an empty string when the user cancelled.
  using FileChooser = std::function<QString(const FileDialogRequest&)>;

  explicit MainWindow(Application& app, QWidget* parent = nullptr);
  ~MainWindow() override;

  TrafficPane* rxPane() const { return rx_; }
  TrafficPane* txPane() const { return tx_; }
  CommandPane* commandPane() const { return command_; }
  MessagesPane* messages() const { return messages_; }
  QSplitter* rowSplitter() const { return hSplit_; }
  QSplitter* columnSplitter() const { return vSplit_; }
  QLabel* statusLabel() const { return status_; }
  QLabel* trafficStatusLabel() const { return trafficStatus_; }
  LoggerLamp* loggerLamp() const { return lamp_; }
  QAction* pauseAction() const { return pauseAction_; }
  QAction* loggerStatusAction() const { return loggerStatus_; }
  QMenu* runMenu() const { return runMenu_; }
  QMenu* runFromLabelMenu() const { return labelMenu_; }
  QMenu* recentFilesMenu() const { return recentMenu_; }
  // Tool windows, null until first opened.
  SettingsWindow* settingsWindow() const { return settingsWindow_; }
  TriggerWindow* triggerWindow() const { return triggerWindow_; }
  PlayerWindow* playerWindow() const { return playerWindow_; }
  DictionaryBrowserWindow* localBrowser() const { return localBrowser_; }
  DictionaryBrowserWindow* remoteBrowser() const { return remoteBrowser_; }
  // Shows the local or remote dictionary browser, creating it the first time.
  void showDictionaryBrowser(DictionaryBrowserWindow::Kind kind);
  // Shows the "LSS Master" window, creating it the first time.
  void showLssMaster();
  LssMasterWindow* lssWindow() const { return lssWindow_; }
  // "Scan remote CANopen OD into browser": the remote browser and the scanner window, with
  // first..last in the window when first < last.
  void openDictionaryScan(int first, int last);
  // The scanner window; null while none is open (it is destroyed at the end of every scan).
  DictionaryScannerWindow* dictionaryScanner() const { return scannerWindow_; }
  // The scan's progress changed or the scan ended.
  void refreshDictionaryScan();
  // Shows the scanner window with the session's form, creating it when none is open.
  void showDictionaryScanner();
  // Shows the "CANopen Node Scanner" window (Tools menu, remote browser), creating it when it is
  // not open; the node picked on close becomes the SDO client's node.
  void showNodeScanner();
  NodeScannerWindow* nodeScannerWindow() const { return nodeScannerWindow_; }
  // Opens the settings window on its SDO tab, except while a blocking SDO wait runs.
  void openSdoSettings();
  void refreshToolsMenu();

  // Called by the user interface for the core.
  void setStatusText(const QString& text);
  void showCommandFile();
  void refreshPhase(int phase);
  void refreshFrameList(int listNumber);
  void showTrafficHeaders(const TrafficHeaders& headers);

  // One tick of the application and the window's own work after it (tests drive it by hand).
  void tick();
  // One pass of the application's run loop; the timer calls it when the loop next has work.
  void runLoop();
  // Lets one area fill the window, or restores the normal layout when one already does.
  void toggleZoom(QWidget* area);
  bool zoomed() const { return zoomedArea_ != nullptr; }
  // Writes pane sizes (normal ones, also while zoomed) and, in normal window state, the geometry
  // into the application's window settings.
  void storeLayout();
  bool shutDownDone() const { return closed_; }
  // Closes without writing the configuration ("Exit without saving").
  void closeWithoutSaving();

  // Commands of the menus and pop-ups that open windows or dialogs.
  void openSettings(const QString& tabCaption);
  void openTriggerWindow();
  // "CAN &Interface Setup..": the interface window, modal; its OK has the next tick re-initialise
  // the bus with the stored settings. True when it closed with OK.
  bool Menu_CANInterfaceSetupClick();
  // "Find text in RX window...": asks for the text and options, then searches the Rx pane.
  void findInRxPane();
  // The search itself: the next hit after the selection; when there is none, offers to start again
  // at the top. True when a line was selected.
  bool findInRxPane(const QString& text, bool wholeWord, bool matchCase);
  void recordLogfile();
  void playLogfile();
  void stopPlayerAndRecorder();
  // Shows or hides the player window as the player asks (a file opened by any command shows it).
  void syncPlayerWindow();
  // The File menu's logger status caption and recent files, as they are refreshed when the menu
  // opens.
  void refreshFileMenu();
  // The Run menu's captions with line numbers and the labels of "Run from Label".
  void refreshRunMenu();

  // "&Load Command File" and "&Save Command File" (dialog first); loading a path directly serves
  // the recent files. False when nothing was loaded or saved.
  bool loadCommandFile();
  bool saveCommandFile();
  bool loadCommandFile(const QString& path);
  // "Find text in command window..": asks for the text, then searches the script.
  void findInCommandWindow();
  bool findInCommandWindow(const QString& text, bool wholeWord, bool matchCase);
  // The script program asks to see a line, or its run ended.
  void scriptShowLine(int line);
  void scriptEnded(const std::string& errorText);
  void refreshSettingsMenu();

  void setFileChooser(FileChooser chooser) { chooseFile_ = std::move(chooser); }

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void afterTick();
  void buildMenus();
  void buildFileMenu();
  void buildSettingsMenu();
  void buildViewMenu();
  void buildRunMenu();
  // A Run menu command on the program, given the caret's line; the editor shows the outcome.
  void runControl(const std::function<void(ScriptProgram&, int caretLine)>& command);
  void buildMessagesMenu();
  void buildToolsMenu();
  void connectPanes();
  void applyDisplaySettings();
  void settingsApplied(const MainSettings& before);
  void applyGeometry();
  void applyPaneSizes();
  void syncCategoryChecks();
  QString chooseFile(const FileDialogRequest& request);
  bool askSearchText(QString& text, bool& wholeWord, bool& matchCase);
  bool askToKeepEditedScript();
  void rememberCommandFile(const std::string& path);
  QString resolveDir(const std::string& dir) const;
  // A menu caption or other window text, through the application's translator.
  QString caption(const char* english) const;

  Application& app_;
  TrafficPane* rx_;
  TrafficPane* tx_;
  CommandPane* command_;
  MessagesPane* messages_;
  QSplitter* hSplit_;
  QSplitter* vSplit_;
  QLabel* status_;
  QLabel* trafficStatus_;
  LoggerLamp* lamp_;
  QTimer timer_;
  std::array<QAction*, 3> categoryActions_{};
  QAction* pauseAction_ = nullptr;
  QAction* loggerStatus_ = nullptr;
  QAction* signalsAction_ = nullptr;
  QAction* combinedAction_ = nullptr;
  QMenu* recentMenu_ = nullptr;
  std::array<QAction*, 5> recentActions_{};
  QMenu* runMenu_ = nullptr;
  QMenu* labelMenu_ = nullptr;
  QAction* singleStepAction_ = nullptr;
  QAction* scrollToCurrentAction_ = nullptr;
  SettingsWindow* settingsWindow_ = nullptr;
  MainSettings settingsBefore_;  // as the settings window found them when it opened
  TriggerWindow* triggerWindow_ = nullptr;
  PlayerWindow* playerWindow_ = nullptr;
  DictionaryBrowserWindow* localBrowser_ = nullptr;
  DictionaryBrowserWindow* remoteBrowser_ = nullptr;
  LssMasterWindow* lssWindow_ = nullptr;
  QPointer<DictionaryScannerWindow> scannerWindow_;
  int scansSeen_ = 0;  // scans finished when the scanner window last looked
  QPointer<NodeScannerWindow> nodeScannerWindow_;  // destroyed when closed
  QAction* sdoServerAction_ = nullptr;
  QAction* sdoClientAction_ = nullptr;
  FileChooser chooseFile_;

  QWidget* zoomedArea_ = nullptr;
  QList<int> normalRowSizes_;
  QList<int> normalColumnSizes_;
  bool paneSizesApplied_ = false;
  bool inTick_ = false;
  bool closePending_ = false;
  bool saveOnClose_ = true;
  bool closed_ = false;
};

}  // namespace busprobe
