/* Modal dialogs, message boxes and the program's end, answerable in advance. */
#include "Modal.h"

#include <QApplication>
#include <QDialog>
#include <QWindow>

namespace {

DialogAnswer g_dialogAnswer;
MessageAnswer g_messageAnswer;
ProgramEnd g_programEnd;

/* The window system gives the focus back to a closed dialog's transient
 * parent; the owner (mostly the main window) would come in front of the
 * window the dialog was opened from. */
void StandOverActiveWindow(QDialog *dialog)
{
  QWidget *front = QApplication::activeWindow();
  if (!front || front == dialog || !front->isVisible())
    front = dialog->parentWidget() ? dialog->parentWidget()->window() : nullptr;
  if (!front || !front->windowHandle())
    return;
  dialog->winId();  // the dialog's own window, to be placed
  dialog->windowHandle()->setTransientParent(front->windowHandle());
}

}  // namespace

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
  StandOverActiveWindow(dialog);
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

void ShowMessage(QWidget *parent, const QString &text, const QString &caption, QMessageBox::Icon icon)
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
