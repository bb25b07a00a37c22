#include "gui/notice_window.h"

#include <QCoreApplication>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QScreen>
#include <QVBoxLayout>

namespace busprobe {

namespace {
constexpr int kMargin = 6;
constexpr int kSecondLinePixels = 16;
constexpr int kSmallestPixels = 9;
}  // namespace

NoticeWindow::NoticeWindow(QWidget* parent)
    : QFrame(parent, Qt::SplashScreen | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint),
      first_(new QLabel(QStringLiteral("Closing the Busprobe, please WAIT....."), this)),
      second_(new QLabel(this)) {
  setObjectName(QStringLiteral("NoticeWindow"));
  setWindowTitle(QStringLiteral("Loading Application"));
  setFixedSize(kWidth, kHeight);
  setAutoFillBackground(true);
  // Without a window frame the popup needs its own edge to stand out from the window below.
  setFrameStyle(QFrame::Box | QFrame::Plain);

  QFont firstFont(QStringLiteral("Arial"));
  firstFont.setPixelSize(18);
  firstFont.setBold(true);
  first_->setFont(firstFont);
  first_->setAlignment(Qt::AlignLeft | Qt::AlignTop);

  QFont secondFont(QStringLiteral("Arial"));
  secondFont.setPixelSize(kSecondLinePixels);
  second_->setFont(secondFont);
  second_->setAlignment(Qt::AlignHCenter | Qt::AlignVCenter);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(kMargin, 4, kMargin, 6);
  layout->setSpacing(2);
  layout->addWidget(first_);
  layout->addWidget(second_, 1);
}

void NoticeWindow::showCentred(const QString& secondLine, const QWidget* anchor) {
  second_->setText(secondLine);
  fitSecondLine();
  QScreen* screen = anchor ? anchor->screen() : nullptr;
  if (!screen) screen = QGuiApplication::primaryScreen();
  if (screen) {
    QRect area = screen->geometry();
    move(area.center() - QPoint(kWidth / 2, kHeight / 2));
  }
  show();
  raise();
  paintNow();
}

void NoticeWindow::setSecondLine(const QString& text) {
  second_->setText(text);
  fitSecondLine();
  if (isVisible()) paintNow();
}

void NoticeWindow::fitSecondLine() {
  // The popup's width is fixed; where the system's stand-in for Arial runs wider, a long step
  // text is set smaller rather than cut off at both ends.
  const int room = kWidth - 2 * kMargin - 2 * frameWidth();
  QFont font = second_->font();
  for (int pixels = kSecondLinePixels; pixels >= kSmallestPixels; --pixels) {
    font.setPixelSize(pixels);
    if (QFontMetrics(font).horizontalAdvance(second_->text()) <= room) break;
  }
  second_->setFont(font);
}

void NoticeWindow::paintNow() {
  // The window system maps the popup asynchronously; without a turn of the event loop it would
  // stay blank until shutdown has finished. User input stays queued so nothing re-enters closing.
  QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
  repaint();
}

}  // namespace busprobe
