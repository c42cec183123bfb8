// User management: the operator manager's list, adding (names clashing in
// another letter case, mismatched passwords), deleting (asked first, never the
// first entry or "admin"), setting a password, and the operator's own password change,
// which keeps the file's other lines where the manager rewrites them all.
#include <QAction>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QWindow>

#include "AddUser.h"
#include "ChangePwd.h"
#include "ChangePwd2.h"
#include "FormsTest.h"
#include "MonitorTest.h"
#include "RateFrm.h"
#include "UserMgr.h"
#include "Users.h"

namespace {

const QByteArray kZhangSanGbk = "\xd5\xc5\xc8\xfd";                   // 张三
const QByteArray kZhangSanMima = "58b6b09f6c5ec2d6317253f3d1be59ed";  // 张三 / 密码
const QByteArray kBobSecret = "bb20f63bb59e0455a4c09b19bd125401";     // bob / secret

const auto fill = ScriptedOperator::fill;

}  // namespace

class TestUserMgr : public QObject {
  Q_OBJECT

  std::unique_ptr<FormsFixture> f;

  TUserMgrFrm *mgr() const { return Forms.UserMgrFrm; }
  QStringList listed() const
  {
    QStringList names;
    for (int i = 0; i < mgr()->UserList->count(); i++)
      names.append(mgr()->UserList->item(i)->text());
    return names;
  }
  void select(int row) { mgr()->UserList->setCurrentRow(row); }

private slots:
  void init() { f = std::make_unique<FormsFixture>(); }
  void cleanup()
  {
    f->verifyScriptDone();
    f.reset();
  }

  void withoutFileAdminIsAloneAndAnAddWritesBothLines()
  {
    f->logIn(QStringLiteral("admin"));  // the main window behind the manager
    mgr()->show();
    mgr()->activateWindow();
    QTRY_COMPARE(QApplication::activeWindow(), mgr());
    QCOMPARE(listed(), QStringList{QStringLiteral("admin")});
    QVERIFY(!mgr()->ChangePwdBtn->isEnabled());
    QVERIFY(!mgr()->DelUserBtn->isEnabled());

    f->op.then([this](QDialog *dlg) {
      QCOMPARE(dlg->windowTitle(), QStringLiteral("添加操作员"));
      // Over the manager: the window system brings it back when the dialog closes.
      QCOMPARE(dlg->windowHandle()->transientParent(), mgr()->windowHandle());
      fill({{"Username", QStringLiteral("张三")},
            {"Password", QStringLiteral("密码")},
            {"Password2", QStringLiteral("密码")}})(dlg);
    });
    mgr()->AddUserBtn->click();
    QCOMPARE(MaskDigests(f->dir.read(PASSWD_FILE), {"密码"}), "admin \n" + kZhangSanGbk + " <密码>\n");
    QCOMPARE(listed(), (QStringList{QStringLiteral("admin"), QStringLiteral("张三")}));
    QVERIFY(f->op.messages.isEmpty());

    // The next add starts with empty fields; cancelling it changes nothing.
    f->op.then([](QDialog *dlg) {
      auto *add = static_cast<TAddUserDlg *>(dlg);
      QVERIFY(add->Username->text().isEmpty() && add->Password->text().isEmpty() && add->Password2->text().isEmpty());
      ScriptedOperator::click("CancelBtn")(dlg);
    });
    mgr()->AddUserBtn->click();
    QCOMPARE(listed().size(), 2);
  }

