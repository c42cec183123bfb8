// Deposits: the file whatever the locale, the thresholds, the checkout's last
// line; with an engine and the gateway simulator, a deposit kept over a restart,
// a call cut within a second of using it up, and its checkout counting it paid.
#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProcess>
#include <QPushButton>

#include <clocale>
#include <cstdlib>

#include "BillFrm.h"
#include "BillText.h"
#include "DepositDlg.h"
#include "Deposits.h"
#include "EngineTest.h"
#include "Gbk.h"
#include "LineMap.h"
#include "ReceiptDlg.h"

Q_DECLARE_METATYPE(DepositLevel)

class TestDeposit : public QObject {
  Q_OBJECT

private slots:
  void theFileReadsBackWhateverTheLocale_data()
  {
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QByteArray>("written");
    const QByteArray gbk = ToGbk(QStringLiteral("终端甲")).value();
    QTest::newRow("lines") << QByteArray("GW1 0 20\nGW1 1 5.5\n") << QByteArray("GW1 0 20.00\nGW1 1 5.50\n");
    QTest::newRow("GBK id, blanks, CRLF, no end")
        << "  " + gbk + "\t7  0.01 \r\nGW2 1 3" << gbk + " 7 0.01\nGW2 1 3.00\n";
    QTest::newRow("machine id with a blank") << QByteArray(QUOTED_FIELDS_MARK "\n\"GW 1\" 0 5\n\"GW\\\"2\" 1 2\n")
                                             << QByteArray(QUOTED_FIELDS_MARK "\n\"GW 1\" 0 5.00\nGW\"2 1 2.00\n");
    QTest::newRow("a quote of an earlier file")
        << QByteArray("\"GW1\" 0 5\n\"GW 2\" 1 3\n") << QByteArray(QUOTED_FIELDS_MARK "\n\"\\\"GW1\\\"\" 0 5.00\n");
    QTest::newRow("a quote not closed") << QByteArray(QUOTED_FIELDS_MARK "\n\"GW1 0 5\nGW2 \"1\"x 3\n\"GW3\" 0 4 \"\n")
                                        << QByteArray();
    QTest::newRow("fen beyond a float") << QByteArray("GW1 0 1234567.89\n") << QByteArray("GW1 0 1234567.89\n");
    QTest::newRow("the first of a line counts") << QByteArray("GW1 0 1.00\nGW1 0 2.00\n") << QByteArray("GW1 0 1.00\n");
    QTest::newRow("no amount of money") << QByteArray("GW1 0 12,50\nGW1 1 0\nGW1 2 -3\nGW1 3 0.001\nGW1 x 1\nGW1 5\n"
                                                      "GW1 6 1 2\nGW1 7 inf\n")
                                        << QByteArray();
  }
  void theFileReadsBackWhateverTheLocale()
  {
    QFETCH(QByteArray, file);
    QFETCH(QByteArray, written);
    StationDir dir;
    const QString path = dir.file(DEPOSITS_FILE);
    QList<Deposit> deposits{{"X", 1, 1}};
    QVERIFY(ReadDeposits(path, &deposits) && deposits.isEmpty());  // no file: none
    dir.write(DEPOSITS_FILE, file);
    // Read and written under a comma locale, as the window's may be, twice.
    QTemporaryDir locale;
    QVERIFY2(UseCommaNumbers(locale), "no locale with a decimal comma could be made");
    const bool done = ReadDeposits(path, &deposits) && WriteDeposits(path, deposits) && ReadDeposits(path, &deposits) &&
                      WriteDeposits(path, deposits);
    std::setlocale(LC_NUMERIC, "C");
    QVERIFY(done);
    QCOMPARE(dir.read(DEPOSITS_FILE), written);
  }

