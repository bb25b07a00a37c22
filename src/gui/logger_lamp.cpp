#include "gui/logger_lamp.h"

#include <QMenu>
#include <QPainter>

namespace busprobe {

LoggerLamp::LoggerLamp(QWidget* parent)
    : QFrame(parent),
      record_(new QAction(QStringLiteral("Start &Recording logfile"), this)),
      play_(new QAction(QStringLiteral("Start &Playing logfile"), this)),
      stop_(new QAction(QStringLiteral("&Stop player + recorder"), this)),
      configure_(new QAction(QStringLiteral("Configure built-in logger"), this)) {
  setObjectName(QStringLiteral("Shape_LoggerLamp"));
  setFixedSize(kSize, kSize);
  setToolTip(QStringLiteral("Logger: red = recording, green = playing"));
  setContextMenuPolicy(Qt::CustomContextMenu);
  connect(this, &QWidget::customContextMenuRequested, this, &LoggerLamp::showPopup);
}

void LoggerLamp::setRgb(uint32_t rgb) {
  if (rgb == rgb_) return;
  rgb_ = rgb;
  update();
}

void LoggerLamp::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(QPen(Qt::black, 1));
  painter.setBrush(QColor::fromRgb(static_cast<QRgb>(rgb_)));
  painter.drawEllipse(rect().adjusted(1, 1, -1, -1));
}

void LoggerLamp::showPopup(const QPoint& pos) {
  QMenu menu(this);
  menu.addAction(record_);
  menu.addAction(play_);
  menu.addAction(stop_);
  menu.addSeparator();
  menu.addAction(configure_);
  menu.exec(mapToGlobal(pos));
}

}  // namespace busprobe
