// The "Logfile Replay" window of the log player: the file name (double-click chooses another),
// Play, Stop, Rewind, Fast Forward, Record and Help, the position bar with its kB and time
// labels, and the "Options" and "Statistics" tabs. The application's run loop steps the player
// while it plays; every 32nd step the window is told to refresh its labels. The player's state
// lives in the core; this window shows it and calls its commands.
#pragma once

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QWidget>
#include <array>
#include <functional>

#include "app/application.h"

namespace busprobe {

class PlayerWindow : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kBarSteps = 1000;

  // chooseFile: asks the user for a log file (null or empty result: cancelled).
  using FileChooser = std::function<QString()>;

  PlayerWindow(Application& app, QWidget* parent = nullptr);
  ~PlayerWindow() override;

  void setFileChooser(FileChooser chooser) { chooseFile_ = std::move(chooser); }

  // Bar, labels, caption (when the state changed), statistics and the file name.
  void refreshLabels();
  // The Options tab as player options; the tab from the player's options.
  PlayerOptions optionsFromControls() const;
  void showOptions(const PlayerOptions& options);
  // Double-click on the file name: choose another file, stop, and open it.
  void chooseAnotherFile();
  // Applies the stored position (kept on the desktop).
  void placeFromConfiguration();
  // Puts the position into the window's settings record, which the shutdown saves
  // (administrators only, as always).
  void storePosition();

  QLineEdit* fileNameField() const { return fileName_; }
  QPushButton* button(const QString& text) const;
  QProgressBar* positionBar() const { return bar_; }
  QLabel* positionLabel() const { return position_; }
  QLabel* timeLabel() const { return time_; }
  QTabWidget* tabs() const { return tabs_; }
  QCheckBox* loopModeBox() const { return loopMode_; }
  QCheckBox* dontShowBox() const { return dontShow_; }
  QLineEdit* channelsField(int bus) const { return channels_[static_cast<size_t>(bus & 1)]; }
  QLabel* statisticsLabel() const { return statistics_; }

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QWidget* buildOptionsTab();
  QWidget* buildStatisticsTab();
  void play();
  void notImplemented();
  void showHelp();

  Application& app_;
  LogPlayer& player_;
  FileChooser chooseFile_;
  QLineEdit* fileName_;
  QProgressBar* bar_;
  QLabel* position_;
  QLabel* time_;
  QTabWidget* tabs_;
  std::array<QPushButton*, 6> buttons_{};
  QCheckBox* loopMode_ = nullptr;
  QCheckBox* dontShow_ = nullptr;
  std::array<QLineEdit*, 2> channels_{};
  QLineEdit* reject_ = nullptr;
  QCheckBox* realBus_ = nullptr;
  QSpinBox* minTxDelay_ = nullptr;
  QLabel* statistics_ = nullptr;
  int shownState_ = -1;
  bool placed_ = false;
};

// Channel numbers typed as "1", "1 3" or "1,3": up to four numbers of 1..16; the rest unused (0).
std::array<int, 4> ParseChannelList(const QString& text);
QString ChannelListText(const std::array<int, 4>& channels);

}  // namespace busprobe
