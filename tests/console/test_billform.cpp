// The checkout's texts and its dialog without an engine: durations, amounts
// and change, and what the money field takes from the keyboard.
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QTest>
#include <QTreeWidget>

#include "BillFrm.h"
#include "BillText.h"
#include "ConsoleTest.h"

class TestBillForm : public QObject {
  Q_OBJECT

  std::unique_ptr<TBillForm> form;

  /* The dialog as a checkout of 1.20, 0.60 and 2.00 shows it. */
  void showWithThreeCalls()
  {
    Cents total = 0;
    for (Cents amount : {120, 60, 200})
      total += amount;
    form->TotalAmout->setText(AmountText(total));
    form->SetTotal(total);
    form->show();
    QVERIFY(QTest::qWaitForWindowExposed(form.get()));
    QCOMPARE(form->TotalAmout->text(), QStringLiteral("3.80元"));
  }

private slots:
  void init() { form = std::make_unique<TBillForm>(); }
  void cleanup() { form.reset(); }

  void durations_data()
  {
    QTest::addColumn<int>("seconds");
    QTest::addColumn<QString>("text");
    QTest::newRow("0") << 0 << "0秒";
    QTest::newRow("59") << 59 << "59秒";
    QTest::newRow("60") << 60 << "1分0秒";
    QTest::newRow("3599") << 3599 << "59分59秒";
    QTest::newRow("3600") << 3600 << "1小时0分0秒";
    QTest::newRow("3605") << 3605 << "1小时0分5秒";
    QTest::newRow("3725") << 3725 << "1小时2分5秒";
    QTest::newRow("over a day") << 90061 << "25小时1分1秒";
    QTest::newRow("negative") << -5 << "0秒";
  }
  void durations()
  {
    QFETCH(int, seconds);
    QFETCH(QString, text);
    QCOMPARE(DurationText(seconds), text);
  }

  void changeTexts_data()
  {
    QTest::addColumn<QString>("money");
    QTest::addColumn<QString>("change");
    QTest::newRow("too much") << "5"
                              << "1.20元";
    QTest::newRow("too little") << "2"
                                << "-1.80元";
    QTest::newRow("exactly, never -0.00") << "3.80"
                                          << "0.00元";
    QTest::newRow("empty") << ""
                           << "0.00";
    QTest::newRow("trailing point") << "5."
                                    << "1.20元";
    QTest::newRow("leading point") << ".5"
                                   << "-3.30元";
    QTest::newRow("lone point") << "." << QString();
    QTest::newRow("two points") << "1.2.3" << QString();
    QTest::newRow("letters") << "5a" << QString();
  }
  void changeTexts()
  {
    QFETCH(QString, money);
    QFETCH(QString, change);
    const Cents total = 120 + 60 + 200;
    QCOMPARE(ChangeText(money, total).value_or(QString()), change);
  }

  void breakdowns_data()
  {
    QTest::addColumn<QString>("rule");
    QTest::addColumn<QByteArray>("record");
    QTest::addColumn<int>("amount");
    QTest::addColumn<QString>("text");
    QTest::newRow("package and handling charge")
        << "北京" << QByteArray("1.00 in 180 second, handling charge 0.20 total 1.20") << 120
        << "费率：北京\n套餐（前3分0秒）：1.00元\n手续费：0.20元\n合计：1.20元";
    QTest::newRow("stretches")
        << "长途"
        << QByteArray("22:58:00-23:00:00 0.60,23:00:00-23:02:00 0.20,0.00 in 0 second, handling charge 0.00 total 0.80")
        << 80 << "费率：长途\n22:58:00-23:00:00：0.60元\n23:00:00-23:02:00：0.20元\n合计：0.80元";
    QTest::newRow("stretches left out")
        << "A" << QByteArray("09:00:00-10:00:00 18.00,0.00 in 0 second, handling charge 0.50 total 30.50") << 3050
        << "费率：A\n09:00:00-10:00:00：18.00元\n其余时段：12.00元\n手续费：0.50元\n合计：30.50元";
    QTest::newRow("by units, no stretches") << "B" << QByteArray("0.00 in 0 second, handling charge 0.00 total 0.90")
                                            << 90 << "费率：B\n通话费：0.90元\n合计：0.90元";
    QTest::newRow("within the free limit") << "" << QByteArray() << 0 << "免费通话";
  }
  void breakdowns()
  {
    QFETCH(QString, rule);
    QFETCH(QByteArray, record);
    QFETCH(int, amount);
    QFETCH(QString, text);
    QCOMPARE(BreakdownText(rule, record, amount), text);
  }

  void showingStartsAtZero()
  {
    form->Money->setText(QStringLiteral("12"));
    form->Change->setText(QStringLiteral("8.20元"));
    showWithThreeCalls();
    QCOMPARE(form->Money->text(), QStringLiteral("0.00"));
    // Nothing paid yet: the whole amount is still to pay.
    QCOMPARE(form->ChangeCaption->text() + form->Change->text(), QStringLiteral("还差：3.80元"));
    QCOMPARE(form->focusWidget(), form->Money);
    const int widths[] = {160, 240, 105, 100};
    for (int i = 0; i < 4; i++)
      QCOMPARE(form->BillTable->columnWidth(i), widths[i]);
    QCOMPARE(form->BillTable->headerItem()->text(2), QStringLiteral("通话时长"));
  }

  void moneyTakesFiguresAndOnePoint()
  {
    showWithThreeCalls();
    // The first figure replaces the 0.00 the dialog starts with.
    QTest::keyClicks(form->Money, QStringLiteral("5"));
    QCOMPARE(form->Money->text(), QStringLiteral("5"));
    QCOMPARE(form->Change->text(), QStringLiteral("1.20元"));
    QTest::keyClicks(form->Money, QStringLiteral("a .2-.x3,"));
    QCOMPARE(form->Money->text(), QStringLiteral("5.23"));
    QCOMPARE(form->Change->text(), QStringLiteral("1.43元"));
    QTest::keyClick(form->Money, Qt::Key_Backspace);
    QTest::keyClick(form->Money, Qt::Key_Backspace);
    QCOMPARE(form->Money->text(), QStringLiteral("5."));
    // Typing over the selection that holds the point may bring a new one.
    form->Money->setSelection(1, 1);
    QTest::keyClicks(form->Money, QStringLiteral("."));
    QCOMPARE(form->Money->text(), QStringLiteral("5."));
    form->Money->setSelection(0, 1);
    QTest::keyClicks(form->Money, QStringLiteral("."));
    QCOMPARE(form->Money->text(), QStringLiteral("5."));
  }

  void changeFollowsTheField()
  {
    showWithThreeCalls();
    // Too little is what is still to pay, never a negative change.
    QTest::keyClicks(form->Money, QStringLiteral("2"));
    QCOMPARE(form->ChangeCaption->text() + form->Change->text(), QStringLiteral("还差：1.80元"));
    form->Money->clear();
    QCOMPARE(form->Change->text(), QStringLiteral("3.80元"));
    // A lone point is no amount yet: the change stays until a figure follows.
    QTest::keyClicks(form->Money, QStringLiteral("."));
    QCOMPARE(form->Change->text(), QStringLiteral("3.80元"));
    QTest::keyClicks(form->Money, QStringLiteral("5"));
    QCOMPARE(form->Change->text(), QStringLiteral("3.30元"));
    QTest::keyClicks(form->Money, QStringLiteral("5"));
    QCOMPARE(form->ChangeCaption->text() + form->Change->text(), QStringLiteral("还差：3.25元"));
  }
};

CONSOLE_TEST_MAIN(TestBillForm)
#include "test_billform.moc"
