// Rate decks: what each line of a CSV deck becomes (a rule added or replacing
// one, or refused with its reason), how its bytes and prices are read, an
// export read back, and the editor's import (preview first, written only on
// confirmation) and export.
#include <QFileDialog>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>

#include "ConsoleTest.h"
#include "Gbk.h"
#include "RateDeck.h"
#include "RateFile.h"
#include "RateFrm.h"
#include "RateImport.h"
#include "Money.h"

namespace {

const QByteArray kBeijingGbk = "\xb1\xb1\xbe\xa9";  // 北京
const QByteArray kRates =
    ".default||0.00|0:00:00-0.00|0:0.00|0|60\n" + kBeijingGbk + "|010|0.00|0:00:00-0.30,8:00:00-0.60|180:1.00|3|60\n";

QList<RateInfo> Table()
{
  QList<RateInfo> rules(2);
  ParseRateLine(kRates.split('\n')[0], &rules[0]);
  ParseRateLine(kRates.split('\n')[1], &rules[1]);
  return rules;
}

/* Picks path in a file dialog, as its Open or Save button does. */
Answer Choose(const QString &path)
{
  return [path](QDialog *dlg) {
    auto *files = qobject_cast<QFileDialog *>(dlg);
    QVERIFY(files);
    files->selectFile(path);
    static_cast<QDialog *>(files)->accept();
  };
}

QString Rule(const RateInfo &r)
{
  return QStringLiteral("%1 %2 %3 %4 %5")
      .arg(FromGbk(FIELD_TEXT(r.m_name)), QString::fromLatin1(FIELD_TEXT(r.m_prefix)),
           CentsText(CentsOf(r.m_handling_charge)), CentsText(CentsOf(r.m_period_price[0].m_price)))
      .arg(r.m_min_bill_time);
}

/* The plan, one entry per fact: the encoding, the header, each rule added
 * ("+") or replacing a row ("=row"), each refused ("!line") and rounded
 * ("~line") line. */
QStringList Outcome(const DeckPlan &plan)
{
  QStringList out{plan.encoding};
  if (plan.headerLine)
    out << QStringLiteral("header %1").arg(plan.headerLine);
  for (const RateInfo &r : plan.added)
    out << QLatin1Char('+') + Rule(r);
  for (qsizetype i = 0; i < plan.replacements.size(); i++)
    out << QStringLiteral("=%1 ").arg(plan.replacedRows[i]) + Rule(plan.replacements[i]);
  for (const DeckNote &n : plan.refused)
    out << QStringLiteral("!%1 ").arg(n.line) + n.text;
  for (const DeckNote &n : plan.rounded)
    out << QStringLiteral("~%1").arg(n.line);
  return out;
}

}  // namespace

class TestRateDeck : public QObject {
  Q_OBJECT

  std::unique_ptr<StationDir> dir;
  std::unique_ptr<ScriptedOperator> op;

private slots:
  void init()
  {
    dir = std::make_unique<StationDir>();
    op = std::make_unique<ScriptedOperator>();
  }
  void cleanup()
  {
    op->verify();
    op.reset();
    dir.reset();
  }

