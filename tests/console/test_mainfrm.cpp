// The main window: its windows, the administrator's menus and the
// title, the shift record at login, the windows its menus open, and the
// question before the program ends.
#include <QAction>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QTest>
#include <QTreeWidget>

#include "AddUser.h"
#include "BillFrm.h"
#include "ChangePwd.h"
#include "ChangePwd2.h"
#include "Confirm.h"
#include "FormsTest.h"
#include "MonitorTest.h"
#include "Login.h"
#include "RateFrm.h"
#include "ReceiptDlg.h"
#include "Report.h"
#include "ShopDlg.h"
#include "Switch.h"
#include "UserMgr.h"

namespace {

const QByteArray kZhangSanGbk = "\xd5\xc5\xc8\xfd";                   // 张三
const QByteArray kZhangSanMima = "58b6b09f6c5ec2d6317253f3d1be59ed";  // 张三 / 密码

}  // namespace

class TestMainForm : public QObject {
  Q_OBJECT

  std::unique_ptr<FormsFixture> f;

private slots:
  void init() { f = std::make_unique<FormsFixture>(); }
  void cleanup()
  {
    f->verifyScriptDone();
    f.reset();
  }

  void everyWindowExistsFromTheStart()
  {
    const QList<QPair<QWidget *, QString>> windows = {
        {Forms.BillForm, "结帐"},         {Forms.RateForm, "费率设置"},    {Forms.LoginDlg, "操作员登录"},
        {Forms.UserMgrFrm, "操作员管理"}, {Forms.PasswordDlg, "更改密码"}, {Forms.ChangePwdDlg, "更改密码"},
        {Forms.SwitchDlg, "交班"},        {Forms.ReportFrm, "报表统计"},   {Forms.ConfirmDlg, "确认退出"},
        {Forms.AddUserDlg, "添加操作员"}, {Forms.ShopDlg, "店铺设置"},     {Forms.ReceiptDlg, "重打小票"},
    };
    for (const auto &[window, caption] : windows) {
      QVERIFY(window);
      QCOMPARE(window->windowTitle(), caption);
      QVERIFY2(window->isWindow(), qPrintable(window->objectName()));
      QVERIFY(!window->isVisible());
    }
    QVERIFY(Forms.MainForm);
    const QAbstractItemModel *lines = Forms.MainForm->Monitor()->List()->model();
    QCOMPARE(lines->columnCount(), 8);
    QCOMPARE(lines->headerData(4, Qt::Horizontal).toString(), QStringLiteral("通话时间"));
    // The call's cost so far reads beside its call time.
    QCOMPARE(lines->headerData(6, Qt::Horizontal).toString(), QStringLiteral("本次话费"));
    QCOMPARE(Forms.MainForm->Monitor()->List()->header()->visualIndex(6), 5);
    // Nobody is on duty before the login.
    QVERIFY(!Part(Forms.MainForm, "UserMgr")->isEnabled());
    QVERIFY(!Part(Forms.MainForm, "ShopSet")->isEnabled());
    QVERIFY(!Part(Forms.MainForm, "SetRate")->isEnabled());
  }

  void onlyAdminGetsItsMenus_data()
  {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("password");
    QTest::addColumn<bool>("admin");
    QTest::newRow("admin") << "admin"
                           << "" << true;
    QTest::newRow("Admin") << "Admin"
                           << "" << false;
    QTest::newRow("张三") << "张三"
                          << "密码" << false;
  }
  void onlyAdminGetsItsMenus()
  {
    QFETCH(QString, name);
    QFETCH(QString, password);
    QFETCH(bool, admin);
    f->dir.write(PASSWD_FILE, "admin\nAdmin\n" + kZhangSanGbk + " " + kZhangSanMima + "\n");
    f->logIn(name, password);
    TMainForm *main = Forms.MainForm;
    QCOMPARE(Part(main, "UserMgr")->isEnabled(), admin);
    QCOMPARE(Part(main, "ShopSet")->isEnabled(), admin);
    QCOMPARE(Part(main, "SetRate")->isEnabled(), admin);
    QVERIFY(Part(main, "N5")->isEnabled() && Part(main, "N6")->isEnabled() && Part(main, "N8")->isEnabled());
    QCOMPARE(main->windowTitle(), QStringLiteral("IP电话计费程序 v2.14 - ") + name);
    // The widths are set at login, from the list's font (test_monitor checks them).
    const QList<int> widths = LineColumnWidths(main->Monitor()->List());
    for (int i = 0; i < LINE_COLUMNS - 1; i++)
      QCOMPARE(main->Monitor()->List()->columnWidth(i), widths[i]);
  }

