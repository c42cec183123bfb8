// Takings at a glance: the report's groups by line, rate rule, operator and
// day over a running engine (the rule being the one that prices the number),
// the chart's days and hours, and the CSV file and Excel workbook of what is
// listed, saved through the Chinese file dialog. The calls and bills are
// written into the engine's tables directly, at chosen times.
#include <QCategoryAxis>
#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QDateEdit>
#include <QFileDialog>
#include <QLabel>
#include <QLineSeries>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QStackedWidget>
#include <QTimeEdit>
#include <QTreeView>
#include <QTreeWidget>
#include <QXmlStreamReader>

#include "CsvFile.h"
#include "EngineTest.h"
#include "Report.h"
#include "ReportGroups.h"
#include "ShiftRecord.h"

namespace {

const QByteArray kBeijing = "\xb1\xb1\xbe\xa9";                 // 北京
const QByteArray kBeijingCity = kBeijing + "\xb3\xc7\xc7\xf8";  // 北京城区
const QByteArray kShanghai = "\xc9\xcf\xba\xa3";                // 上海
const QByteArray kRates = ".default||0.00|0:00:00-0.30|0:0.00|0|60\n" + kBeijing +
                          "|010|0.00|0:00:00-0.30|0:0.00|0|60\n" + kBeijingCity +
                          "|0105|0.00|0:00:00-0.30|0:0.00|0|60\n" + kShanghai + "|020|0.00|0:00:00-0.30|0:0.00|0|60\n";

const QByteArray kFrom = "2026-03-01 00:00:00", kTo = "2026-03-02 23:59:59";

/* A settled call: machine, line, number, begin, seconds, amount, operator;
 * its id in the engine's form unless given. */
void storeCall(const char *machine, int line, const char *number, const char *begin, int seconds, const char *amount,
               const char *admin, bool billed = true, const char *callid = nullptr)
{
  const QByteArray id =
      callid ? QByteArray(callid) : QByteArray(machine) + "-" + QByteArray::number(line) + "@" + begin;
  QVERIFY(execOnEngineDb("insert into cdrtbl values(" + Literal(id) + ", " + Literal(machine) + ", " +
                         QByteArray::number(line) + ", '8001', " + Literal(number) + ", " + Literal(begin) + ", " +
                         Literal(begin) + ", 1)"));
  if (billed)
    QVERIFY(execOnEngineDb("insert into billtbl values(" + Literal(id) + ", " + QByteArray::number(seconds) + ", '', " +
                           amount + ", " + Literal(admin) + ", " + Literal(begin) + ")"));
}

QByteArray unzipped(const QString &zip, const char *member)
{
  QProcess unzip;
  unzip.start(QStringLiteral("unzip"), {QStringLiteral("-p"), zip, QLatin1String(member)});
  unzip.waitForFinished();
  return unzip.readAllStandardOutput();
}

/* The first sheet of a workbook, row by row: "s:text" for a text cell, "n:1.2"
 * for a number; what has no cell is "". */
QList<QStringList> sheetRows(const QString &path)
{
  QStringList shared;
  QXmlStreamReader strings(unzipped(path, "xl/sharedStrings.xml"));
  while (!strings.atEnd()) {
    strings.readNext();
    if (strings.isStartElement() && strings.name() == u"si")
      shared.append(QString());
    else if (strings.isStartElement() && strings.name() == u"t")
      shared.last() += strings.readElementText();
  }
  QList<QStringList> rows;
  QXmlStreamReader sheet(unzipped(path, "xl/worksheets/sheet1.xml"));
  QString type;
  int column = 0;
  while (!sheet.atEnd()) {
    sheet.readNext();
    if (sheet.isStartElement() && sheet.name() == u"row") {
      rows.append(QStringList());
    } else if (sheet.isStartElement() && sheet.name() == u"c") {
      const QString ref = sheet.attributes().value(QLatin1String("r")).toString();
      type = sheet.attributes().value(QLatin1String("t")).toString();
      column = ref.at(0).unicode() - 'A';
      while (rows.last().size() <= column)
        rows.last().append(QString());
    } else if (sheet.isStartElement() && sheet.name() == u"v") {
      const QString v = sheet.readElementText();
      rows.last()[column] = type == u"s" ? QStringLiteral("s:") + shared.value(v.toInt()) : QStringLiteral("n:") + v;
    }
  }
  return rows;
}

}  // namespace