  void addRefusesClashingNamesMismatchesAndUnusableNames()
  {
    f->dir.write(PASSWD_FILE, "admin\nBob " + kBobSecret + "\n");
    mgr()->show();
    f->op.then(fill({{"Username", "bob"}, {"Password", "x"}, {"Password2", "x"}}))
        .then([](QDialog *dlg) {
          // Shown again with the texts as typed.
          QCOMPARE(static_cast<TAddUserDlg *>(dlg)->Username->text(), QStringLiteral("bob"));
          fill({{"Username", "ADMIN"}})(dlg);
        })
        .then(fill({{"Username", "carol"}, {"Password2", "y"}}))
        .then(fill({{"Username", "carol smith"}, {"Password2", "x"}}))
        .then(fill({{"Username", "carol"}}));
    mgr()->AddUserBtn->click();
    QCOMPARE(f->op.dialogs.size(), 5);
    QCOMPARE(f->op.messages.size(), 4);
    QCOMPARE(f->op.messages[0].text, QStringLiteral("用户名已存在"));
    QCOMPARE(f->op.messages[0].caption, QStringLiteral("错误"));
    QCOMPARE(f->op.messages[1].text, QStringLiteral("用户名已存在"));
    QCOMPARE(f->op.messages[2].text, QStringLiteral("密码不匹配！"));
    QCOMPARE(f->op.messages[2].caption, QStringLiteral("错误"));
    QCOMPARE(f->op.messages[3].caption, QStringLiteral("错误"));
    QCOMPARE(MaskDigests(f->dir.read(PASSWD_FILE), {"x"}), "admin \nBob " + kBobSecret + "\ncarol <x>\n");
  }

  void theFirstEntryAndAdminStayWhileOthersGoAfterAQuestion()
  {
    f->dir.write(PASSWD_FILE, kZhangSanGbk + " " + kZhangSanMima + "\nadmin\nbob " + kBobSecret + "\n");
    mgr()->show();
    select(0);
    QVERIFY(mgr()->ChangePwdBtn->isEnabled());
    QVERIFY(!mgr()->DelUserBtn->isEnabled());
    select(1);
    QVERIFY(mgr()->ChangePwdBtn->isEnabled());
    QVERIFY(!mgr()->DelUserBtn->isEnabled());
    select(2);
    QVERIFY(mgr()->DelUserBtn->isEnabled());
    f->op
        .then([](QDialog *dlg) {
          auto *box = qobject_cast<QMessageBox *>(dlg);
          QCOMPARE(box->windowTitle() + box->text(), QStringLiteral("删除操作员要删除操作员“bob”吗？"));
          ScriptedOperator::click("CancelBtn")(dlg);
        })
        .then(ScriptedOperator::click("OKBtn"));
    mgr()->DelUserBtn->click();
    QCOMPARE(listed().size(), 3);
    mgr()->DelUserBtn->click();
    QCOMPARE(f->dir.read(PASSWD_FILE), kZhangSanGbk + " " + kZhangSanMima + "\nadmin \n");
    QCOMPARE(listed(), (QStringList{QStringLiteral("张三"), QStringLiteral("admin")}));
    QVERIFY(mgr()->UserList->selectedItems().isEmpty());
    QVERIFY(!mgr()->ChangePwdBtn->isEnabled());
    QVERIFY(!mgr()->DelUserBtn->isEnabled());
  }

  void setPasswordAsksTwiceAndLosesCommentLines()
  {
    f->dir.write(PASSWD_FILE, "# accounts\nadmin\n  # bob left\n" + kZhangSanGbk + " " + kZhangSanMima + "\n");
    mgr()->show();
    select(0);
    f->op
        .then([](QDialog *dlg) {
          QCOMPARE(dlg->windowTitle(), QStringLiteral("更改密码"));
          auto *password = static_cast<TPasswordDlg *>(dlg);
          QCOMPARE(password->OKBtn->text(), QStringLiteral("确定"));
          QCOMPARE(password->CancelBtn->text(), QStringLiteral("取消"));
          fill({{"Password", "123456"}, {"Password2", "12345"}})(dlg);
        })
        .then([](QDialog *dlg) {
          // Told why, the texts kept.
          QCOMPARE(static_cast<TPasswordDlg *>(dlg)->Password->text(), QStringLiteral("123456"));
          fill({{"Password2", "123456"}})(dlg);
        });
    mgr()->ChangePwdBtn->click();
    QCOMPARE(f->op.messages.size(), 1);
    QCOMPARE(f->op.messages[0].text, QStringLiteral("两次输入的密码不一致"));
    QCOMPARE(f->op.messages[0].caption, QStringLiteral("错误"));
    QCOMPARE(MaskDigests(f->dir.read(PASSWD_FILE), {"123456"}),
             "admin <123456>\n" + kZhangSanGbk + " " + kZhangSanMima + "\n");

    // Shown again: the list is read anew and nothing is selected, so there is
    // no entry for the password command.
    mgr()->close();
    mgr()->show();
    QVERIFY(mgr()->UserList->selectedItems().isEmpty());
    QVERIFY(!mgr()->ChangePwdBtn->isEnabled());
    QVERIFY(!mgr()->DelUserBtn->isEnabled());
    QCOMPARE(listed().size(), 2);
  }

