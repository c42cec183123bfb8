// The audit trail through the console's windows: a shift's work, from a
// failed login to the handover, lands in "audittbl" in order with the owner's
// words; an entry the engine cannot take waits (in its file across a
// restart), is told in the status bar and goes in later with its own moment;
// the report's tab lists and filters it.
#include <QComboBox>
#include <QDateEdit>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QStatusBar>
#include <QTabWidget>
#include <QTimeEdit>

#include "Audit.h"
#include "AuditTab.h"
#include "BillFrm.h"
#include "DepositDlg.h"
#include "EngineTest.h"
#include "Forms.h"
#include "Gbk.h"
#include "RateFrm.h"
#include "Report.h"
#include "ShiftRecord.h"
#include "ShopDlg.h"
#include "UserMgr.h"

namespace {

const QByteArray kZhangSanGbk = "\xd5\xc5\xc8\xfd";                   // 张三
const QByteArray kZhangSanMima = "58b6b09f6c5ec2d6317253f3d1be59ed";  // 张三 / 密码

/* The entries since the moment, as "operator action detail". */
QStringList TrailSince(const QByteArray &since)
{
  QList<AuditRow> rows;
  [&] { QVERIFY(QueryAudit(since, "9999", QString(), QString(), &rows)); }();
  QStringList texts;
  for (const AuditRow &r : rows)
    texts.append(r.admin + QLatin1Char(' ') + r.action + QLatin1Char(' ') + r.detail);
  return texts;
}

Answer typeMoney(const QString &money)
{
  return [money](QDialog *dlg) {
    auto *bill = qobject_cast<TBillForm *>(dlg);
    QTest::keyClicks(bill ? bill->Money : static_cast<TDepositDlg *>(dlg)->Money, money);
    ScriptedOperator::click("OKBtn")(dlg);
  };
}

}  // namespace

class TestAudit : public QObject {
  Q_OBJECT

  std::unique_ptr<StationFixture> s;

private slots:
  void init()
  {
    s = std::make_unique<StationFixture>();
    s->forms->dir.write(PASSWD_FILE, "admin\n" + kZhangSanGbk + " " + kZhangSanMima + "\n");
  }
  void cleanup()
  {
    s->forms->verifyScriptDone();
    s.reset();
  }

