/* The add-operator dialog. */
#include "AddUser.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "Login.h"

TAddUserDlg::TAddUserDlg(QWidget *parent)
  : QDialog(parent)
{
  setObjectName(QStringLiteral("AddUserDlg"));
  setWindowTitle(QStringLiteral("添加操作员"));

  Username = new QLineEdit(this);
  Username->setObjectName(QStringLiteral("Username"));
  Username->setMaxLength(OPERATOR_NAME_MAX);
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
  fields->addWidget(new QLabel(QStringLiteral("操作员"), this), 0, 0);
  fields->addWidget(Username, 0, 1);
  fields->addWidget(new QLabel(QStringLiteral("密  码"), this), 1, 0);
  fields->addWidget(Password, 1, 1);
  fields->addWidget(new QLabel(QStringLiteral("密码确认"), this), 2, 0);
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
