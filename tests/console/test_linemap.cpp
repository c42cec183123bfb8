// What the line monitor makes of a report without a window: state captions,
// default names, the running time of a call, and the line map file.
#include <QTest>

#include "ConsoleTest.h"
#include "Gbk.h"
#include "LineMap.h"
#include "LineText.h"

class TestLineText : public QObject {
  Q_OBJECT

  std::unique_ptr<StationDir> dir;

private slots:
  void init() { dir = std::make_unique<StationDir>(); }
  void cleanup() { dir.reset(); }

  void stateOfReport_data()
  {
    QTest::addColumn<QByteArray>("status");
    QTest::addColumn<QByteArray>("dialled");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("caption");
    QTest::newRow("idle") << QByteArray("IDLE") << QByteArray() << 1 << "空闲";
    QTest::newRow("idle, digits dialled") << QByteArray("IDLE") << QByteArray("010") << 2 << "拨号中";
    QTest::newRow("in call") << QByteArray("CONNECTED") << QByteArray("010") << 3 << "通话中";
    QTest::newRow("silent") << QByteArray("UNKNOWN") << QByteArray() << 0 << "离线";
    QTest::newRow("disabled") << QByteArray("FORBIDDEN") << QByteArray() << 4 << "禁用";
    QTest::newRow("other text as it is") << QByteArray("RINGING") << QByteArray() << 255 << "RINGING";
    QTest::newRow("letter case counts") << QByteArray("idle") << QByteArray() << 255 << "idle";
    QTest::newRow("GBK status") << QByteArray("\xd5\xbc\xcf\xdf") << QByteArray() << 255 << "占线";
  }
  void stateOfReport()
  {
    QFETCH(QByteArray, status);
    QFETCH(QByteArray, dialled);
    QFETCH(int, code);
    QFETCH(QString, caption);
    const LineState state = StateOfLine(status.constData(), dialled.constData());
    QCOMPARE(int(state.code), code);
    QCOMPARE(state.caption, caption);
  }

  void defaultNames()
  {
    QCOMPARE(DefaultLineName(1, 1), QStringLiteral("终端01线路#2"));
    QCOMPARE(DefaultLineName(12, 0), QStringLiteral("终端12线路#1"));
    QCOMPARE(DefaultLineName(100, 9), QStringLiteral("终端100线路#10"));
  }

  void callTime_data()
  {
    QTest::addColumn<QByteArray>("begin");
    QTest::addColumn<QString>("text");
    QTest::newRow("a minute and five") << QByteArray("2026-12-09 10:00:00") << "00:01:05";
    QTest::newRow("one-digit fields") << QByteArray("2026-12-9 9:0:0") << "01:01:05";
    QTest::newRow("over midnight") << QByteArray("2026-12-08 23:59:30") << "10:01:35";
    QTest::newRow("a day and an hour starts again") << QByteArray("2026-12-08 09:00:00") << "01:01:05";
    QTest::newRow("begin after now") << QByteArray("2026-12-09 11:00:00") << "00:00:00";
    QTest::newRow("unreadable") << QByteArray("yesterday") << QString();
    QTest::newRow("impossible date") << QByteArray("2026-13-40 10:00:00") << QString();
  }
  void callTime()
  {
    QFETCH(QByteArray, begin);
    QFETCH(QString, text);
    const QDateTime now(QDate(2026, 12, 9), QTime(10, 1, 5));
    QCOMPARE(CallTimeText(begin.constData(), now).value_or(QString()), text);
  }