  void loginContinuesOrRestartsTheShift_data()
  {
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<Cents>("total");
    QTest::addColumn<QByteArray>("after");
    QTest::newRow("same operator continues") << QByteArray("admin 12.50") << Cents(1250) << QByteArray("admin 12.50");
    QTest::newRow("another operator's record") << QByteArray("bob 12.50") << Cents(0) << QByteArray("admin 0.00");
    QTest::newRow("no record") << QByteArray() << Cents(0) << QByteArray("admin 0.00");
    QTest::newRow("amount unreadable") << QByteArray("admin x") << Cents(0) << QByteArray("admin x");
  }
  void loginContinuesOrRestartsTheShift()
  {
    QFETCH(QByteArray, before);
    QFETCH(Cents, total);
    QFETCH(QByteArray, after);
    if (!before.isEmpty())
      f->dir.write(LASTLOG_FILE, before);
    f->logIn(QStringLiteral("admin"));
    QCOMPARE(Forms.MainForm->ShiftTotal(), total);
    QCOMPARE(f->dir.read(LASTLOG_FILE), after);
  }

  void menusOpenTheirWindows()
  {
    f->logIn(QStringLiteral("admin"));
    TMainForm *main = Forms.MainForm;
    Part(main, "UserMgr")->trigger();
    Part(main, "SetRate")->trigger();
    Part(main, "N8")->trigger();
    QVERIFY(Forms.UserMgrFrm->isVisible());
    QVERIFY(Forms.RateForm->isVisible());
    QVERIFY(Forms.ReportFrm->isVisible());
    // The own password change names who is on duty.
    f->op.then([](QDialog *dlg) { QCOMPARE(dlg->windowTitle(), QStringLiteral("更改密码 - admin")); });
    Part(main, "N5")->trigger();
    QCOMPARE(f->op.dialogs.last(), QStringLiteral("ChangePwdDlg"));
  }

  void quittingAsksFirst()
  {
    f->logIn(QStringLiteral("admin"));
    TMainForm *main = Forms.MainForm;
    // Rate edits not saved are asked about before anything else; staying
    // in the editor keeps the program running.
    Part(main, "SetRate")->trigger();
    TRateForm *rates = Forms.RateForm;
    rates->RateTable->setCurrentItem(rates->RateTable->topLevelItem(0));
    rates->RateEdit[0]->setText(QStringLiteral("0.55"));
    f->op.then(ScriptedOperator::click("CancelBtn"));
    Part(main, "Exit1")->trigger();
    QCOMPARE(f->op.dialogs.last(), QStringLiteral("UnsavedQuestion"));
    QVERIFY(main->isVisible() && rates->isVisible());
    f->op.then(ScriptedOperator::click("DiscardBtn"));
    QVERIFY(rates->MayClose());
    QVERIFY(rates->close());
    QCOMPARE(f->op.messages.size(), 1);
    QCOMPARE(f->op.messages[0].text, QStringLiteral(RATE_CLOSE_NOTE));
    f->op.then([](QDialog *dlg) {
      auto *question = dlg->findChild<QLabel *>();
      QVERIFY(question);
      QCOMPARE(question->text(), QStringLiteral("确定要退出计费程序吗？"));
      ScriptedOperator::click("CancelBtn")(dlg);
    });
    Part(main, "Exit1")->trigger();
    QCOMPARE(f->op.dialogs.last(), QStringLiteral("ConfirmDlg"));
    QVERIFY(main->isVisible());
    QVERIFY(f->op.ends.isEmpty());

    f->op.then(ScriptedOperator::click("OKBtn"));
    QVERIFY(main->close());
    QVERIFY(!main->isVisible());
    QCOMPARE(f->op.ends, QList<int>{0});
  }
};

FORMS_TEST_MAIN(TestMainForm)
#include "test_mainfrm.moc"
