/* The operator manager: the accounts of the password file, added, deleted and
 * given new passwords by the administrator. */
#ifndef CONSOLE_USERMGR_H
#define CONSOLE_USERMGR_H

#include <QWidget>

class TUserMgrFrm : public QWidget {
  Q_OBJECT

public:
  explicit TUserMgrFrm(QWidget *parent = nullptr);
};

#endif