class TestTakings : public QObject {
  Q_OBJECT

  std::unique_ptr<FormsFixture> f;
  TReportFrm *report() const { return Forms.ReportFrm; }

  /* Sets the range pickers and presses "确定", as the operator does. */
  void query(const QByteArray &from, const QByteArray &to) const
  {
    const QDateTime a = QDateTime::fromString(QString::fromLatin1(from), "yyyy-MM-dd HH:mm:ss");
    const QDateTime b = QDateTime::fromString(QString::fromLatin1(to), "yyyy-MM-dd HH:mm:ss");
    report()->FromDate->setDate(a.date());
    report()->FromTime->setTime(a.time());
    report()->ToDate->setDate(b.date());
    report()->ToTime->setTime(b.time());
    report()->Button2->click();
  }
  QList<QStringList> listed(const QTreeWidget *list) const
  {
    QList<QStringList> rows;
    for (int i = 0; i < list->topLevelItemCount(); i++) {
      QStringList texts;
      for (int c = 0; c < list->columnCount(); c++)
        texts.append(list->topLevelItem(i)->text(c));
      rows.append(texts);
    }
    return rows;
  }

private slots:
  void initTestCase()
  {
    StartEngineOnce(kRates);
    f = std::make_unique<FormsFixture>();
    storeCall("TK1", 0, "0105550001", "2026-03-01 09:10:00", 125, "1.2", "zhang");
    storeCall("TK1", 1, "0205550002", "2026-03-01 09:40:00", 60, "0.6", "li");
    storeCall("TK2", 0, "0106550003", "2026-03-02 10:00:00", 30, "0.3", "zhang");
    storeCall("TK2", 0, "9995550004", "2026-03-02 23:59:59", 65, "2.0", "li");
    storeCall("TK2", 1, "0105550005", "2026-03-03 00:00:00", 60, "9.0", "li");         // after the range
    storeCall("TK2", 1, "0105550006", "2026-03-01 12:00:00", 60, "9.0", "li", false);  // not settled
    report()->SetLineNames({{{"TK1", 0}, QStringLiteral("前台")}});
    report()->show();
  }
  void cleanup() { f->op.verify(); }
  void cleanupTestCase()
  {
    f->verifyScriptDone();
    f.reset();
  }

  void groupsCountTimeAndSumTheCallsOfTheRange_data()
  {
    QTest::addColumn<int>("by");
    QTest::addColumn<QList<QStringList>>("groups");
    QTest::newRow("line") << int(GroupLine)
                          << QList<QStringList>{{"前台", "1", "2.1", "1.20"},
                                                {"TK1 线路#2", "1", "1.0", "0.60"},
                                                {"TK2 线路#1", "2", "1.6", "2.30"}};
    QTest::newRow("rule") << int(GroupRule)
                          << QList<QStringList>{{"默认费率", "1", "1.1", "2.00"},
                                                {"北京", "1", "0.5", "0.30"},
                                                {"北京城区", "1", "2.1", "1.20"},
                                                {"上海", "1", "1.0", "0.60"}};
    QTest::newRow("operator") << int(GroupAdmin)
                              << QList<QStringList>{{"li", "2", "2.1", "2.60"}, {"zhang", "2", "2.6", "1.50"}};
    QTest::newRow("day") << int(GroupDay)
                         << QList<QStringList>{{"2026-03-01", "2", "3.1", "1.80"}, {"2026-03-02", "2", "1.6", "2.30"}};
  }
  void groupsCountTimeAndSumTheCallsOfTheRange()
  {
    QFETCH(int, by);
    QFETCH(QList<QStringList>, groups);
    report()->GroupBy->setCurrentIndex(by);
    query(kFrom, kTo);
    QCOMPARE(report()->ListStack->currentWidget(), report()->GroupTable);
    QCOMPARE(report()->GroupTable->headerItem()->text(0), GroupColumnCaption(ReportGrouping(by)));
    QCOMPARE(listed(report()->GroupTable), groups);
    QCOMPARE(report()->ReportTable->topLevelItemCount(), 0);  // the calls are not fetched
    QCOMPARE(report()->Info->text(), QStringLiteral("总计：4.10"));
    QVERIFY(!report()->Button1->isEnabled());

    // Ungrouped, the same range is listed again call by call, as it always was.
    report()->GroupBy->setCurrentIndex(GroupNone);
    QCOMPARE(report()->ReportTable->topLevelItemCount(), 4);
    QCOMPARE(report()->Info->text(), QStringLiteral("总计：4.10"));
    QVERIFY(report()->Button1->isEnabled());
    QCOMPARE(quenta_getReportGroups(
                 kFrom, kTo, 99, QUENTA_BUCKET_DAY, [](void *, void *) {}, nullptr),
             -1);
  }

