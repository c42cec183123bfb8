/* Questions put to the operator before something is lost: a message box in
 * the console's words whose buttons carry object names, shown through
 * ShowModal (Modal.h) so that a test answers it by clicking one of them. */
#ifndef CONSOLE_QUESTION_H
#define CONSOLE_QUESTION_H

#include <QString>

class QWidget;

/* What the operator chose for changes not yet saved. */
enum class UnsavedChoice {
  Save,                           /* "保存" (SaveBtn): save them, then go on */
  Discard,                        /* "不保存" (DiscardBtn): drop them and go on */
  Stay,                           /* "取消" (CancelBtn), Esc or the box closed: go nowhere */
};

/* Asks before a deletion: true only when the operator clicks OKBtn, captioned
 * "删除". CancelBtn "取消" is the default button, so that Enter alone deletes
 * nothing. The box's object name is "DeleteQuestion". */
bool AskDelete(QWidget *parent, const QString &text, const QString &caption);

/* Asks what becomes of unsaved changes; "保存" is the default button. The box's
 * object name is "UnsavedQuestion". */
UnsavedChoice AskUnsaved(QWidget *parent, const QString &text, const QString &caption);

#endif