  void plansEveryLine_data()
  {
    QTest::addColumn<QByteArray>("deck");
    QTest::addColumn<QStringList>("outcome");
    QTest::newRow("header, quotes, optional columns")
        << QByteArray("名称,区号,每分钟价格,手续费,计费间隔\n上海,021,0.60\n\"New York, NY\",001212,\"1.20\",0.5,6\n")
        << QStringList{"UTF-8", "header 1", "+上海 021 0.00 0.60 60", "+New York, NY 001212 0.50 0.12 6"};
    QTest::newRow("a prefix of the table replaces its rule")
        << QByteArray("北京（新）,010,0.90,,30") << QStringList{"UTF-8", "=1 北京（新） 010 0.00 0.45 30"};
    QTest::newRow("refused lines")
        << QByteArray("x,,0.5\nx,01a,0.5\nx,030,abc\ny,030,0.5\nz,040,0.5,1,0\n.default,050,1\na|b,060,1\n"
                      "w,070,\nv,080,1,x\nu,090,1,2,3,4\n\"t,100,1\n")
        << QStringList{"UTF-8",
                       "!1 区号/代码不能为空",
                       "!2 区号/代码只能由数字组成",
                       "!3 每分钟价格不是数字",
                       "!4 区号与第3行重复",
                       "!5 计费间隔不能为0",
                       "!6 “.default”不能用作国家/城市/地区",
                       "!7 国家/城市/地区中不能有“|”",
                       "!8 没有每分钟价格",
                       "!9 手续费不是数字",
                       "!10 列数过多：最多五列（名称、区号、每分钟价格、手续费、计费间隔）",
                       "!11 引号没有配对"};
    QTest::newRow("prices rounded to the cent, half up")
        << QByteArray("a,091,0.39,,6\nb,092,0.015\nc,093,1,0.125\nd,094,0.6,,6") << QStringList{"UTF-8",
                                                                                                "+a 091 0.00 0.04 6",
                                                                                                "+b 092 0.00 0.02 60",
                                                                                                "+c 093 0.13 1.00 60",
                                                                                                "+d 094 0.00 0.06 6",
                                                                                                "~1",
                                                                                                "~2",
                                                                                                "~3"};
    QTest::newRow("line ends, blank lines, a break inside quotes")
        << QByteArray("\r\nd,095,1\r\n\r\n,,\r\n\"f\ng\",096,1\re,097,2")
        << QStringList{"UTF-8", "+d 095 0.00 1.00 60", "+e 097 0.00 2.00 60", "!5 国家/城市/地区中不能有换行"};
    QTest::newRow("the default rule goes by its caption, once")
        << QByteArray("默认费率,,0.9\n默认费率,,1\n默认费率,090,1")
        << QStringList{"UTF-8", "+默认费率 090 0.00 1.00 60", "=0 .default  0.00 0.90 60", "!2 默认费率与第1行重复"};
    QTest::newRow("GBK") << QByteArray(kBeijingGbk + ",011,1") << QStringList{"GBK", "+北京 011 0.00 1.00 60"};
    QTest::newRow("UTF-8 with its mark, then a header") << QByteArray("\xef\xbb\xbfname,prefix,price\n北京,012,1")
                                                        << QStringList{"UTF-8", "header 1", "+北京 012 0.00 1.00 60"};
    QTest::newRow("UTF-16 by its mark") << QByteArray("\xff\xfe\x17\x53\xac\x4e,\x00"
                                                      "0\x00"
                                                      "1\x00"
                                                      "3\x00,\x00"
                                                      "1\x00",
                                                      18)
                                        << QStringList{"UTF-16LE", "+北京 013 0.00 1.00 60"};
  }
  void plansEveryLine()
  {
    QFETCH(QByteArray, deck);
    QFETCH(QStringList, outcome);
    QCOMPARE(Outcome(PlanDeck(deck, Table())), outcome);
  }

  void anExportReadsBackAsTheSameRules()
  {
    QList<RateInfo> rules = Table();   // 北京 has two periods and a package
    RateInfo odd = NewRuleTemplate();  // 0.01 per 7 s: 0.0857142857... a minute
    STORE_TEXT(odd.m_name, *ToGbk(QStringLiteral("Say \"hi\", 纽约")));
    STORE_TEXT(odd.m_prefix, "001212");
    odd.m_handling_charge = 0.5f;
    odd.m_min_bill_time = 7;
    odd.m_period_price[0].m_price = 0.01f;
    rules.append(odd);

    int lossy = 0;
    const QByteArray deck = FormatDeck(rules, &lossy);
    QCOMPARE(lossy, 1);
    QCOMPARE(deck.left(deck.indexOf('\n') + 1), QByteArray("\xef\xbb\xbf名称,区号,每分钟价格,手续费,计费间隔\r\n"));
    QVERIFY(deck.contains("\"Say \"\"hi\"\", 纽约\",001212,0.08571429,0.50,7\r\n"));
    const DeckPlan plan = PlanDeck(deck, rules);
    QCOMPARE(plan.headerLine, 1);
    QCOMPARE(plan.replacedRows, (QList<int>{0, 1, 2}));
    QVERIFY(plan.added.isEmpty() && plan.refused.isEmpty());
    for (qsizetype i = 0; i < plan.replacements.size(); i++)
      QCOMPARE(Rule(plan.replacements[i]), Rule(rules[plan.replacedRows[i]]));
    QCOMPARE(plan.replacements[1].m_ppcount, 0);  // the second period stays behind
  }