  void theThresholdsAreCrossedOnce_data()
  {
    QTest::addColumn<DepositLevel>("shown");
    QTest::addColumn<Cents>("used");
    QTest::addColumn<DepositLevel>("level");
    QTest::addColumn<QString>("events");  // b: beep, d: deny
    QTest::addColumn<QString>("text");
    QTest::newRow("below 90 %") << DEPOSIT_NONE << Cents(899) << DEPOSIT_LEFT << ""
                                << "10.00元，余1.01元";
    QTest::newRow("90 %") << DEPOSIT_LEFT << Cents(900) << DEPOSIT_LOW << "b"
                          << "10.00元，余1.00元，将用完";
    QTest::newRow("still low") << DEPOSIT_LOW << Cents(999) << DEPOSIT_LOW << ""
                               << "10.00元，余0.01元，将用完";
    QTest::newRow("used up") << DEPOSIT_LOW << Cents(1000) << DEPOSIT_USED_UP << "d"
                             << "10.00元，押金用完";
    QTest::newRow("past both") << DEPOSIT_LEFT << Cents(1030) << DEPOSIT_USED_UP << "bd"
                               << "10.00元，押金用完，超出0.30元";
    QTest::newRow("a dip holds") << DEPOSIT_USED_UP << Cents(200) << DEPOSIT_USED_UP << ""
                                 << "10.00元，押金用完";
  }
  void theThresholdsAreCrossedOnce()
  {
    QFETCH(DepositLevel, shown);
    QFETCH(Cents, used);
    QFETCH(DepositLevel, level);
    QFETCH(QString, events);
    QFETCH(QString, text);
    const DepositCheck check = CheckDeposit(shown, 1000, used);
    QCOMPARE(check.level, level);
    QCOMPARE(QString(check.beep ? "b" : "") + (check.deny ? "d" : ""), events);
    QCOMPARE(DepositText(1000, used, check.level), text);
    QCOMPARE(CheckDeposit(shown, 0, used).level, DEPOSIT_NONE);
  }

  void theCheckoutsLastLine()
  {
    // Of a 2.10 total: a deposit short of it, above it, and with money on top.
    const std::tuple<Cents, Cents, QString> cases[] = {
        {200, 0, "还需补交0.10"}, {300, 0, "退还0.90"}, {200, 500, "找零4.90"}};
    for (const auto &[deposit, paid, text] : cases) {
      const Settlement s = SettlementOf(210, deposit, paid);
      QCOMPARE(s.caption + CentsText(s.amount), text);
    }
  }

