// The logger lamp: a small coloured square that blinks red while a log file is recorded and green
// (yellow while rewinding) while the player plays, grey when neither runs. The core decides the
// colour on every tick; the lamp only shows it and offers the recorder's and player's commands in
// its pop-up menu.
#pragma once

#include <QAction>
#include <QColor>
#include <QFrame>

namespace busprobe {

class LoggerLamp : public QFrame {
  Q_OBJECT

 public:
  static constexpr int kSize = 14;
  static constexpr uint32_t kGrey = 0xA0A0A4;

  explicit LoggerLamp(QWidget* parent = nullptr);

  // 0xRRGGBB as the core reports it; repaints only when the colour changes.
  void setRgb(uint32_t rgb);
  uint32_t rgb() const { return rgb_; }

  QAction* recordAction() const { return record_; }
  QAction* playAction() const { return play_; }
  QAction* stopAction() const { return stop_; }
  QAction* configureAction() const { return configure_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  void showPopup(const QPoint& pos);

  uint32_t rgb_ = kGrey;
  QAction* record_;
  QAction* play_;
  QAction* stop_;
  QAction* configure_;
};

}  // namespace busprobe
