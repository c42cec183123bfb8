/* The shift change dialog. Each showing starts with empty fields, the cursor
 * in the name; the title stays as the main window set it. */
#include "Switch.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>

#include "Login.h"

TSwitchDlg::TSwitchDlg(QWidget *parent)
  : QDialog(parent)
{
  setObjectName(QStringLiteral("SwitchDlg"));
  setWindowTitle(QStringLiteral("交班"));

  Title = new QLabel(this);
  Title->setObjectName(QStringLiteral("Title"));
  QFont big = Title->font();
  big.setPointSize(big.pointSize() + 4);
  big.setBold(true);
  Title->setFont(big);
  Username = new QLineEdit(this);
  Username->setObjectName(QStringLiteral("Username"));
  Username->setMaxLength(OPERATOR_NAME_MAX);
  Password = new QLineEdit(this);
  Password->setObjectName(QStringLiteral("Password"));
  ShowAsStars(Password);
  OKBtn = new QPushButton(QStringLiteral("确定"), this);
  OKBtn->setObjectName(QStringLiteral("OKBtn"));
  OKBtn->setDefault(true);
  Button1 = new QPushButton(QStringLiteral("取消"), this);
  Button1->setObjectName(QStringLiteral("Button1"));

  auto *fields = new QGridLayout;
  fields->addWidget(new QLabel(QStringLiteral("操作员"), this), 0, 0);
  fields->addWidget(Username, 0, 1);
  fields->addWidget(new QLabel(QStringLiteral("密  码"), this), 1, 0);
  fields->addWidget(Password, 1, 1);
  fields->setColumnMinimumWidth(1, 180);
  auto *buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(OKBtn);
  buttons->addWidget(Button1);
  auto *layout = new QVBoxLayout(this);
  layout->addWidget(Title);
  layout->addSpacing(8);
  layout->addLayout(fields);
  layout->addLayout(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);

  connect(OKBtn, &QPushButton::clicked, this, &QDialog::accept);
  connect(Button1, &QPushButton::clicked, this, &QDialog::reject);
}

void TSwitchDlg::showEvent(QShowEvent *event)
{
  QDialog::showEvent(event);
  if (!event->spontaneous())
    FormShow();
}

void TSwitchDlg::FormShow()
{
  Username->clear();
  Password->clear();
  Username->setFocus();
}
