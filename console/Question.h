/* Questions put to the operator before something is lost or cannot be taken
 * back (a deletion, unsaved changes, settling with money still owed, cutting
 * a customer's call), shown through ShowModal (Modal.h) so that an unattended
 * run or a test answers them by clicking their named buttons. */
#ifndef CONSOLE_QUESTION_H
#define CONSOLE_QUESTION_H

#include <QString>

class QWidget;

/* What the operator chose for changes not yet saved. */
enum class UnsavedChoice {
  Save,    /* "保存" (SaveBtn): save them, then go on */
  Discard, /* "不保存" (DiscardBtn): drop them and go on */
  Stay,    /* "取消" (CancelBtn), Esc or the box closed: go nowhere */
};

/* Asks before a deletion: true only when the operator clicks OKBtn, captioned
 * "删除". CancelBtn "取消" is the default button, so that Enter alone deletes
 * nothing. The box's object name is "DeleteQuestion". */
bool AskDelete(QWidget *parent, const QString &text, const QString &caption);

/* Asks what becomes of unsaved changes; "保存" is the default button. The box's
 * object name is "UnsavedQuestion". */
UnsavedChoice AskUnsaved(QWidget *parent, const QString &text, const QString &caption);

/* True when the operator chose yes ("OKBtn"); no ("CancelBtn") is the default
 * button, so an Enter pressed out of habit changes nothing. The dialog's
 * object name is "QuestionDlg", its text is in the label "Question". */
bool AskOperator(QWidget *parent, const QString &question, const QString &caption, const QString &yes,
                 const QString &no = QStringLiteral("取消"));

#endif
