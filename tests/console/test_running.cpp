// What a call in progress costs, against a running engine fed by test lines:
// at every poll a row shows its call priced as if it ended then, and the
// line's amount due with it; once the call has ended at such a moment, the
// checkout lists exactly that price and that total.
#include <QLabel>
#include <QTest>
#include <QTreeWidget>

#include <deque>
#include <iterator>

#include "BillFrm.h"
#include "EngineTest.h"

class TestRunningCost : public QObject {
  Q_OBJECT

private slots:
  // One-second units, so every second of a call changes what it costs. The
  // cases run side by side, a line each, and share the seconds they last.
  void theRowShowsWhatTheCheckoutLists()
  {
    StartEngineOnce("Sec|050|0.30|00:00:00-0.02|0:0.00|0|1\n"
                    "Day|051|0.00|00:00:00-0.01,08:00:00-0.03,20:00:00-0.02|0:0.00|0|1\n"
                    "Pkg|052|0.10|00:00:00-0.05|2:0.80|0|1\n"
                    "Free|053|0.50|00:00:00-0.05|0:0.00|60|1\n");
    const struct {
      const char *dialled;
      bool earlierCall; /* an unsettled call of the line before */
    } cases[] = {{"0505551234", false},
                 {"0515551234", true},
                 {"0525551234", false},
                 {"0535551234", false},
                 {"0995551234", false}};  // no rule prices the last
    const int n = static_cast<int>(std::size(cases));
    StationFixture s;
    s.logIn();
    const QByteArray m = FreshMachine();
    std::deque<TestLine> lines;
    for (int i = 0; i < n; i++) {
      lines.emplace_back(m, i);
      QVERIFY(lines[i].discovery() && (!cases[i].earlierCall || lines[i].call(cases[i].dialled)));
    }
    // Call ids carry the start second: the calls in progress begin in a later one.
    const QByteArray earlier = StationTime(QDateTime::fromSecsSinceEpoch(time(nullptr)));
    while (StationTime(QDateTime::fromSecsSinceEpoch(time(nullptr))) <= earlier)
      QTest::qWait(20);
    for (int i = 0; i < n; i++)
      QVERIFY(lines[i].connected(cases[i].dialled));
    s.main->PollLines();

    // The rows at each second the calls may end in, from a whole second after
    // they began, on the engine's clock (time(), which may lag the precise one).
    const time_t begun = time(nullptr);
    while (time(nullptr) <= begun)
      QTest::qWait(20);
    const QDateTime now = QDateTime::fromSecsSinceEpoch(time(nullptr));
    std::vector<QMap<QByteArray, QStringList>> shown(n);
    auto pricings = [] {
      return QByteArray::fromStdString(testkit::slurp(EngineDir()->filePath("app.log").toStdString()))
          .count("invalid timeval");
    };
    const qsizetype logged = pricings();  // the earlier call's price, logged in full
    QVERIFY(logged > 0);
    for (int k = 0; k < 3; k++) {
      s.main->PollLines(now.addSecs(k));
      for (int i = 0; i < n; i++)
        shown[i][StationTime(now.addSecs(k))] = {s.text(m, i, COLUMN_RUNNING_COST), s.text(m, i, COLUMN_AMOUNT_DUE)};
    }
    QCOMPARE(pricings(), logged);  // the running prices logged nothing
    for (int i = 0; i < n; i++)
      QVERIFY(lines[i].hangUp());
    s.main->PollLines();

    for (const cdr_info &call : CallsOf(m)) {
      if (QByteArray(call.bdate) <= earlier)
        continue;  // an earlier call, not the one shown in progress
      const QStringList atEnd = shown[call.lineid].value(QByteArray(call.edate));
      QVERIFY2(!atEnd.isEmpty() && !atEnd[0].isEmpty(), call.desnum);
      QCOMPARE(s.text(m, call.lineid, COLUMN_RUNNING_COST), QString());
      QCOMPARE(s.text(m, call.lineid, COLUMN_AMOUNT_DUE), atEnd[1]);
      s.forms->op.then([&](QDialog *dlg) {
        auto *bill = static_cast<TBillForm *>(dlg);
        QCOMPARE(bill->BillTable->topLevelItem(bill->BillTable->topLevelItemCount() - 1)->text(3), atEnd[0]);
        QCOMPARE(bill->TotalAmout->text(), atEnd[1]);
        ScriptedOperator::click("CancelBtn")(dlg);
      });
      s.main->Checkout(s.main->Lines()->FindLine(m, call.lineid));
    }
    QCOMPARE(s.checkouts(), n);
    QCOMPARE(s.forms->op.messages.size(), 1);  // the checkout of the call no rule prices
    QCOMPARE(s.forms->op.messages[0].text, QStringLiteral("有通话无法计费，请检查费率设置"));
    s.forms->verifyScriptDone();
  }
};

ENGINE_TEST_MAIN(TestRunningCost)
#include "test_running.moc"
