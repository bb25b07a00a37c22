// The Rx and Tx panes: each shows one FrameList through a list model that copies only the rows the
// list reports as changed since the last refresh, so a busy bus costs one conversion per new or
// changed line and never a rewrite of the whole pane. Above the list sit the pane's title, its
// "N=" frame counter, the list-type label ("history" / "sorted"), "Erase" and "Stop"/"Run". The
// panes hold no traffic state of their own: the main window tells them what to show and turns
// their clicks into changes of the display settings.
#pragma once

#include <QAbstractListModel>
#include <QAction>
#include <QColor>
#include <QLabel>
#include <QList>
#include <QListView>
#include <QPushButton>
#include <QString>
#include <QWidget>

#include "app/settings.h"
#include "traffic/frame_list.h"

namespace busprobe {

// Mirrors a FrameList row for row. Only refresh() changes it, so the view always sees a consistent
// snapshot even while the traffic paths keep adding lines between two refreshes.
class FrameListModel : public QAbstractListModel {
  Q_OBJECT

 public:
  explicit FrameListModel(FrameList& list, QObject* parent = nullptr);

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

  struct Result {
    bool rebuilt = false;
    size_t rowsWritten = 0;  // rows converted from the list (replaced, appended or rebuilt)
    size_t rowsAppended = 0;
  };
  // Takes the list's pending changes and applies them.
  Result refresh();

  // Lines of sent frames in a combined Rx list (";[T]" at the comment column) get this colour;
  // invalid: the view's own text colour.
  void setTransmitColour(const QColor& colour) { transmitColour_ = colour; }
  QString rowText(int row) const { return rows_.value(row); }

 private:
  QString textOf(size_t row) const;
  void rebuildAll();

  FrameList& list_;
  QList<QString> rows_;
  FrameListRefresh pending_;
  QColor transmitColour_;
};

// A label that reports clicks and double clicks (the pane titles and list-type labels act on them).
class ClickLabel : public QLabel {
  Q_OBJECT

 public:
  using QLabel::QLabel;

 signals:
  void clicked();
  void doubleClicked();

 protected:
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
};

class TrafficPane : public QWidget {
  Q_OBJECT

 public:
  enum class Kind { Rx, Tx };

  TrafficPane(Kind kind, FrameList& list, QWidget* parent = nullptr);

  Kind kind() const { return kind_; }
  // Applies the list's changes; a history list then shows its newest line, a sorted list keeps
  // the view where the user left it.
  FrameListModel::Result refreshList();

  // Header texts; each widget is only touched when its text really changes.
  void setTitle(const QString& title);
  void setStopped(bool stopped);
  void setListType(int type);
  void setCountText(const QString& text);
  // Font and colours from the "CanDisplay" settings.
  void applyLook(const CanDisplaySettings& display);
  void setZoomed(bool zoomed);

  QListView* view() const { return view_; }
  FrameListModel* model() const { return model_; }
  ClickLabel* titleLabel() const { return title_; }
  ClickLabel* listTypeLabel() const { return listType_; }
  QLabel* countLabel() const { return count_; }
  QPushButton* stopButton() const { return stop_; }
  QPushButton* eraseButton() const { return erase_; }
  QAction* zoomAction() const { return zoomAction_; }
  QAction* settingsAction() const { return settingsAction_; }
  // Rx pane only (null in the Tx pane).
  QAction* historyAction() const { return historyAction_; }
  QAction* sortedAction() const { return sortedAction_; }
  QAction* combinedAction() const { return combinedAction_; }
  QAction* findAction() const { return findAction_; }
  // Selects the next row after the current one (or from the top) that holds the text; false when
  // there is none.
  bool findNext(const QString& text, bool wholeWord, bool matchCase, bool fromTop);

  // The list-type label's text for a type value.
  static QString ListTypeText(int type);

 signals:
  void listTypeChosen(int type);

 private:
  void showPopup(const QPoint& pos);

  Kind kind_;
  int shownType_ = -1;
  ClickLabel* title_;
  QLabel* count_;
  ClickLabel* listType_;
  QPushButton* erase_;
  QPushButton* stop_;
  QListView* view_;
  FrameListModel* model_;
  QAction* zoomAction_;
  QAction* settingsAction_;
  QAction* historyAction_ = nullptr;
  QAction* sortedAction_ = nullptr;
  QAction* combinedAction_ = nullptr;
  QAction* findAction_ = nullptr;
};

// Windows colour value (0x00BBGGRR) as a Qt colour.
QColor WindowsColour(int value);
// Black or white, whichever stands out against the background.
QColor ContrastingText(const QColor& background);

}  // namespace busprobe
