// The main window: Rx pane and Tx pane side by side on top, the command editor in the middle and
// the messages window at the bottom, with the main menu and the status label. It owns the 50 ms
// timer that drives the application's tick, restores its geometry and pane sizes from the
// "MainWindow" settings and hands them back when it closes, which runs the application's shutdown.
#pragma once

#include <QAction>
#include <QCloseEvent>
#include <QLabel>
#include <QList>
#include <QMainWindow>
#include <QPlainTextEdit>
#include <QSplitter>
#include <QTimer>
#include <array>

#include "app/application.h"
#include "gui/messages_pane.h"

namespace busprobe {

// A titled, read-only frame list. The Rx and Tx panes start out as plain ones; each is its own
// class so that the traffic display can replace either without touching the window's layout.
class TrafficPane : public QWidget {
  Q_OBJECT

 public:
  TrafficPane(const QString& title, const QString& name, QWidget* parent);
  QPlainTextEdit* editor() const { return editor_; }
  QLabel* titleLabel() const { return title_; }

 private:
  QLabel* title_;
  QPlainTextEdit* editor_;
};

class RxPane : public TrafficPane {
  Q_OBJECT

 public:
  explicit RxPane(QWidget* parent) : TrafficPane(QStringLiteral("Rx"), QStringLiteral("RichEd_Rx"), parent) {}
};

class TxPane : public TrafficPane {
  Q_OBJECT

 public:
  explicit TxPane(QWidget* parent) : TrafficPane(QStringLiteral("Tx"), QStringLiteral("RichEd_Tx"), parent) {}
};

// The script editor. It mirrors the core's CommandFile: a loaded file replaces the editor text,
// and every edit goes back into the document so that the core (interpreter, shutdown question)
// always sees what the user sees.
class CommandPane : public QWidget {
  Q_OBJECT

 public:
  CommandPane(CommandFile& file, QWidget* parent);
  // Shows the document's text after the core (re)loaded it.
  void showFile();
  void refreshTitle();
  QPlainTextEdit* editor() const { return editor_; }
  QLabel* titleLabel() const { return title_; }

 private:
  void takeEdit();

  CommandFile& file_;
  QLabel* title_;
  QPlainTextEdit* editor_;
  bool loading_ = false;
  // A file that is not valid UTF-8 is shown and written back as Latin-1, so an edit never turns
  // its umlauts into replacement characters.
  bool latin1_ = false;
  bool crlf_ = false;
};

class MainWindow : public QMainWindow {
  Q_OBJECT

 public:
  static constexpr int kTickMs = 50;
  static constexpr int kDefaultWidth = 1000;
  static constexpr int kDefaultHeight = 750;
  static constexpr int kInstanceOffset = 16;

  explicit MainWindow(Application& app, QWidget* parent = nullptr);

  RxPane* rxPane() const { return rx_; }
  TxPane* txPane() const { return tx_; }
  CommandPane* commandPane() const { return command_; }
  MessagesPane* messages() const { return messages_; }
  QSplitter* rowSplitter() const { return hSplit_; }
  QSplitter* columnSplitter() const { return vSplit_; }
  QLabel* statusLabel() const { return status_; }

  // Called by the user interface for the core.
  void setStatusText(const QString& text);
  void showCommandFile();
  void refreshPhase(int phase);

  // One tick of the application; the timer calls it every 50 ms.
  void tick();
  // Lets one area fill the window, or restores the normal layout when one already does.
  void toggleZoom(QWidget* area);
  bool zoomed() const { return zoomedArea_ != nullptr; }
  // Writes pane sizes (normal ones, also while zoomed) and, in normal window state, the geometry
  // into the application's window settings.
  void storeLayout();
  bool shutDownDone() const { return closed_; }
  // Closes without writing the configuration ("Exit without saving").
  void closeWithoutSaving();

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void buildMenus();
  void applyGeometry();
  void applyPaneSizes();
  void syncCategoryChecks();

  Application& app_;
  RxPane* rx_;
  TxPane* tx_;
  CommandPane* command_;
  MessagesPane* messages_;
  QSplitter* hSplit_;
  QSplitter* vSplit_;
  QLabel* status_;
  QTimer timer_;
  std::array<QAction*, 3> categoryActions_{};

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
