/* The one road by which the console asks the operator anything (modal dialogs,
 * message boxes) and by which it ends. A test or an unattended run installs
 * answers here beforehand, so nothing ever waits in exec() for a person who is
 * not there. Without answers installed these are the real thing. */
#ifndef CONSOLE_MODAL_H
#define CONSOLE_MODAL_H

#include <QMessageBox>
#include <QString>

#include <functional>

class QDialog;
class QWidget;

/* Answers a shown dialog: ends it by clicking one of its buttons (or leaves it
 * open, which counts as cancelled). */
using DialogAnswer = std::function<void(QDialog *dialog)>;
/* Takes a message box's text and caption instead of showing it. */
using MessageAnswer = std::function<void(const QString &text, const QString &caption)>;
/* Takes the exit status instead of ending the program. */
using ProgramEnd = std::function<void(int status)>;

/* Install or, with an empty function, remove an answer. */
void SetDialogAnswer(DialogAnswer answer);
void SetMessageAnswer(MessageAnswer answer);
void SetProgramEnd(ProgramEnd end);

/* Shows the dialog modally: QDialog::Accepted or QDialog::Rejected. The
 * dialog stands over the window the operator works in (the user manager, the
 * report), whichever window owns it, so that this window is in front again
 * when the dialog closes. */
int ShowModal(QDialog *dialog);

/* A message box with the text, the caption and an OK button. */
void ShowMessage(QWidget *parent, const QString &text, const QString &caption,
                 QMessageBox::Icon icon = QMessageBox::Warning);

/* Ends the program with status once control returns to the event loop; the
 * caller returns at once and does nothing more. */
void EndProgram(int status);

#endif
