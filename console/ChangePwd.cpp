/* The PasswordDlg window. */
#include "ChangePwd.h"

TPasswordDlg::TPasswordDlg(QWidget *parent)
  : QDialog(parent)
{
  setObjectName(QStringLiteral("PasswordDlg"));
  setWindowTitle(QStringLiteral("更改密码"));
  resize(300, 160);
}
