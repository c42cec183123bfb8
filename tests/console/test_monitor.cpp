// The line monitor against a running engine fed by gateway lines on test
// sockets: rows for reported lines, their states, tints and buttons, the
// status bar, the line map, renaming, moving, the pop-up menu and the digit
// keys.
#include <QAction>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QTreeWidget>

#include <cmath>

#include "Deposits.h"
#include "EngineTest.h"
#include "Gbk.h"
#include "LineMap.h"
#include "LineText.h"

namespace {

QByteArray gbk(const QString &text)
{
  return ToGbk(text).value();
}

/* The line map as "machine/line/name" texts, in file order. */
QStringList lineMapOf(const StationDir &dir)
{
  QList<LineMapEntry> rows;
  ReadLineMap(dir.file(LINEMAP_FILE), &rows);
  QStringList texts;
  for (const LineMapEntry &e : rows)
    texts << QString::fromLatin1(e.machineId) + QLatin1Char('/') + QString::number(e.lineId) +
                 QLatin1Char('/') + e.name;
  return texts;
}

/* CIE L* of an sRGB colour: the lightness a colour-blind eye sees as well. */
double lightness(const QColor &c)
{
  auto linear = [](double v) { return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
  const double y = 0.2126 * linear(c.redF()) + 0.7152 * linear(c.greenF()) + 0.0722 * linear(c.blueF());
  return y > 0.008856 ? 116 * std::cbrt(y) - 16 : 903.3 * y;
}

QString lineText(const QByteArray &machine, int line, const QString &name)
{
  return QString::fromLatin1(machine) + QLatin1Char('/') + QString::number(line) +
         QLatin1Char('/') + name;
}

} // namespace

class TestLineMonitor : public QObject {
  Q_OBJECT

  std::unique_ptr<StationFixture> s;

  void select(int row)
  {
    s->main->LineList->setCurrentItem(s->main->LineList->topLevelItem(row));
  }

  /* Renames the selected row through the pop-up menu: types text into the
   * editor and ends the edit with key. True when the editing flag was up
   * during the edit and is down after it. */
  bool rename(const QString &text, Qt::Key key)
  {
    TMainForm *main = s->main;
    main->LineRename->trigger();
    auto *editor = main->LineList->viewport()->findChild<QLineEdit *>();
    if (!editor || !main->EditingName())
      return false;
    editor->setText(text);
    QTest::keyClick(editor, key);
    // The list ends an edit from its event loop.
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return !main->EditingName() && !main->LineList->viewport()->findChild<QLineEdit *>();
  }

  /* What the pop-up menu offers for the selected row: rename, checkout, up, down. */
  QString menuOffers()
  {
    TMainForm *main = s->main;
    emit main->PopupMenu1->aboutToShow();
    QString offers;
    for (QAction *a : {main->LineRename, main->LineBill, main->LineUp, main->LineDown})
      offers += a->isEnabled() ? QLatin1Char('+') : QLatin1Char('-');
    return offers;
  }

private slots:
  void init() { s = std::make_unique<StationFixture>(); }
  void cleanup()
  {
    s->forms->verifyScriptDone();
    s.reset();
  }

