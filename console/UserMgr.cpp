/* The UserMgrFrm window. */
#include "UserMgr.h"

TUserMgrFrm::TUserMgrFrm(QWidget *parent)
  : QWidget(parent, Qt::Window)
{
  setObjectName(QStringLiteral("UserMgrFrm"));
  setWindowTitle(QStringLiteral("操作员管理"));
  resize(360, 320);
}
