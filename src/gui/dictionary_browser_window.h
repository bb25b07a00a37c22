// The two dictionary browser windows: "Simulated Local CANopen Object Dictionary" over the
// dictionary the SDO servers serve, and "Remote CANopen Object Dictionary" over the one read from
// another node. Both show a DictionaryBrowser (the core model) in a table and call it; they differ
// only in the controls around the table, so one class builds either.
#pragma once

#include <QCheckBox>
#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QTimer>
#include <QWidget>
#include <memory>

#include "app/application.h"
#include "canopen/dictionary_browser.h"

namespace busprobe {

class DictionaryBrowserWindow : public QWidget {
  Q_OBJECT

 public:
  enum class Kind { kLocal, kRemote };
  static constexpr const char* kLocalTitle = "Simulated Local CANopen Object Dictionary";
  static constexpr const char* kRemoteTitle = "Remote CANopen Object Dictionary";
  static constexpr int kLocalTimerMs = 200;

  DictionaryBrowserWindow(Application& app, Kind kind, QWidget* parent = nullptr);
  ~DictionaryBrowserWindow() override;

  DictionaryBrowser& model() { return *model_; }
  Kind kind() const { return kind_; }
  QTableWidget* table() const { return table_; }
  QLabel* gridPosLabel() const { return gridPos_; }
  QLabel* statusLabel() const { return status_; }
  QLabel* accessCountLabel() const { return accessCount_; }
  QCheckBox* activeBox() const { return active_; }
  QPushButton* readButton() const { return read_; }
  QPushButton* sendButton() const { return send_; }
  QCheckBox* markedOnlyBox() const { return markedOnly_; }
  QCheckBox* periodicBox() const { return periodic_; }
  QSpinBox* nodeIdBox() const { return nodeId_; }
  QTimer& timer() { return timer_; }

  // The table from the model, every row.
  void showTable();
  // The timer's work: changed rows, the active box and the access count; the remote pass step.
  void timerTick();
  // The menu commands, as the menu calls them.
  void loadFile();
  void saveFile();
  void deleteSelected();
  // Enter in the value column after an edit.
  void valueEntered(int row);
  // Puts the position into the settings record (normal window state only).
  void storePosition();

 signals:
  // "Configure &SDO Server ..." / "Configure &SDO Client ...".
  void configureSdoRequested();
  // "Scan remote node for OD Entries" (remote only).
  void dictionaryScanRequested();
  // "Scan network for CANopen nodes" (remote only); the item shows only while someone listens.
  void nodeScanRequested();

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void showHelp();
  void buildMenus(QMenuBar* bar);
  void showRow(int row);
  void refreshLabels();
  BrowserWindowSettings& placeSettings();
  void loadConfiguredRemoteDictionary();

  Application& app_;
  Kind kind_;
  // The local browser's model is the window's own; the remote one lives in the application,
  // whose tick runs its passes.
  std::unique_ptr<DictionaryBrowser> localModel_;
  DictionaryBrowser* model_ = nullptr;
  QTableWidget* table_ = nullptr;
  QLabel* gridPos_ = nullptr;
  QLabel* status_ = nullptr;
  QLabel* accessCount_ = nullptr;
  QCheckBox* active_ = nullptr;
  QPushButton* read_ = nullptr;
  QPushButton* send_ = nullptr;
  QCheckBox* markedOnly_ = nullptr;
  QCheckBox* periodic_ = nullptr;
  QSpinBox* nodeId_ = nullptr;
  QAction* showDefault_ = nullptr;
  QAction* skipLarge_ = nullptr;
  QTimer timer_;
  int updating_ = 0;  // the window itself changes the table: no edits reach the model
  bool placed_ = false;
  bool inTimer_ = false;
};

}  // namespace busprobe
