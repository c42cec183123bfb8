/* The set-password dialog of the operator manager. */
#include "ChangePwd.h"

#include <QLineEdit>

#include "FieldDialog.h"

TPasswordDlg::TPasswordDlg(QWidget *parent) : QDialog(parent)
{
  setObjectName(QStringLiteral("PasswordDlg"));
  setWindowTitle(QStringLiteral("更改密码"));

  Password = PasswordField(this, "Password");
  Password2 = PasswordField(this, "Password2");
  OKBtn = DialogButton(this, QStringLiteral("确定"), "OKBtn", true);
  CancelBtn = DialogButton(this, QStringLiteral("取消"), "CancelBtn");
  LayOutFieldDialog(this, {{QStringLiteral("密    码："), Password}, {QStringLiteral("密码确认："), Password2}}, OKBtn,
                    CancelBtn);
}