  void reportedLinesGetRowsWithDefaultNames()
  {
    const QByteArray m1 = FreshMachine(), m2 = FreshMachine();
    // The map names the two machines first, so they are machines 1 and 2.
    s->forms->dir.write(LINEMAP_FILE, m1 + " 0 " + gbk(QStringLiteral("前台")) + "\n" + m2 + " 7 X\n");
    s->logIn();
    QCOMPARE(s->main->Machines().mid(0, 2), QList<QByteArray>({m1, m2}));
    TestLine a(m1, 0), b(m1, 1), c(m2, 0);
    QVERIFY(a.discovery() && b.discovery("FORBIDDEN") && c.discovery() && c.keepAlive("IDLE", "01"));
    s->main->PollLines();

    QCOMPARE(s->row(m1, 0)->text(0), QStringLiteral("前台"));
    QCOMPARE(s->row(m1, 1)->text(0), QStringLiteral("终端01线路#2"));
    QCOMPARE(s->row(m2, 0)->text(0), QStringLiteral("终端02线路#1"));
    QCOMPARE(s->row(m1, 0)->text(1), QStringLiteral("空闲"));
    QCOMPARE(s->row(m1, 1)->text(1), QStringLiteral("禁用"));
    QCOMPARE(s->row(m2, 0)->text(1), QStringLiteral("拨号中"));
    QCOMPARE(s->row(m2, 0)->text(2), QStringLiteral("01"));
    // The line map was rewritten with the new rows after the loaded ones.
    const QStringList map = lineMapOf(s->forms->dir);
    QCOMPARE(map.mid(0, 2), QStringList({lineText(m1, 0, "前台"), lineText(m2, 7, "X")}));
    QVERIFY(map.contains(lineText(m1, 1, "终端01线路#2")));
    QVERIFY(map.contains(lineText(m2, 0, "终端02线路#1")));
    QCOMPARE(map.size(), s->main->LineCount());

    // A status the console does not know is shown as the gateway sent it, at every report.
    QVERIFY(c.keepAlive("RINGING"));
    s->main->PollLines();
    QCOMPARE(s->row(m2, 0)->text(1), QStringLiteral("RINGING"));
    s->row(m2, 0)->setText(1, QString());
    s->main->PollLines();
    QCOMPARE(s->row(m2, 0)->text(1), QStringLiteral("RINGING"));
  }

  void theTimerPollsOnceLoggedIn()
  {
    const QByteArray m = FreshMachine();
    s->logIn();
    QCOMPARE(s->main->Timer1->interval(), 1000);
    s->main->Timer1->start();
    TestLine a(m, 0);
    QVERIFY(a.discovery());
    QTRY_VERIFY_WITH_TIMEOUT(s->main->FindLine(m, 0) >= 0, 3000);
    QTRY_COMPARE_WITH_TIMEOUT(s->row(m, 0)->text(1), QStringLiteral("空闲"), 3000);
  }

  void buttonTurnsRedWhenTheCallEnds()
  {
    const QByteArray m = FreshMachine();
    s->logIn();
    TestLine a(m, 0);
    QVERIFY(a.discovery());
    s->main->PollLines();
    const int row = s->main->FindLine(m, 0);
    QPushButton *button = s->entry(m, 0)->button;
    QCOMPARE(button->text(), QString::number(row + 1));
    QCOMPARE(button->font().pointSize(), 14);
    QCOMPARE(button->palette().color(QPalette::ButtonText),
             s->main->palette().color(QPalette::WindowText));

    QVERIFY(a.connected("0105551234"));
    s->main->PollLines();
    QTreeWidgetItem *item = s->row(m, 0);
    QCOMPARE(item->text(1), QStringLiteral("通话中"));
    QCOMPARE(item->text(2), QStringLiteral("0105551234"));
    QVERIFY(QDateTime::fromString(item->text(3), QStringLiteral("yyyy-MM-dd HH:mm:ss")).isValid());
    QVERIFY2(QRegularExpression(QStringLiteral("^00:00:0[0-9]$")).match(item->text(4)).hasMatch(),
             qPrintable(item->text(4)));
    // The call is not over: the button keeps its look.
    QCOMPARE(button->text(), QString::number(row + 1));

    QVERIFY(a.hangUp());
    s->main->PollLines();
    QCOMPARE(button->text(), QStringLiteral("结帐"));
    QCOMPARE(button->palette().color(QPalette::ButtonText), QColor(Qt::red));
    QCOMPARE(item->text(1), QStringLiteral("空闲"));
    QCOMPARE(item->text(4), QString());
    QCOMPARE(item->text(5), QStringLiteral("1.20元"));

    // A restart finds the unsettled call in the database, without a flag.
    s->restart();
    s->main->PollLines();
    QCOMPARE(s->entry(m, 0)->button->text(), QStringLiteral("结帐"));
    QCOMPARE(s->row(m, 0)->text(5), QStringLiteral("1.20元"));
  }

