// The shift record: its exact bytes, when a login continues it, how a damaged
// amount reads, GBK names, and that a rewrite leaves nothing of the old record.
#include <QTest>

#include <clocale>

#include "ConsoleTest.h"
#include "ShiftLog.h"

class TestShiftLog : public QObject {
  Q_OBJECT

  std::unique_ptr<StationDir> dir;

  QString path() const { return dir->file(LASTLOG_FILE); }

private slots:
  void init() { dir = std::make_unique<StationDir>(); }
  void cleanup() { dir.reset(); }

  void writesNameBlankAndTwoDecimalsWithoutLineFeed()
  {
    QVERIFY(WriteLastLog(path(), QStringLiteral("admin"), 1250));
    QCOMPARE(dir->read(LASTLOG_FILE), QByteArray("admin 12.50"));
    QVERIFY(WriteLastLog(path(), QStringLiteral("张三"), 0));
    QCOMPARE(dir->read(LASTLOG_FILE), QByteArray("\xd5\xc5\xc8\xfd 0.00"));
  }

  void continuesOnlyTheSameOperator_data()
  {
    QTest::addColumn<QByteArray>("record");
    QTest::addColumn<QString>("who");
    QTest::addColumn<bool>("continues");
    QTest::addColumn<Cents>("total");
    QTest::newRow("same operator") << QByteArray("admin 12.50") << "admin" << true << Cents(1250);
    QTest::newRow("line feed and blanks") << QByteArray("  admin\t3.25 \n") << "admin" << true << Cents(325);
    QTest::newRow("Chinese operator") << QByteArray("\xd5\xc5\xc8\xfd 7.00") << "张三" << true << Cents(700);
    QTest::newRow("another operator") << QByteArray("bob 12.50") << "admin" << false << Cents(-100);
    QTest::newRow("letter case differs") << QByteArray("Admin 12.50") << "admin" << false << Cents(-100);
    QTest::newRow("name only") << QByteArray("admin") << "admin" << false << Cents(-100);
    QTest::newRow("empty") << QByteArray() << "admin" << false << Cents(-100);
    QTest::newRow("only the first line counts") << QByteArray("\nadmin 1.00") << "admin" << false << Cents(-100);
    QTest::newRow("amount not a number") << QByteArray("admin abc") << "admin" << true << Cents(0);
    QTest::newRow("amount with a tail") << QByteArray("admin 12.5yuan") << "admin" << true << Cents(1250);
    QTest::newRow("amount with a comma") << QByteArray("admin 12,50") << "admin" << true << Cents(1200);
    QTest::newRow("amount infinite") << QByteArray("admin inf") << "admin" << true << Cents(0);
    QTest::newRow("amount nan") << QByteArray("admin nan") << "admin" << true << Cents(0);
    QTest::newRow("amount out of range") << QByteArray("admin 1e999") << "admin" << true << Cents(0);
    QTest::newRow("amount beyond any money") << QByteArray("admin 1e39") << "admin" << true << Cents(0);
    QTest::newRow("fen beyond a float") << QByteArray("admin 123456789.01") << "admin" << true << Cents(12345678901);
  }
  void continuesOnlyTheSameOperator()
  {
    QFETCH(QByteArray, record);
    QFETCH(QString, who);
    QFETCH(bool, continues);
    QFETCH(Cents, total);
    dir->write(LASTLOG_FILE, record);
    Cents shift = -100;
    QCOMPARE(ReadLastLog(path(), who, &shift), continues);
    QCOMPARE(shift, total);
  }

  void missingRecordDoesNotContinue()
  {
    Cents shift = 400;
    QVERIFY(!ReadLastLog(path(), QStringLiteral("admin"), &shift));
    QCOMPARE(shift, Cents(400));
  }

  void rewriteLeavesNothingOfTheOldRecord()
  {
    dir->write(LASTLOG_FILE, "\xd5\xc5\xc8\xfd 123456.78");
    QVERIFY(WriteLastLog(path(), QStringLiteral("bob"), 100));
    QCOMPARE(dir->read(LASTLOG_FILE), QByteArray("bob 1.00"));
  }

  void amountsKeepThePointUnderAnyLocale()
  {
    QTemporaryDir locale;
    QVERIFY2(UseCommaNumbers(locale), "no locale with a decimal comma could be made");
    QVERIFY(WriteLastLog(path(), QStringLiteral("admin"), 1250));
    QCOMPARE(dir->read(LASTLOG_FILE), QByteArray("admin 12.50"));
    Cents shift = 0;
    QVERIFY(ReadLastLog(path(), QStringLiteral("admin"), &shift));
    std::setlocale(LC_NUMERIC, "C");
    QCOMPARE(shift, Cents(1250));
  }

  // An engine float is rounded to the fen once, as its two-decimal text reads;
  // typed amounts are read as decimals.
  void moneyIsWholeFen()
  {
    QCOMPARE(CentsOf(3.6000001f) + CentsOf(0.125f) + CentsOf(-1.2f) + CentsOf(qInf()), Cents(360 + 12 - 120));
    QCOMPARE(CentsText(-30) + CentsText(12345678901), QStringLiteral("-0.30123456789.01"));
    QCOMPARE(ParseMoney(QStringLiteral("5.555")), std::optional<Cents>(556));
  }
};

CONSOLE_TEST_MAIN(TestShiftLog)
#include "test_lastlog.moc"
