// The rate editor: the default rule of a station without rates, new rules with
// their periods in order, editing and deleting rows (never row 0), the key
// filters of the edits and what an emptied one takes, the rules and amounts it
// refuses to save, what it makes of unusable files, the questions before a
// delete and before unsaved edits are lost, and its note on closing.
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QHeaderView>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSpontaneKeyEvent>
#include <QTest>
#include <QTimeEdit>
#include <QTreeWidget>

#include "ConsoleTest.h"
#include "RateFile.h"
#include "RateFrm.h"

namespace {

const QByteArray kDefaultLine = ".default||0.00|0:00:00-0.00|0:0.00|0|60\n";
const QByteArray kBeijingGbk = "\xb1\xb1\xbe\xa9";  // 北京
const QByteArray kThreeRules = kDefaultLine + kBeijingGbk + "|010|0.50|0:00:00-0.30|0:0.00|0|60\n" +
                               "Shanghai|021|0.00|0:00:00-0.40,8:00:00-0.70|180:1.00|3|6\n";

}  // namespace

class TestRateForm : public QObject {
  Q_OBJECT

  std::unique_ptr<StationDir> dir;
  std::unique_ptr<ScriptedOperator> op;
  std::unique_ptr<TRateForm> form;

  void select(int row) { form->RateTable->setCurrentItem(form->RateTable->topLevelItem(row)); }
  QString caption(int row, int column = 0) { return form->RateTable->topLevelItem(row)->text(column); }
  void verifyPeriod(int n, bool inUse, QTime start, const char *price)
  {
    QCOMPARE(form->CheckBox[n]->isChecked(), inUse);
    QCOMPARE(form->Period[n]->isEnabled(), inUse);
    QCOMPARE(form->Period[n]->time(), start);
    QCOMPARE(form->RateEdit[n]->text(), QLatin1String(price));
  }

private slots:
  void init()
  {
    dir = std::make_unique<StationDir>();
    op = std::make_unique<ScriptedOperator>();
    form = std::make_unique<TRateForm>();
  }
  void cleanup()
  {
    op->verify();
    form.reset();
    op.reset();
    dir.reset();
  }

  void withoutFileTheDefaultRuleIsShownAndSavedExactly()
  {
    form->show();
    QCOMPARE(form->RuleCount(), 1);
    QCOMPARE(caption(0), QStringLiteral("默认费率"));
    QCOMPARE(caption(0, 1), QString());
    QCOMPARE(form->RateTable->columnWidth(0), 131);
    QCOMPARE(form->RateTable->columnWidth(1), 135);
    QCOMPARE(form->NameEdit->text(), QStringLiteral("默认费率"));
    QVERIFY(!form->NameEdit->isEnabled());
    QCOMPARE(form->PrefixEdit->text(), QString());
    QVERIFY(!form->PrefixEdit->isEnabled());
    QCOMPARE(form->ChargeEdit->text(), QStringLiteral("0.00"));
    QCOMPARE(form->UnitEdit->text(), QStringLiteral("60"));
    QCOMPARE(form->MinTimeEdit->text(), QStringLiteral("0"));
    QCOMPARE(form->MinFeeEdit->text(), QStringLiteral("0.00"));
    QCOMPARE(form->FreePeriodEdit->text(), QStringLiteral("0"));
    verifyPeriod(0, true, QTime(0, 0, 0), "0.00");
    for (int n = 1; n < MAX_PERIODS; n++)
      verifyPeriod(n, false, QTime(0, 0, 0), "0.00");
    QVERIFY(!form->SaveBtn->isEnabled());
    QVERIFY(!form->Button3->isEnabled());
    QVERIFY(!dir->exists(RATE_FILE));
    QVERIFY(op->messages.isEmpty());

    form->CheckBox[1]->click();  // a change, taken back
    QVERIFY(form->SaveBtn->isEnabled());
    QVERIFY(form->Period[1]->isEnabled());
    form->CheckBox[1]->click();
    QVERIFY(!form->Period[1]->isEnabled());
    form->SaveBtn->click();
    QCOMPARE(dir->read(RATE_FILE), kDefaultLine);
    QVERIFY(!form->SaveBtn->isEnabled());
  }

