// The checkout against a running engine: the calls a line's checkout lists
// and prices, what OK stores and Cancel leaves, calls that end meanwhile,
// calls no rate prices, and calls billed before the program stopped.
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>

#include "Audit.h"
#include "BillFrm.h"
#include "EngineTest.h"
#include "ShiftRecord.h"

namespace {

const QByteArray kZhangSanGbk = "\xd5\xc5\xc8\xfd";                     // 张三
const QByteArray kZhangSanMima = "58b6b09f6c5ec2d6317253f3d1be59ed";    // 张三 / 密码

/* The rows of the checkout table as "number amount" texts. */
QStringList tableOf(const TBillForm *dialog)
{
  QStringList rows;
  for (int i = 0; i < dialog->BillTable->topLevelItemCount(); i++) {
    const QTreeWidgetItem *item = dialog->BillTable->topLevelItem(i);
    rows << item->text(0) + QLatin1Char(' ') + item->text(3);
  }
  return rows;
}

std::vector<int> flagsOf(const QByteArray &machine)
{
  std::vector<int> flags;
  for (const cdr_info &c : CallsOf(machine))
    flags.push_back(c.flag);
  return flags;
}

/* An answer that checks the table, then clicks the button. */
Answer expectTable(const QStringList &rows, const char *button)
{
  return [rows, button](QDialog *dlg) {
    QCOMPARE(tableOf(static_cast<TBillForm *>(dlg)), rows);
    ScriptedOperator::click(button)(dlg);
  };
}

} // namespace

class TestCheckout : public QObject {
  Q_OBJECT

  std::unique_ptr<StationFixture> s;

private slots:
  void init() { s = std::make_unique<StationFixture>(); }
  void cleanup()
  {
    s->forms->verifyScriptDone();
    s.reset();
  }

  void aLineWithoutCallsOpensNoDialog()
  {
    const QByteArray m = FreshMachine();
    s->logIn();
    TestLine a(m, 0);
    QVERIFY(a.discovery());
    s->main->PollLines();
    const int row = s->main->FindLine(m, 0);
    s->entry(m, 0)->button->click();
    QCOMPARE(s->checkouts(), 0);
    s->main->PollLines();
    QCOMPARE(s->entry(m, 0)->button->text(), QString::number(row + 1));
  }

  void okStoresTheBillsAndGrowsTheShift()
  {
    const QByteArray m = FreshMachine();
    s->forms->dir.write(PASSWD_FILE, kZhangSanGbk + " " + kZhangSanMima + "\n");
    s->forms->dir.write(LASTLOG_FILE, kZhangSanGbk + " 10.00");
    s->logIn(QStringLiteral("张三"), QStringLiteral("密码"));
    TestLine a(m, 0);
    QVERIFY(a.discovery());
    QVERIFY(a.call("0105550001") && a.call("0205550002") && a.call("0305550003"));
    s->main->PollLines();
    QCOMPARE(s->row(m, 0)->text(5), QStringLiteral("3.80元"));

    s->forms->op.then([](QDialog *dlg) {
      auto *bill = static_cast<TBillForm *>(dlg);
      QCOMPARE(tableOf(bill), QStringList({"0105550001 1.20元", "0205550002 0.60元",
                                           "0305550003 2.00元"}));
      const QTreeWidgetItem *first = bill->BillTable->topLevelItem(0);
      QVERIFY(QDateTime::fromString(first->text(1), QStringLiteral("yyyy-MM-dd HH:mm:ss")).isValid());
      QVERIFY(first->text(2).endsWith(QStringLiteral("秒")));
      QCOMPARE(bill->TotalAmout->text(), QStringLiteral("3.80元"));
      QTest::keyClicks(bill->Money, QStringLiteral("5"));
      QCOMPARE(bill->Change->text(), QStringLiteral("1.20元"));
      bill->OKBtn->click();
    });
    s->entry(m, 0)->button->click();

    const std::vector<cdr_info> calls = CallsOf(m);
    QCOMPARE(calls.size(), size_t(3));
    const float amounts[] = {1.20f, 0.60f, 2.00f};
    for (size_t i = 0; i < calls.size(); i++) {
      QCOMPARE(calls[i].flag, 1);
      const std::vector<bill_info> bills = BillsOf(calls[i].callid);
      QCOMPARE(bills.size(), size_t(1));
      QCOMPARE(QByteArray(bills[0].m_admin), kZhangSanGbk);
      QCOMPARE(bills[0].m_count, amounts[i]);
    }
    QCOMPARE(s->main->ShiftTotal(), Cents(1380));
    QCOMPARE(s->forms->dir.read(LASTLOG_FILE), kZhangSanGbk + " 13.80");
    QCOMPARE(s->main->StatusTakings->text(), QStringLiteral("本班收入：13.80元"));
    const int row = s->main->FindLine(m, 0);
    QCOMPARE(s->entry(m, 0)->button->text(), QString::number(row + 1));
    QCOMPARE(s->row(m, 0)->text(5), QString());

    // Settled calls are not offered again.
    s->entry(m, 0)->button->click();
    QCOMPARE(s->checkouts(), 1);
  }

