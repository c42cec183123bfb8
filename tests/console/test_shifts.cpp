// The shift history: every handover appended to "shifttbl" in the agreed
// shape, with the moment its shift began (kept across restarts in
// "shiftstart"), what it handed over and to whom; and the report's tab that
// sets each handover beside the bills of its shift, a difference marked.
#include <QAction>
#include <QDateEdit>
#include <QLabel>
#include <QPushButton>
#include <QTabWidget>
#include <QTimeEdit>
#include <QTreeWidget>

#include "EngineTest.h"
#include "Report.h"
#include "ShiftRecord.h"

namespace {

const QByteArray kZhangSanGbk = "\xd5\xc5\xc8\xfd";                     // 张三
const QByteArray kZhangSanMima = "58b6b09f6c5ec2d6317253f3d1be59ed";    // 张三 / 密码
const QByteArray kPasswd = "admin\n" + kZhangSanGbk + " " + kZhangSanMima + "\n";
const QByteArray kLongAgo = "2026-01-01 08:00:00";

/* The first column of the first row of a query on the engine's database. */
QByteArray engineValue(const QByteArray &sql)
{
  sqlite3 *db = nullptr;
  QByteArray value;
  const QByteArray path = EngineDir()->filePath(QStringLiteral("quentadb")).toLocal8Bit();
  if (sqlite3_open(path.constData(), &db) == SQLITE_OK)
    sqlite3_exec(db, sql.constData(), [](void *p, int, char **v, char **) {
      *static_cast<QByteArray *>(p) = v[0] ? v[0] : "";
      return 1;
    }, &value, nullptr);
  sqlite3_close(db);
  return value;
}

/* The newest handover. */
ShiftRow lastShift()
{
  QList<ShiftRow> rows;
  [&] { QVERIFY(QueryShifts("0000", "9999", &rows)); }();
  return rows.isEmpty() ? ShiftRow() : rows.last();
}

void storeBill(const char *admin, const char *date, const char *amount)
{
  QVERIFY(execOnEngineDb(QByteArray("insert into billtbl values('shift-test', 60, '', ") + amount + ", " +
                         Literal(admin) + ", " + Literal(date) + ")"));
}

} // namespace

class TestShifts : public QObject {
  Q_OBJECT

  std::unique_ptr<StationFixture> s;

  void handOverTo(const QString &name, const QString &password)
  {
    s->forms->op.then(ScriptedOperator::logIn(name, password));
    s->main->N6->trigger();
  }

private slots:
  void init()
  {
    s = std::make_unique<StationFixture>();
    s->forms->dir.write(PASSWD_FILE, kPasswd);
  }
  void cleanup()
  {
    s->forms->verifyScriptDone();
    s.reset();
  }

  void aHandoverAppendsTheShiftThatEnds()
  {
    s->logIn(QStringLiteral("admin"));
    const QByteArray began = s->main->ShiftStart();
    QCOMPARE(s->forms->dir.read(SHIFTSTART_FILE), began + " admin");
    QVERIFY(execOnEngineDb("delete from billtbl where admin='admin'"));
    bill_info bill{};
    qstrcpy(bill.m_callid, "shift-test");
    bill.m_count = 12.5f;
    quenta_save(&bill, "admin");  // stored now, within the shift
    s->main->SetShiftTotal(1250);
    handOverTo(QStringLiteral("张三"), QStringLiteral("密码"));

    const ShiftRow r = lastShift();
    QCOMPARE(r.begin, began);
    QVERIFY(r.end >= began && r.end <= StationTime(QDateTime::currentDateTime()));
    QCOMPARE(r.outgoing, QStringLiteral("admin"));
    QCOMPARE(r.incoming, QStringLiteral("张三"));
    QCOMPARE(r.takingsCents, 1250);
    QCOMPARE(r.bills, 1);
    QCOMPARE(r.billCents, 1250);
    // The next shift begins at the handover, and the file says whose it is.
    QCOMPARE(s->main->ShiftStart(), r.end);
    QCOMPARE(s->forms->dir.read(SHIFTSTART_FILE), r.end + " " + kZhangSanGbk);

    // The agreed shape (SQLite keeps the statement with its first words in
    // capitals), which the chain's collector reads; the takings a number.
    QCOMPARE(engineValue("select sql || ' ' || (select typeof(takings) || ' ' || takings from shifttbl "
                         "order by rowid desc) from sqlite_master where name='shifttbl'"),
             QByteArray("CREATE TABLE shifttbl(bdate varchar(128), edate varchar(128), outgoing varchar(64), "
                        "takings real, incoming varchar(64)) real 12.5"));
  }