  void periodsAppearSortedAfterSaving()
  {
    form->show();
    form->Button2->click();
    QCOMPARE(form->CurrentRow(), -1);
    QVERIFY(form->NameEdit->isEnabled() && form->PrefixEdit->isEnabled());
    form->NameEdit->setText(QStringLiteral("北京"));
    form->PrefixEdit->setText(QStringLiteral("010"));
    form->Period[0]->setTime(QTime(20, 0, 0));
    form->RateEdit[0]->setText(QStringLiteral("0.2"));
    form->CheckBox[1]->click();
    form->Period[1]->setTime(QTime(8, 0, 0));
    form->RateEdit[1]->setText(QStringLiteral("0.8"));
    form->CheckBox[2]->click();
    form->RateEdit[2]->setText(QStringLiteral("0.1"));
    form->RateEdit[3]->setText(QStringLiteral("5"));  // out of use: not written
    form->SaveBtn->click();

    verifyPeriod(0, true, QTime(0, 0, 0), "0.10");
    verifyPeriod(1, true, QTime(8, 0, 0), "0.80");
    verifyPeriod(2, true, QTime(20, 0, 0), "0.20");
    verifyPeriod(3, false, QTime(0, 0, 0), "5.00");
    QCOMPARE(form->RuleCount(), 2);
    QCOMPARE(form->CurrentRow(), 1);
    QCOMPARE(caption(1), QStringLiteral("北京"));
    QCOMPARE(caption(1, 1), QStringLiteral("010"));
    QVERIFY(form->Button3->isEnabled());
    QVERIFY(!form->SaveBtn->isEnabled());
    QCOMPARE(dir->read(RATE_FILE),
             kDefaultLine + kBeijingGbk + "|010|0.00|0:00:00-0.10,8:00:00-0.80,20:00:00-0.20|0:0.00|0|60\n");
  }

  void rowsAreEditedAndDeletedButNeverRowZero()
  {
    dir->write(RATE_FILE, kThreeRules);
    form->show();
    QCOMPARE(form->RuleCount(), 3);
    QCOMPARE(caption(1), QStringLiteral("北京"));
    QCOMPARE(caption(2, 1), QStringLiteral("021"));

    select(2);
    QCOMPARE(form->NameEdit->text(), QStringLiteral("Shanghai"));
    QCOMPARE(form->MinTimeEdit->text(), QStringLiteral("180"));
    QCOMPARE(form->FreePeriodEdit->text(), QStringLiteral("3"));
    QCOMPARE(form->UnitEdit->text(), QStringLiteral("6"));
    verifyPeriod(1, true, QTime(8, 0, 0), "0.70");
    form->NameEdit->setText(QStringLiteral("上海"));
    form->PrefixEdit->setText(QStringLiteral("0210"));
    form->SaveBtn->click();
    QCOMPARE(caption(2), QStringLiteral("上海"));
    QCOMPARE(caption(2, 1), QStringLiteral("0210"));
    QVERIFY(dir->read(RATE_FILE).endsWith("\xc9\xcf\xba\xa3|0210|0.00|0:00:00-0.40,8:00:00-0.70|180:1.00|3|6\n"));

    select(0);
    QVERIFY(!form->Button3->isEnabled());
    QCOMPARE(form->NameEdit->text(), QStringLiteral("默认费率"));
    select(1);
    QVERIFY(form->Button3->isEnabled());
    op->then([](QDialog *dlg) {
        auto *box = qobject_cast<QMessageBox *>(dlg);
        QCOMPARE(box->windowTitle() + box->text(), QStringLiteral("删除费率要删除费率“北京”（区号/代码010）吗？"));
        ScriptedOperator::click("CancelBtn")(dlg);
      }).then(ScriptedOperator::click("OKBtn"));
    form->Button3->click();
    QCOMPARE(form->RuleCount(), 3);
    QCOMPARE(dir->read(RATE_FILE).count('\n'), 3);
    form->Button3->click();
    QCOMPARE(form->RuleCount(), 2);
    QCOMPARE(form->CurrentRow(), -1);
    QVERIFY(!form->Button3->isEnabled());
    QCOMPARE(form->NameEdit->text(), QString());  // the new-rule template
    QVERIFY(form->CheckBox[0]->isChecked());
    QCOMPARE(caption(1), QStringLiteral("上海"));
    QCOMPARE(dir->read(RATE_FILE).count('\n'), 2);
    QVERIFY(dir->read(RATE_FILE).startsWith(kDefaultLine));
  }

  void aFirstRowThatIsNoDefaultRuleStaysToo()
  {
    dir->write(RATE_FILE, "x|010|0|0:00:00-1|0:0|0|60\ny|020|0|0:00:00-1|0:0|0|60\n");
    form->show();
    QVERIFY(form->NameEdit->isEnabled());
    select(1);
    select(0);
    QVERIFY(!form->Button3->isEnabled());
  }

