/* The login dialog. Each showing starts empty, with the cursor in the name. */
#include "Login.h"

#include <QLineEdit>
#include <QShowEvent>

#include "FieldDialog.h"

TLoginDlg::TLoginDlg(QWidget *parent) : QDialog(parent)
{
  setObjectName(QStringLiteral("LoginDlg"));
  setWindowTitle(QStringLiteral("操作员登录"));

  Username = NameField(this, "Username");
  Password = PasswordField(this, "Password");
  OKBtn = DialogButton(this, QStringLiteral("确定"), "OKBtn", true);
  Button1 = DialogButton(this, QStringLiteral("取消"), "Button1");
  LayOutFieldDialog(this, {{QStringLiteral("操作员"), Username}, {QStringLiteral("密  码"), Password}}, OKBtn, Button1);
}

void TLoginDlg::showEvent(QShowEvent *event)
{
  QDialog::showEvent(event);
  if (!event->spontaneous())
    FormShow();
}

void TLoginDlg::FormShow()
{
  Username->clear();
  Password->clear();
  Username->setFocus();
}
