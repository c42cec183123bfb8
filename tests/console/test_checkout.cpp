// The checkout against a running engine: the calls a line's checkout lists
// and prices, what OK stores and Cancel leaves, calls that end meanwhile,
// calls no rate prices, calls billed before the program stopped, the
// checkout record with what was paid and owed, and a checkout the engine
// refuses.
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

const QByteArray kZhangSanGbk = "\xd5\xc5\xc8\xfd";                   // 张三
const QByteArray kZhangSanMima = "58b6b09f6c5ec2d6317253f3d1be59ed";  // 张三 / 密码

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

/* An answer that types what is due into the money field and settles. */
Answer payInFull()
{
  return [](QDialog *dlg) {
    auto *bill = static_cast<TBillForm *>(dlg);
    QTest::keyClicks(bill->Money, CentsText(bill->Total()));
    bill->OKBtn->click();
  };
}

/* An answer that checks the table, then clicks the button (OKBtn: paid in full). */
Answer expectTable(const QStringList &rows, const char *button)
{
  return [rows, button](QDialog *dlg) {
    QCOMPARE(tableOf(static_cast<TBillForm *>(dlg)), rows);
    (qstrcmp(button, "OKBtn") == 0 ? payInFull() : ScriptedOperator::click(button))(dlg);
  };
}

/* Ended calls of the machine's line 0 to the numbers, stored a minute apart
 * straight into the engine's database (no waiting for the clock). */
bool storeCalls(const QByteArray &machine, std::initializer_list<const char *> numbers)
{
  QByteArray sql = "begin;";
  int i = 0;
  for (const char *number : numbers) {
    const QByteArray begin = Literal(StationTime(QDateTime(QDate(2026, 7, 1), QTime(9, i))));
    sql += "insert into cdrtbl values(" + Literal(machine + "-" + QByteArray::number(i++)) + ", " + Literal(machine) +
           ", 0, '8001', " + Literal(number) + ", " + begin + ", " + begin + ", 0);";
  }
  return execOnEngineDb(sql + "commit;");
}