  void cancelLeavesEverythingUnsettled()
  {
    const QByteArray m = FreshMachine();
    s->logIn();
    TestLine a(m, 0);
    QVERIFY(a.discovery());
    QVERIFY(a.call("0101") && a.call("0202"));
    s->main->PollLines();
    const QByteArray lastlog = s->forms->dir.read(LASTLOG_FILE);

    s->forms->op.then(expectTable({"0101 1.20元", "0202 0.60元"}, "CancelBtn"));
    s->entry(m, 0)->button->click();
    QCOMPARE(flagsOf(m), std::vector<int>({0, 0}));
    for (const cdr_info &c : CallsOf(m))
      QVERIFY(BillsOf(c.callid).empty());
    QCOMPARE(s->entry(m, 0)->button->text(), QStringLiteral("结帐"));
    QCOMPARE(s->main->ShiftTotal(), Cents(0));
    QCOMPARE(s->forms->dir.read(LASTLOG_FILE), lastlog);

    // The pop-up menu's checkout offers the same calls again.
    s->main->LineList->setCurrentItem(s->row(m, 0));
    s->forms->op.then(expectTable({"0101 1.20元", "0202 0.60元"}, "CancelBtn"));
    emit s->main->PopupMenu1->aboutToShow();
    s->main->LineBill->trigger();
    QCOMPARE(s->checkouts(), 2);
  }

  void aCallThatEndsDuringTheCheckoutStaysUnsettled()
  {
    const QByteArray m = FreshMachine();
    s->logIn();
    TestLine a(m, 0);
    QVERIFY(a.discovery());
    QVERIFY(a.call("0101"));
    s->main->PollLines();

    s->forms->op.then([&](QDialog *dlg) {
      // The next customer's call ends while this one pays; the timer goes on.
      QVERIFY(a.call("0303"));
      s->main->PollLines();
      ScriptedOperator::click("OKBtn")(dlg);
    });
    s->entry(m, 0)->button->click();
    QCOMPARE(flagsOf(m), std::vector<int>({1, 0}));
    QVERIFY(BillsOf(CallsOf(m)[1].callid).empty());
    QCOMPARE(s->entry(m, 0)->button->text(), QStringLiteral("结帐"));
    QCOMPARE(s->row(m, 0)->text(5), QStringLiteral("2.00元"));
    QCOMPARE(s->main->ShiftTotal(), Cents(120));
  }

  void aCallNoRatePricesIsNeitherCountedNorSettled()
  {
    const QByteArray m = FreshMachine();
    s->logIn();
    TestLine a(m, 0);
    QVERIFY(a.discovery());
    QVERIFY(a.call("0101") && a.call("9999") && a.call("0202"));
    s->main->PollLines();
    QCOMPARE(s->row(m, 0)->text(5), QStringLiteral("1.80元"));

    s->forms->op.then([](QDialog *dlg) {
      auto *bill = static_cast<TBillForm *>(dlg);
      QCOMPARE(tableOf(bill), QStringList({"0101 1.20元", "9999 无法计费", "0202 0.60元"}));
      QCOMPARE(bill->TotalAmout->text(), QStringLiteral("1.80元"));
      bill->OKBtn->click();
    });
    s->entry(m, 0)->button->click();
    QCOMPARE(s->forms->op.messages.size(), 1);
    QCOMPARE(s->forms->op.messages[0].text, QStringLiteral("有通话无法计费，请检查费率设置"));
    QCOMPARE(s->forms->op.messages[0].caption, QStringLiteral("错误"));
    QCOMPARE(flagsOf(m), std::vector<int>({1, 0, 1}));
    QVERIFY(BillsOf(CallsOf(m)[1].callid).empty());
    QCOMPARE(s->entry(m, 0)->button->text(), QStringLiteral("结帐"));
    QCOMPARE(s->main->ShiftTotal(), Cents(180));
  }

