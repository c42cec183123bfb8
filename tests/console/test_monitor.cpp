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
#include <QTreeView>

#include <cmath>

#include "Deposits.h"
#include "EngineTest.h"
#include "Gbk.h"
#include "LineMap.h"
#include "LineTable.h"
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
    texts << QString::fromLatin1(e.machineId) + QLatin1Char('/') + QString::number(e.lineId) + QLatin1Char('/') +
                 e.name;
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
  return QString::fromLatin1(machine) + QLatin1Char('/') + QString::number(line) + QLatin1Char('/') + name;
}

}  // namespace

class TestLineMonitor : public QObject {
  Q_OBJECT

  std::unique_ptr<StationFixture> s;

  void select(int row) { s->main->Monitor()->SelectLine(row); }

  /* Renames the selected row through the pop-up menu: types text into the
   * editor and ends the edit with key. True when the editing flag was up
   * during the edit and is down after it. */
  bool rename(const QString &text, Qt::Key key)
  {
    TMainForm *main = s->main;
    Part(main, "LineRename")->trigger();
    auto *editor = main->Monitor()->List()->viewport()->findChild<QLineEdit *>();
    if (!editor || !main->Monitor()->EditingName())
      return false;
    editor->setText(text);
    QTest::keyClick(editor, key);
    // The list ends an edit from its event loop.
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return !main->Monitor()->EditingName() && !main->Monitor()->List()->viewport()->findChild<QLineEdit *>();
  }

  /* What the pop-up menu offers for the selected row: rename, checkout, up, down. */
  QString menuOffers()
  {
    TMainForm *main = s->main;
    emit Part<QMenu>(main, "PopupMenu1")->aboutToShow();
    QString offers;
    for (QAction *a : {Part(main, "LineRename"), Part(main, "LineBill"), Part(main, "LineUp"), Part(main, "LineDown")})
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
    QCOMPARE(s->main->Lines()->Machines().mid(0, 2), QList<QByteArray>({m1, m2}));
    TestLine a(m1, 0), b(m1, 1), c(m2, 0);
    QVERIFY(a.discovery() && b.discovery("FORBIDDEN") && c.discovery() && c.keepAlive("IDLE", "01"));
    s->main->PollLines();

    QCOMPARE(s->text(m1, 0, 0), QStringLiteral("前台"));
    QCOMPARE(s->text(m1, 1, 0), QStringLiteral("终端01线路#2"));
    QCOMPARE(s->text(m2, 0, 0), QStringLiteral("终端02线路#1"));
    QCOMPARE(s->text(m1, 0, 1), QStringLiteral("空闲"));
    QCOMPARE(s->text(m1, 1, 1), QStringLiteral("禁用"));
    QCOMPARE(s->text(m2, 0, 1), QStringLiteral("拨号中"));
    QCOMPARE(s->text(m2, 0, 2), QStringLiteral("01"));
    // The line map was rewritten with the new rows after the loaded ones.
    const QStringList map = lineMapOf(s->forms->dir);
    QCOMPARE(map.mid(0, 2), QStringList({lineText(m1, 0, "前台"), lineText(m2, 7, "X")}));
    QVERIFY(map.contains(lineText(m1, 1, "终端01线路#2")));
    QVERIFY(map.contains(lineText(m2, 0, "终端02线路#1")));
    QCOMPARE(map.size(), s->main->Lines()->LineCount());

    // A status the console does not know is shown as the gateway sent it, at every report.
    QVERIFY(c.keepAlive("RINGING"));
    s->main->PollLines();
    QCOMPARE(s->text(m2, 0, 1), QStringLiteral("RINGING"));
    s->main->PollLines();
    QCOMPARE(s->text(m2, 0, 1), QStringLiteral("RINGING"));
  }

