// The statistics report over a running engine: calls made by a gateway line
// on the real port, three of them settled as the checkout settles them and one
// not, then the window's default range, the inclusive ends, the total, the
// saved text file, and the row texts themselves.
#include <QAction>
#include <QDateEdit>
#include <QFileDialog>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimeEdit>
#include <QTreeWidget>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "FormsTest.h"
#include "MonitorTest.h"
#include "Gbk.h"
#include "LineText.h"
#include "PriceDetail.h"
#include "Report.h"
#include "ReportFile.h"
#include "testkit.h"
#include "quenta/quenta.h"

namespace {

const QByteArray kZhangSanGbk = "\xd5\xc5\xc8\xfd";  // 张三
const char *const kMachine = "RPT-GW";

void keepCdr(void *record, void *param)
{
  static_cast<std::vector<cdr_info> *>(param)->push_back(*static_cast<cdr_info *>(record));
}

/* The unsettled record of the line's call, once the engine has stored it. */
cdr_info storedCall(int line)
{
  const std::string machine = std::string("machineid='") + kMachine + "'";
  const std::string lineid = "lineid=" + std::to_string(line);
  const char *conds[] = {machine.c_str(), lineid.c_str(), "flag=0", nullptr};
  for (int waited = 0; waited < 3000; waited += 20) {
    std::vector<cdr_info> rows;
    if (quenta_selectCDRTable(conds, keepCdr, &rows) == 0 && !rows.empty())
      return rows.back();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return cdr_info{};
}

/* One call on the line: it announces itself, is connected to the number and
 * hangs up at once. */
cdr_info makeCall(testkit::GatewaySocket &gw, int line, const std::string &number)
{
  const std::string id = std::to_string(line);
  const testkit::Attrs idle = {{"machine_id", kMachine}, {"line_id", id}, {"state", "IDLE"}};
  [&] {
    QVERIFY(gw.exchange(testkit::message("KeepAlive", idle)));
    QVERIFY(gw.exchange(testkit::message("Connected", {{"machine_id", kMachine},
                                                       {"line_id", id},
                                                       {"state", "CONNECTED"},
                                                       {"src_num", "801"},
                                                       {"dest_num", number}})));
    QVERIFY(gw.exchange(testkit::message("KeepAlive", idle)));
  }();
  return storedCall(line);
}

/* What a confirmed checkout does with the call. */
void settle(const cdr_info &call)
{
  const bill_info *priced = quenta_getbill(call.callid);
  QVERIFY(priced);
  bill_info bill = *priced;
  quenta_save(&bill, kZhangSanGbk.constData());
  const std::string byId = std::string("callid='") + call.callid + "'";
  const char *conds[] = {byId.c_str(), nullptr};
  const char *sets[] = {"flag=1", nullptr};
  QCOMPARE(quenta_updateCDRTable(conds, sets), 0);
}

}  // namespace

class TestReportFrm : public QObject {
  Q_OBJECT

  // One station for the suite: the engine keeps the database of the
  // directory it was started in for the rest of the process.
  std::unique_ptr<FormsFixture> f;
  std::vector<cdr_info> settled; /* the calls to 010, 020, 030 */
  cdr_info unsettled{};          /* the call to 040 */

  TReportFrm *report() const { return Forms.ReportFrm; }
  QStringList row(int i) const
  {
    QStringList texts;
    for (int c = 0; c < REPORT_COLUMNS; c++)
      texts.append(report()->ReportTable->topLevelItem(i)->text(c));
    return texts;
  }
  QStringList listedNumbers() const
  {
    QStringList numbers;
    for (int i = 0; i < report()->ReportTable->topLevelItemCount(); i++)
      numbers.append(row(i)[0]);
    return numbers;
  }

private slots:
  void initTestCase()
  {
    f = std::make_unique<FormsFixture>();
    f->dir.write("rateinfo", ".default||0.00|0:00:00-0.00|0:0.00|0|60\n"
                             "A|010|1.20|0:00:00-0.00|0:0.00|0|60\n"
                             "B|020|0.60|0:00:00-0.00|0:0.00|0|60\n"
                             "C|030|2.00|0:00:00-0.00|0:0.00|0|60\n");
    f->logIn(QStringLiteral("admin"));
    QVERIFY(!Forms.MainForm->OperatorName().isEmpty());

    testkit::GatewaySocket gw;
    const char *numbers[] = {"0105550001", "0205550002", "0305550003"};
    for (int i = 0; i < 3; i++) {
      settled.push_back(makeCall(gw, i + 1, numbers[i]));
      QVERIFY(settled.back().callid[0]);
      settle(settled.back());
    }
    unsettled = makeCall(gw, 4, "0405550004");
    QVERIFY(unsettled.callid[0]);
  }
  void cleanup() { f->op.verify(); }
  void cleanupTestCase()
  {
    f->verifyScriptDone();
    f.reset();
  }

