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
    QVERIFY(WriteLastLog(path(), QStringLiteral("admin"), 12.5f));
    QCOMPARE(dir->read(LASTLOG_FILE), QByteArray("admin 12.50"));
    QVERIFY(WriteLastLog(path(), QStringLiteral("张三"), 0.0f));
    QCOMPARE(dir->read(LASTLOG_FILE), QByteArray("\xd5\xc5\xc8\xfd 0.00"));
  }

  void continuesOnlyTheSameOperator_data()
  {
    QTest::addColumn<QByteArray>("record");
    QTest::addColumn<QString>("who");
    QTest::addColumn<bool>("continues");
    QTest::addColumn<float>("total");
    QTest::newRow("same operator") << QByteArray("admin 12.50") << "admin" << true << 12.5f;
    QTest::newRow("line feed and blanks") << QByteArray("  admin\t3.25 \n") << "admin" << true
                                          << 3.25f;
    QTest::newRow("Chinese operator") << QByteArray("\xd5\xc5\xc8\xfd 7.00") << "张三" << true
                                      << 7.0f;
    QTest::newRow("another operator") << QByteArray("bob 12.50") << "admin" << false << -1.0f;
    QTest::newRow("letter case differs") << QByteArray("Admin 12.50") << "admin" << false << -1.0f;
    QTest::newRow("name only") << QByteArray("admin") << "admin" << false << -1.0f;
    QTest::newRow("empty") << QByteArray() << "admin" << false << -1.0f;
    QTest::newRow("only the first line counts") << QByteArray("\nadmin 1.00") << "admin" << false
                                                << -1.0f;
    QTest::newRow("amount not a number") << QByteArray("admin abc") << "admin" << true << 0.0f;
    QTest::newRow("amount with a tail") << QByteArray("admin 12.5yuan") << "admin" << true << 12.5f;
    QTest::newRow("amount with a comma") << QByteArray("admin 12,50") << "admin" << true << 12.0f;
    QTest::newRow("amount infinite") << QByteArray("admin inf") << "admin" << true << 0.0f;
    QTest::newRow("amount nan") << QByteArray("admin nan") << "admin" << true << 0.0f;
    QTest::newRow("amount out of range") << QByteArray("admin 1e999") << "admin" << true << 0.0f;
    QTest::newRow("amount beyond a float") << QByteArray("admin 1e39") << "admin" << true << 0.0f;
  }
  void continuesOnlyTheSameOperator()
  {
    QFETCH(QByteArray, record);
    QFETCH(QString, who);
    QFETCH(bool, continues);
    QFETCH(float, total);
    dir->write(LASTLOG_FILE, record);
    float shift = -1.0f;
    QCOMPARE(ReadLastLog(path(), who, &shift), continues);
    QCOMPARE(shift, total);
  }

  void missingRecordDoesNotContinue()
  {
    float shift = 4.0f;
    QVERIFY(!ReadLastLog(path(), QStringLiteral("admin"), &shift));
    QCOMPARE(shift, 4.0f);
  }

  void rewriteLeavesNothingOfTheOldRecord()
  {
    dir->write(LASTLOG_FILE, "\xd5\xc5\xc8\xfd 123456.78");
    QVERIFY(WriteLastLog(path(), QStringLiteral("bob"), 1.0f));
    QCOMPARE(dir->read(LASTLOG_FILE), QByteArray("bob 1.00"));
  }

  void amountsKeepThePointUnderAnyLocale()
  {
    const char *locales[] = {"de_DE.UTF-8", "fr_FR.UTF-8", "ru_RU.UTF-8"};
    const char *set = nullptr;
    for (const char *l : locales)
      if ((set = std::setlocale(LC_NUMERIC, l)))
        break;
    if (!set)
      QSKIP("no locale with a decimal comma is installed");
    QVERIFY(WriteLastLog(path(), QStringLiteral("admin"), 12.5f));
    QCOMPARE(dir->read(LASTLOG_FILE), QByteArray("admin 12.50"));
    float shift = 0;
    QVERIFY(ReadLastLog(path(), QStringLiteral("admin"), &shift));
    std::setlocale(LC_NUMERIC, "C");
    QCOMPARE(shift, 12.5f);
  }

  void moneyHasTwoDecimals()
  {
    QCOMPARE(FormatMoney(0.0f), QStringLiteral("0.00"));
    QCOMPARE(FormatMoney(12.5f), QStringLiteral("12.50"));
    QCOMPARE(FormatMoney(0.125f), QStringLiteral("0.12"));  // exact in binary: rounds to even
    QCOMPARE(FormatMoney(3.8f), QStringLiteral("3.80"));
    QCOMPARE(FormatMoney(-1.2f), QStringLiteral("-1.20"));
  }
};

CONSOLE_TEST_MAIN(TestShiftLog)
#include "test_lastlog.moc"