  void renamedLinesComeBackAfterARestart()
  {
    const QByteArray m = FreshMachine();
    s->logIn();
    TestLine a(m, 0), b(m, 1);
    QVERIFY(a.discovery() && b.discovery());
    s->main->PollLines();
    TMainForm *main = s->main;
    const int row = main->FindLine(m, 1);

    select(row);
    QVERIFY(rename(QStringLiteral("VIP 室"), Qt::Key_Return));
    QCOMPARE(main->LineList->topLevelItem(row)->text(0), QStringLiteral("VIP 室"));
    QVERIFY(s->forms->dir.read(LINEMAP_FILE).contains(m + " 1 \"VIP " + gbk(QStringLiteral("室")) + "\"\n"));

    // Cancelling an edit changes nothing and ends the editing.
    QVERIFY(rename(QStringLiteral("ignored"), Qt::Key_Escape));
    QCOMPARE(main->LineList->topLevelItem(row)->text(0), QStringLiteral("VIP 室"));

    // A name the file cannot hold is refused, and so is one of blanks.
    QVERIFY(rename(QStringLiteral("室\U0001F600"), Qt::Key_Return));
    QCOMPARE(s->forms->op.messages.size(), 1);
    QCOMPARE(s->forms->op.messages[0].caption, QStringLiteral("错误"));
    QVERIFY(rename(QStringLiteral("  "), Qt::Key_Return));
    QCOMPARE(main->LineList->topLevelItem(row)->text(0), QStringLiteral("VIP 室"));
    QCOMPARE(s->forms->op.messages.size(), 1);

    // The map keeps the whole name, blank and all.
    const QString other = s->row(m, 0)->text(0);
    s->restart();
    QCOMPARE(s->row(m, 1)->text(0), QStringLiteral("VIP 室"));
    QCOMPARE(s->row(m, 0)->text(0), other);
  }

  // On a screen 1366 pixels wide every column shows whole, the deposit's
  // longest text too; a selected row keeps its tint and its black text.
  void theRowsFitTheScreenAndTheSelectedOneStaysReadable()
  {
    const QByteArray m = FreshMachine();
    s->logIn();
    TMainForm *main = s->main;
    main->showNormal();
    main->setGeometry(0, 0, 1366, 740);
    TestLine idle(m, 0), talking(m, 1);
    QVERIFY(idle.discovery() && talking.discovery() && talking.connected("01066668888"));
    main->PollLines();
    QCoreApplication::processEvents();
    QTreeWidget *list = main->LineList;
    const int deposit = list->header()->sectionViewportPosition(COLUMN_DEPOSIT);
    const int longest = list->fontMetrics().horizontalAdvance(DepositText(50000, 51230, DEPOSIT_USED_UP));
    QVERIFY2(deposit + longest <= list->viewport()->width(),
             qPrintable(QStringLiteral("%1 + %2 > %3").arg(deposit).arg(longest).arg(list->viewport()->width())));
    QCOMPARE(list->header()->length(), list->viewport()->width());

    const int row = main->FindLine(m, 1);
    select(row);
    QRect cell = list->visualRect(list->model()->index(row, 1));
    cell.adjust(1, 3, -2, -3);  // inside the grid and the selection's frame
    const QImage image = list->viewport()->grab().toImage().copy(cell);
    QHash<QRgb, int> colours;
    int dark = 0;
    for (int y = 0; y < image.height(); y++) {
      for (int x = 0; x < image.width(); x++) {
        const QRgb pixel = image.pixel(x, y);
        colours[pixel]++;
        dark += lightness(QColor(pixel)) < 30;
      }
    }
    QRgb ground = 0;
    for (auto it = colours.cbegin(); it != colours.cend(); ++it)
      ground = it.value() > colours.value(ground) ? it.key() : ground;
    QVERIFY2(dark >= 20, "the text of the selected row is not black");
    QVERIFY2(qAbs(lightness(QColor(ground)) - lightness(StateTint(LINE_IN_CALL))) < 12,
             qPrintable(QColor(ground).name()));
  }

