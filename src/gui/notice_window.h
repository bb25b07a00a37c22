// The small "please wait" popup shown while the program closes: a fixed bold first line and a
// second line that each closing step replaces. It paints synchronously because the closing steps
// run on the GUI thread and the event loop does not get a turn between them.
#pragma once

#include <QFrame>
#include <QLabel>

namespace busprobe {

class NoticeWindow : public QFrame {
  Q_OBJECT

 public:
  static constexpr int kWidth = 480;
  static constexpr int kHeight = 64;

  explicit NoticeWindow(QWidget* parent = nullptr);

  // Shows the popup centred on the screen of `anchor` (the primary screen when null).
  void showCentred(const QString& secondLine, const QWidget* anchor);
  void setSecondLine(const QString& text);
  QString firstLine() const { return first_->text(); }
  QString secondLine() const { return second_->text(); }

 private:
  void paintNow();
  void fitSecondLine();

  QLabel* first_;
  QLabel* second_;
};

}  // namespace busprobe