  void aCallPastItsDepositIsCutAndItsCheckoutCountsIt()
  {
    // An earlier call of 1.60 and 0.10 a second: a 2.00 deposit warns from
    // the running call's second second and is used up at its fourth.
    StartEngineOnce("Pkg|061|0.00|00:00:00-0.00|5:1.60|0|1\n"
                    "Sec|062|0.00|00:00:00-0.10|0:0.00|0|1\n");
    StationFixture s;
    const QByteArray m = FreshMachine();
    s.forms->dir.write(LINEMAP_FILE, m + " 1 Booth\n" + m + " 2 Other\n");
    s.logIn();
    auto take = [&](int line, const QString &typed) {  // true when "退押金" was offered
      s.forms->op.then([typed](QDialog *dlg) {
        QTest::keyClicks(static_cast<TDepositDlg *>(dlg)->Money, typed);
        static_cast<TDepositDlg *>(dlg)->OKBtn->click();
      });
      s.main->Monitor()->SelectLine(s.row(m, line));
      emit Part<QMenu>(s.main, "PopupMenu1")->aboutToShow();
      const bool refund = Part(s.main, "LineRefund")->isEnabled();
      Part(s.main, "LineDeposit")->trigger();
      return refund;
    };
    QVERIFY(!take(1, "1.5,0x"));  // the checkout's money field rules: "1.50"
    QVERIFY(take(1, ".5"));       // added to what the line holds
    QCOMPARE(s.forms->dir.read(DEPOSITS_FILE), m + " 1 2.00\n");
    s.restart();
    QCOMPARE(s.text(m, 1, COLUMN_DEPOSIT), "2.00元，余2.00元");

    // A deposit that cannot be written is told, and held all the same; the
    // refund hands it all back and rewrites the file.
    QVERIFY(QDir(s.forms->dir.path()).rename(DEPOSITS_FILE, "saved") && QDir(s.forms->dir.path()).mkdir(DEPOSITS_FILE));
    QVERIFY(!take(2, "1"));
    QCOMPARE(s.forms->op.messages.size(), 1);
    QVERIFY(s.forms->op.messages[0].text.startsWith("无法保存文件 deposits：已有同名的文件夹"));
    QVERIFY(QDir(s.forms->dir.path()).rmdir(DEPOSITS_FILE));
    s.forms->op.then([](QDialog *dlg) {
      QVERIFY(static_cast<TDepositDlg *>(dlg)->Question->text().contains("请退还顾客：1.00元"));
      ScriptedOperator::click("OKBtn")(dlg);
    });
    emit Part<QMenu>(s.main, "PopupMenu1")->aboutToShow();
    Part(s.main, "LineRefund")->trigger();
    QCOMPARE(s.forms->dir.read(DEPOSITS_FILE), m + " 1 2.00\n");

    const QString l = QString::fromLatin1(m) + "/1 ";
    QProcess sim;
    sim.start(GWSIM_PATH, {"-k", "200", "--duration", "30", "--format", "json", "-e",
                           l + "announce;" + l + "connect 0611;" + l + "talk 0.5;" + l + "hangup;" + l + "talk 0.5;" +
                               l + "connect 0622;" + l + "talk 20;" + l + "hangup"});
    Part<QTimer>(s.main, "Timer1")->start();  // the polls of the station at work
    const LineEntry *booth = s.entry(m, 1);
    QVERIFY(QTest::qWaitFor([&] { return booth->depositLevel == DEPOSIT_LOW; }, 10000));
    QCOMPARE(s.tint(m, 1, 0), DepositWarningTint());
    QVERIFY(s.text(m, 1, COLUMN_DEPOSIT).endsWith("将用完"));
    QVERIFY(QTest::qWaitFor([&] { return CallsOf(m).size() == 2 && s.text(m, 1, 1) == "禁用"; }, 10000));
    Part<QTimer>(s.main, "Timer1")->stop();
    QVERIFY(s.text(m, 1, COLUMN_DEPOSIT).contains("押金用完"));
    // Used up at the fourth second by the engine's clock, and cut in the next.
    const std::vector<cdr_info> calls = CallsOf(m);
    const auto at = [](const char *t) { return QDateTime::fromString(t, "yyyy-MM-dd HH:mm:ss"); };
    QVERIFY2(at(calls[1].bdate).secsTo(at(calls[1].edate)) <= 5, calls[1].edate);
    sim.terminate();
    QVERIFY(sim.waitForFinished(5000));
    const QByteArray summary = sim.readAllStandardOutput();
    QVERIFY2(summary.contains(R"("ended_by": "command")") &&
                 summary.contains(R"("command": "call: deny\n", "answer": "FORBIDDEN")"),
             summary.constData());

    Cents total = 0;
    for (const cdr_info &call : calls)
      total += CentsOf(quenta_getbill(call.callid)->m_count);
    s.forms->op.then([&](QDialog *dlg) {
      auto *bill = static_cast<TBillForm *>(dlg);
      QCOMPARE(bill->DepositAmount->text(), "2.00元");
      QCOMPARE(bill->TotalAmout->text(), AmountText(total));  // 2.00, or 2.10 when cut in the fifth second
      QCOMPARE(bill->ChangeCaption->text() + bill->Change->text(), total < 205 ? "退还：0.00元" : "还需补交：0.10元");
      bill->Money->setText(CentsText(qMax<Cents>(0, total - 200)));
      bill->PrintBtn->click();
    });
    s.main->Checkout(s.main->Lines()->FindLine(m, 1));
    QCOMPARE(s.forms->op.messages.last().caption, QStringLiteral("打印小票"));  // where the receipt went
    QVERIFY(ReceiptHtml(Forms.ReceiptDlg->Reprint()).contains("押金</td><td align=\"right\">2.00元"));
    for (const cdr_info &call : CallsOf(m))
      QVERIFY(call.flag == 1 && BillsOf(call.callid).size() == 1);
    QCOMPARE(s.main->ShiftTotal(), total);
    QCOMPARE(s.forms->dir.read(LASTLOG_FILE), "admin " + CentsText(total).toLatin1());
    QCOMPARE(s.forms->dir.read(DEPOSITS_FILE), QByteArray());
    QCOMPARE(s.text(m, 1, COLUMN_DEPOSIT), QString());
    s.forms->verifyScriptDone();
  }
};

ENGINE_TEST_MAIN(TestDeposit)
#include "test_deposit.moc"