  void theBeginningOfAShiftSurvivesARestart_data()
  {
    QTest::addColumn<QByteArray>("lastlog");
    QTest::addColumn<QByteArray>("shiftstart");
    QTest::addColumn<bool>("continued");  // else the shift counts from the login
    QTest::addColumn<int>("cents");       // handed over: what "lastlog" continued
    QTest::newRow("continued") << kZhangSanGbk + " 5.00" << kLongAgo + " " + kZhangSanGbk << true << 500;
    QTest::newRow("another operator's shift") << QByteArray("admin 5.00") << kLongAgo + " " + kZhangSanGbk
                                              << false << 0;
    QTest::newRow("no beginning kept") << kZhangSanGbk + " 5.00" << QByteArray() << false << 500;
    QTest::newRow("beginning of another") << kZhangSanGbk + " 5.00" << kLongAgo + " admin" << false << 500;
    QTest::newRow("beginning unreadable") << kZhangSanGbk + " 5.00" << "yesterday " + kZhangSanGbk << false
                                          << 500;
  }
  void theBeginningOfAShiftSurvivesARestart()
  {
    QFETCH(QByteArray, lastlog);
    QFETCH(QByteArray, shiftstart);
    QFETCH(bool, continued);
    QFETCH(int, cents);
    s->forms->dir.write(LASTLOG_FILE, lastlog);
    if (!shiftstart.isEmpty())
      s->forms->dir.write(SHIFTSTART_FILE, shiftstart);
    const QByteArray before = StationTime(QDateTime::currentDateTime());
    s->logIn(QStringLiteral("张三"), QStringLiteral("密码"));
    if (continued)
      QCOMPARE(s->main->ShiftStart(), kLongAgo);
    else
      QVERIFY(s->main->ShiftStart() >= before);
    const QByteArray begin = s->main->ShiftStart();
    QCOMPARE(s->forms->dir.read(SHIFTSTART_FILE), begin + " " + kZhangSanGbk);

    handOverTo(QStringLiteral("admin"), QString());
    const ShiftRow r = lastShift();
    QCOMPARE(r.begin, begin);
    QCOMPARE(r.outgoing, QStringLiteral("张三"));
    QCOMPARE(r.takingsCents, cents);
  }

  void theReportSetsEachHandoverBesideItsBills()
  {
    storeBill("wang", "2025-05-01 09:00:00", "3.0");
    storeBill("wang", "2025-05-01 20:00:00", "1.5");   // at the handover: still this shift
    storeBill("wang", "2025-05-01 21:00:00", "7.0");   // in li's shift, but not li's bill
    storeBill("wang", "2025-05-02 09:00:00", "7.0");
    const QString wang = QStringLiteral("wang"), li = QStringLiteral("li");
    QVERIFY(StoreHandover("2025-05-01 08:00:00", "2025-05-01 20:00:00", wang, 450, li));
    QVERIFY(StoreHandover("2025-05-01 20:00:00", "2025-05-02 08:00:00", li, 100, wang));
    QVERIFY(StoreHandover("2025-05-02 08:00:00", "2025-05-02 20:00:00", wang, 600, li));
    QVERIFY(StoreHandover("2025-05-02 20:00:00", "2025-05-03 08:00:00", li, 0, wang));  // after the range

    TReportFrm *report = Forms.ReportFrm;
    report->show();
    report->FromDate->setDate(QDate(2025, 5, 1));
    report->FromTime->setTime(QTime(0, 0));
    report->ToDate->setDate(QDate(2025, 5, 2));
    report->ToTime->setTime(QTime(23, 59, 59));
    report->Button2->click();
    report->ReportTabs->setCurrentIndex(1);

    const QStringList expected[] = {
        {"2025-05-01 08:00:00", "2025-05-01 20:00:00", "wang", "4.50", "li", "2", "4.50", "相符"},
        {"2025-05-01 20:00:00", "2025-05-02 08:00:00", "li", "1.00", "wang", "0", "0.00", "长款 1.00"},
        {"2025-05-02 08:00:00", "2025-05-02 20:00:00", "wang", "6.00", "li", "1", "7.00", "短款 1.00"},
    };
    QTreeWidget *table = report->ShiftTable;
    QCOMPARE(table->topLevelItemCount(), 3);
    for (int i = 0; i < 3; i++) {
      QStringList texts;
      for (int c = 0; c < SHIFT_COLUMNS; c++)
        texts.append(table->topLevelItem(i)->text(c));
      QCOMPARE(texts, expected[i]);
      QCOMPARE(table->topLevelItem(i)->background(7).style() != Qt::NoBrush, i > 0);  // marked red
    }
    QCOMPARE(report->ShiftInfo->text(),
             QStringLiteral("交班 3 次　交班金额合计：11.50　账单金额合计：11.50　其中 2 次不符"));
    // The total under the tabs is the handovers' own, and the calls' again on their tab.
    QCOMPARE(report->Info->text(), QStringLiteral("交班金额总计：11.50"));
    report->ReportTabs->setCurrentIndex(0);
    QVERIFY(report->Info->text().startsWith(QStringLiteral("总计：")));
    report->ReportTabs->setCurrentIndex(1);
    QCOMPARE(report->CsvRows().size(), 4);  // the export follows the tab: heading and three handovers
    QCOMPARE(report->CsvRows()[2][7], QStringLiteral("长款 1.00"));
  }
};

ENGINE_TEST_MAIN(TestShifts)
#include "test_shifts.moc"