  void aShiftsWorkIsRecordedInOrder()
  {
    const QByteArray since = StationTime(QDateTime::currentDateTime());
    s->forms->op.then(ScriptedOperator::logIn(QStringLiteral("admin"), QStringLiteral("猜的")));
    s->logIn();
    const QByteArray m = FreshMachine();
    TestLine a(m, 0);
    QVERIFY(a.discovery());
    s->main->PollLines();
    const QString line = s->entry(m, 0)->name;
    s->main->Monitor()->SelectLine(s->row(m, 0));

    s->forms->op.then(typeMoney(QStringLiteral("20")));
    Part(s->main, "LineDeposit")->trigger();
    s->forms->op.then(ScriptedOperator::click("OKBtn"));
    emit Part<QMenu>(s->main, "PopupMenu1")->aboutToShow();
    Part(s->main, "LineRefund")->trigger();
    QVERIFY(a.call("0105550001"));
    s->main->PollLines();
    s->forms->op.then(typeMoney(QStringLiteral("5")));
    s->button(m, 0)->click();
    emit Part<QMenu>(s->main, "PopupMenu1")->aboutToShow();
    Part(s->main, "LineDeny")->trigger();
    Part(s->main, "LinePermit")->trigger();

    TRateForm *rates = Forms.RateForm;
    rates->show();
    rates->Button2->click();
    rates->NameEdit->setText(QStringLiteral("北京"));
    rates->PrefixEdit->setText(QStringLiteral("010"));
    rates->RateEdit[0]->setText(QStringLiteral("0.30"));
    rates->SaveBtn->click();
    rates->RateEdit[0]->setText(QStringLiteral("0.40"));
    rates->SaveBtn->click();
    s->forms->op.then(ScriptedOperator::click("OKBtn"));
    rates->Button3->click();

    Forms.UserMgrFrm->show();
    s->forms->op.then(ScriptedOperator::fill(
        {{"Username", QStringLiteral("李四")}, {"Password", QStringLiteral("x")}, {"Password2", QStringLiteral("x")}}));
    Forms.UserMgrFrm->AddUserBtn->click();
    s->forms->op.then([](QDialog *dlg) {
      static_cast<TShopDlg *>(dlg)->ShopName->setText(QStringLiteral("东店"));
      ScriptedOperator::click("OKBtn")(dlg);
    });
    Part(s->main, "ShopSet")->trigger();
    s->forms->op.then(ScriptedOperator::logIn(QStringLiteral("张三"), QStringLiteral("密码")));
    Part(s->main, "N6")->trigger();
    s->main->WaitForBackup();
    // The wrong password at the login; the rate editor closing at the handover.
    QCOMPARE(s->forms->op.messages.size(), 2);
    QCOMPARE(s->forms->op.messages[0].text, QStringLiteral("用户名/密码错误！"));
    QCOMPARE(s->forms->op.messages[1].text, QStringLiteral(RATE_CLOSE_NOTE));

    const QString ours = QStringLiteral("线路“%1”").arg(line);
    auto rule = [](const char *price) {
      return QStringLiteral("北京（010）：0.00|0:00:00-%1|0:0.00|0|60").arg(QLatin1String(price));
    };
    const QStringList expected = {
        QStringLiteral("admin 登录失败 登录窗口：操作员名或密码不对"),
        QStringLiteral("admin 登录 开始新的一班"),
        QStringLiteral("admin 备份数据库 ") + QDir::toNativeSeparators(s->forms->dir.path()),  // the day's copy
        QStringLiteral("admin 收押金 %1收20.00元，押金共20.00元").arg(ours),
        QStringLiteral("admin 退押金 %1退还押金20.00元").arg(ours),
        QStringLiteral("admin 结帐 %1个通话：应付1.20元，已付5.00元，找零3.80元").arg(ours + QLatin1Char('1')),
        QStringLiteral("admin 禁止呼叫 ") + ours,
        QStringLiteral("admin 允许呼叫 ") + ours,
        QStringLiteral("admin 修改费率 新增 ") + rule("0.30"),
        QStringLiteral("admin 修改费率 原为 %1，改为 %2").arg(rule("0.30"), rule("0.40")),
        QStringLiteral("admin 修改费率 删除 ") + rule("0.40"),
        QStringLiteral("admin 添加操作员 李四"),
        QStringLiteral("admin 店铺设置 店名：（空） → 东店"),
        QStringLiteral("admin 交班 交给张三，本班交出1.20元，应有现金 1.20元，没有点现金"),
        QStringLiteral("张三 备份数据库 ") + QDir::toNativeSeparators(s->forms->dir.path()),
    };
    QStringList trail = TrailSince(since);
    // The backups' files carry the moment: only their folder is compared.
    for (QString &t : trail)
      if (t.contains(QStringLiteral(" 备份数据库 ")))
        t = t.left(t.indexOf(QStringLiteral("/backups")));
    QCOMPARE(trail, expected);
  }