  void ownPasswordChangeKeepsOtherLinesAndMatchesTheManager()
  {
    const QByteArray others = "# accounts\nadmin\n";
    f->dir.write(PASSWD_FILE, others + "  " + kZhangSanGbk + " " + kZhangSanMima + "  # desk 2\n");
    f->logIn(QStringLiteral("张三"), QStringLiteral("密码"));
    f->op
        .then([](QDialog *dlg) {
          QCOMPARE(dlg->windowTitle(), QStringLiteral("更改密码 - 张三"));
          fill({{"OrigPassword", "wrong"}, {"Password", "新密码"}, {"Password2", "新密码"}})(dlg);
        })
        .then([](QDialog *dlg) {
          QCOMPARE(static_cast<TChangePwdDlg *>(dlg)->Password->text(), QStringLiteral("新密码"));
          fill({{"OrigPassword", "密码"}, {"Password2", "新密"}})(dlg);
        })
        .then(fill({{"Password2", "新密码"}}));
    Part(Forms.MainForm, "N5")->trigger();
    QCOMPARE(f->op.messages.size(), 2);
    QCOMPARE(f->op.messages[0].text, QStringLiteral("用户名/密码错误！"));
    QCOMPARE(f->op.messages[1].text, QStringLiteral("密码不一致"));
    QCOMPARE(f->op.messages[1].caption, QStringLiteral("错误"));
    const QByteArray own = kZhangSanGbk + " <新密码>\n";
    QCOMPARE(MaskDigests(f->dir.read(PASSWD_FILE), {"新密码"}), others + own);
    QVERIFY(Forms.MainForm->CheckPassword(QStringLiteral("张三"), QStringLiteral("新密码"), nullptr));

    // The manager's road to the same password gives the same line.
    mgr()->show();
    select(1);
    f->op.then(fill({{"Password", "新密码"}, {"Password2", "新密码"}}));
    mgr()->ChangePwdBtn->click();
    QCOMPARE(MaskDigests(f->dir.read(PASSWD_FILE), {"新密码"}), "admin \n" + own);
  }

  void theAdministratorsWindowsCloseWhenAnotherOperatorTakesOver()
  {
    f->dir.write(PASSWD_FILE, "admin\n" + kZhangSanGbk + " " + kZhangSanMima + "\n");
    f->logIn(QStringLiteral("admin"));
    Part(Forms.MainForm, "UserMgr")->trigger();
    Part(Forms.MainForm, "SetRate")->trigger();
    f->op.then(ScriptedOperator::logIn(QStringLiteral("张三"), QStringLiteral("密码")));
    Part(Forms.MainForm, "N6")->trigger();
    QVERIFY(!mgr()->isVisible());
    QVERIFY(!Forms.RateForm->isVisible());
    QCOMPARE(f->op.messages.size(), 1);  // the rate editor's note on closing
    QCOMPARE(f->op.messages[0].caption, QStringLiteral("请注意"));

    // Handing back to the administrator opens nothing by itself.
    f->op.then(ScriptedOperator::logIn(QStringLiteral("admin"), QString()));
    Part(Forms.MainForm, "N6")->trigger();
    QVERIFY(!mgr()->isVisible());
    QCOMPARE(f->op.messages.size(), 1);
  }
};

FORMS_TEST_MAIN(TestUserMgr)
#include "test_usermgr.moc"
