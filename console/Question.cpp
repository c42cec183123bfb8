/* The delete and unsaved-changes questions. */
#include "Question.h"

#include <QMessageBox>
#include <QPushButton>

#include "Modal.h"

namespace {

QPushButton *NamedButton(QMessageBox *box, const QString &text, const char *name,
                         QMessageBox::ButtonRole role)
{
  QPushButton *button = box->addButton(text, role);
  button->setObjectName(QLatin1String(name));
  return button;
}

} // namespace

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
  QPushButton *discard = NamedButton(&box, QStringLiteral("不保存"), "DiscardBtn",
                                     QMessageBox::DestructiveRole);
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