  void onlyCallsWhoseBillIsStoredAreSettledAndTheRestNamed()
  {
    const QByteArray m = FreshMachine();
    s->logIn();
    TestLine a(m, 0);
    QVERIFY(a.discovery());
    QVERIFY(a.call("0101") && a.call("0202") && a.call("0303"));
    s->main->PollLines();
    const Cents before = s->main->ShiftTotal();
    const std::vector<cdr_info> calls = CallsOf(m);
    // The first call's bill is refused; the third's bill is stored but its
    // call cannot be marked.
    QVERIFY(execOnEngineDb("create trigger refuse_bill before insert on billtbl when new.callid=" +
                           Literal(calls[0].callid) + " begin select raise(abort, 'refused'); end"));
    QVERIFY(execOnEngineDb("create trigger refuse_mark before update on cdrtbl when old.callid=" +
                           Literal(calls[2].callid) + " begin select raise(abort, 'refused'); end"));
    s->forms->op.then(ScriptedOperator::click("OKBtn"));
    s->entry(m, 0)->button->click();
    QVERIFY(execOnEngineDb("drop trigger refuse_bill; drop trigger refuse_mark"));

    QCOMPARE(flagsOf(m), std::vector<int>({0, 1, 0}));
    QCOMPARE(BillsOf(calls[0].callid).size(), size_t(0));
    QCOMPARE(BillsOf(calls[2].callid).size(), size_t(1));
    QCOMPARE(s->main->ShiftTotal(), before + 260);
    QCOMPARE(s->forms->dir.read(LASTLOG_FILE), "admin " + CentsText(before + 260).toLatin1());
    QCOMPARE(s->forms->op.messages.size(), 1);
    const QStringList told = s->forms->op.messages[0].text.split(QLatin1Char('\n'));
    QCOMPARE(s->forms->op.messages[0].caption, QStringLiteral("错误"));
    QCOMPARE(told.size(), 5);
    QVERIFY(told[0].contains(QStringLiteral("账单未能保存，仍未结帐")));
    QCOMPARE(told[1], "0101  " + QString::fromLatin1(calls[0].bdate) + QStringLiteral("  1.20元"));
    QVERIFY(told[3].contains(QStringLiteral("未能标记为已结帐")));
    QCOMPARE(told[4], "0303  " + QString::fromLatin1(calls[2].bdate) + QStringLiteral("  2.00元"));
    QCOMPARE(s->entry(m, 0)->button->text(), QStringLiteral("结帐"));
    // The trail keeps what the customer was shown and what was settled of it.
    QList<AuditRow> trail;
    QVERIFY(QueryAudit("0000", "9999", QString(), QStringLiteral("结帐"), &trail));
    QVERIFY(!trail.isEmpty());
    QCOMPARE(trail.last().detail, QStringLiteral("线路“%1”3个通话：应付3.80元，已付0.00元，欠3.80元；其中1个通话（1.20元）"
                                             "账单未能保存，仍未结帐，实际结帐2个通话共2.60元；"
                                             "1个通话已保存账单但未能标记为已结帐")
                                  .arg(s->entry(m, 0)->name));

    // The next checkout offers only the call without a bill, and marks the
    // other without billing it again.
    s->forms->op.then(expectTable({"0101 1.20元"}, "OKBtn"));
    s->entry(m, 0)->button->click();
    QCOMPARE(flagsOf(m), std::vector<int>({1, 1, 1}));
    QCOMPARE(BillsOf(calls[2].callid).size(), size_t(1));
    QCOMPARE(s->main->ShiftTotal(), before + 380);
  }