  void anEmptiedEditTakesWhatIsTypedOrSaysWhyNot_data()
  {
    QTest::addColumn<QString>("edit");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("outcome");  // the new rule's line, or the message
    QTest::newRow("charge") << "ChargeEdit"
                            << "3.60"
                            << "x|010|3.60|0:00:00-0.00|0:0.00|0|60\n";
    QTest::newRow("rate 1") << "Rate1Edit"
                            << "3.6"
                            << "x|010|0.00|0:00:00-3.60|0:0.00|0|60\n";
    QTest::newRow("rate 4, out of use") << "Rate4Edit"
                                        << ""
                                        << "x|010|0.00|0:00:00-0.00|0:0.00|0|60\n";
    QTest::newRow("unit") << "UnitEdit"
                          << "30"
                          << "x|010|0.00|0:00:00-0.00|0:0.00|0|30\n";
    QTest::newRow("three decimals") << "Rate1Edit"
                                    << "0.236"
                                    << "费率1最多只能有两位小数（“0.236”）";
    QTest::newRow("half a cent") << "ChargeEdit"
                                 << "1.005"
                                 << "手续费最多只能有两位小数（“1.005”）";
    QTest::newRow("beyond a float's cents") << "MinFeeEdit"
                                            << "123456789"
                                            << "3+1费率“123456789”过大";
    QTest::newRow("empty price") << "Rate1Edit"
                                 << ""
                                 << "请填写费率1";
    QTest::newRow("empty free limit") << "FreePeriodEdit"
                                      << ""
                                      << "请填写免收费时长";
  }
  void anEmptiedEditTakesWhatIsTypedOrSaysWhyNot()
  {
    QFETCH(QString, edit);
    QFETCH(QString, typed);
    QFETCH(QString, outcome);
    form->show();
    form->Button2->click();
    form->NameEdit->setText(QStringLiteral("x"));
    form->PrefixEdit->setText(QStringLiteral("010"));
    auto *e = form->findChild<QLineEdit *>(edit);
    e->setFocus();
    e->selectAll();
    QTest::keyClick(e, Qt::Key_Backspace);
    QCOMPARE(e->text(), QString());
    QTest::keyClicks(e, typed);
    QCOMPARE(e->text(), typed);
    form->SaveBtn->click();
    if (outcome.endsWith(QLatin1Char('\n'))) {
      QVERIFY(op->messages.isEmpty());
      QCOMPARE(QString::fromLatin1(dir->read(RATE_FILE)), QString::fromLatin1(kDefaultLine) + outcome);
    } else {
      QCOMPARE(op->messages.size(), 1);
      QCOMPARE(op->messages[0].text, outcome);
      QCOMPARE(e->text(), typed);
      QVERIFY(!dir->exists(RATE_FILE));
    }
  }

  void aSecondRuleForAPrefixIsRefused()
  {
    dir->write(RATE_FILE, kThreeRules);
    form->show();
    select(2);
    form->PrefixEdit->setText(QStringLiteral("010"));
    form->SaveBtn->click();
    op->then(ScriptedOperator::click("DiscardBtn"));
    form->Button2->click();
    form->NameEdit->setText(QStringLiteral("北京2"));
    form->PrefixEdit->setText(QStringLiteral("010"));
    form->SaveBtn->click();
    QCOMPARE(op->messages.size(), 2);
    for (const auto &m : op->messages)
      QCOMPARE(m.caption + m.text, QStringLiteral("错误区号/代码010已用于“北京”，一个区号只能有一条费率"));
    QCOMPARE(form->RuleCount(), 3);
    QCOMPARE(dir->read(RATE_FILE), kThreeRules);
  }

