// The login road of the main window's first showing: the built-in account
// without a password file, refusals with and without a message, asking again,
// and Cancel ending the program with nothing written but the failed logins,
// which wait for the audit trail.
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "Audit.h"
#include "FormsTest.h"
#include "MonitorTest.h"
#include "Login.h"
#include "Modal.h"

namespace {

const QByteArray kZhangSanGbk = "\xd5\xc5\xc8\xfd";                   // 张三
const QByteArray kZhangSanMima = "58b6b09f6c5ec2d6317253f3d1be59ed";  // 张三 / 密码
const QByteArray kBobSecret = "bb20f63bb59e0455a4c09b19bd125401";     // bob / secret

}  // namespace

class TestLoginDlg : public QObject {
  Q_OBJECT

  std::unique_ptr<FormsFixture> f;

  QStringList stationFiles() const { return QDir(f->dir.path()).entryList(QDir::Files | QDir::Hidden); }
  /* The failed logins wait in audit.pending while no engine runs; once one
   * does (an earlier test of the process started it) they are stored at once. */
  static bool failuresWait() { return !EngineCalled(); }
  static QStringList withPending(QStringList files)
  {
    if (failuresWait())
      files.prepend(QStringLiteral(AUDIT_PENDING_FILE));
    return files;
  }

private slots:
  void init() { f = std::make_unique<FormsFixture>(); }
  void cleanup()
  {
    f->verifyScriptDone();
    f.reset();
  }

  void everyShowingStartsEmptyWithTheCursorInTheName()
  {
    TLoginDlg *dlg = Forms.LoginDlg;
    QCOMPARE(dlg->windowTitle(), QStringLiteral("操作员登录"));
    QCOMPARE(dlg->Password->echoMode(), QLineEdit::Password);
    QVERIFY(dlg->OKBtn->isDefault());
    QCOMPARE(dlg->OKBtn->text(), QStringLiteral("确定"));
    QCOMPARE(dlg->Button1->text(), QStringLiteral("取消"));

    dlg->Username->setText(QStringLiteral("left over"));
    dlg->Password->setText(QStringLiteral("left over"));
    f->op.then(ScriptedOperator::logIn(QStringLiteral("bob"), QStringLiteral("secret")));
    QCOMPARE(ShowModal(dlg), int(QDialog::Accepted));
    QCOMPARE(dlg->Username->text(), QStringLiteral("bob"));

    f->op.then(ScriptedOperator::click("Button1"));
    QCOMPARE(ShowModal(dlg), int(QDialog::Rejected));
    QVERIFY(dlg->Username->text().isEmpty());
  }

  void adminLogsInWithoutPasswordFile()
  {
    f->logIn(QStringLiteral("admin"));
    QVERIFY(f->op.ends.isEmpty());
    QVERIFY(f->op.messages.isEmpty());
    TMainForm *main = Forms.MainForm;
    QCOMPARE(main->OperatorName(), QStringLiteral("admin"));
    QCOMPARE(main->windowTitle(), QStringLiteral("IP电话计费程序 v2.14 - admin"));
    QVERIFY(EngineCalled());
    QVERIFY(Part<QTimer>(main, "Timer1")->isActive());
    QCOMPARE(Part<QTimer>(main, "Timer1")->interval(), 1000);
    QVERIFY(main->windowState() & Qt::WindowMaximized);
    QCOMPARE(f->dir.read(LASTLOG_FILE), QByteArray("admin 0.00"));
    QVERIFY(!f->dir.exists(PASSWD_FILE));
  }

  void refusalsWithoutPasswordFileAreSilent()
  {
    f->op.then(ScriptedOperator::logIn(QStringLiteral("admin"), QStringLiteral("admin")))
        .then(ScriptedOperator::logIn(QStringLiteral("Admin"), QString()))
        .then(ScriptedOperator::logIn(QStringLiteral("bob"), QString()))
        .then(ScriptedOperator::click("Button1"));
    f->showMainForm();
    QCOMPARE(f->op.dialogs.size(), 4);
    QVERIFY(f->op.messages.isEmpty());
    QCOMPARE(f->op.ends, QList<int>{0});
    QVERIFY(Forms.MainForm->OperatorName().isEmpty());
    QCOMPARE(stationFiles(), withPending({}));
    if (failuresWait())
      QCOMPARE(f->dir.read(AUDIT_PENDING_FILE).count('\n'), 3);  // one a failed login
  }

