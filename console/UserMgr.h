/* The operator manager: the accounts of the password file, added, deleted and
 * given new passwords by the administrator. The list is read from the file
 * each time the window is shown and again before every change, since the
 * operator's own password change writes the file while the window is open;
 * the file is then rewritten from the list (its comment lines do not survive
 * that). The first account, and "admin" wherever it stands, cannot be
 * deleted; any other is deleted once the administrator confirms it. */
#ifndef CONSOLE_USERMGR_H
#define CONSOLE_USERMGR_H

#include <QList>
#include <QWidget>

#include "Passwd.h"

class QListWidget;
class QPushButton;
class QShowEvent;

class TUserMgrFrm : public QWidget {
  Q_OBJECT

public:
  explicit TUserMgrFrm(QWidget *parent = nullptr);

  const QList<PasswdEntry> &Users() const { return m_users; }

  QListWidget *UserList;     /* one operator name per account, in file order */
  QPushButton *AddUserBtn;   /* "添加" */
  QPushButton *ChangePwdBtn; /* "更改密码": for the selected account */
  QPushButton *DelUserBtn;   /* "删除": never the first account or "admin" */
  QPushButton *Button1;      /* "确定": closes the window */

protected:
  void showEvent(QShowEvent *event) override;

private:
  /* The list from the file. */
  void LoadUsers();
  /* The list from the file once more, before a change is made to it: *index
   * (an entry of the list as it was, or -1) becomes that entry's place now,
   * selected, or -1 when it is gone. False, the operator told, when the file
   * is there but cannot be read: nothing may be written over it then. */
  bool Reread(int *index);
  /* Shows users, the entry at selected (or none) selected. */
  void ShowUsers(const QList<PasswdEntry> &users, int selected);
  /* The file from the list; when that fails the operator is told and the
   * list shows the file again; true when written. */
  bool SaveUsers();
  void AppendItem(const PasswdEntry &user);
  int SelectedIndex() const;

  void FormShow();
  void UserListClick();
  void AddUserBtnClick();
  void ChangePwdBtnClick();
  void DelUserBtnClick();
  void Button1Click();

  QList<PasswdEntry> m_users; /* the accounts, one per list entry */
  QString m_path;             /* "passwd" of the working directory */
};

#endif
