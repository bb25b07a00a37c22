// The "Busprobe Settings" window: one tab per group of configuration keys. It edits copies of the
// settings records; OK writes every control back into the application's records at once (they
// reach the file at shutdown), Cancel leaves them untouched. The owner learns of an OK through
// applied() and re-applies whatever the new values change on screen or on the bus.
#pragma once

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDoubleSpinBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTableWidget>
#include <array>

#include "app/settings.h"

namespace busprobe {

class SettingsWindow : public QDialog {
  Q_OBJECT

 public:
  // The captions of the tabs, also used by the menu items that open the window on one of them.
  static constexpr const char* kTabCan = "CAN";
  static constexpr const char* kTabDisplay = "Frame Display";
  static constexpr const char* kTabLogging = "Logging";
  static constexpr const char* kTabOptions = "Options";
  static constexpr const char* kTabSdo = "SDO";
  static constexpr const char* kTabDirectories = "Directories";
  static constexpr const char* kTabSignals = "Signals";

  static constexpr std::array<int, 11> kBitRates{10, 20, 50, 83, 100, 125, 250, 500, 667, 800, 1000};
  static constexpr std::array<int, 4> kDataRates{1000, 2000, 4000, 8000};

  SettingsWindow(MainSettings& settings, MainWindowSettings& windowSettings, QWidget* parent = nullptr);

  // Fills every control from the records; called each time the window opens so that values
  // changed elsewhere (scripts, other windows) are what the user sees.
  void loadFromSettings();
  // Writes every control into the records.
  void applyToSettings();
  // Selects the tab with this caption; false (and the first tab) when there is none.
  bool showTab(const QString& caption);
  QTabWidget* tabs() const { return tabs_; }

  // The colour swatches open a colour dialog; tests and the dialog set them through here.
  void setColour(int which, int windowsColour);
  int colour(int which) const { return colours_[static_cast<size_t>(which)]; }
  enum ColourIndex { kRxColour = 0, kTxColour = 1, kCmdColour = 2 };

 signals:
  // OK was pressed and the records now hold the dialog's values.
  void applied();
  // The "Signals" tab's test button: a tone through the currently chosen output.
  void soundTestRequested(int audioOutputDevice, bool soundEnabled);

 protected:
  void accept() override;

 private:
  QWidget* buildCanTab();
  QWidget* buildDisplayTab();
  QWidget* buildLoggingTab();
  QWidget* buildOptionsTab();
  QWidget* buildSdoTab();
  QWidget* buildDirectoriesTab();
  QWidget* buildSignalsTab();
  void refreshColourButton(int which);
  void chooseColour(int which);

  MainSettings& settings_;
  MainWindowSettings& windowSettings_;
  QTabWidget* tabs_;

  // CAN
  std::array<QComboBox*, 2> bitRate_{};
  std::array<QCheckBox*, 2> fdEnabled_{};
  std::array<QComboBox*, 2> dataRate_{};
  QTableWidget* messageTable_ = nullptr;

  // Frame Display
  QComboBox* timeStampDisplay_ = nullptr;
  QComboBox* timeStampFormat_ = nullptr;
  QSpinBox* timeRelMax_ = nullptr;
  QSpinBox* maxWindowLines_ = nullptr;
  QCheckBox* showBusNr_ = nullptr;
  QCheckBox* showDlc_ = nullptr;
  QCheckBox* markFd_ = nullptr;
  QCheckBox* showComments_ = nullptr;
  QCheckBox* mark29Bit_ = nullptr;
  QComboBox* idDisplay_ = nullptr;
  std::array<QLineEdit*, 4> idAsText_{};
  QComboBox* rxListType_ = nullptr;
  QComboBox* txListType_ = nullptr;
  QCheckBox* combined_ = nullptr;
  QComboBox* fontName_ = nullptr;
  QSpinBox* fontSize_ = nullptr;
  QCheckBox* fontBold_ = nullptr;
  QCheckBox* fontItalic_ = nullptr;
  std::array<QPushButton*, 3> colourButtons_{};
  std::array<int, 3> colours_{};

  // Logging
  QCheckBox* logRx_ = nullptr;
  QCheckBox* logTx_ = nullptr;
  QCheckBox* logOthers_ = nullptr;
  QCheckBox* markRxTx_ = nullptr;
  QLineEdit* recordFile_ = nullptr;
  QLineEdit* playedFile_ = nullptr;
  QSpinBox* minTxDelay_ = nullptr;
  std::array<QLineEdit*, 8> excludeId_{};

  // Options
  QDoubleSpinBox* txDelay_ = nullptr;
  QCheckBox* saveVars_ = nullptr;
  QCheckBox* languageTest_ = nullptr;
  QCheckBox* showErrorFrames_ = nullptr;
  QComboBox* highLevelProtocol_ = nullptr;

  // SDO
  QSpinBox* clientNodeId_ = nullptr;
  QSpinBox* serverNodeId_ = nullptr;
  std::array<QSpinBox*, 7> moreServerNodeIds_{};
  QCheckBox* serverEnable_ = nullptr;
  QCheckBox* clientEnable_ = nullptr;
  QSpinBox* serverTimeout_ = nullptr;
  QSpinBox* clientTimeout_ = nullptr;

  // Directories
  QLineEdit* dirPrograms_ = nullptr;
  QLineEdit* dirObjects_ = nullptr;
  QLineEdit* dirHelpFile_ = nullptr;
  QLineEdit* dirLogFiles_ = nullptr;
  QLineEdit* dirBrowser_ = nullptr;
  QLineEdit* dirMyOd_ = nullptr;
  QLineEdit* dirHisOd_ = nullptr;

  // Signals
  QCheckBox* silence_ = nullptr;
  QButtonGroup* audioDevice_ = nullptr;
};

// Identifier words are edited as hexadecimal text; -1 (unused) is an empty field. The whole
// 32-bit word is allowed, so bus bits round-trip through the signed setting.
QString IdWordToText(int value);
int IdWordFromText(const QString& text);

}  // namespace busprobe