  void theTimerPollsOnceLoggedIn()
  {
    const QByteArray m = FreshMachine();
    s->logIn();
    QCOMPARE(Part<QTimer>(s->main, "Timer1")->interval(), 1000);
    Part<QTimer>(s->main, "Timer1")->start();
    TestLine a(m, 0);
    QVERIFY(a.discovery());
    QTRY_VERIFY_WITH_TIMEOUT(s->main->Lines()->FindLine(m, 0) >= 0, 3000);
    QTRY_COMPARE_WITH_TIMEOUT(s->text(m, 0, 1), QStringLiteral("空闲"), 3000);
  }

  void buttonTurnsRedWhenTheCallEnds()
  {
    const QByteArray m = FreshMachine();
    s->logIn();
    TestLine a(m, 0);
    QVERIFY(a.discovery());
    s->main->PollLines();
    const int row = s->main->Lines()->FindLine(m, 0);
    QPushButton *button = s->button(m, 0);
    QCOMPARE(button->text(), QString::number(row + 1));
    QCOMPARE(button->font().pointSize(), 14);
    QCOMPARE(button->palette().color(QPalette::ButtonText), s->main->palette().color(QPalette::WindowText));

    QVERIFY(a.connected("0105551234"));
    s->main->PollLines();
    QCOMPARE(s->text(m, 0, 1), QStringLiteral("通话中"));
    QCOMPARE(s->text(m, 0, 2), QStringLiteral("0105551234"));
    QVERIFY(QDateTime::fromString(s->text(m, 0, 3), QStringLiteral("yyyy-MM-dd HH:mm:ss")).isValid());
    QVERIFY2(QRegularExpression(QStringLiteral("^00:00:0[0-9]$")).match(s->text(m, 0, 4)).hasMatch(),
             qPrintable(s->text(m, 0, 4)));
    // The call is not over: the button keeps its look.
    QCOMPARE(button->text(), QString::number(row + 1));

    QVERIFY(a.hangUp());
    s->main->PollLines();
    QCOMPARE(button->text(), QStringLiteral("结帐"));
    QCOMPARE(button->palette().color(QPalette::ButtonText), QColor(Qt::red));
    QCOMPARE(s->text(m, 0, 1), QStringLiteral("空闲"));
    QCOMPARE(s->text(m, 0, 4), QString());
    QCOMPARE(s->text(m, 0, 5), QStringLiteral("1.20元"));

    // A restart finds the unsettled call in the database, without a flag.
    s->restart();
    s->main->PollLines();
    QCOMPARE(s->button(m, 0)->text(), QStringLiteral("结帐"));
    QCOMPARE(s->text(m, 0, 5), QStringLiteral("1.20元"));
  }

