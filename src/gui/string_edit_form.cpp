#include "gui/string_edit_form.h"

#include <QHBoxLayout>
#include <QVBoxLayout>

namespace busprobe {

StringEditForm::StringEditForm(const QString& line1, const QString& line2, const QString& text,
                               QWidget* parent)
    : QDialog(parent),
      line1_(new QLabel(line1)),
      line2_(new QLabel(line2)),
      edit_(new QLineEdit(text)),
      ok_(new QPushButton(QStringLiteral("OK"))),
      cancel_(new QPushButton(QStringLiteral("Cancel"))) {
  setObjectName(QStringLiteral("StringEditForm"));
  setWindowTitle(QStringLiteral("Busprobe"));
  setModal(true);
  // Labels from the core are plain text: a "<" in them must not turn them into rich text.
  for (QLabel* label : {line1_, line2_}) label->setTextFormat(Qt::PlainText);
  line1_->setObjectName(QStringLiteral("Lab_Line1"));
  line2_->setObjectName(QStringLiteral("Lab_Line2"));
  edit_->setObjectName(QStringLiteral("Ed_String"));
  ok_->setObjectName(QStringLiteral("Btn_Ok"));
  cancel_->setObjectName(QStringLiteral("Btn_Cancel"));
  ok_->setDefault(true);
  edit_->selectAll();
  connect(ok_, &QPushButton::clicked, this, &QDialog::accept);
  connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(ok_);
  buttons->addWidget(cancel_);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(line1_);
  layout->addWidget(line2_);
  layout->addWidget(edit_);
  layout->addLayout(buttons);
  setMinimumWidth(360);
}

}  // namespace busprobe
