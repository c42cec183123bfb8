/* The own password change dialog. */
#include "ChangePwd2.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "Login.h"

TChangePwdDlg::TChangePwdDlg(QWidget *parent)
  : QDialog(parent)
{
  setObjectName(QStringLiteral("ChangePwdDlg"));
  setWindowTitle(QStringLiteral("更改密码"));  // named after the operator when shown

  OrigPassword = new QLineEdit(this);
  OrigPassword->setObjectName(QStringLiteral("OrigPassword"));
  ShowAsStars(OrigPassword);
  Password = new QLineEdit(this);
  Password->setObjectName(QStringLiteral("Password"));
  ShowAsStars(Password);
  Password2 = new QLineEdit(this);
  Password2->setObjectName(QStringLiteral("Password2"));
  ShowAsStars(Password2);
  OKBtn = new QPushButton(QStringLiteral("确定"), this);
  OKBtn->setObjectName(QStringLiteral("OKBtn"));
  OKBtn->setDefault(true);
  CancelBtn = new QPushButton(QStringLiteral("取消"), this);
  CancelBtn->setObjectName(QStringLiteral("CancelBtn"));

  auto *fields = new QGridLayout;
  fields->addWidget(new QLabel(QStringLiteral("原密码："), this), 0, 0);
  fields->addWidget(OrigPassword, 0, 1);
  fields->addWidget(new QLabel(QStringLiteral("新密码："), this), 1, 0);
  fields->addWidget(Password, 1, 1);
  fields->addWidget(new QLabel(QStringLiteral("密码确认："), this), 2, 0);
  fields->addWidget(Password2, 2, 1);
  fields->setColumnMinimumWidth(1, 180);
  auto *buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(OKBtn);
  buttons->addWidget(CancelBtn);
  auto *layout = new QVBoxLayout(this);
  layout->addLayout(fields);
  layout->addLayout(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);

  connect(OKBtn, &QPushButton::clicked, this, &QDialog::accept);
  connect(CancelBtn, &QPushButton::clicked, this, &QDialog::reject);
}
