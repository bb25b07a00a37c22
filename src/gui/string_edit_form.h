// The string entry dialog: caption "Busprobe", two label lines, one edit field, "OK" and "Cancel".
// The number and text forms of the question live in UserQuestions (app/user_interface.h); this is
// only the dialog they show in the Qt program.
#pragma once

#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace busprobe {

class StringEditForm : public QDialog {
  Q_OBJECT

 public:
  StringEditForm(const QString& line1, const QString& line2, const QString& text, QWidget* parent = nullptr);

  QString text() const { return edit_->text(); }
  QLineEdit* edit() const { return edit_; }
  QPushButton* okButton() const { return ok_; }
  QPushButton* cancelButton() const { return cancel_; }

 private:
  QLabel* line1_;
  QLabel* line2_;
  QLineEdit* edit_;
  QPushButton* ok_;
  QPushButton* cancel_;
};

}  // namespace busprobe