  void rowsAreTintedByStateAndCountedInTheStatusBar()
  {
    const QByteArray m = FreshMachine();
    s->logIn();
    TMainForm *main = s->main;
    QCOMPARE(main->StatusOperator->text(), QStringLiteral("操作员：admin"));
    QCOMPARE(main->StatusTakings->text(), QStringLiteral("本班收入：0.00元"));
    QCOMPARE(main->StatusEngine->text(), QStringLiteral("计费引擎：运行中"));
    TestLine idle(m, 0), dialling(m, 1), talking(m, 2), denied(m, 3), silent(m, 4);
    QVERIFY(idle.discovery() && dialling.discovery() && dialling.keepAlive("IDLE", "0105") &&
            talking.discovery() && talking.connected("0101") && denied.discovery("FORBIDDEN") &&
            silent.discovery("UNKNOWN"));
    main->PollLines();
    // Lighter to darker, far enough apart to tell without hue, text readable on each.
    double above = 109;  // idle may be white itself
    const unsigned char states[] = {LINE_IDLE, LINE_DIALLING, LINE_IN_CALL, LINE_DISABLED, LINE_OFFLINE};
    for (int line = 0; line < 5; line++) {
      const QColor tint = StateTint(states[line]);
      QCOMPARE(s->row(m, line)->background(0).color(), tint);
      QCOMPARE(s->row(m, line)->background(5).color(), tint);
      QVERIFY2(above - lightness(tint) >= 9, qPrintable(s->row(m, line)->text(1)));
      above = lightness(tint);
      QVERIFY(above >= 55);  // black text keeps about 6:1
    }
    QVERIFY(talking.hangUp());
    main->PollLines();
    QCOMPARE(s->row(m, 2)->background(0).color(), StateTint(LINE_IDLE));

    // Online: every row the engine reports in a state other than offline.
    int online = 0;
    for (int row = 0; row < main->LineCount(); row++) {
      const QString state = main->LineList->topLevelItem(row)->text(1);
      online += !state.isEmpty() && state != QStringLiteral("离线");
    }
    QCOMPARE(main->StatusLines->text(),
             QStringLiteral("在线线路：%1/%2").arg(online).arg(main->LineCount()));
  }