  void renamedLinesComeBackAfterARestart()
  {
    const QByteArray m = FreshMachine();
    s->logIn();
    TestLine a(m, 0), b(m, 1);
    QVERIFY(a.discovery() && b.discovery());
    s->main->PollLines();
    TMainForm *main = s->main;
    const int row = main->Lines()->FindLine(m, 1);

    select(row);
    QVERIFY(rename(QStringLiteral("VIP 室"), Qt::Key_Return));
    QCOMPARE(LineText(main, row, 0), QStringLiteral("VIP 室"));
    QVERIFY(s->forms->dir.read(LINEMAP_FILE).contains(m + " 1 \"VIP " + gbk(QStringLiteral("室")) + "\"\n"));

    // Cancelling an edit changes nothing and ends the editing.
    QVERIFY(rename(QStringLiteral("ignored"), Qt::Key_Escape));
    QCOMPARE(LineText(main, row, 0), QStringLiteral("VIP 室"));

    // A name the file cannot hold is refused, and so is one of blanks.
    QVERIFY(rename(QStringLiteral("室\U0001F600"), Qt::Key_Return));
    QCOMPARE(s->forms->op.messages.size(), 1);
    QCOMPARE(s->forms->op.messages[0].caption, QStringLiteral("错误"));
    QVERIFY(rename(QStringLiteral("  "), Qt::Key_Return));
    QCOMPARE(LineText(main, row, 0), QStringLiteral("VIP 室"));
    QCOMPARE(s->forms->op.messages.size(), 1);

    // The map keeps the whole name, blank and all.
    const QString other = s->text(m, 0, 0);
    s->restart();
    QCOMPARE(s->text(m, 1, 0), QStringLiteral("VIP 室"));
    QCOMPARE(s->text(m, 0, 0), other);
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
    QTreeView *list = main->Monitor()->List();
    const int deposit = list->header()->sectionViewportPosition(COLUMN_DEPOSIT);
    const int longest = list->fontMetrics().horizontalAdvance(DepositText(50000, 51230, DEPOSIT_USED_UP));
    QVERIFY2(deposit + longest <= list->viewport()->width(),
             qPrintable(QStringLiteral("%1 + %2 > %3").arg(deposit).arg(longest).arg(list->viewport()->width())));
    QCOMPARE(list->header()->length(), list->viewport()->width());

    const int row = main->Lines()->FindLine(m, 1);
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
    QCOMPARE(Part<QLabel>(main, "StatusOperator")->text(), QStringLiteral("操作员：admin"));
    QCOMPARE(Part<QLabel>(main, "StatusTakings")->text(), QStringLiteral("本班收入：0.00元"));
    QCOMPARE(Part<QLabel>(main, "StatusEngine")->text(), QStringLiteral("计费引擎：运行中"));
    TestLine idle(m, 0), dialling(m, 1), talking(m, 2), denied(m, 3), silent(m, 4);
    QVERIFY(idle.discovery() && dialling.discovery() && dialling.keepAlive("IDLE", "0105") && talking.discovery() &&
            talking.connected("0101") && denied.discovery("FORBIDDEN") && silent.discovery("UNKNOWN"));
    main->PollLines();
    // Lighter to darker, far enough apart to tell without hue, text readable on each.
    double above = 109;  // idle may be white itself
    const unsigned char states[] = {LINE_IDLE, LINE_DIALLING, LINE_IN_CALL, LINE_DISABLED, LINE_OFFLINE};
    for (int line = 0; line < 5; line++) {
      const QColor tint = StateTint(states[line]);
      QCOMPARE(s->tint(m, line, 0), tint);
      QCOMPARE(s->tint(m, line, 5), tint);
      QVERIFY2(above - lightness(tint) >= 9, qPrintable(s->text(m, line, 1)));
      above = lightness(tint);
      QVERIFY(above >= 55);  // black text keeps about 6:1
    }
    QVERIFY(talking.hangUp());
    main->PollLines();
    QCOMPARE(s->tint(m, 2, 0), StateTint(LINE_IDLE));

    // Online: every row the engine reports in a state other than offline.
    int online = 0;
    for (int row = 0; row < main->Lines()->LineCount(); row++) {
      const QString state = LineText(main, row, 1);
      online += !state.isEmpty() && state != QStringLiteral("离线");
    }
    QCOMPARE(Part<QLabel>(main, "StatusLines")->text(),
             QStringLiteral("在线线路：%1/%2").arg(online).arg(main->Lines()->LineCount()));
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
    QCOMPARE(LineText(main, 0, 1), QStringLiteral("离线"));
    QCOMPARE(main->Monitor()->BillButton(1)->text(), QStringLiteral("结帐"));

    select(0);
    QCOMPARE(menuOffers(), QStringLiteral("+--+"));
    Part(main, "LineDown")->trigger();
    // B moved up with its unsettled call; the buttons stayed with the rows.
    QCOMPARE(LineText(main, 0, 0), QStringLiteral("B"));
    QCOMPARE(LineText(main, 1, 0), QStringLiteral("A"));
    QCOMPARE(main->Lines()->Line(0)->name, QStringLiteral("B"));
    QCOMPARE(main->Monitor()->BillButton(0)->objectName(), QStringLiteral("BillButton1"));
    QCOMPARE(main->Monitor()->BillButton(0)->text(), QStringLiteral("结帐"));
    QCOMPARE(main->Monitor()->BillButton(1)->text(), QStringLiteral("2"));
    QCOMPARE(LineText(main, 0, 1), QStringLiteral("空闲"));
    QCOMPARE(LineText(main, 1, 1), QStringLiteral("离线"));
    QCOMPARE(LineTint(main, 1, 0), StateTint(LINE_OFFLINE));
    QCOMPARE(LineText(main, 0, 5), QStringLiteral("1.20元"));
    QCOMPARE(LineText(main, 1, 5), QString());
    QCOMPARE(lineMapOf(s->forms->dir).mid(0, 3),
             QStringList({lineText(m, 1, "B"), lineText(m, 0, "A"), lineText(m, 2, "C")}));

    // The selection follows the moved line; B's row offers its checkout.
    QCOMPARE(main->Monitor()->List()->currentIndex().row(), 1);
    select(0);
    QCOMPARE(menuOffers(), QStringLiteral("++-+"));
    select(main->Lines()->LineCount() - 1);
    QVERIFY(menuOffers().endsWith(QStringLiteral("+-")));
    main->Monitor()->List()->clearSelection();
    QCOMPARE(menuOffers(), QStringLiteral("----"));

    select(1);
    QCOMPARE(menuOffers(), QStringLiteral("+-++"));
    Part(main, "LineUp")->trigger();
    QCOMPARE(LineText(main, 0, 0), QStringLiteral("A"));
    QCOMPARE(main->Monitor()->BillButton(1)->text(), QStringLiteral("结帐"));
    QCOMPARE(main->Monitor()->BillButton(0)->text(), QStringLiteral("1"));
    QCOMPARE(main->Monitor()->List()->currentIndex().row(), 0);
  }

