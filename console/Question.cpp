/* The operator's yes or no. */
#include "Question.h"

#include <QDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "FieldDialog.h"
#include "Modal.h"

bool AskOperator(QWidget *parent, const QString &question, const QString &caption,
                 const QString &yes, const QString &no)
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