  void movingRowsKeepsButtonsAndStates()
  {
    const QByteArray m = FreshMachine();
    s->forms->dir.write(LINEMAP_FILE, m + " 0 A\n" + m + " 1 B\n" + m + " 2 C\n");
    s->logIn();
    TMainForm *main = s->main;
    TestLine a(m, 0), b(m, 1), c(m, 2);
    QVERIFY(a.discovery("UNKNOWN") && b.discovery() && c.discovery());
    QVERIFY(b.call("0101"));
    main->PollLines();
    QCOMPARE(main->LineList->topLevelItem(0)->text(1), QStringLiteral("离线"));
    QCOMPARE(main->Line(1)->button->text(), QStringLiteral("结帐"));

    select(0);
    QCOMPARE(menuOffers(), QStringLiteral("+--+"));
    main->LineDown->trigger();
    // B moved up with its unsettled call; the buttons stayed with the rows.
    QCOMPARE(main->LineList->topLevelItem(0)->text(0), QStringLiteral("B"));
    QCOMPARE(main->LineList->topLevelItem(1)->text(0), QStringLiteral("A"));
    QCOMPARE(main->Line(0)->name, QStringLiteral("B"));
    QCOMPARE(main->Line(0)->button->objectName(), QStringLiteral("BillButton1"));
    QCOMPARE(main->Line(0)->button->text(), QStringLiteral("结帐"));
    QCOMPARE(main->Line(1)->button->text(), QStringLiteral("2"));
    QCOMPARE(main->LineList->topLevelItem(0)->text(1), QStringLiteral("空闲"));
    QCOMPARE(main->LineList->topLevelItem(1)->text(1), QStringLiteral("离线"));
    QCOMPARE(main->LineList->topLevelItem(1)->background(0).color(), StateTint(LINE_OFFLINE));
    QCOMPARE(main->LineList->topLevelItem(0)->text(5), QStringLiteral("1.20元"));
    QCOMPARE(main->LineList->topLevelItem(1)->text(5), QString());
    QCOMPARE(lineMapOf(s->forms->dir).mid(0, 3),
             QStringList({lineText(m, 1, "B"), lineText(m, 0, "A"), lineText(m, 2, "C")}));

    // The selection follows the moved line; B's row offers its checkout.
    QCOMPARE(main->LineList->currentItem(), main->LineList->topLevelItem(1));
    select(0);
    QCOMPARE(menuOffers(), QStringLiteral("++-+"));
    select(main->LineCount() - 1);
    QVERIFY(menuOffers().endsWith(QStringLiteral("+-")));
    main->LineList->clearSelection();
    QCOMPARE(menuOffers(), QStringLiteral("----"));

    select(1);
    QCOMPARE(menuOffers(), QStringLiteral("+-++"));
    main->LineUp->trigger();
    QCOMPARE(main->LineList->topLevelItem(0)->text(0), QStringLiteral("A"));
    QCOMPARE(main->Line(1)->button->text(), QStringLiteral("结帐"));
    QCOMPARE(main->Line(0)->button->text(), QStringLiteral("1"));
    QCOMPARE(main->LineList->currentItem(), main->LineList->topLevelItem(0));
  }

  void digitKeysStartTheCheckoutOfTheirRow()
  {
    const QByteArray m = FreshMachine();
    s->forms->dir.write(LINEMAP_FILE, m + " 0 A\n" + m + " 1 B\n" + m + " 2 C\n");
    s->logIn();
    TMainForm *main = s->main;
    TestLine c(m, 2);
    QVERIFY(c.discovery() && c.call("0201"));
    main->PollLines();
    main->LineList->setFocus();

    const QStringList &dialogs = s->forms->op.dialogs;
    const qsizetype before = dialogs.size();
    s->forms->op.then(ScriptedOperator::click("CancelBtn"));
    QTest::keyClick(main->LineList, '3');
    QCOMPARE(dialogs.mid(before), QStringList({"BillForm"}));
    // Rows without calls open no dialog; keys past the rows and 0 do nothing.
    QTest::keyClick(main->LineList, '1');
    QCOMPARE(main->Line(0)->button->text(), QStringLiteral("1"));
    if (main->LineCount() < 9)
      QTest::keyClick(main->LineList, char('1' + main->LineCount()));
    QTest::keyClick(main->LineList, '0');
    QCOMPARE(dialogs.size(), before + 1);

    // No checkout while a name is being edited.
    select(0);
    main->LineRename->trigger();
    QVERIFY(main->EditingName());
    QTest::keyClick(main->LineList, '3');
    QCOMPARE(dialogs.size(), before + 1);
    QTest::keyClick(main->LineList->viewport()->findChild<QLineEdit *>(), Qt::Key_Escape);
    QCoreApplication::processEvents();
    QVERIFY(!main->EditingName());
    s->forms->op.then(ScriptedOperator::click("CancelBtn"));
    QTest::keyClick(main->LineList, '3');
    QCOMPARE(dialogs.size(), before + 2);
  }
};

ENGINE_TEST_MAIN(TestLineMonitor)
#include "test_monitor.moc"