/* The checkouts of a machine the engine kept, oldest first, and their call ids. */
QList<checkout_info> checkoutsOf(const QByteArray &machine, QList<QByteArray> *callids = nullptr)
{
  std::pair<QList<checkout_info>, QList<QByteArray>> rows;
  quenta_selectCheckouts(
      "0000", "9999", nullptr,
      [](void *r, void *p) {
        auto *co = static_cast<checkout_info *>(r);
        static_cast<decltype(rows) *>(p)->first.append(*co);
        static_cast<decltype(rows) *>(p)->second.append(co->m_callids);
      },
      &rows);
  QList<checkout_info> kept;
  for (qsizetype i = 0; i < rows.first.size(); i++) {
    if (QByteArray(rows.first[i].m_machineid) != machine)
      continue;
    kept.append(rows.first[i]);
    if (callids)
      callids->append(rows.second[i]);
  }
  return kept;
}

}  // namespace

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
    const int row = s->main->Lines()->FindLine(m, 0);
    s->button(m, 0)->click();
    QCOMPARE(s->checkouts(), 0);
    s->main->PollLines();
    QCOMPARE(s->button(m, 0)->text(), QString::number(row + 1));
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
    QCOMPARE(s->text(m, 0, 5), QStringLiteral("3.80元"));

    s->forms->op.then([](QDialog *dlg) {
      auto *bill = static_cast<TBillForm *>(dlg);
      QCOMPARE(tableOf(bill), QStringList({"0105550001 1.20元", "0205550002 0.60元", "0305550003 2.00元"}));
      const QTreeWidgetItem *first = bill->BillTable->topLevelItem(0);
      QVERIFY(QDateTime::fromString(first->text(1), QStringLiteral("yyyy-MM-dd HH:mm:ss")).isValid());
      QVERIFY(first->text(2).endsWith(QStringLiteral("秒")));
      QCOMPARE(bill->TotalAmout->text(), QStringLiteral("3.80元"));
      QTest::keyClicks(bill->Money, QStringLiteral("5"));
      QCOMPARE(bill->Change->text(), QStringLiteral("1.20元"));
      bill->OKBtn->click();
    });
    s->button(m, 0)->click();

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
    QCOMPARE(Part<QLabel>(s->main, "StatusTakings")->text(), QStringLiteral("本班收入：13.80元"));
    const int row = s->main->Lines()->FindLine(m, 0);
    QCOMPARE(s->button(m, 0)->text(), QString::number(row + 1));
    QCOMPARE(s->text(m, 0, 5), QString());

    // Settled calls are not offered again.
    s->button(m, 0)->click();
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
    s->button(m, 0)->click();
    QCOMPARE(flagsOf(m), std::vector<int>({0, 0}));
    for (const cdr_info &c : CallsOf(m))
      QVERIFY(BillsOf(c.callid).empty());
    QCOMPARE(s->button(m, 0)->text(), QStringLiteral("结帐"));
    QCOMPARE(s->main->ShiftTotal(), Cents(0));
    QCOMPARE(s->forms->dir.read(LASTLOG_FILE), lastlog);

    // The pop-up menu's checkout offers the same calls again.
    s->main->Monitor()->SelectLine(s->row(m, 0));
    s->forms->op.then(expectTable({"0101 1.20元", "0202 0.60元"}, "CancelBtn"));
    emit Part<QMenu>(s->main, "PopupMenu1")->aboutToShow();
    Part(s->main, "LineBill")->trigger();
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
      payInFull()(dlg);
    });
    s->button(m, 0)->click();
    QCOMPARE(flagsOf(m), std::vector<int>({1, 0}));
    QVERIFY(BillsOf(CallsOf(m)[1].callid).empty());
    QCOMPARE(s->button(m, 0)->text(), QStringLiteral("结帐"));
    QCOMPARE(s->text(m, 0, 5), QStringLiteral("2.00元"));
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
    QCOMPARE(s->text(m, 0, 5), QStringLiteral("1.80元"));

    s->forms->op.then([](QDialog *dlg) {
      auto *bill = static_cast<TBillForm *>(dlg);
      QCOMPARE(tableOf(bill), QStringList({"0101 1.20元", "9999 无法计费", "0202 0.60元"}));
      QCOMPARE(bill->TotalAmout->text(), QStringLiteral("1.80元"));
      payInFull()(dlg);
    });
    s->button(m, 0)->click();
    QCOMPARE(s->forms->op.messages.size(), 1);
    QCOMPARE(s->forms->op.messages[0].text, QStringLiteral("有通话无法计费，请检查费率设置"));
    QCOMPARE(s->forms->op.messages[0].caption, QStringLiteral("错误"));
    QCOMPARE(flagsOf(m), std::vector<int>({1, 0, 1}));
    QVERIFY(BillsOf(CallsOf(m)[1].callid).empty());
    QCOMPARE(s->button(m, 0)->text(), QStringLiteral("结帐"));
    QCOMPARE(s->main->ShiftTotal(), Cents(180));
  }

  // A bill refused, a call that cannot be marked, a call settled elsewhere
  // while the customer pays: the checkout stores nothing at all.
  void aRefusedCheckoutSettlesNothing_data()
  {
    QTest::addColumn<QByteArray>("trigger");  // on the engine's database; "stale": a call settled meanwhile
    QTest::addColumn<QString>("told");
    QTest::newRow("bill refused") << QByteArray("before insert on billtbl when new.callid=%1") << "数据库出错";
    QTest::newRow("call not marked") << QByteArray("before update on cdrtbl when old.callid=%1") << "数据库出错";
    QTest::newRow("record refused") << QByteArray("before insert on checkouttbl") << "数据库出错";
    QTest::newRow("settled meanwhile") << QByteArray("stale") << "已经在别处结帐";
  }
  void aRefusedCheckoutSettlesNothing()
  {
    QFETCH(QByteArray, trigger);
    QFETCH(QString, told);
    const QByteArray m = FreshMachine();
    QVERIFY(storeCalls(m, {"0101", "0202", "0303"}));
    s->logIn();
    TestLine a(m, 0);
    QVERIFY(a.discovery());
    s->main->PollLines();
    const Cents before = s->main->ShiftTotal();
    const QByteArray lastlog = s->forms->dir.read(LASTLOG_FILE);
    const std::vector<cdr_info> calls = CallsOf(m);
    const QByteArray last = Literal(calls[2].callid);
    const bool stale = trigger == "stale";
    if (!stale)
      QVERIFY(execOnEngineDb("create trigger refuse " + QByteArray(trigger).replace("%1", last) +
                             " begin select raise(abort, 'refused'); end"));
    s->forms->op.then([&](QDialog *dlg) {
      if (stale)  // another station's checkout of the same call
        QVERIFY(execOnEngineDb("update cdrtbl set flag=1 where callid=" + last));
      payInFull()(dlg);
    });
    s->button(m, 0)->click();
    if (!stale)
      QVERIFY(execOnEngineDb("drop trigger refuse"));

    QCOMPARE(flagsOf(m), std::vector<int>({0, 0, stale ? 1 : 0}));
    for (const cdr_info &c : calls)
      QVERIFY(BillsOf(c.callid).empty());
    QVERIFY(checkoutsOf(m).isEmpty());
    QCOMPARE(s->main->ShiftTotal(), before);
    QCOMPARE(s->forms->dir.read(LASTLOG_FILE), lastlog);
    QCOMPARE(s->forms->op.messages.size(), 1);
    const QString text = s->forms->op.messages[0].caption + s->forms->op.messages[0].text;
    QVERIFY2(text.startsWith(QStringLiteral("错误")) && text.contains(told) && text.contains("什么都没有结帐"),
             qPrintable(text));
    QCOMPARE(s->text(m, 0, COLUMN_AMOUNT_DUE), stale ? QStringLiteral("1.80元") : QStringLiteral("3.80元"));

    // The next checkout offers the calls again, and settles them once.
    QStringList offered = {"0101 1.20元", "0202 0.60元", "0303 2.00元"};
    s->forms->op.then(expectTable(stale ? offered.mid(0, 2) : offered, "OKBtn"));
    s->button(m, 0)->click();
    QCOMPARE(flagsOf(m), std::vector<int>({1, 1, 1}));
    QCOMPARE(checkoutsOf(m).size(), 1);
    QCOMPARE(s->main->ShiftTotal(), before + (stale ? 180 : 380));
  }

  // What the checkout record keeps of the money: paid, change, deposit and
  // what the customer still owes, which is settled only once the operator
  // says so; the shift counts what the customer settled.
  void theCheckoutRecordKeepsTheMoney_data()
  {
    QTest::addColumn<QByteArray>("deposit");  // the "deposits" file's amount, empty: none
    QTest::addColumn<QString>("typed");       // into the money field before 结帐
    QTest::addColumn<QString>("question");    // asked before settling; empty: none
    QTest::addColumn<bool>("confirm");
    QTest::addColumn<QList<qint64>>("record");  // deposit, paid, change, owed; empty: no checkout
    QTest::newRow("change") << QByteArray() << "5"
                            << "" << true << QList<qint64>{0, 500, 180, 0};
    QTest::newRow("exact") << QByteArray() << "3.2"
                           << "" << true << QList<qint64>{0, 320, 0, 0};
    QTest::newRow("short, confirmed") << QByteArray() << "2"
                                      << "还差1.20元，确定结帐吗？" << true << QList<qint64>{0, 200, 0, 120};
    QTest::newRow("nothing paid, confirmed") << QByteArray() << ""
                                             << "还差3.20元，确定结帐吗？" << true << QList<qint64>{0, 0, 0, 320};
    QTest::newRow("short, declined") << QByteArray() << "2"
                                     << "还差1.20元，确定结帐吗？" << false << QList<qint64>{};
    QTest::newRow("deposit covers it") << QByteArray("5.00") << ""
                                       << "" << true << QList<qint64>{500, 0, 180, 0};
    QTest::newRow("deposit and more paid") << QByteArray("1.00") << "3"
                                           << "" << true << QList<qint64>{100, 300, 80, 0};
    QTest::newRow("deposit short") << QByteArray("1.00") << "1.5"
                                   << "还差0.70元，确定结帐吗？" << true << QList<qint64>{100, 150, 0, 70};
  }
  void theCheckoutRecordKeepsTheMoney()
  {
    QFETCH(QByteArray, deposit);
    QFETCH(QString, typed);
    QFETCH(QString, question);
    QFETCH(bool, confirm);
    QFETCH(QList<qint64>, record);
    const QByteArray m = FreshMachine();
    if (!deposit.isEmpty())
      s->forms->dir.write(DEPOSITS_FILE, m + " 0 " + deposit + "\n");
    QVERIFY(storeCalls(m, {"0101", "0303"}));
    s->logIn();
    TestLine a(m, 0);
    QVERIFY(a.discovery());
    s->main->PollLines();
    const Cents before = s->main->ShiftTotal();
    s->forms->op.then([&](QDialog *dlg) {
      auto *bill = static_cast<TBillForm *>(dlg);
      QTest::keyClicks(bill->Money, typed);
      bill->OKBtn->click();
      // Declined: the dialog stays for more money, or for 取消.
      QCOMPARE(bill->isVisible(), record.isEmpty());
      if (bill->isVisible())
        bill->CancelBtn->click();
    });
    if (!question.isEmpty()) {
      s->forms->op.then([&](QDialog *dlg) {
        QCOMPARE(dlg->objectName(), QStringLiteral("QuestionDlg"));
        QVERIFY2(dlg->findChild<QLabel *>("Question")->text().startsWith(question),
                 qPrintable(dlg->findChild<QLabel *>("Question")->text()));
        ScriptedOperator::click(confirm ? "OKBtn" : "CancelBtn")(dlg);
      });
    }
    s->button(m, 0)->click();

    QList<QByteArray> callids;
    const QList<checkout_info> kept = checkoutsOf(m, &callids);
    QCOMPARE(flagsOf(m), std::vector<int>(2, record.isEmpty() ? 0 : 1));
    QCOMPARE(kept.size(), record.isEmpty() ? 0 : 1);
    if (record.isEmpty()) {
      QCOMPARE(s->main->ShiftTotal(), before);
      return;
    }
    const checkout_info &co = kept[0];
    QCOMPARE(QList<qint64>({co.m_deposit, co.m_paid, co.m_change, co.m_owed}), record);
    QCOMPARE(QByteArray::number(co.m_due) + ' ' + QByteArray::number(co.m_calls) + ' ' + co.m_admin + ' ' + callids[0],
             "320 2 admin " + m + "-0\n" + m + "-1");
    QCOMPARE(s->main->ShiftTotal(), before + co.m_due - co.m_owed);
    QCOMPARE(s->forms->dir.read(DEPOSITS_FILE), QByteArray());
  }

  // Enter settles nothing until an amount was typed, and the field takes an
  // amount's figures only. The dialog names the line, and a call still going
  // on, which it does not settle.
  void theDialogAsksForAnAmountAndNamesTheLine()
  {
    const QByteArray m = FreshMachine();
    s->logIn();
    TestLine a(m, 0);
    QVERIFY(a.discovery());
    QVERIFY(a.call("0101") && a.connected("0303"));
    s->main->PollLines();
    const QString name = s->entry(m, 0)->name;
    const QString running = s->text(m, 0, COLUMN_RUNNING_COST);
    QVERIFY(!running.isEmpty());
    s->forms->op.then([&](QDialog *dlg) {
      auto *bill = static_cast<TBillForm *>(dlg);
      QCOMPARE(tableOf(bill), QStringList({"0101 1.20元"}));
      QCOMPARE(bill->windowTitle(), QStringLiteral("结帐 - ") + name);
      QVERIFY(bill->CallInProgress->isVisibleTo(bill) && bill->CallInProgress->text().contains(running));
      QCOMPARE(bill->ChangeCaption->text() + bill->Change->text(), QStringLiteral("还差：1.20元"));
      QTest::keyClick(bill->Money, Qt::Key_Return);
      QVERIFY(bill->isVisible());
      QTest::keyClicks(bill->Money, QStringLiteral("1234567.891"));
      QCOMPARE(bill->Money->text(), QStringLiteral("123456.89"));
      bill->Money->selectAll();
      QTest::keyClicks(bill->Money, QStringLiteral("2"));
      QCOMPARE(bill->ChangeCaption->text() + bill->Change->text(), QStringLiteral("找零：0.80元"));
      // The customer asks why the call costs what it does.
      emit bill->BillTable->itemDoubleClicked(bill->BillTable->topLevelItem(0), 0);
      QTest::keyClick(bill->Money, Qt::Key_Return);
      QVERIFY(!bill->isVisible());
    });
    s->button(m, 0)->click();
    QCOMPARE(s->forms->op.messages.size(), 1);
    QCOMPARE(s->forms->op.messages[0].caption, QStringLiteral("计费明细"));
    QVERIFY2(s->forms->op.messages[0].text.endsWith("费率：A\n套餐（前3分0秒）：1.00元\n手续费：0.20元\n合计：1.20元"),
             qPrintable(s->forms->op.messages[0].text));
    QCOMPARE(checkoutsOf(m).size(), 1);
    QVERIFY(a.hangUp());
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
    QCOMPARE(s->text(m, 0, 5), QStringLiteral("0.60元"));

    s->forms->op.then(expectTable({"0202 0.60元"}, "OKBtn"));
    s->button(m, 0)->click();
    for (const cdr_info &c : CallsOf(m)) {
      QCOMPARE(c.flag, 1);
      QCOMPARE(BillsOf(c.callid).size(), size_t(1));
    }
    QCOMPARE(s->main->ShiftTotal(), Cents(60));
    // A line whose only call was billed already has nothing to pay.
    s->button(m, 1)->click();
    QCOMPARE(s->checkouts(), 1);
    QCOMPARE(s->button(m, 1)->text(), QString::number(s->main->Lines()->FindLine(m, 1) + 1));
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
      payInFull()(dlg);
    });
    s->button(m, 0)->click();
    QCOMPARE(flagsOf(m), std::vector<int>(30, 1));
    QCOMPARE(s->main->ShiftTotal(), Cents(10003799));
    QCOMPARE(s->forms->dir.read(LASTLOG_FILE), QByteArray("admin 100037.99"));
    QCOMPARE(Part<QLabel>(s->main, "StatusTakings")->text(), QStringLiteral("本班收入：100037.99元"));
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
    s->button(sly, 0)->click();
    QCOMPARE(flagsOf(sly), std::vector<int>({1}));
    QCOMPARE(flagsOf(m), std::vector<int>({0}));
  }
};

ENGINE_TEST_MAIN(TestCheckout)
#include "test_checkout.moc"
