/* The operator manager window: the account list, adding an operator, setting
 * a password, deleting an operator. */
#include "UserMgr.h"

#include <QDir>
#include <QFile>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QShowEvent>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include "AddUser.h"
#include "Audit.h"
#include "ChangePwd.h"
#include "Forms.h"
#include "Gbk.h"
#include "Modal.h"
#include "Question.h"
#include "SaveFile.h"
#include "Users.h"

TUserMgrFrm::TUserMgrFrm(QWidget *parent)
    : QWidget(parent, Qt::Window), m_path(QDir::current().filePath(QStringLiteral(PASSWD_FILE)))
{
  setObjectName(QStringLiteral("UserMgrFrm"));
  setWindowTitle(QStringLiteral("操作员管理"));
  resize(360, 320);

  UserList = new QListWidget(this);
  UserList->setObjectName(QStringLiteral("UserList"));
  UserList->setSelectionMode(QAbstractItemView::SingleSelection);
  AddUserBtn = new QPushButton(QStringLiteral("添加"), this);
  AddUserBtn->setObjectName(QStringLiteral("AddUserBtn"));
  ChangePwdBtn = new QPushButton(QStringLiteral("更改密码"), this);
  ChangePwdBtn->setObjectName(QStringLiteral("ChangePwdBtn"));
  ChangePwdBtn->setEnabled(false);
  DelUserBtn = new QPushButton(QStringLiteral("删除"), this);
  DelUserBtn->setObjectName(QStringLiteral("DelUserBtn"));
  DelUserBtn->setEnabled(false);
  Button1 = new QPushButton(QStringLiteral("确定"), this);
  Button1->setObjectName(QStringLiteral("Button1"));

  auto *buttons = new QVBoxLayout;
  buttons->addWidget(AddUserBtn);
  buttons->addWidget(ChangePwdBtn);
  buttons->addWidget(DelUserBtn);
  buttons->addStretch();
  buttons->addWidget(Button1);
  auto *layout = new QHBoxLayout(this);
  layout->addWidget(UserList, 1);
  layout->addLayout(buttons);

  connect(UserList, &QListWidget::itemSelectionChanged, this, &TUserMgrFrm::UserListClick);
  connect(AddUserBtn, &QPushButton::clicked, this, &TUserMgrFrm::AddUserBtnClick);
  connect(ChangePwdBtn, &QPushButton::clicked, this, &TUserMgrFrm::ChangePwdBtnClick);
  connect(DelUserBtn, &QPushButton::clicked, this, &TUserMgrFrm::DelUserBtnClick);
  connect(Button1, &QPushButton::clicked, this, &TUserMgrFrm::Button1Click);
}

void TUserMgrFrm::showEvent(QShowEvent *event)
{
  QWidget::showEvent(event);
  if (!event->spontaneous())
    FormShow();
}

void TUserMgrFrm::FormShow()
{
  LoadUsers();
}

void TUserMgrFrm::LoadUsers()
{
  ShowUsers(::LoadUsers(m_path), -1);
}

bool TUserMgrFrm::Reread(int *index)
{
  QList<PasswdEntry> users;
  if (!ReadPasswdFile(m_path, &users)) {
    ShowMessage(this, QStringLiteral("无法读取文件 " PASSWD_FILE "，修改没有保存。"), QStringLiteral("错误"),
                QMessageBox::Critical);
    return false;
  }
  if (!QFile::exists(m_path))
    users = ::LoadUsers(m_path);
  *index = static_cast<int>(FindUserAgain(m_users, *index, users));
  ShowUsers(users, *index);
  return true;
}

void TUserMgrFrm::ShowUsers(const QList<PasswdEntry> &users, int selected)
{
  {
    const QSignalBlocker quiet(UserList);
    UserList->clear();
    m_users = users;
    for (const PasswdEntry &user : m_users)
      AppendItem(user);
    if (selected >= 0)
      UserList->setCurrentRow(selected);
  }
  UserListClick();
}

bool TUserMgrFrm::SaveUsers()
{
  QString reason;
  if (WritePasswdFile(m_path, m_users, &reason))
    return true;
  ShowSaveFailure(this, PASSWD_FILE, reason, QStringLiteral("修改没有保存。"));
  LoadUsers();
  return false;
}

