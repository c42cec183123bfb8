/* The add-operator dialog. */
#include "AddUser.h"

#include <QLineEdit>

#include "FieldDialog.h"

TAddUserDlg::TAddUserDlg(QWidget *parent) : QDialog(parent)
{
  setObjectName(QStringLiteral("AddUserDlg"));
  setWindowTitle(QStringLiteral("添加操作员"));

  Username = NameField(this, "Username");
  Password = PasswordField(this, "Password");
  Password2 = PasswordField(this, "Password2");
  OKBtn = DialogButton(this, QStringLiteral("确定"), "OKBtn", true);
  CancelBtn = DialogButton(this, QStringLiteral("取消"), "CancelBtn");
  LayOutFieldDialog(this,
                    {{QStringLiteral("操作员"), Username},
                     {QStringLiteral("密  码"), Password},
                     {QStringLiteral("密码确认"), Password2}},
                    OKBtn, CancelBtn);
}