  void theChartGoesByDayOrByHourOfOneDay()
  {
    report()->GroupBy->setCurrentIndex(GroupDay);
    query(kFrom, kTo);
    QList<ChartPoint> days = report()->ChartData();
    QCOMPARE(days.size(), 2);
    QCOMPARE(days[0].start, QDateTime(QDate(2026, 3, 1), QTime(0, 0)));
    QCOMPARE(days[0].cents, 180);
    QCOMPARE(days[1].cents, 230);

    query("2026-03-02 00:00:00", "2026-03-02 23:59:59");
    const QList<ChartPoint> hours = report()->ChartData();
    QCOMPARE(hours.size(), 24);
    for (int h = 0; h < 24; h++) {
      QCOMPARE(hours[h].start, QDateTime(QDate(2026, 3, 2), QTime(h, 0)));
      QCOMPARE(hours[h].cents, h == 10 ? 30 : h == 23 ? 200 : 0);
    }
    // A range of days with nothing in it still has its days, at nothing.
    query("2026-02-01 00:00:00", "2026-02-03 10:00:00");
    days = report()->ChartData();
    QCOMPARE(days.size(), 3);
    QCOMPARE(days[2].start, QDateTime(QDate(2026, 2, 3), QTime(0, 0)));
    QCOMPARE(days[0].cents + days[1].cents + days[2].cents, 0);

    // Every day of a fortnight has its label, on its point.
    query("2026-02-20 00:00:00", "2026-03-05 23:59:59");
    const QChart *chart = report()->TakingsChart->chart();
    auto *axis = qobject_cast<QCategoryAxis *>(chart->axes(Qt::Horizontal).value(0));
    const auto *series = static_cast<QLineSeries *>(chart->series().value(0));
    QVERIFY(axis && series);
    QCOMPARE(series->count(), 14);
    QCOMPARE(axis->count(), 14);
    QCOMPARE(axis->labelsPosition(), QCategoryAxis::AxisLabelsPositionOnValue);
    for (int i = 0; i < 14; i++) {
      const QString label = axis->categoriesLabels()[i];
      QCOMPARE(label, QDate(2026, 2, 20).addDays(i).toString(QStringLiteral("M月d日")));
      QCOMPARE(axis->endValue(label), series->at(i).x());
    }
    QCOMPARE(series->at(9).y(), 1.8);  // 3月1日
  }

  // Ids of another form than the engine's: out of time order on one line, and
  // interleaved with another line's; a call with two bills counts twice.
  void billsAreFoundWhateverTheFormOfTheCallIds()
  {
    storeCall("TK3", 0, "0105550007", "2026-04-01 09:00:00", 60, "0.5", "li", true, "k3");
    storeCall("TK3", 0, "0105550008", "2026-04-01 10:00:00", 60, "0.7", "li", true, "k1");
    storeCall("TK3", 1, "0105550009", "2026-04-01 11:00:00", 60, "1.1", "li", true, "k2");
    QVERIFY(execOnEngineDb("insert into billtbl values('k1', 60, '', 0.2, 'li', '2026-04-01 10:05:00')"));
    report()->GroupBy->setCurrentIndex(GroupLine);
    query("2026-04-01 00:00:00", "2026-04-01 23:59:59");
    QCOMPARE(listed(report()->GroupTable),
             (QList<QStringList>{{"TK3 线路#1", "3", "3.0", "1.40"}, {"TK3 线路#2", "1", "1.0", "1.10"}}));
  }

