/* The quit confirmation dialog. */
#include "Confirm.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

TConfirmDlg::TConfirmDlg(QWidget *parent)
  : QDialog(parent)
{
  setObjectName(QStringLiteral("ConfirmDlg"));
  setWindowTitle(QStringLiteral("确认退出"));

  auto *question = new QLabel(QStringLiteral("确定要退出计费程序吗？"), this);
  question->setObjectName(QStringLiteral("Label1"));
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
  layout->addSpacing(8);
  layout->addLayout(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);

  connect(OKBtn, &QPushButton::clicked, this, &QDialog::accept);
  connect(CancelBtn, &QPushButton::clicked, this, &QDialog::reject);
}
