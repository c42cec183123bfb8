// The rate file without a window: the lines written for rules, what reads
// back and what is dropped, the order of periods, the checks that keep every
// saved line loadable, and the number texts of the edits.
#include <QTest>

#include <limits>

#include "ConsoleTest.h"
#include "RateFile.h"

Q_DECLARE_METATYPE(RateInfo)

namespace {

const QByteArray kBeijingGbk = "\xb1\xb1\xbe\xa9";  // 北京

RateInfo rule(const char *name, const char *prefix)
{
  RateInfo r = NewRuleTemplate();
  STORE_TEXT(r.m_name, name);
  STORE_TEXT(r.m_prefix, prefix);
  return r;
}

void setPeriod(RateInfo *r, int n, const char *start, float price)
{
  STORE_TEXT(r->m_period_price[n].m_time, start);
  r->m_period_price[n].m_price = price;
}

}  // namespace

class TestRateFile : public QObject {
  Q_OBJECT

  std::unique_ptr<StationDir> dir;

private slots:
  void init() { dir = std::make_unique<StationDir>(); }
  void cleanup() { dir.reset(); }

  void writesRuleLinesExactly()
  {
    QCOMPARE(FormatRateLine(DefaultRule()), QByteArray(".default||0.00|0:00:00-0.00|0:0.00|0|60\n"));

    RateInfo beijing = rule(kBeijingGbk.constData(), "010");
    beijing.m_handling_charge = 0.5f;
    setPeriod(&beijing, 0, "0:00:00", 0.3f);
    setPeriod(&beijing, 2, "8:00:00", 0.6f);   // the gap of a period out of use is closed
    beijing.m_period_price[1].m_price = 9.0f;  // a price without a start time is not written
    beijing.m_tao_price = {180, {}, 0, 1.0f};
    beijing.m_invalid_timeval = 3;
    QCOMPARE(FormatRateLine(beijing), kBeijingGbk + "|010|0.50|0:00:00-0.30,8:00:00-0.60|180:1.00|3|60\n");

    // The default rule never writes a prefix, whatever its record holds.
    RateInfo def = DefaultRule();
    STORE_TEXT(def.m_prefix, "0");
    QCOMPARE(FormatRateLine(def), QByteArray(".default||0.00|0:00:00-0.00|0:0.00|0|60\n"));
  }

  void readsLines_data()
  {
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<bool>("read");
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QByteArray>("prefix");
    QTest::addColumn<int>("periods");
    QTest::newRow("default") << QByteArray(".default||0.00|0:00:00-0.00|0:0.00|0|60\n") << true
                             << QByteArray(DEFAULT_RULE_NAME) << QByteArray() << 1;
    QTest::newRow("default with its own digits") << QByteArray(".default|12|0.00|0:00:00-0.00|0:0.00|0|60") << true
                                                 << QByteArray(DEFAULT_RULE_NAME) << QByteArray() << 1;
    QTest::newRow("GBK name, two periods")
        << QByteArray(kBeijingGbk + "|010|0.50|00:00:00-0.30,08:00:00-0.60|180:1.00|3|60") << true << kBeijingGbk
        << QByteArray("010") << 2;
    QTest::newRow("blanks and CRLF around")
        << QByteArray("  x|1|0|0:00:00-1|0:0|0|6 \r\n") << true << QByteArray("x") << QByteArray("1") << 1;
    // The name field keeps 127 bytes: a character across the limit goes whole.
    QTest::newRow("long GBK name") << QByteArray(QByteArray(126, 'x') + kBeijingGbk + "|1|0|0:00:00-1|0:0|0|6") << true
                                   << QByteArray(126, 'x') << QByteArray("1") << 1;
    QTest::newRow("empty name") << QByteArray("|1|0|0:00:00-1|0:0|0|6") << true << QByteArray() << QByteArray("1") << 1;
    QTest::newRow("bar inside the name") << QByteArray("a|b|010|0.50|0:00:00-0.30|0:0.00|0|60") << false << QByteArray()
                                         << QByteArray() << 0;
    QTest::newRow("empty prefix") << QByteArray("x||0.00|0:00:00-0.00|0:0.00|0|60") << false << QByteArray()
                                  << QByteArray() << 0;
    QTest::newRow("no period") << QByteArray("x|010|0.00||0:0.00|0|60") << false << QByteArray() << QByteArray() << 0;
    QTest::newRow("no bar") << QByteArray("010 0.50") << false << QByteArray() << QByteArray() << 0;
    QTest::newRow("blank") << QByteArray(" \t\r\n") << false << QByteArray() << QByteArray() << 0;
  }
  void readsLines()
  {
    QFETCH(QByteArray, line);
    QFETCH(bool, read);
    QFETCH(QByteArray, name);
    QFETCH(QByteArray, prefix);
    QFETCH(int, periods);
    RateInfo r;
    QCOMPARE(ParseRateLine(line, &r), read);
    if (!read)
      return;
    QCOMPARE(FIELD_TEXT(r.m_name), name);
    QCOMPARE(FIELD_TEXT(r.m_prefix), prefix);
    QCOMPARE(r.m_ppcount + 1, periods);
  }