  void leavingUnsavedEditsAsks_data()
  {
    QTest::addColumn<QString>("leave");
    QTest::addColumn<bool>("newRule");
    QTest::addColumn<QString>("price");
    QTest::addColumn<QString>("answer");
    QTest::newRow("quit, cancelled") << "quit" << false << "0.55"
                                     << "CancelBtn";
    QTest::newRow("quit, dropped") << "quit" << false << "0.55"
                                   << "DiscardBtn";
    QTest::newRow("quit, saved") << "quit" << false << "0.55"
                                 << "SaveBtn";
    QTest::newRow("quit, refused save") << "quit" << false << "0.555"
                                        << "SaveBtn";
    QTest::newRow("close box, saved") << "close box" << false << "0.55"
                                      << "SaveBtn";
    QTest::newRow("another row, cancelled") << "row" << false << "0.55"
                                            << "CancelBtn";
    QTest::newRow("another row, saved") << "row" << false << "0.55"
                                        << "SaveBtn";
    QTest::newRow("another row, new rule saved") << "row" << true << "0.55"
                                                 << "SaveBtn";
    QTest::newRow("a new rule, dropped") << "new" << false << "0.55"
                                         << "DiscardBtn";
    QTest::newRow("import, cancelled") << "import" << false << "0.55"
                                       << "CancelBtn";
  }
  void leavingUnsavedEditsAsks()
  {
    QFETCH(QString, leave);
    QFETCH(bool, newRule);
    QFETCH(QString, price);
    QFETCH(QString, answer);
    dir->write(RATE_FILE, kThreeRules);
    form->show();
    select(1);
    if (newRule) {
      form->Button2->click();
      form->NameEdit->setText(QStringLiteral("广州"));
      form->PrefixEdit->setText(QStringLiteral("020"));
    }
    const int current = form->CurrentRow();
    form->RateEdit[0]->setText(price);
    op->then([answer](QDialog *dlg) {
      auto *box = qobject_cast<QMessageBox *>(dlg);
      QVERIFY(box);
      QCOMPARE(box->windowTitle() + box->text(), QStringLiteral("费率设置费率有修改还没有保存，要保存吗？"));
      ScriptedOperator::click(qPrintable(answer))(dlg);
    });
    bool closed = false;
    if (leave == QLatin1String("close box")) {
      QCloseEvent event;  // what the window system sends
      QSpontaneKeyEvent::setSpontaneous(&event);
      qApp->notify(form.get(), &event);
      closed = event.isAccepted();
    } else {
      if (leave == QLatin1String("quit"))
        form->ConfirmBtn->click();
      else if (leave == QLatin1String("row"))
        select(2);
      else if (leave == QLatin1String("new"))
        form->Button2->click();
      else
        form->ImportBtn->click();
      closed = !form->isVisible();
    }
    QCOMPARE(op->dialogs, QStringList{QStringLiteral("UnsavedQuestion")});
    const bool saved = answer == QLatin1String("SaveBtn") && price == QLatin1String("0.55");
    QCOMPARE(dir->read(RATE_FILE).contains("-0.55|"), saved);
    if (answer == QLatin1String("CancelBtn") || (answer == QLatin1String("SaveBtn") && !saved)) {
      QVERIFY(!closed);
      QCOMPARE(form->CurrentRow(), current);
      QCOMPARE(form->RateEdit[0]->text(), price);
    } else if (leave == QLatin1String("row")) {
      QCOMPARE(form->CurrentRow(), 2);
      QCOMPARE(form->NameEdit->text(), QStringLiteral("Shanghai"));
    }
    const bool closing = leave == QLatin1String("quit") || leave == QLatin1String("close box");
    QCOMPARE(closed, closing && (answer == QLatin1String("DiscardBtn") || saved));
    // A refused save says why; a closing window tells when rates take effect.
    QStringList told, expected;
    for (const auto &m : op->messages)
      told.append(m.text);
    if (answer == QLatin1String("SaveBtn") && !saved)
      expected.append(QStringLiteral("费率1最多只能有两位小数（“0.555”）"));
    if (closed)
      expected.append(QStringLiteral(RATE_CLOSE_NOTE));
    QCOMPARE(told, expected);
  }