  void aCallBilledBeforeAStopIsNotBilledAgain()
  {
    const QByteArray m = FreshMachine();
    s->logIn();
    TestLine a(m, 0), b(m, 1);
    QVERIFY(a.discovery() && b.discovery());
    QVERIFY(a.call("0101") && a.call("0202") && b.call("0303"));
    // The program stopped after storing these bills, before marking their calls.
    for (const cdr_info &c : CallsOf(m)) {
      if (c.lineid == 1 || QByteArray(c.desnum) == "0101") {
        bill_info *bill = quenta_getbill(c.callid);
        QVERIFY(bill);
        quenta_save(bill, "admin");
      }
    }
    s->main->PollLines();
    QCOMPARE(s->row(m, 0)->text(5), QStringLiteral("0.60元"));

    s->forms->op.then(expectTable({"0202 0.60元"}, "OKBtn"));
    s->entry(m, 0)->button->click();
    for (const cdr_info &c : CallsOf(m)) {
      QCOMPARE(c.flag, 1);
      QCOMPARE(BillsOf(c.callid).size(), size_t(1));
    }
    QCOMPARE(s->main->ShiftTotal(), Cents(60));
    // A line whose only call was billed already has nothing to pay.
    s->entry(m, 1)->button->click();
    QCOMPARE(s->checkouts(), 1);
    QCOMPARE(s->entry(m, 1)->button->text(), QString::number(s->main->FindLine(m, 1) + 1));
  }

  // A shift well into six figures, then thirty calls settled at once: the
  // total, the shift, the status bar and "lastlog" all count in fen.
  void aLargeShiftGrowsByExactlyWhatIsSettled()
  {
    const QByteArray m = FreshMachine();
    s->forms->dir.write(LASTLOG_FILE, "admin 99999.99");
    QByteArray sql = "begin;";
    for (int i = 0; i < 30; i++) {
      const QByteArray begin = Literal(StationTime(QDateTime(QDate(2026, 7, 1), QTime(9, 0)).addSecs(i * 60)));
      const char *number = i % 3 == 0 ? "0101" : i % 3 == 1 ? "0202" : "0303";
      sql += "insert into cdrtbl values(" + Literal(m + "-" + QByteArray::number(i)) + ", " + Literal(m) +
             ", 0, '8001', '" + number + "', " + begin + ", " + begin + ", 0);";
    }
    QVERIFY(execOnEngineDb(sql + "commit;"));
    s->logIn();
    TestLine a(m, 0);
    QVERIFY(a.discovery());
    s->main->PollLines();
    s->forms->op.then([](QDialog *dlg) {
      QCOMPARE(static_cast<TBillForm *>(dlg)->TotalAmout->text(), QStringLiteral("38.00元"));
      ScriptedOperator::click("OKBtn")(dlg);
    });
    s->entry(m, 0)->button->click();
    QCOMPARE(flagsOf(m), std::vector<int>(30, 1));
    QCOMPARE(s->main->ShiftTotal(), Cents(10003799));
    QCOMPARE(s->forms->dir.read(LASTLOG_FILE), QByteArray("admin 100037.99"));
    QCOMPARE(s->main->StatusTakings->text(), QStringLiteral("本班收入：100037.99元"));
  }

  void quotesInAMachineIdStayInsideTheirText()
  {
    const QByteArray m = FreshMachine();
    const QByteArray sly = m + "' or '1'='1";
    s->logIn();
    TestLine a(m, 0), b(sly, 0);
    QVERIFY(a.discovery() && b.discovery());
    QVERIFY(a.call("0101") && b.call("0202"));
    s->main->PollLines();
    s->forms->op.then(expectTable({"0202 0.60元"}, "OKBtn"));
    s->entry(sly, 0)->button->click();
    QCOMPARE(flagsOf(sly), std::vector<int>({1}));
    QCOMPARE(flagsOf(m), std::vector<int>({0}));
  }
};

ENGINE_TEST_MAIN(TestCheckout)
#include "test_checkout.moc"