  void todaysSettledCallsAreListedWithTheirTotal()
  {
    Part(Forms.MainForm, "N8")->trigger();
    QVERIFY(report()->isVisible());
    const QDateTime now = QDateTime::currentDateTime();
    QCOMPARE(report()->FromDate->date(), now.date());
    // In Chinese, whatever the machine's locale.
    const QString weekday = QStringLiteral("一二三四五六日").mid(now.date().dayOfWeek() - 1, 1);
    QCOMPARE(report()->FromDate->text(), QStringLiteral("%1年%2月%3日星期%4")
                                             .arg(now.date().year())
                                             .arg(now.date().month())
                                             .arg(now.date().day())
                                             .arg(weekday));
    QCOMPARE(report()->FromTime->time(), QTime(0, 0, 0));
    QCOMPARE(report()->ToDate->date(), now.date());
    QVERIFY(qAbs(report()->ToTime->time().secsTo(now.time())) <= 2);
    QCOMPARE(report()->ToTime->time().msec(), 0);
    const int widths[] = {150, 200, 80, 60};
    for (int c = 0; c < 4; c++)
      QCOMPARE(report()->ReportTable->columnWidth(c), widths[c]);

    report()->Button2->click();
    QCOMPARE(listedNumbers(), (QStringList{"0105550001", "0205550002", "0305550003"}));  // not the unsettled 040
    for (int i = 0; i < 3; i++) {
      const QStringList texts = row(i);
      QCOMPARE(texts[1], QString::fromLatin1(settled[i].bdate));
      bool seconds = false;
      QVERIFY(texts[2].toInt(&seconds) >= 0 && seconds);
      QCOMPARE(texts[4], QStringLiteral("张三"));
    }
    QCOMPARE(row(0)[3], QStringLiteral("1.20"));
    QCOMPARE(row(1)[3], QStringLiteral("0.60"));
    QCOMPARE(row(2)[3], QStringLiteral("2.00"));
    QCOMPARE(report()->Info->text(), QStringLiteral("总计：3.80"));
  }

  void aCallsBreakdownIsShownOnRequest_data()
  {
    QTest::addColumn<QByteArray>("rule");
    QTest::addColumn<QString>("shown");
    QTest::newRow("GBK name") << QByteArray("\xb9\xfa\xbc\xca") << "国际";  // 国际
    QTest::newRow("default rule") << QByteArray(".default") << "默认费率";
    QTest::newRow("unknown") << QByteArray() << "";
  }
  void aCallsBreakdownIsShownOnRequest()
  {
    QFETCH(QByteArray, rule);
    QFETCH(QString, shown);
    QCOMPARE(RuleShownName(rule), shown);
    if (QTest::currentDataTag() != QLatin1String("unknown"))
      return;
    // A listed call's own, from the price the engine froze for it.
    report()->show();
    report()->RunReport("0000", "9999");
    QTreeWidgetItem *item = report()->ReportTable->findItems("0105550001", Qt::MatchExactly).value(0);
    QVERIFY(item);
    emit report()->ReportTable->itemDoubleClicked(item, 0);
    QCOMPARE(f->op.messages.last().caption, QStringLiteral("计费明细"));
    QVERIFY2(f->op.messages.last().text.contains(QStringLiteral("费率：A\n")) &&
                 f->op.messages.last().text.endsWith(QStringLiteral("合计：1.20元")),
             qPrintable(f->op.messages.last().text));
    f->op.messages.removeLast();
  }

  void bothEndsOfTheRangeAreInclusive()
  {
    const QByteArray begin = settled[0].bdate;
    report()->RunReport(begin, begin);
    QVERIFY(listedNumbers().contains(QStringLiteral("0105550001")));
    for (int i = 0; i < report()->ReportTable->topLevelItemCount(); i++)
      QCOMPARE(row(i)[1], QString::fromLatin1(begin));

    const QDateTime start = QDateTime::fromString(QString::fromLatin1(begin), "yyyy-MM-dd HH:mm:ss");
    report()->RunReport(StationTime(start.addSecs(1)), "9999-12-31 23:59:59");
    QVERIFY(!listedNumbers().contains(QStringLiteral("0105550001")));

    report()->RunReport("2000-01-01 00:00:00", "2000-01-01 23:59:59");
    QCOMPARE(report()->ReportTable->topLevelItemCount(), 0);
    QCOMPARE(report()->Info->text(), QStringLiteral("总计：0.00"));
  }

