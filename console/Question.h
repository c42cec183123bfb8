/* A question put to the operator before something that cannot be taken back
 * (settling with money still owed, cutting a customer's call): a small modal
 * dialog with the question and a button each way, shown through ShowModal so
 * that an unattended run or a test answers it like any other dialog. */
#ifndef CONSOLE_QUESTION_H
#define CONSOLE_QUESTION_H

#include <QString>

class QWidget;

/* True when the operator chose yes ("OKBtn"); no ("CancelBtn") is the default
 * button, so an Enter pressed out of habit changes nothing. The dialog's
 * object name is "QuestionDlg", its text is in the label "Question". */
bool AskOperator(QWidget *parent, const QString &question, const QString &caption,
                 const QString &yes, const QString &no = QStringLiteral("取消"));

#endif
