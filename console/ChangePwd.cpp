/* The set-password dialog of the operator manager. */
#include "ChangePwd.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "Login.h"

TPasswordDlg::TPasswordDlg(QWidget *parent)
  : QDialog(parent)
{
  setObjectName(QStringLiteral("PasswordDlg"));
  setWindowTitle(QStringLiteral("更改密码"));

  Password = new QLineEdit(this);
  Password->setObjectName(QStringLiteral("Password"));
  ShowAsStars(Password);
  Password2 = new QLineEdit(this);
  Password2->setObjectName(QStringLiteral("Password2"));
  ShowAsStars(Password2);
  OKBtn = new QPushButton(QStringLiteral("OK"), this);
  OKBtn->setObjectName(QStringLiteral("OKBtn"));
  OKBtn->setDefault(true);
  CancelBtn = new QPushButton(QStringLiteral("Cancel"), this);
  CancelBtn->setObjectName(QStringLiteral("CancelBtn"));

  auto *fields = new QGridLayout;
  fields->addWidget(new QLabel(QStringLiteral("密    码："), this), 0, 0);
  fields->addWidget(Password, 0, 1);
  fields->addWidget(new QLabel(QStringLiteral("密码确认："), this), 1, 0);
  fields->addWidget(Password2, 1, 1);
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