  void fileRoundTripSkipsWhatCannotBeRead()
  {
    RateInfo beijing = rule(kBeijingGbk.constData(), "010");
    setPeriod(&beijing, 1, "20:00:00", 0.25f);
    QVERIFY(WriteRateFile(dir->file(RATE_FILE), {DefaultRule(), beijing}));
    QCOMPARE(dir->read(RATE_FILE), ".default||0.00|0:00:00-0.00|0:0.00|0|60\n" + kBeijingGbk +
                                       "|010|0.00|0:00:00-0.00,20:00:00-0.25|0:0.00|0|60\n");

    dir->write(RATE_FILE, dir->read(RATE_FILE) + "\n\nbroken line\n" + "a|b|010|1|0:00:00-1|0:0|0|6\n" + "long|" +
                              QByteArray(RATE_LINE_MAX, '1') + "\n" + "last|030|1|0:00:00-1|0:0|0|6");
    QList<RateInfo> rules;
    int unreadable = -1;
    QVERIFY(ReadRateFile(dir->file(RATE_FILE), &rules, &unreadable));
    QCOMPARE(unreadable, 3);  // blank lines are not counted
    QCOMPARE(rules.size(), 3);
    QVERIFY(IsDefaultRule(rules[0]));
    QCOMPARE(FIELD_TEXT(rules[1].m_name), kBeijingGbk);
    QCOMPARE(rules[1].m_period_price[1].m_price, 0.25f);
    QCOMPARE(FIELD_TEXT(rules[2].m_prefix), QByteArray("030"));

    QVERIFY(!ReadRateFile(dir->file("missing"), &rules, &unreadable));
  }

  void periodsSortByStartTimeUnusedLast()
  {
    RateInfo r{};
    setPeriod(&r, 0, "20:00:00", 0.2f);
    r.m_period_price[1].m_price = 7.0f;  // out of use, keeps its price
    setPeriod(&r, 2, "8:00:00", 0.8f);
    setPeriod(&r, 3, "0:00:00", 0.1f);
    SortPeriods(&r);
    const char *starts[] = {"0:00:00", "8:00:00", "20:00:00", ""};
    const float prices[] = {0.1f, 0.8f, 0.2f, 7.0f};
    for (int n = 0; n < MAX_PERIODS; n++) {
      QCOMPARE(FIELD_TEXT(r.m_period_price[n].m_time), QByteArray(starts[n]));
      QCOMPARE(r.m_period_price[n].m_price, prices[n]);
    }
    QCOMPARE(r.m_ppcount, 2);
    // Times compare as times, not as texts: "10:00:00" is later than "9:59:59".
    period_price a{}, b{};
    STORE_TEXT(a.m_time, "10:00:00");
    STORE_TEXT(b.m_time, "9:59:59");
    QVERIFY(PeriodStartSeconds(a) > PeriodStartSeconds(b));
    QCOMPARE(PeriodStartSeconds(period_price{}), PERIOD_UNUSED_SECONDS);
    QCOMPARE(PeriodStartTime(b), QTime(9, 59, 59));
    STORE_TEXT(b.m_time, "25:00:00");
    QCOMPARE(PeriodStartTime(b), QTime(0, 0, 0));
  }

