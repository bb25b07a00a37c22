#include "gui/gui_user_interface.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QStringDecoder>

#include "gui/main_window.h"
#include "gui/notice_window.h"

namespace busprobe {

namespace {
QString ToQt(const std::string& text) {
  return CoreTextToQt(text);
}

// Texts from the core may carry Windows line ends; a label shows the carriage return as a glyph.
// Plain text always: a "<" in a file name must not turn the box into rich text.
bool Ask(QWidget* parent, const std::string& title, const std::string& text,
         QMessageBox::StandardButtons buttons, QMessageBox::StandardButton defaultButton,
         QMessageBox::Icon icon) {
  QMessageBox box(icon, ToQt(title), ToQt(text).replace(QStringLiteral("\r\n"), QStringLiteral("\n")),
                  buttons, parent);
  box.setTextFormat(Qt::PlainText);
  box.setDefaultButton(defaultButton);
  return box.exec() == QMessageBox::Yes;
}
}  // namespace

QString CoreTextToQt(std::string_view text, bool* wasLatin1) {
  // The core's texts are UTF-8, but script files and names from older configurations may be
  // Latin-1; those are shown as Latin-1 rather than as replacement characters.
  QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
  QString decoded = utf8.decode(QByteArrayView(text.data(), static_cast<qsizetype>(text.size())));
  if (wasLatin1) *wasLatin1 = utf8.hasError();
  if (!utf8.hasError()) return decoded;
  return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

GuiUserInterface::GuiUserInterface() = default;
GuiUserInterface::~GuiUserInterface() = default;

void GuiUserInterface::messageLine(const std::string& line) {
  if (window_) window_->messages()->appendLine(line);
}

void GuiUserInterface::messagesCleared() {
  if (window_) window_->messages()->clearLines();
}

void GuiUserInterface::statusLabel(const std::string& text) {
  if (window_) window_->setStatusText(ToQt(text));
}

void GuiUserInterface::commandFileLoaded() {
  if (window_) window_->showCommandFile();
}

void GuiUserInterface::refreshPhase(int phase) {
  if (window_) window_->refreshPhase(phase);
}

void GuiUserInterface::frameListChanged(int listNumber) {
  if (window_) window_->refreshFrameList(listNumber);
}

void GuiUserInterface::trafficHeadersChanged(const TrafficHeaders& headers) {
  if (window_) window_->showTrafficHeaders(headers);
}

bool GuiUserInterface::askYesNo(const std::string& title, const std::string& text, bool defaultYes) {
  return Ask(window_, title, text, QMessageBox::Yes | QMessageBox::No,
             defaultYes ? QMessageBox::Yes : QMessageBox::No, QMessageBox::Question);
}

void GuiUserInterface::showMessageBox(const std::string& title, const std::string& text) {
  Ask(window_, title, text, QMessageBox::Ok, QMessageBox::Ok, QMessageBox::Information);
}

void GuiUserInterface::noticeShow(const std::string& secondLine) {
  if (!notice_) notice_ = std::make_unique<NoticeWindow>();
  notice_->showCentred(ToQt(secondLine), window_);
}

void GuiUserInterface::noticeUpdate(const std::string& secondLine) {
  if (notice_) notice_->setSecondLine(ToQt(secondLine));
}

void GuiUserInterface::noticeHide() {
  if (notice_) notice_->hide();
}

void GuiUserInterface::scriptShowLine(int line) {
  if (window_) window_->scriptShowLine(line);
}

void GuiUserInterface::scriptEnded(const std::string& errorText) {
  if (window_) window_->scriptEnded(errorText);
}

void GuiUserInterface::processEvents() {
  QCoreApplication::processEvents();
}

}  // namespace busprobe