  void importPreviewsAndWritesOnConfirmation_data()
  {
    QTest::addColumn<QString>("button");
    QTest::addColumn<bool>("rateFileIsFolder");
    QTest::addColumn<int>("rules");
    QTest::addColumn<QString>("message");
    QTest::newRow("confirmed") << "OKBtn" << false << 3 << QStringLiteral("已导入2条费率：新增1条，替换1条。");
    QTest::newRow("cancelled") << "CancelBtn" << false << 2 << QString();
    QTest::newRow("rate file unwritable")
        << "OKBtn" << true << 1 << QStringLiteral("无法保存文件 rateinfo：已有同名的文件夹\n费率没有导入。");
  }
  void importPreviewsAndWritesOnConfirmation()
  {
    QFETCH(QString, button);
    QFETCH(bool, rateFileIsFolder);
    QFETCH(int, rules);
    QFETCH(QString, message);
    if (rateFileIsFolder)
      QVERIFY(QDir().mkdir(dir->file(RATE_FILE)));
    else
      dir->write(RATE_FILE, kRates);
    dir->write("deck.csv", "名称,区号,每分钟价格\n北京,010,0.6\n上海,021,0.9\n广州,02x,1\n");
    TRateForm form;
    form.show();
    const int before = form.RuleCount();
    op->then(Choose(dir->file("deck.csv"))).then([&](QDialog *dlg) {
      auto *preview = qobject_cast<TRateImportDlg *>(dlg);
      QVERIFY(preview);
      QCOMPARE(preview->Title->text(), QStringLiteral("deck.csv（UTF-8）"));
      QCOMPARE(preview->Summary->text(),
               QStringLiteral("新增费率：%1条\n替换区号相同的费率：%2条\n未导入的行：1行\n价格取整的行：0行")
                   .arg(3 - before)
                   .arg(before - 1));
      QCOMPARE(preview->LineList->topLevelItemCount(), 4);  // the header and lines 2 to 4
      QCOMPARE(preview->LineList->topLevelItem(3)->text(0) + preview->LineList->topLevelItem(3)->text(1),
               QStringLiteral("4未导入：区号/代码只能由数字组成"));
      ScriptedOperator::click(qPrintable(button))(dlg);
    });
    form.ImportBtn->click();
    QCOMPARE(op->pending(), 0);
    QCOMPARE(form.RuleCount(), rules);
    QCOMPARE(op->messages.isEmpty() ? QString() : op->messages.last().text, message);
    QCOMPARE(form.RateTable->topLevelItemCount(), rules);
    if (!rateFileIsFolder)
      QCOMPARE(dir->read(RATE_FILE), rules == 2 ? kRates
                                                : kRates.left(kRates.indexOf('\n') + 1) + kBeijingGbk +
                                                      "|010|0.00|0:00:00-0.60|0:0.00|0|60\n"
                                                      "\xc9\xcf\xba\xa3|021|0.00|0:00:00-0.90|0:0.00|0|60\n");
  }

  void thePreviewTellsWhatBecomesOfEachLine()
  {
    dir->write(RATE_FILE, kRates);
    dir->write("deck.csv", "名称,区号,每分钟价格,手续费,计费间隔\n北京,010,0.6\n上海,021,0.9,0.5\n"
                           "默认费率,,0.00\n广州,020,0.39,,6\n深圳,0755,x\n");
    TRateForm form;
    form.show();
    QStringList rows;
    op->then([&rows](QDialog *dlg) {
      auto *list = static_cast<TRateImportDlg *>(dlg)->LineList;
      for (int i = 0; i < list->topLevelItemCount(); i++)
        rows << list->topLevelItem(i)->text(0) + QLatin1Char(' ') + list->topLevelItem(i)->text(1);
      ScriptedOperator::click("CancelBtn")(dlg);
    });
    QVERIFY(!form.ImportDeck(dir->file("deck.csv")));
    QCOMPARE(rows,
             (QStringList{
                 QStringLiteral("1 表头，已略过"),
                 QStringLiteral("2 替换 北京（010）：价格：每60秒0:00:00起0.30元、8:00:00起0.60元 → 每60秒全天0.60元；"
                                "3+1：180秒1.00元 → 无；免收费时长：3秒 → 无"),
                 QStringLiteral("3 新增 上海（021）：每60秒全天0.90元，手续费0.50元"),
                 QStringLiteral("4 替换 默认费率：没有变化"),
                 QStringLiteral("5 新增 广州（020）：每6秒全天0.04元"),
                 QStringLiteral("5 已导入，每6秒0.039元记为0.04元（费率只记到分）"),
                 QStringLiteral("6 未导入：每分钟价格不是数字"),
             }));
    QCOMPARE(dir->read(RATE_FILE), kRates);
    // A table without a default rule has none to replace.
    QCOMPARE(Outcome(PlanDeck("默认费率,,1", Table().mid(1))),
             (QStringList{"UTF-8", QStringLiteral("!1 费率表中没有默认费率，无法替换")}));
  }

  void exportWritesTheDeckAndSaysWhatItLeavesOut()
  {
    dir->write(RATE_FILE, kRates);
    TRateForm form;
    form.show();
    op->then(Choose(dir->file("out.csv")));
    form.ExportBtn->click();
    QCOMPARE(dir->read("out.csv"), FormatDeck(Table()));
    QCOMPARE(op->messages.size(), 1);
    QCOMPARE(op->messages[0].text,
             QStringLiteral(
                 "已导出2条费率（含默认费率）到 %1。\n其中1条有多个时段、3+1时长或免收费时长，文件中只有时段1的价格；"
                 "再导入时，这些费率只保留时段1的价格。")
                 .arg(dir->file("out.csv")));
  }
};

CONSOLE_TEST_MAIN(TestRateDeck)
#include "test_ratedeck.moc"
