/* The operator manager: the accounts of the password file, added, deleted and
 * given new passwords by the administrator. The list is read from the file
 * each time the window is shown, and the file is rewritten from the list at
 * every change (its comment lines do not survive that). The first account,
 * and "admin" wherever it stands, cannot be deleted. */
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

  QListWidget *UserList;          /* one operator name per account, in file order */
  QPushButton *AddUserBtn;        /* "添加" */
  QPushButton *ChangePwdBtn;      /* "更改密码": for the selected account */
  QPushButton *DelUserBtn;        /* "删除": never the first account or "admin" */
  QPushButton *Button1;           /* "确定": closes the window */

protected:
  void showEvent(QShowEvent *event) override;

private:
  /* The list from the file. */
  void LoadUsers();
  /* The file from the list; when that fails the operator is told and the
   * list shows the file again. */
  void SaveUsers();
  void AppendItem(const PasswdEntry &user);
  int SelectedIndex() const;

  void FormShow();
  void UserListClick();
  void AddUserBtnClick();
  void ChangePwdBtnClick();
  void DelUserBtnClick();
  void Button1Click();

  QList<PasswdEntry> m_users;     /* the accounts, one per list entry */
  QString m_path;                 /* "passwd" of the working directory */
};

#endif
