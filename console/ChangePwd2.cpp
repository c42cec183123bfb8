/* The ChangePwdDlg window. */
#include "ChangePwd2.h"

TChangePwdDlg::TChangePwdDlg(QWidget *parent)
  : QDialog(parent)
{
  setObjectName(QStringLiteral("ChangePwdDlg"));
  resize(320, 180);
}