  // 3,000 bills of everyday amounts over two days: the total under the list
  // is the sum of the amounts listed, to the fen, and the groups agree.
  void aLongListAddsUpToTheFen()
  {
    const char *const amounts[] = {"3.60", "14.23", "0.07", "28.91", "9.99", "0.35"};
    QByteArray sql = "begin;";
    for (int i = 0; i < 3000; i++) {
      const QByteArray id = Literal("LL-" + QByteArray::number(i));
      const QByteArray begin = Literal(StationTime(QDateTime(QDate(2026, 6, 1 + i % 2), QTime(8, 0)).addSecs(i)));
      sql += "insert into cdrtbl values(" + id + ", 'LL', 0, '8001', '0105550001', " + begin + ", " + begin +
             ", 1);insert into billtbl values(" + id + ", 60, '', " + amounts[i % 6] + ", 'li', " + begin + ");";
    }
    QVERIFY(execOnEngineDb(sql + "commit;"));

    report()->GroupBy->setCurrentIndex(GroupNone);
    query("2026-06-01 00:00:00", "2026-06-02 23:59:59");
    QCOMPARE(report()->ReportTable->topLevelItemCount(), 3000);
    Cents sum = 0;
    for (int i = 0; i < 3000; i++)
      sum += ParseMoney(report()->ReportTable->topLevelItem(i)->text(3)).value();
    QCOMPARE(sum, Cents(2857500));
    QCOMPARE(report()->ReportTotal(), sum);
    QCOMPARE(report()->Info->text(), QStringLiteral("总计：28575.00"));

    report()->GroupBy->setCurrentIndex(GroupDay);
    QCOMPARE(listed(report()->GroupTable), (QList<QStringList>{{"2026-06-01", "1500", "1500.0", "6830.00"},
                                                               {"2026-06-02", "1500", "1500.0", "21745.00"}}));
    QCOMPARE(report()->Info->text(), QStringLiteral("总计：28575.00"));
  }

  void csvFieldsAreQuotedAsSpreadsheetsReadThem_data()
  {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("field");
    QTest::newRow("plain") << QStringLiteral("北京") << QByteArray("北京");
    QTest::newRow("comma") << QStringLiteral("a,b") << QByteArray("\"a,b\"");
    QTest::newRow("quote") << QStringLiteral("say \"hi\"") << QByteArray("\"say \"\"hi\"\"\"");
    QTest::newRow("line feed") << QStringLiteral("a\nb") << QByteArray("\"a\nb\"");
    QTest::newRow("plus number") << QStringLiteral("+8613800000000") << QByteArray("+8613800000000");
    QTest::newRow("minus amount") << QStringLiteral("-0.30") << QByteArray("-0.30");
    QTest::newRow("formula") << QStringLiteral("=1+1") << QByteArray("'=1+1");
    QTest::newRow("plus formula") << QStringLiteral("+cmd|x") << QByteArray("'+cmd|x");
  }
  void csvFieldsAreQuotedAsSpreadsheetsReadThem()
  {
    QFETCH(QString, text);
    QFETCH(QByteArray, field);
    QCOMPARE(CsvField(text), field);
  }

