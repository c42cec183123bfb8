/* The own password change dialog. */
#include "ChangePwd2.h"

#include <QLineEdit>

#include "FieldDialog.h"

TChangePwdDlg::TChangePwdDlg(QWidget *parent) : QDialog(parent)
{
  setObjectName(QStringLiteral("ChangePwdDlg"));
  setWindowTitle(QStringLiteral("更改密码"));  // named after the operator when shown

  OrigPassword = PasswordField(this, "OrigPassword");
  Password = PasswordField(this, "Password");
  Password2 = PasswordField(this, "Password2");
  OKBtn = DialogButton(this, QStringLiteral("确定"), "OKBtn", true);
  CancelBtn = DialogButton(this, QStringLiteral("取消"), "CancelBtn");
  LayOutFieldDialog(this,
                    {{QStringLiteral("原密码："), OrigPassword},
                     {QStringLiteral("新密码："), Password},
                     {QStringLiteral("密码确认："), Password2}},
                    OKBtn, CancelBtn);
}