  // The rows as a model, without the window: one row per line however often
  // it is reported or listed, rows moved and renamed with what they show, the
  // tints and the deposit's level as a view reads them.
  void theLineTableKeepsOneRowPerLine()
  {
    const QByteArray m = FreshMachine();
    s->logIn();
    LineTable table;
    TestLine a(m, 0), b(m, 1);
    QVERIFY(a.discovery() && b.discovery("UNKNOWN"));
    QVERIFY(table.Poll(QDateTime::currentDateTime()));
    const int rows = table.rowCount();
    QVERIFY(!table.Poll(QDateTime::currentDateTime()));
    s->forms->dir.write(LINEMAP_FILE, m + " 0 A\n" + m + " 0 B\n" + m + " 5 C\n");
    QVERIFY(table.LoadLineMap(s->forms->dir.file(LINEMAP_FILE)));
    QCOMPARE(table.rowCount(), rows + 1);
    int ra = table.FindLine(m, 0), rb = table.FindLine(m, 1);
    const int rc = table.FindLine(m, 5);
    QCOMPARE(rc, rows);
    auto shown = [&](int row, int column, int role = Qt::DisplayRole) { return table.index(row, column).data(role); };
    QCOMPARE(shown(ra, COLUMN_STATE).toString(), QStringLiteral("空闲"));
    QCOMPARE(shown(ra, COLUMN_NAME, Qt::BackgroundRole).value<QBrush>().color(), StateTint(LINE_IDLE));
    QCOMPARE(shown(ra, COLUMN_DEPOSIT, Qt::ForegroundRole).value<QBrush>().color(), QColor(Qt::black));
    QCOMPARE(shown(rb, COLUMN_AMOUNT_DUE, Qt::BackgroundRole).value<QBrush>().color(), StateTint(LINE_OFFLINE));
    QVERIFY(!shown(rc, COLUMN_NAME, Qt::BackgroundRole).isValid());  // not reported yet
    QVERIFY(table.flags(table.index(ra, COLUMN_NAME)) & Qt::ItemIsEditable);
    QVERIFY(!(table.flags(table.index(ra, COLUMN_STATE)) & Qt::ItemIsEditable));

    QVERIFY(!table.Rename(ra, QStringLiteral(" \t ")));
    QVERIFY(table.Rename(ra, QStringLiteral("前台\n1")));
    QCOMPARE(shown(ra, COLUMN_NAME).toString(), QStringLiteral("前台 1"));
    QCOMPARE(qAbs(ra - rb), 1);
    table.SwapLines(ra, rb);
    QCOMPARE(shown(rb, COLUMN_NAME).toString(), QStringLiteral("前台 1"));
    QCOMPARE(shown(ra, COLUMN_STATE).toString(), QStringLiteral("离线"));
    QCOMPARE(table.FindLine(m, 0), rb);

    // A call of 1.20 against a deposit of 1.00: used up, said once.
    QVERIFY(a.call("0101"));
    table.Poll(QDateTime::currentDateTime());
    const int row = table.FindLine(m, 0);
    QVERIFY(shown(row, COLUMN_NAME, LineTable::BillableRole).toBool());
    QCOMPARE(shown(row, COLUMN_AMOUNT_DUE).toString(), QStringLiteral("1.20元"));
    QCOMPARE(table.WatchDeposit(row).level, DEPOSIT_NONE);
    table.AddDeposit(row, 100);
    const DepositCheck first = table.WatchDeposit(row);
    QVERIFY(first.level == DEPOSIT_USED_UP && first.beep && first.deny);
    const DepositCheck again = table.WatchDeposit(row);
    QVERIFY(!again.beep && !again.deny);
    QCOMPARE(shown(row, COLUMN_STATE, Qt::BackgroundRole).value<QBrush>().color(), DepositWarningTint());
    QVERIFY(shown(row, COLUMN_DEPOSIT).toString().contains(QStringLiteral("押金用完")));
    QCOMPARE(table.DepositsHeld(), Cents(100));
    table.ClearDeposit(row);
    QVERIFY(!table.DepositOf(row));
    QCOMPARE(shown(row, COLUMN_DEPOSIT).toString(), QString());

    // A line listed but not reported since the start cannot be denied: it
    // waits, warned, for the poll that reports it.
    LineTable later;
    QVERIFY(later.LoadLineMap(s->forms->dir.file(LINEMAP_FILE)));
    later.AddDeposit(0, 100);
    const DepositCheck unreported = later.WatchDeposit(0);
    QVERIFY(unreported.level == DEPOSIT_LOW && unreported.beep && !unreported.deny);
    later.Poll(QDateTime::currentDateTime());
    QVERIFY(later.WatchDeposit(later.FindLine(m, 0)).deny);
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
    main->Monitor()->List()->setFocus();

    const QStringList &dialogs = s->forms->op.dialogs;
    const qsizetype before = dialogs.size();
    s->forms->op.then(ScriptedOperator::click("CancelBtn"));
    QTest::keyClick(main->Monitor()->List(), '3');
    QCOMPARE(dialogs.mid(before), QStringList({"BillForm"}));
    // Rows without calls open no dialog; keys past the rows and 0 do nothing.
    QTest::keyClick(main->Monitor()->List(), '1');
    QCOMPARE(main->Monitor()->BillButton(0)->text(), QStringLiteral("1"));
    if (main->Lines()->LineCount() < 9)
      QTest::keyClick(main->Monitor()->List(), char('1' + main->Lines()->LineCount()));
    QTest::keyClick(main->Monitor()->List(), '0');
    QCOMPARE(dialogs.size(), before + 1);

    // No checkout while a name is being edited.
    select(0);
    Part(main, "LineRename")->trigger();
    QVERIFY(main->Monitor()->EditingName());
    QTest::keyClick(main->Monitor()->List(), '3');
    QCOMPARE(dialogs.size(), before + 1);
    QTest::keyClick(main->Monitor()->List()->viewport()->findChild<QLineEdit *>(), Qt::Key_Escape);
    QCoreApplication::processEvents();
    QVERIFY(!main->Monitor()->EditingName());
    s->forms->op.then(ScriptedOperator::click("CancelBtn"));
    QTest::keyClick(main->Monitor()->List(), '3');
    QCOMPARE(dialogs.size(), before + 2);
  }
};

ENGINE_TEST_MAIN(TestLineMonitor)
#include "test_monitor.moc"
