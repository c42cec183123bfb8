// What a call in progress costs, against a running engine fed by a test line:
// at every poll the row shows the call priced as if it ended then, and the
// line's amount due with it; once the call has ended at such a moment, the
// checkout lists exactly that price and that total.
#include <QLabel>

#include <algorithm>
#include <iterator>
#include <memory>
#include <QTest>
#include <QTreeWidget>

#include "BillFrm.h"
#include "EngineTest.h"
#include "LineText.h"

namespace {

// One-second units: every second of a call changes what it costs.
const QByteArray kRates = "Sec|050|0.30|00:00:00-0.02|0:0.00|0|1\n"
                          "Day|051|0.00|00:00:00-0.01,08:00:00-0.03,20:00:00-0.02|0:0.00|0|1\n"
                          "Pkg|052|0.10|00:00:00-0.05|2:0.80|0|1\n"
                          "Free|053|0.50|00:00:00-0.05|0:0.00|60|1\n";

} // namespace

class TestRunningCost : public QObject {
  Q_OBJECT

  std::unique_ptr<StationFixture> s;

private slots:
  void initTestCase() { StartEngineOnce(kRates); }
  void init() { s = std::make_unique<StationFixture>(); }
  void cleanup()
  {
    s->forms->verifyScriptDone();
    s.reset();
  }

  // The cases run side by side, one line each, so that they share the
  // seconds a call must last.
  void theRowShowsWhatTheCheckoutLists()
  {
    const struct {
      const char *name, *dialled;
      bool earlierCall;           /* an unsettled call of the line before */
    } cases[] = {
        {"one period, handling charge", "0505551234", false},
        {"three periods, after an unsettled call", "0515551234", true},
        {"package", "0525551234", false},
        {"below the free limit", "0535551234", false},
        {"no rule", "0995551234", false},
    };
    const int n = static_cast<int>(std::size(cases));
    const QByteArray m = FreshMachine();
    s->logIn();
    std::vector<std::unique_ptr<TestLine>> lines;
    for (int i = 0; i < n; i++) {
      lines.push_back(std::make_unique<TestLine>(m, i));
      QVERIFY(lines[i]->discovery());
      if (cases[i].earlierCall)
        QVERIFY(lines[i]->call(cases[i].dialled));
    }
    // Call ids carry the start second: the calls in progress begin in a later one.
    const time_t earlier = time(nullptr);
    while (time(nullptr) <= earlier)
      QTest::qWait(20);
    for (int i = 0; i < n; i++)
      QVERIFY(lines[i]->connected(cases[i].dialled));
    const time_t connected = time(nullptr);
    s->main->PollLines();

    // Each row as it reads at each second the calls may end in, from a whole
    // second after their start (the engine's clock: time(), which may lag the
    // precise one).
    while (time(nullptr) <= connected)
      QTest::qWait(20);
    const QDateTime now = QDateTime::fromSecsSinceEpoch(time(nullptr));
    std::vector<QMap<QByteArray, QStringList>> shown(n);
    for (int k = 0; k < 3; k++) {
      s->main->PollLines(now.addSecs(k));
      for (int i = 0; i < n; i++)
        shown[i][EngineDateTime(now.addSecs(k))] = {s->row(m, i)->text(COLUMN_RUNNING_COST),
                                                    s->row(m, i)->text(COLUMN_AMOUNT_DUE)};
    }
    for (int i = 0; i < n; i++)
      QVERIFY(lines[i]->hangUp());
    s->main->PollLines();

    for (int i = 0; i < n; i++) {
      const std::vector<cdr_info> calls = CallsOf(m);
      const auto call = std::find_if(calls.rbegin(), calls.rend(), [&](const cdr_info &c) { return c.lineid == i; });
      QVERIFY2(call != calls.rend(), cases[i].name);
      const QStringList atEnd = shown[i].value(QByteArray(call->edate));
      QVERIFY2(!atEnd.isEmpty() && !atEnd[0].isEmpty(), cases[i].name);
      QCOMPARE(s->row(m, i)->text(COLUMN_RUNNING_COST), QString());
      QCOMPARE(s->row(m, i)->text(COLUMN_AMOUNT_DUE), atEnd[1]);
      s->forms->op.then([&](QDialog *dlg) {
        auto *bill = static_cast<TBillForm *>(dlg);
        const int last = bill->BillTable->topLevelItemCount() - 1;
        QCOMPARE(bill->BillTable->topLevelItem(last)->text(3), atEnd[0]);
        QCOMPARE(bill->TotalAmout->text(), atEnd[1]);
        ScriptedOperator::click("CancelBtn")(dlg);
      });
      s->main->Checkout(s->main->FindLine(m, i));
      QCOMPARE(s->checkouts(), i + 1);
    }
  }
};

ENGINE_TEST_MAIN(TestRunningCost)
#include "test_running.moc"