  void lineMapRoundTrip()
  {
    const QList<LineMapEntry> plain = {
        {"GW1", 0, QStringLiteral("前台")},
        {"GW\xb1\xb1", -1, QStringLiteral("终端02线路#0")},
    };
    QVERIFY(WriteLineMap(dir->file(LINEMAP_FILE), plain));
    // Words only: the file as earlier releases wrote it.
    QCOMPARE(dir->read(LINEMAP_FILE), QByteArray("GW1 0 \xc7\xb0\xcc\xa8\n"
                                                 "GW\xb1\xb1 -1 \xd6\xd5\xb6\xcb"
                                                 "02\xcf\xdf\xc2\xb7#0\n"));
    // Blanks, quotes, backslashes (one a GBK trail byte), line ends: every name and id comes back.
    const QString trail = FromGbk("\x81\x5c");
    const QList<LineMapEntry> rows = {
        {"GW1", 0, QStringLiteral("1号 国际台")},
        {"GW 1", 1, QStringLiteral("\"VIP\" 室\\")},
        {"\"GW2", 2, QStringLiteral(" 前台\t") + trail + QStringLiteral(" x\r\n")},
        {"GW3", 3, QStringLiteral("A\"B\\") + trail},
    };
    QVERIFY(WriteLineMap(dir->file(LINEMAP_FILE), rows));
    QVERIFY(dir->read(LINEMAP_FILE).startsWith(QUOTED_FIELDS_MARK "\nGW1 0 \"1"));
    QList<LineMapEntry> back;
    QVERIFY(ReadLineMap(dir->file(LINEMAP_FILE), &back));
    QCOMPARE(back.size(), rows.size());
    for (qsizetype i = 0; i < rows.size(); i++) {
      QCOMPARE(back[i].machineId, rows[i].machineId);
      QCOMPARE(back[i].lineId, rows[i].lineId);
      QCOMPARE(back[i].name, rows[i].name);
    }
    // A file without the mark reads as it always did: a name is one word, a quote a character.
    dir->write(LINEMAP_FILE, "GW1 1 VIP \xca\xd2\n\"GW2\" 2 \"a b\"\n" QUOTED_FIELDS_MARK "\n");
    QVERIFY(ReadLineMap(dir->file(LINEMAP_FILE), &back));
    QCOMPARE(back.size(), 2);
    QCOMPARE(back[0].name, QStringLiteral("VIP"));
    QCOMPARE(back[1].machineId, QByteArray("\"GW2\""));
    QCOMPARE(back[1].name, QStringLiteral("\"a"));
    // With it, a quote that is not closed, or closed inside a word, leaves its line out.
    dir->write(LINEMAP_FILE, QUOTED_FIELDS_MARK "\n\"GW1 1 A\nGW2 2 \"a\"b\nGW3 3 \"\"\nGW4 4 \"B\" C\n");
    QVERIFY(ReadLineMap(dir->file(LINEMAP_FILE), &back));
    QCOMPARE(back.size(), 1);
    QCOMPARE(back[0].name, QStringLiteral("B"));
  }

  void lineMapSkipsWhatItCannotRead()
  {
    const QByteArray longName(3000, 'x');
    dir->write(LINEMAP_FILE, "GW1 0 A\n"
                             "GW2 x B\n"
                             "GW3 5\n"
                             "\n"
                             "  GW4 \t -3   D  extra words\n"
                             "GW5 7name\n"
                             "GW6 99999999999 F\n"
                             "GW7 1 " +
                                 longName +
                                 " GW8 2 tail\n"
                                 "GW9 2 last");
    QList<LineMapEntry> rows;
    QVERIFY(ReadLineMap(dir->file(LINEMAP_FILE), &rows));
    QStringList seen;
    for (const LineMapEntry &e : rows)
      seen << QString::fromLatin1(e.machineId) + QLatin1Char('/') + QString::number(e.lineId) + QLatin1Char('/') +
                  e.name.left(3);
    QCOMPARE(seen, QStringList({"GW1/0/A", "GW4/-3/D", "GW5/7/nam", "GW7/1/xxx", "GW9/2/las"}));
    QCOMPARE(rows[3].name.size(), 127);
  }

  void lineMapRefusesAnUnsavableName()
  {
    dir->write(LINEMAP_FILE, "GW1 0 A\n");
    QVERIFY(!WriteLineMap(dir->file(LINEMAP_FILE), {{"GW1", 0, QStringLiteral("A\U0001F600")}}));
    QCOMPARE(dir->read(LINEMAP_FILE), QByteArray("GW1 0 A\n"));
    QList<LineMapEntry> rows;
    QVERIFY(!ReadLineMap(dir->file("nothing"), &rows));
  }
};

CONSOLE_TEST_MAIN(TestLineText)
#include "test_linemap.moc"