  void keyFiltersLetOnlyNumbersIn()
  {
    form->show();
    form->Button2->click();
    form->ChargeEdit->selectAll();
    QTest::keyClicks(form->ChargeEdit, QStringLiteral("1a.2.3 "));
    QCOMPARE(form->ChargeEdit->text(), QStringLiteral("1.23"));
    QTest::keyClick(form->ChargeEdit, Qt::Key_Backspace);
    QCOMPARE(form->ChargeEdit->text(), QStringLiteral("1.2"));
    QTest::keyClick(form->ChargeEdit, Qt::Key_Left);  // the cursor still moves
    QTest::keyClick(form->ChargeEdit, Qt::Key_9);
    QCOMPARE(form->ChargeEdit->text(), QStringLiteral("1.92"));

    QTest::keyClicks(form->PrefixEdit, QStringLiteral("01-0.x"));
    QCOMPARE(form->PrefixEdit->text(), QStringLiteral("010"));
    form->UnitEdit->selectAll();
    QTest::keyClicks(form->UnitEdit, QStringLiteral("3.0"));
    QCOMPARE(form->UnitEdit->text(), QStringLiteral("30"));

    QApplication::clipboard()->setText(QStringLiteral("1x|2"));
    QTest::keyClick(form->PrefixEdit, Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(form->PrefixEdit->text(), QStringLiteral("010"));
  }

  void saveRefusesWhatCouldNotBeLoaded()
  {
    form->show();
    form->Button2->click();
    form->PrefixEdit->setText(QStringLiteral("010"));
    form->SaveBtn->click();  // no name: nothing at all happens
    QCOMPARE(form->RuleCount(), 1);
    QVERIFY(op->messages.isEmpty());

    form->NameEdit->setText(QStringLiteral("x"));
    form->PrefixEdit->clear();
    form->SaveBtn->click();
    form->PrefixEdit->setText(QStringLiteral("010"));
    form->CheckBox[0]->click();
    form->SaveBtn->click();
    form->CheckBox[0]->click();
    form->MinFeeEdit->setText(QStringLiteral("."));
    form->SaveBtn->click();
    form->MinFeeEdit->setText(QStringLiteral("1"));
    form->NameEdit->setText(QStringLiteral("a|b"));
    form->SaveBtn->click();
    form->NameEdit->setText(QStringLiteral(".default"));
    form->SaveBtn->click();

    const QStringList expected = {QStringLiteral("区号/代码不能为空"), QStringLiteral("至少要使用一个时段"),
                                  QStringLiteral("“.”不是有效的数值"), QStringLiteral("国家/城市/地区中不能有“|”"),
                                  QStringLiteral("“.default”不能用作国家/城市/地区")};
    QCOMPARE(op->messages.size(), expected.size());
    for (qsizetype i = 0; i < expected.size(); i++) {
      QCOMPARE(op->messages[i].text, expected[i]);
      QCOMPARE(op->messages[i].caption, QStringLiteral("错误"));
    }
    QCOMPARE(form->RuleCount(), 1);
    QCOMPARE(form->CurrentRow(), -1);
    QVERIFY(!dir->exists(RATE_FILE));
  }

  void unusableFilesStartFromWhatCanBeRead_data()
  {
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<int>("rows");
    QTest::addColumn<QString>("message");
    QTest::newRow("nothing usable") << QByteArray("a|b|010|0.50|0:00:00-0.30|0:0.00|0|60\nbroken\n") << 1
                                    << QStringLiteral("费率文件中没有可用的费率，现以默认费率开始");
    QTest::newRow("empty file") << QByteArray() << 1 << QStringLiteral("费率文件中没有可用的费率，现以默认费率开始");
    QTest::newRow("a prefix twice") << QByteArray(kThreeRules + "x|010|0|0:00:00-1|0:0|0|60\n") << 4
                                    << QStringLiteral(
                                           "区号/代码010有不止一条费率，计费只用其中的第一条；请删除或修改多余的费率");
    QTest::newRow("one bad line") << QByteArray(kThreeRules + "x||0|0:00:00-1|0:0|0|60\n") << 3
                                  << QStringLiteral("费率文件中有1行无法读取，已略过；保存时这些行不再写入");
  }
  void unusableFilesStartFromWhatCanBeRead()
  {
    QFETCH(QByteArray, file);
    QFETCH(int, rows);
    QFETCH(QString, message);
    dir->write(RATE_FILE, file);
    form->show();
    QCOMPARE(form->RuleCount(), rows);
    QCOMPARE(caption(0), QStringLiteral("默认费率"));
    QCOMPARE(op->messages.size(), 1);
    QCOMPARE(op->messages[0].text, message);
    QCOMPARE(op->messages[0].caption, QStringLiteral("请注意"));
    QCOMPARE(dir->read(RATE_FILE), file);  // nothing is written before a save
  }

  void closingTellsWhenRatesTakeEffectAndDropsUnsavedEdits()
  {
    form->show();
    form->UnitEdit->setText(QStringLiteral("30"));
    op->then(ScriptedOperator::click("DiscardBtn"));
    form->ConfirmBtn->click();
    QVERIFY(!form->isVisible());
    QCOMPARE(op->messages.size(), 1);
    QCOMPARE(op->messages[0].text, QStringLiteral("重新运行计费程序新费率方可生效"));
    QCOMPARE(op->messages[0].caption, QStringLiteral("请注意"));
    QCOMPARE(op->pending(), 0);

    // The table is read once per run: a file changed since stays unread.
    dir->write(RATE_FILE, kThreeRules);
    form->show();
    QCOMPARE(form->RuleCount(), 1);
    QCOMPARE(form->UnitEdit->text(), QStringLiteral("60"));
    QCOMPARE(form->CurrentRow(), 0);
    QVERIFY(!form->SaveBtn->isEnabled());
  }
};

CONSOLE_TEST_MAIN(TestRateForm)
#include "test_ratefrm.moc"