  void rulesTheEngineWouldStopAtAreRefused_data()
  {
    QTest::addColumn<RateInfo>("r");
    QTest::addColumn<QString>("fault");
    RateInfo ok = rule("x", "010");
    QTest::newRow("complete") << ok << QString();
    QTest::newRow("default without prefix") << DefaultRule() << QString();
    QTest::newRow("empty prefix") << rule("x", "") << QStringLiteral("区号/代码不能为空");
    QTest::newRow("prefix not digits") << rule("x", "01a") << QStringLiteral("区号/代码只能由数字组成");
    QTest::newRow("bar in name") << rule("a|b", "010") << QStringLiteral("国家/城市/地区中不能有“|”");
    RateInfo none = ok;
    none.m_period_price[0] = period_price{};
    QTest::newRow("no period") << none << QStringLiteral("至少要使用一个时段");
    RateInfo unit = ok;
    unit.m_min_bill_time = 0;
    QTest::newRow("unit 0") << unit << QStringLiteral("计费间隔不能为0");
    RateInfo huge = ok;
    huge.m_handling_charge = std::numeric_limits<float>::infinity();
    QTest::newRow("charge not a number") << huge << QStringLiteral("费率内容有误，无法保存");
  }
  void rulesTheEngineWouldStopAtAreRefused()
  {
    QFETCH(RateInfo, r);
    QFETCH(QString, fault);
    QCOMPARE(RateRuleFault(r), fault);
  }

  void textsAreCutWithoutSplittingACharacter()
  {
    char field[6];
    StoreText(field, sizeof field, "ab" + kBeijingGbk);  // 2 + 4 bytes, room for 5
    QCOMPARE(QByteArray(field), "ab" + kBeijingGbk.left(2));
    StoreText(field, sizeof field, "abc" + kBeijingGbk);
    QCOMPARE(QByteArray(field), "abc" + kBeijingGbk.left(2));
    StoreText(field, sizeof field, "abcd" + kBeijingGbk);
    QCOMPARE(QByteArray(field), QByteArray("abcd"));
  }

  void numberTextsOfTheEdits_data()
  {
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("money");
    QTest::addColumn<float>("moneyValue");
    QTest::addColumn<bool>("count");
    QTest::addColumn<int>("countValue");
    QTest::newRow("integer") << "12" << true << 12.0f << true << 12;
    QTest::newRow("decimals") << "0.25" << true << 0.25f << false << 0;
    QTest::newRow("trailing point") << "1." << true << 1.0f << false << 0;
    QTest::newRow("leading point") << ".5" << true << 0.5f << false << 0;
    QTest::newRow("point alone") << "." << false << 0.0f << false << 0;
    QTest::newRow("two points") << "1.2.3" << false << 0.0f << false << 0;
    QTest::newRow("empty") << "" << false << 0.0f << false << 0;
    QTest::newRow("sign") << "-1" << false << 0.0f << false << 0;
    QTest::newRow("plus sign") << "+1" << false << 0.0f << false << 0;
    QTest::newRow("blank before") << " 1" << false << 0.0f << false << 0;
    QTest::newRow("exponent") << "1e3" << false << 0.0f << false << 0;
    QTest::newRow("int max") << "2147483647" << true << 2147483647.0f << true << 2147483647;
    QTest::newRow("beyond int") << "2147483648" << true << 2147483648.0f << false << 0;
  }
  void numberTextsOfTheEdits()
  {
    QFETCH(QString, text);
    QFETCH(bool, money);
    QFETCH(float, moneyValue);
    QFETCH(bool, count);
    QFETCH(int, countValue);
    float m = -1;
    int c = -1;
    QCOMPARE(ParseMoneyText(text, &m), money);
    if (money)
      QCOMPARE(m, moneyValue);
    QCOMPARE(ParseCountText(text, &c), count);
    if (count)
      QCOMPARE(c, countValue);
  }
};

CONSOLE_TEST_MAIN(TestRateFile)
#include "test_ratefile.moc"
