/* The AddUserDlg window. */
#include "AddUser.h"

TAddUserDlg::TAddUserDlg(QWidget *parent)
  : QDialog(parent)
{
  setObjectName(QStringLiteral("AddUserDlg"));
  setWindowTitle(QStringLiteral("添加操作员"));
  resize(300, 180);
}