  void wrongPasswordIsToldAndAskedAgain()
  {
    f->dir.write(PASSWD_FILE, "admin\n" + kZhangSanGbk + " " + kZhangSanMima + "\n");
    f->op.then(ScriptedOperator::logIn(QStringLiteral("张三"), QStringLiteral("mima")));
    f->logIn(QStringLiteral("张三"), QStringLiteral("密码"));
    QCOMPARE(f->op.messages.size(), 1);
    QCOMPARE(f->op.messages[0].text, QStringLiteral("用户名/密码错误！"));
    QCOMPARE(f->op.messages[0].caption, QStringLiteral("密码错误"));
    QCOMPARE(f->op.dialogs, QStringList({"LoginDlg", "LoginDlg"}));
    QCOMPARE(Forms.MainForm->windowTitle(), QStringLiteral("IP电话计费程序 v2.14 - 张三"));
    QCOMPARE(f->dir.read(LASTLOG_FILE), kZhangSanGbk + " 0.00");
  }

  void unknownNameIsAskedAgainSilently()
  {
    f->dir.write(PASSWD_FILE, "bob " + kBobSecret + "\n");
    f->op.then(ScriptedOperator::logIn(QStringLiteral("alice"), QStringLiteral("secret")))
        .then(ScriptedOperator::logIn(QStringLiteral("admin"), QString()));
    f->logIn(QStringLiteral("bob"), QStringLiteral("secret"));
    QCOMPARE(f->op.dialogs.size(), 3);
    QVERIFY(f->op.messages.isEmpty());
    QCOMPARE(Forms.MainForm->OperatorName(), QStringLiteral("bob"));
  }

  void aLoginRewritesALegacyDigestSalted()
  {
    f->dir.write(PASSWD_FILE, "admin\nbob " + kBobSecret + "\n");
    f->logIn(QStringLiteral("bob"), QStringLiteral("secret"));
    QCOMPARE(Forms.MainForm->OperatorName(), QStringLiteral("bob"));
    const QByteArray passwd = f->dir.read(PASSWD_FILE);
    QVERIFY(passwd.startsWith("admin\nbob 01"));
    QCOMPARE(passwd.size(), qsizetype(sizeof "admin\nbob \n" - 1 + SALTED_DIGEST_HEX_LEN));
    QVERIFY(Forms.MainForm->CheckPassword(QStringLiteral("bob"), QStringLiteral("secret"), nullptr));
    QVERIFY(!Forms.MainForm->CheckPassword(QStringLiteral("bob"), QStringLiteral("secreT"), nullptr));
    QCOMPARE(f->op.messages.size(), 1);
    QCOMPARE(f->op.messages[0].text, QStringLiteral("用户名/密码错误！"));
  }

  void aDamagedPasswdLetsNobodyInWithAnEmptyPassword()
  {
    // The digest's first byte lost: it used to read as "no password".
    f->dir.write(PASSWD_FILE, "admin x033e22ae348aeb5660fc2140aec3585\n");
    f->op.then(ScriptedOperator::logIn(QStringLiteral("admin"), QString())).then(ScriptedOperator::click("Button1"));
    f->showMainForm();
    QCOMPARE(f->op.ends, QList<int>{0});
    QCOMPARE(f->op.messages.size(), 1);
    QCOMPARE(f->op.messages[0].caption, QStringLiteral("错误"));
    QVERIFY(f->op.messages[0].text.contains(QStringLiteral("passwd")));
    QVERIFY(Forms.MainForm->OperatorName().isEmpty());
  }

  void cancelEndsWithStatusZeroAndWritesNothing()
  {
    const QByteArray passwd = "bob " + kBobSecret + "\n";
    f->dir.write(PASSWD_FILE, passwd);
    f->op.then(ScriptedOperator::logIn(QStringLiteral("bob"), QStringLiteral("wrong")))
        .then(ScriptedOperator::click("Button1"));
    f->showMainForm();
    QCOMPARE(f->op.ends, QList<int>{0});
    QCOMPARE(f->op.messages.size(), 1);
    QCOMPARE(stationFiles(), withPending({QStringLiteral(PASSWD_FILE)}));
    QVERIFY(!failuresWait() || f->dir.read(AUDIT_PENDING_FILE).contains("\tbob\t"));
    QCOMPARE(f->dir.read(PASSWD_FILE), passwd);
    QVERIFY(!Part<QTimer>(Forms.MainForm, "Timer1")->isActive());
    QVERIFY(Forms.MainForm->windowTitle().isEmpty());
  }
};

FORMS_TEST_MAIN(TestLoginDlg)
#include "test_login.moc"