void TUserMgrFrm::AppendItem(const PasswdEntry &user)
{
  UserList->addItem(FromGbk(user.name));
}

int TUserMgrFrm::SelectedIndex() const
{
  const QList<QListWidgetItem *> selected = UserList->selectedItems();
  return selected.isEmpty() ? -1 : UserList->row(selected.first());
}

void TUserMgrFrm::UserListClick()
{
  const int index = SelectedIndex();
  ChangePwdBtn->setEnabled(index >= 0);
  // Without "admin" in the file nobody could manage the station any more.
  DelUserBtn->setEnabled(index > 0 && m_users[index].name != ADMIN_NAME);
}

void TUserMgrFrm::AddUserBtnClick()
{
  TAddUserDlg *dlg = Forms.AddUserDlg;
  dlg->Username->clear();
  dlg->Password->clear();
  dlg->Password2->clear();
  dlg->Username->setFocus();
  for (;;) {
    if (ShowModal(dlg) != QDialog::Accepted)
      return;
    const QString name = dlg->Username->text();
    const QString password = dlg->Password->text();
    int selected = SelectedIndex();
    if (!Reread(&selected))
      return;
    if (FindUser(m_users, name) >= 0) {
      ShowMessage(dlg, QStringLiteral("用户名已存在"), QStringLiteral("错误"));
      continue;
    }
    if (password != dlg->Password2->text()) {
      ShowMessage(dlg, QStringLiteral("密码不匹配！"), QStringLiteral("错误"));
      continue;
    }
    const QString fault = NewUserFault(name, password);
    if (!fault.isEmpty()) {
      ShowMessage(dlg, fault, QStringLiteral("错误"));
      continue;
    }
    const PasswdEntry user{*ToGbk(name), PasswordDigest(name, password)};
    m_users.append(user);
    AppendItem(user);
    if (SaveUsers())
      Audit(AUDIT_USER_ADD, name);
    return;
  }
}

void TUserMgrFrm::ChangePwdBtnClick()
{
  int index = SelectedIndex();
  if (index < 0)
    return;
  // The digest is taken over the name exactly as the file holds it.
  const QString name = FromGbk(m_users[index].name);
  if (ToGbk(name) != m_users[index].name) {
    ShowMessage(this, QStringLiteral("该操作员名无法识别，不能设置密码"), QStringLiteral("错误"));
    return;
  }
  TPasswordDlg *dlg = Forms.PasswordDlg;
  QByteArray digest;
  do {
    if (ShowModal(dlg) != QDialog::Accepted)
      return;
    if (dlg->Password->text() != dlg->Password2->text()) {
      ShowMessage(dlg, QStringLiteral("两次输入的密码不一致"), QStringLiteral("错误"));
      continue;
    }
    digest = PasswordDigest(name, dlg->Password->text());
    if (digest.isEmpty())
      ShowMessage(dlg, QStringLiteral("密码中有无法使用的字符"), QStringLiteral("错误"));
  } while (digest.isEmpty());
  if (!Reread(&index))
    return;
  if (index < 0) {
    // Deleted meanwhile: setting its password would bring it back.
    ShowMessage(this, QStringLiteral("操作员“%1”已不存在，密码没有设置。").arg(name), QStringLiteral("错误"));
    return;
  }
  m_users[index].digest = digest;
  if (SaveUsers())
    Audit(AUDIT_PASSWORD, QStringLiteral("为操作员“%1”设置新密码").arg(name));
}

void TUserMgrFrm::DelUserBtnClick()
{
  int index = SelectedIndex();
  if (index <= 0 || m_users[index].name == ADMIN_NAME)
    return;
  if (!AskDelete(this, QStringLiteral("要删除操作员“%1”吗？").arg(FromGbk(m_users[index].name)),
                 QStringLiteral("删除操作员")))
    return;
  // Gone already, or first now: nothing to write.
  if (!Reread(&index) || index <= 0)
    return;
  const QString name = FromGbk(m_users[index].name);
  {
    const QSignalBlocker quiet(UserList);
    m_users.removeAt(index);
    delete UserList->takeItem(index);
    UserList->clearSelection();
  }
  UserListClick();
  if (SaveUsers())
    Audit(AUDIT_USER_DELETE, name);
}

void TUserMgrFrm::Button1Click()
{
  close();
}