  void anEntryTheEngineRefusesWaitsAndIsTold()
  {
    s->logIn();
    sqlite3 *db = nullptr;
    const QByteArray path = EngineDir()->filePath(QStringLiteral("quentadb")).toLocal8Bit();
    QCOMPARE(sqlite3_open(path.constData(), &db), SQLITE_OK);
    QCOMPARE(sqlite3_exec(db, "begin exclusive", nullptr, nullptr, nullptr), SQLITE_OK);
    QVERIFY(!Audit(AUDIT_SHOP, QStringLiteral("一")));  // waits out the engine's busy time
    QCOMPARE(Part<QStatusBar>(s->main, "StatusBar1")->currentMessage(), QStringLiteral("操作记录暂未保存（1条待存）"));
    const QByteArray waiting = s->forms->dir.read(AUDIT_PENDING_FILE);
    QVERIFY2(waiting.endsWith("\tadmin\t" + *ToGbk(QStringLiteral("店铺设置\t一\n"))), waiting.constData());
    sqlite3_exec(db, "rollback", nullptr, nullptr, nullptr);
    sqlite3_close(db);

    // The program ends; at the next start the entry goes in first, once, with
    // the moment it happened, and its file is gone.
    s->restart();
    QVERIFY(!s->forms->dir.exists(AUDIT_PENDING_FILE));
    QList<AuditRow> rows;
    QVERIFY(QueryAudit("0000", "9999", QStringLiteral("admin"), QString(), &rows));
    QVERIFY(rows.size() >= 2);
    const AuditRow &first = rows[rows.size() - 2], &second = rows.last();
    QCOMPARE(first.action + first.detail + second.action, QStringLiteral("店铺设置一登录"));
    QVERIFY(first.date < second.date);
  }

  void theReportsTabListsAndFilters_data()
  {
    QTest::addColumn<QString>("admin");
    QTest::addColumn<QString>("action");
    QTest::addColumn<QStringList>("details");
    QTest::newRow("all") << QStringLiteral("全部") << QStringLiteral("全部") << QStringList({"a", "b", "c", "d"});
    QTest::newRow("operator") << QStringLiteral("张三") << QStringLiteral("全部") << QStringList({"b", "d"});
    QTest::newRow("action") << QStringLiteral("全部") << QStringLiteral("登录") << QStringList({"a", "d"});
    QTest::newRow("both") << QStringLiteral("张三") << QStringLiteral("登录") << QStringList({"d"});
    QTest::newRow("a name typed") << QStringLiteral("nobody") << QStringLiteral("全部") << QStringList();
  }
  void theReportsTabListsAndFilters()
  {
    QFETCH(QString, admin);
    QFETCH(QString, action);
    QFETCH(QStringList, details);
    static bool stored = false;
    const char *entries[][4] = {
        {"2025-05-31 23:59:59", "admin", "登录", "before"},       {"2025-06-01 00:00:00", "admin", "登录", "a"},
        {"2025-06-01 09:00:00", "\xd5\xc5\xc8\xfd", "结帐", "b"}, {"2025-06-01 10:00:00", "admin", "修改费率", "c"},
        {"2025-06-02 23:59:59", "\xd5\xc5\xc8\xfd", "登录", "d"}, {"2025-06-03 00:00:00", "admin", "登录", "after"}};
    for (const auto &e : entries)
      if (!stored)
        QCOMPARE(quenta_auditAt(e[0], e[1], ToGbk(QString::fromUtf8(e[2]))->constData(), e[3]), 0);
    stored = true;

    TReportFrm *report = Forms.ReportFrm;
    report->show();
    report->FromDate->setDate(QDate(2025, 6, 1));
    report->FromTime->setTime(QTime(0, 0));
    report->ToDate->setDate(QDate(2025, 6, 2));
    report->ToTime->setTime(QTime(23, 59, 59));
    report->Button2->click();
    report->ReportTabs->setCurrentWidget(report->AuditPage);
    TAuditTab *tab = report->AuditPage;
    tab->AuditOperator->setCurrentText(admin);
    tab->AuditOperator->lineEdit()->editingFinished();
    tab->AuditAction->setCurrentText(action);
    QStringList listed;
    for (int i = 0; i < tab->AuditTable->topLevelItemCount(); i++)
      listed.append(tab->AuditTable->topLevelItem(i)->text(3));
    QCOMPARE(listed, details);
    QCOMPARE(tab->AuditInfo->text(), QStringLiteral("共 %1 条操作记录").arg(details.size()));
    QCOMPARE(report->CsvRows().size(), details.size() + 1);  // the export follows the tab
  }
};

ENGINE_TEST_MAIN(TestAudit)
#include "test_audit.moc"
