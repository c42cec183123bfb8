/* The delete, unsaved-changes and yes-or-no questions. */
#include "Question.h"

#include <QDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

#include "FieldDialog.h"
#include "Modal.h"

namespace {

QPushButton *NamedButton(QMessageBox *box, const QString &text, const char *name, QMessageBox::ButtonRole role)
{
  QPushButton *button = box->addButton(text, role);
  button->setObjectName(QLatin1String(name));
  return button;
}

}  // namespace

bool AskDelete(QWidget *parent, const QString &text, const QString &caption)
{
  QMessageBox box(QMessageBox::Question, caption, text, QMessageBox::NoButton, parent);
  box.setObjectName(QStringLiteral("DeleteQuestion"));
  QPushButton *yes = NamedButton(&box, QStringLiteral("删除"), "OKBtn", QMessageBox::AcceptRole);
  QPushButton *no = NamedButton(&box, QStringLiteral("取消"), "CancelBtn", QMessageBox::RejectRole);
  box.setDefaultButton(no);
  box.setEscapeButton(no);
  ShowModal(&box);
  return box.clickedButton() == yes;
}

UnsavedChoice AskUnsaved(QWidget *parent, const QString &text, const QString &caption)
{
  QMessageBox box(QMessageBox::Question, caption, text, QMessageBox::NoButton, parent);
  box.setObjectName(QStringLiteral("UnsavedQuestion"));
  QPushButton *save = NamedButton(&box, QStringLiteral("保存"), "SaveBtn", QMessageBox::AcceptRole);
  QPushButton *discard = NamedButton(&box, QStringLiteral("不保存"), "DiscardBtn", QMessageBox::DestructiveRole);
  QPushButton *stay = NamedButton(&box, QStringLiteral("取消"), "CancelBtn", QMessageBox::RejectRole);
  box.setDefaultButton(save);
  box.setEscapeButton(stay);
  ShowModal(&box);
  if (box.clickedButton() == save)
    return UnsavedChoice::Save;
  if (box.clickedButton() == discard)
    return UnsavedChoice::Discard;
  return UnsavedChoice::Stay;
}

bool AskOperator(QWidget *parent, const QString &question, const QString &caption, const QString &yes,
                 const QString &no)
{
  QDialog dialog(parent);
  dialog.setObjectName(QStringLiteral("QuestionDlg"));
  dialog.setWindowTitle(caption);
  auto *text = new QLabel(question, &dialog);
  text->setObjectName(QStringLiteral("Question"));
  text->setWordWrap(true);
  QFont big = text->font();
  big.setPointSize(big.pointSize() + 2);
  text->setFont(big);
  QPushButton *ok = DialogButton(&dialog, yes, "OKBtn");
  QPushButton *cancel = DialogButton(&dialog, no, "CancelBtn", true);
  QObject::connect(ok, &QPushButton::clicked, &dialog, &QDialog::accept);
  QObject::connect(cancel, &QPushButton::clicked, &dialog, &QDialog::reject);
  auto *buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(ok);
  buttons->addWidget(cancel);
  auto *layout = new QVBoxLayout(&dialog);
  layout->addWidget(text);
  layout->addSpacing(12);
  layout->addLayout(buttons);
  cancel->setFocus();
  return ShowModal(&dialog) == QDialog::Accepted;
}
