#include "gui/gui_user_interface.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QStringDecoder>

#include "gui/main_window.h"
#include "gui/notice_window.h"
#include "gui/string_edit_form.h"

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

void GuiUserInterface::changed(UiTopic topic) {
  if (topic == UiTopic::kClosingNotice) {
    showNotice();
    return;
  }
  if (!window_ || !app_) return;
  switch (topic) {
    case UiTopic::kMessages:
      window_->messages()->syncWithLog();
      break;
    case UiTopic::kStatusLabel:
      window_->setStatusText(ToQt(app_->statusLabel()));
      break;
    case UiTopic::kCommandFile:
      window_->showCommandFile();
      break;
    case UiTopic::kTickPhase:
      window_->refreshPhase(app_->tickPhase());
      break;
    case UiTopic::kRxList:
      window_->refreshFrameList(TrafficPaths::kRxList);
      break;
    case UiTopic::kTxList:
      window_->refreshFrameList(TrafficPaths::kTxList);
      break;
    case UiTopic::kTrafficHeaders:
      window_->showTrafficHeaders(app_->trafficDisplay().headers());
      break;
    case UiTopic::kScriptLine:
      window_->scriptShowLine(app_->scripts().lineToShow());
      break;
    case UiTopic::kScriptEnded:
      window_->scriptEnded(app_->program().stoppedByError() ? app_->program().lastErrorText()
                                                            : std::string());
      break;
    case UiTopic::kPlayer:
      if (window_->playerWindow()) window_->playerWindow()->refreshLabels();
      break;
    case UiTopic::kDictionaryScan:
      window_->refreshDictionaryScan();
      break;
    case UiTopic::kClosingNotice:
      break;
  }
}

void GuiUserInterface::showNotice() {
  if (!app_) return;
  const ClosingNotice& n = app_->closingNotice();
  if (!n.shown) {
    if (notice_) notice_->hide();
    return;
  }
  if (!notice_) {
    notice_ = std::make_unique<NoticeWindow>();
    notice_->showCentred(ToQt(n.secondLine), window_);
  } else {
    if (!notice_->isVisible()) notice_->showCentred(ToQt(n.secondLine), window_);
    notice_->setSecondLine(ToQt(n.secondLine));
  }
}

bool GuiUserInterface::answerYesNo(const std::string& title, const std::string& text, bool defaultYes) {
  return Ask(window_, title, text, QMessageBox::Yes | QMessageBox::No,
             defaultYes ? QMessageBox::Yes : QMessageBox::No, QMessageBox::Question);
}

void GuiUserInterface::presentMessageBox(const std::string& title, const std::string& text) {
  Ask(window_, title, text, QMessageBox::Ok, QMessageBox::Ok, QMessageBox::Information);
}

std::string GuiUserInterface::answerFileChoice(const FileChoice& choice) {
  QStringList filters;
  for (const std::string& f : choice.filters) filters << ToQt(f);
  QFileDialog dialog(window_, ToQt(choice.title), ToQt(choice.directory));
  dialog.setNameFilters(filters);
  dialog.setAcceptMode(choice.save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  dialog.setFileMode(choice.save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
  if (!choice.defaultSuffix.empty()) dialog.setDefaultSuffix(ToQt(choice.defaultSuffix));
  if (!choice.proposedName.empty()) dialog.selectFile(ToQt(choice.proposedName));
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  return dialog.selectedFiles().first().toStdString();
}

bool GuiUserInterface::answerString(const std::string& line1, const std::string& line2, std::string& text) {
  StringEditForm form(ToQt(line1), ToQt(line2), ToQt(text), window_);
  if (form.exec() != QDialog::Accepted) return false;
  text = form.text().toStdString();
  return true;
}

void GuiUserInterface::processEvents() {
  QCoreApplication::processEvents();
}

}  // namespace busprobe