  void theCsvFileHoldsWhatIsListed()
  {
    report()->GroupBy->setCurrentIndex(GroupAdmin);
    query(kFrom, kTo);
    const QString path = f->dir.file("takings.csv");
    f->op.then([path](QDialog *dlg) {
      QCOMPARE(dlg->objectName(), QStringLiteral("SaveDialog2"));
      static_cast<QFileDialog *>(dlg)->selectFile(path);
      dlg->accept();
    });
    report()->CsvBtn->click();
    QCOMPARE(f->dir.read("takings.csv"), QByteArray("\xEF\xBB\xBF"
                                                    "操作员,通话次数,通话分钟,金额\r\n"
                                                    "li,2,2.1,2.60\r\n"
                                                    "zhang,2,2.6,1.50\r\n"
                                                    "总计,4,4.7,4.10\r\n"));

    report()->GroupBy->setCurrentIndex(GroupNone);
    const QList<QStringList> calls = report()->CsvRows();
    QCOMPARE(calls.size(), 5);
    QCOMPARE(calls[0], (QStringList{"线路", "号码", "开始时间", "通话时长", "金额", "操作员"}));
    QCOMPARE(calls[1], (QStringList{"前台", "0105550001", "2026-03-01 09:10:00", "125", "1.20", "zhang"}));
    QCOMPARE(calls[2][0], QStringLiteral("TK1 线路#2"));

    QVERIFY(!report()->SaveCsv(f->dir.file("no-such-folder") + "/takings.csv"));
    QCOMPARE(f->op.messages.size(), 1);
    QCOMPARE(f->op.messages[0].caption, QStringLiteral("错误"));
  }

  // Numbers and ids stay texts with their zeros, figures are numbers; the
  // file dialog that asks where reads Chinese.
  void theWorkbookKeepsNumbersAsTextsAndFiguresAsNumbers()
  {
    report()->GroupBy->setCurrentIndex(GroupNone);
    query(kFrom, kTo);
    QDir(f->dir.path()).mkdir(QStringLiteral("备份"));
    const QString path = f->dir.file("takings.xlsx");
    QStringList shown;
    f->op.then([&](QDialog *dlg) {
      QCOMPARE(dlg->objectName(), QStringLiteral("SaveDialog3"));
      auto *files = static_cast<QFileDialog *>(dlg);
      files->selectFile(path);  // before the dialog is in use: typing it later takes the focus
      const QTreeView *view = dlg->findChild<QTreeView *>(QStringLiteral("treeView"));
      QVERIFY(view && view->model());
      QTRY_VERIFY(view->model()->rowCount(view->rootIndex()) > 0);
      const QAbstractItemModel *m = view->model();
      for (int c = 0; c < m->columnCount(); c++) {
        shown << m->headerData(c, Qt::Horizontal).toString() << m->index(0, c, view->rootIndex()).data().toString();
      }
      for (const QLabel *label : dlg->findChildren<QLabel *>())
        shown << label->text();
      for (const QAbstractButton *button : dlg->findChildren<QAbstractButton *>())
        shown << button->text();
      dlg->accept();
    });
    report()->ExcelBtn->click();
    QCOMPARE(shown.mid(0, 8), (QStringList{"名称", "备份", "体积", "", "类型", "文件夹", "修改日期",
                                           QDateTime::currentDateTime().toString("yyyy-MM-dd HH:mm")}));
    for (const QString &text : shown)
      QVERIFY2(!text.contains(QRegularExpression(QStringLiteral("[A-Za-z]{2}"))), qPrintable(text));

    QVERIFY2(QFile::exists(path), qPrintable(f->op.messages.value(0).text));
    QList<QStringList> rows = sheetRows(path);
    QCOMPARE(rows.size(), 5);
    QCOMPARE(rows[0], (QStringList{"s:线路", "s:号码", "s:开始时间", "s:通话时长", "s:金额", "s:操作员"}));
    QCOMPARE(rows[1], (QStringList{"s:前台", "s:0105550001", "s:2026-03-01 09:10:00", "n:125", "n:1.2", "s:zhang"}));

    report()->GroupBy->setCurrentIndex(GroupDay);
    QVERIFY(report()->SaveExcel(path));
    rows = sheetRows(path);
    QCOMPARE(rows.size(), 4);
    QCOMPARE(rows[1], (QStringList{"s:2026-03-01", "n:2", "n:3.1", "n:1.8"}));
    QCOMPARE(rows[3], (QStringList{"s:总计", "n:4", "n:4.7", "n:4.1"}));

    const qsizetype told = f->op.messages.size();
    QVERIFY(!report()->SaveExcel(f->dir.file("no-such-folder") + "/takings.xlsx"));
    QCOMPARE(f->op.messages.size(), told + 1);
  }
};

ENGINE_TEST_MAIN(TestTakings)
#include "test_takings.moc"
