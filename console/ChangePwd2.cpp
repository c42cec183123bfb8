/* The ChangePwdDlg window. */
#include "ChangePwd2.h"

TChangePwdDlg::TChangePwdDlg(QWidget *parent)
  : QDialog(parent)
{
  setObjectName(QStringLiteral("ChangePwdDlg"));
  setWindowTitle(QStringLiteral("更改密码"));  // named after the operator when shown
  resize(320, 180);
}