  void theListIsSavedAsHeadingAndOneLinePerRow()
  {
    report()->RunReport("2000-01-01 00:00:00", "9999-12-31 23:59:59");
    const QString path = f->dir.file("report.txt");
    f->op.then([path](QDialog *dlg) {
      auto *save = qobject_cast<QFileDialog *>(dlg);
      QVERIFY(save);
      QCOMPARE(save->acceptMode(), QFileDialog::AcceptSave);
      save->selectFile(path);
      static_cast<QDialog *>(save)->accept();  // as its Save button does
    });
    report()->Button1->click();
    const QList<QByteArray> lines = f->dir.read("report.txt").split('\n');
    QCOMPARE(lines.size(), 5);  // four lines, each ended
    QCOMPARE(lines[0], *ToGbk(QStringLiteral("号码, 起始时间, 通话时长, 金额, 管理员")));
    for (int i = 0; i < 3; i++)
      QCOMPARE(lines[i + 1], ToGbk(row(i).join(QStringLiteral(", "))).value());
    QVERIFY(lines[1].startsWith("0105550001, " + QByteArray(settled[0].bdate) + ", "));
    QVERIFY(lines[1].endsWith(", 1.20, " + kZhangSanGbk));
    QCOMPARE(lines[4], QByteArray());

    // Cancelled: nothing written; unwritable: the operator is told.
    QFile::remove(path);
    f->op.then([](QDialog *dlg) { dlg->reject(); });
    report()->Button1->click();
    QVERIFY(!f->dir.exists("report.txt"));
    QVERIFY(!report()->SaveReport(f->dir.file("no-such-folder") + "/report.txt"));
    QCOMPARE(f->op.messages.size(), 1);
    QCOMPARE(f->op.messages[0].caption, QStringLiteral("错误"));
  }

  // "Everything" as a range: the chart spans the days that have takings,
  // not the millions of days between the range's ends.
  void aChartOfAWholeEraSpansItsTakings()
  {
    const QHash<QByteArray, qint64> cents{{"2026-12-01", 120}, {"2026-12-03", 80}};
    const QList<ChartPoint> points = ChartPoints("2000-01-01 00:00:00", "9999-12-31 23:59:59", cents);
    QCOMPARE(points.size(), 3);
    QCOMPARE(points[0].start.date(), QDate(2026, 12, 1));
    QCOMPARE(points[1].cents, 0);
    QCOMPARE(points[2].cents, 80);
    QVERIFY(ChartPoints("2000-01-01 00:00:00", "9999-12-31 23:59:59", {}).isEmpty());
    QCOMPARE(ChartPoints("2026-11-01 00:00:00", "2026-11-30 23:59:59", {}).size(), 30);
  }

  void rowsAndConditionsAreComposedForTheEngine()
  {
    report_info info{};
    qstrcpy(info.m_cdr.desnum, "0105550001");
    qstrcpy(info.m_cdr.bdate, "2026-12-09 08:00:00");
    info.m_bill.m_calltime = 125;  // plain seconds, not hours and minutes
    info.m_bill.m_count = 0.125f;
    qstrcpy(info.m_bill.m_admin, kZhangSanGbk.constData());
    const ReportRow r = ReportRowOf(info);
    QCOMPARE(ReportFileText({r}), *ToGbk(QStringLiteral(REPORT_HEADING "\n")) +
                                      "0105550001, 2026-12-09 08:00:00, 125, 0.12, " + kZhangSanGbk + "\n");
    info.m_bill.m_calltime = -30;  // ended before it began: the clock was set back
    QCOMPARE(ReportRowOf(info).seconds, QByteArray("0"));
    QCOMPARE(StationTime(QDateTime(QDate(2026, 1, 2), QTime(3, 4, 5))), QByteArray("2026-01-02 03:04:05"));
    QCOMPARE(ReportConditions("a", "b"),
             (QList<QByteArray>{"cdrtbl.bdate>='a'", "cdrtbl.bdate<='b'", "billtbl.callid=cdrtbl.callid"}));
  }
};

FORMS_TEST_MAIN(TestReportFrm)
#include "test_report.moc"
