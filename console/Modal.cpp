/* Modal dialogs, message boxes and the program's end, answerable in advance. */
#include "Modal.h"

#include <QCoreApplication>
#include <QDialog>

namespace {

DialogAnswer g_dialogAnswer;
MessageAnswer g_messageAnswer;
ProgramEnd g_programEnd;

} // namespace

void SetDialogAnswer(DialogAnswer answer)
{
  g_dialogAnswer = std::move(answer);
}

void SetMessageAnswer(MessageAnswer answer)
{
  g_messageAnswer = std::move(answer);
}

void SetProgramEnd(ProgramEnd end)
{
  g_programEnd = std::move(end);
}

int ShowModal(QDialog *dialog)
{
  if (!g_dialogAnswer)
    return dialog->exec();
  // Shown for real, so that its show handler runs and the answer meets the
  // dialog as an operator would; only the waiting is left out.
  dialog->setResult(QDialog::Rejected);
  dialog->show();
  g_dialogAnswer(dialog);
  if (dialog->isVisible())
    dialog->reject();
  return dialog->result();
}

void ShowMessage(QWidget *parent, const QString &text, const QString &caption,
                 QMessageBox::Icon icon)
{
  if (g_messageAnswer) {
    g_messageAnswer(text, caption);
    return;
  }
  QMessageBox box(icon, caption, text, QMessageBox::Ok, parent);
  box.exec();
}

void EndProgram(int status)
{
  if (g_programEnd) {
    g_programEnd(status);
    return;
  }
  QCoreApplication::exit(status);
}
