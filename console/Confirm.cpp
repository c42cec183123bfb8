/* The quit confirmation dialog, with its warning of calls that quitting loses. */
#include "Confirm.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "UnsavedCalls.h"

TConfirmDlg::TConfirmDlg(QWidget *parent) : QDialog(parent)
{
  setObjectName(QStringLiteral("ConfirmDlg"));
  setWindowTitle(QStringLiteral("确认退出"));

  auto *question = new QLabel(QStringLiteral("确定要退出计费程序吗？"), this);
  question->setObjectName(QStringLiteral("Label1"));
  Warning = new QLabel(this);
  Warning->setObjectName(QStringLiteral("Warning"));
  Warning->setStyleSheet(QStringLiteral("color: #d00000; font-weight: bold;"));
  Warning->hide();
  OKBtn = new QPushButton(QStringLiteral("确认"), this);
  OKBtn->setObjectName(QStringLiteral("OKBtn"));
  OKBtn->setDefault(true);
  CancelBtn = new QPushButton(QStringLiteral("取消"), this);
  CancelBtn->setObjectName(QStringLiteral("CancelBtn"));

  auto *buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(OKBtn);
  buttons->addWidget(CancelBtn);
  buttons->addStretch();
  auto *layout = new QVBoxLayout(this);
  layout->addSpacing(8);
  layout->addWidget(question, 0, Qt::AlignCenter);
  layout->addWidget(Warning);
  layout->addSpacing(8);
  layout->addLayout(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);

  connect(OKBtn, &QPushButton::clicked, this, &QDialog::accept);
  connect(CancelBtn, &QPushButton::clicked, this, &QDialog::reject);
}

void TConfirmDlg::SetUnsavedCalls(unsigned calls)
{
  Warning->setText(QuitLosesCallsText(calls));
  Warning->setVisible(calls > 0);
  // Enter alone must not throw the calls away.
  OKBtn->setDefault(calls == 0);
  CancelBtn->setDefault(calls > 0);
}
