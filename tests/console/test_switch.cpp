// The shift change: the takings in the dialog's title, taking over with a
// login (asked again when it fails, nothing changed on Cancel), the
// administrator's menus following the new operator, and what the shift record
// keeps across a restart (the new operator from the handover on).
#include <QAction>
#include <QLabel>
#include <QTest>

#include "FormsTest.h"
#include "MonitorTest.h"
#include "Switch.h"

namespace {

const QByteArray kZhangSanGbk = "\xd5\xc5\xc8\xfd";                   // 张三
const QByteArray kZhangSanMima = "58b6b09f6c5ec2d6317253f3d1be59ed";  // 张三 / 密码
const QByteArray kPasswd = "admin\n" + kZhangSanGbk + " " + kZhangSanMima + "\n";

/* An answer that checks the dialog's title before logging in. */
Answer titledLogIn(const QString &title, const QString &name, const QString &password)
{
  return [=](QDialog *dlg) {
    QCOMPARE(static_cast<TSwitchDlg *>(dlg)->Title->text(), title);
    ScriptedOperator::logIn(name, password)(dlg);
  };
}

}  // namespace

class TestSwitchDlg : public QObject {
  Q_OBJECT

  std::unique_ptr<FormsFixture> f;

  /* The program ends and starts again in the same working directory. */
  void restart(const QString &name, const QString &password = QString())
  {
    ReleaseForms();
    CreateForms();
    f->logIn(name, password);
  }

private slots:
  void init()
  {
    f = std::make_unique<FormsFixture>();
    f->dir.write(PASSWD_FILE, kPasswd);
  }
  void cleanup()
  {
    f->verifyScriptDone();
    f.reset();
  }

  void cancelLeavesTheShiftAsItWas()
  {
    f->dir.write(LASTLOG_FILE, "admin 12.5");
    f->logIn(QStringLiteral("admin"));
    f->op.then([](QDialog *dlg) {
      QCOMPARE(dlg->windowTitle(), QStringLiteral("交班"));
      QCOMPARE(static_cast<TSwitchDlg *>(dlg)->Title->text(), QStringLiteral("本班总金额：12.50元"));
      ScriptedOperator::click("Button1")(dlg);
    });
    Part(Forms.MainForm, "N6")->trigger();
    QCOMPARE(f->op.dialogs.last(), QStringLiteral("SwitchDlg"));
    QCOMPARE(Forms.MainForm->OperatorName(), QStringLiteral("admin"));
    QCOMPARE(Forms.MainForm->ShiftTotal(), Cents(1250));
    QCOMPARE(Forms.MainForm->windowTitle(), QStringLiteral("IP电话计费程序 v2.14 - admin"));
  }

  void anotherOperatorTakesOverAfterAFailedTry()
  {
    f->dir.write(LASTLOG_FILE, "admin 12.50");
    f->logIn(QStringLiteral("admin"));
    const QString title = QStringLiteral("本班总金额：12.50元");
    f->op.then(titledLogIn(title, QStringLiteral("张三"), QStringLiteral("wrong")))
        .then(titledLogIn(title, QStringLiteral("李四"), QString()))
        .then(titledLogIn(title, QStringLiteral("张三"), QStringLiteral("密码")));
    Part(Forms.MainForm, "N6")->trigger();
    QCOMPARE(f->op.messages.size(), 1);  // only the wrong password is told
    QCOMPARE(f->op.messages[0].text, QStringLiteral("用户名/密码错误！"));
    TMainForm *main = Forms.MainForm;
    QCOMPARE(main->OperatorName(), QStringLiteral("张三"));
    QCOMPARE(main->ShiftTotal(), Cents(0));
    QCOMPARE(main->windowTitle(), QStringLiteral("IP电话计费程序 v2.14 - 张三"));
    QVERIFY(!Part(main, "UserMgr")->isEnabled());
    QVERIFY(!Part(main, "ShopSet")->isEnabled());
    QVERIFY(!Part(main, "SetRate")->isEnabled());
    // The record names the new operator at once: a restart before his first
    // checkout does not let the previous operator hand the shift over again.
    QCOMPARE(f->dir.read(LASTLOG_FILE), kZhangSanGbk + " 0.00");
    restart(QStringLiteral("admin"));
    QCOMPARE(Forms.MainForm->ShiftTotal(), Cents(0));
  }

  void administratorTakingOverGetsTheMenus()
  {
    f->logIn(QStringLiteral("张三"), QStringLiteral("密码"));
    QVERIFY(!Part(Forms.MainForm, "UserMgr")->isEnabled());
    f->op.then(ScriptedOperator::logIn(QStringLiteral("admin"), QString()));
    Part(Forms.MainForm, "N6")->trigger();
    QVERIFY(Part(Forms.MainForm, "UserMgr")->isEnabled());
    QVERIFY(Part(Forms.MainForm, "SetRate")->isEnabled());
  }

  void theOperatorOnDutyTakingOverStartsAtZero()
  {
    f->dir.write(LASTLOG_FILE, "admin 12.50");
    f->logIn(QStringLiteral("admin"));
    f->op.then(titledLogIn(QStringLiteral("本班总金额：12.50元"), QStringLiteral("admin"), QString()))
        .then(titledLogIn(QStringLiteral("本班总金额：0.00元"), QStringLiteral("admin"), QString()));
    Part(Forms.MainForm, "N6")->trigger();
    QCOMPARE(Forms.MainForm->ShiftTotal(), Cents(0));
    Part(Forms.MainForm, "N6")->trigger();
  }

  void takingsSurviveARestartForTheSameOperatorOnly()
  {
    f->logIn(QStringLiteral("张三"), QStringLiteral("密码"));
    // What a confirmed checkout of 12.50 leaves behind.
    Forms.MainForm->SetShiftTotal(Forms.MainForm->ShiftTotal() + 1250);
    Forms.MainForm->WriteLastLog();
    QCOMPARE(f->dir.read(LASTLOG_FILE), kZhangSanGbk + " 12.50");

    restart(QStringLiteral("张三"), QStringLiteral("密码"));
    f->op.then([](QDialog *dlg) {
      QCOMPARE(static_cast<TSwitchDlg *>(dlg)->Title->text(), QStringLiteral("本班总金额：12.50元"));
      ScriptedOperator::click("Button1")(dlg);
    });
    Part(Forms.MainForm, "N6")->trigger();

    restart(QStringLiteral("admin"));
    QCOMPARE(Forms.MainForm->ShiftTotal(), Cents(0));
    QCOMPARE(f->dir.read(LASTLOG_FILE), QByteArray("admin 0.00"));
  }
};

FORMS_TEST_MAIN(TestSwitchDlg)
#include "test_switch.moc"
