// Booth control against a running engine and the gateway simulator: the pop-up
// menu denies and permits a line's calls with the gateway's commands, the row
// follows the gateway's answer, a denied line makes no call until permitted,
// and a command that cannot be sent is told.
#include <QAction>
#include <QElapsedTimer>
#include <QMenu>
#include <QProcess>
#include <QTest>
#include <QTreeWidget>

#include "EngineTest.h"
#include "LineMap.h"

class TestBoothControl : public QObject {
  Q_OBJECT

  std::unique_ptr<StationFixture> s;

  /* What the pop-up menu offers for the row: "禁止呼叫", "允许呼叫". */
  QString offers(int row)
  {
    TMainForm *main = s->main;
    main->LineList->setCurrentItem(main->LineList->topLevelItem(row));
    emit main->PopupMenu1->aboutToShow();
    return QString(main->LineDeny->isEnabled() ? '+' : '-') + (main->LinePermit->isEnabled() ? '+' : '-');
  }

  /* Polls until the row's state reads the caption, for five seconds at most. */
  bool showsState(int row, const QString &caption)
  {
    for (int i = 0; i < 250; i++) {
      s->main->PollLines();
      if (s->main->LineList->topLevelItem(row)->text(1) == caption)
        return true;
      QTest::qWait(20);
    }
    return false;
  }

private slots:
  void init() { s = std::make_unique<StationFixture>(); }
  void cleanup()
  {
    s->forms->verifyScriptDone();
    s.reset();
  }

  void aDeniedLineMakesNoCallUntilPermitted()
  {
    const QByteArray m = FreshMachine();
    // A row the engine has not heard from has no address to send to.
    s->forms->dir.write(LINEMAP_FILE, m + " 9 Booth\n");
    s->logIn();
    QCOMPARE(offers(s->main->FindLine(m, 9)), QStringLiteral("--"));

    const QString l = QString::fromLatin1(m) + QStringLiteral("/1 ");
    QProcess sim;
    sim.start(QStringLiteral(GWSIM_PATH),
              {"-k", "200", "--digit-interval", "300", "--duration", "20", "--format", "json", "-e",
               l + "announce;" + l + "talk 1.5;" + l + "dial 12;" + l + "connect 12;" + l + "talk 0.2;" + l +
                   "hangup"});
    QVERIFY(sim.waitForStarted());
    QElapsedTimer started;
    started.start();
    QTRY_VERIFY_WITH_TIMEOUT((s->main->PollLines(), s->main->FindLine(m, 1) >= 0), 5000);
    const int row = s->main->FindLine(m, 1);
    QCOMPARE(offers(row), QStringLiteral("++"));
    s->main->LineDeny->trigger();
    QVERIFY(showsState(row, QStringLiteral("禁用")));
    QCOMPARE(offers(row), QStringLiteral("-+"));

    // Past the moment the script dials, the line has kept still.
    QTest::qWait(static_cast<int>(qMax<qint64>(0, 2000 - started.elapsed())));
    s->main->PollLines();
    QCOMPARE(s->main->LineList->topLevelItem(row)->text(1), QStringLiteral("禁用"));
    QVERIFY(CallsOf(m).empty());

    s->main->LinePermit->trigger();
    // Dialling comes as an idle line with the digits so far.
    QVERIFY(showsState(row, QStringLiteral("拨号中")));
    QTRY_COMPARE_WITH_TIMEOUT(CallsOf(m).size(), size_t(1), 10000);
    QVERIFY(sim.waitForFinished(10000));
    const QByteArray summary = sim.readAllStandardOutput();
    QVERIFY2(summary.contains(R"("command": "call: deny\n", "answer": "FORBIDDEN")"), summary.constData());
    QVERIFY2(summary.contains(R"("command": "call: permit\n", "answer": "IDLE")"), summary.constData());
  }

  void aCommandThatCannotBeSentIsTold()
  {
    const QByteArray m = FreshMachine();
    s->logIn();
    TestLine line(m, 0);
    QVERIFY(line.discovery());
    s->main->PollLines();
    // Longer than a datagram the engine sends: it refuses to send it.
    QVERIFY(!s->main->SendLineCommand(s->main->FindLine(m, 0), QByteArray(600, 'x') + "\n",
                                      QStringLiteral("禁止呼叫")));
    QCOMPARE(s->forms->op.messages.size(), 1);
    QCOMPARE(s->forms->op.messages[0].caption, QStringLiteral("错误"));
    QCOMPARE(s->forms->op.messages[0].text,
             QStringLiteral("未能向线路“%1”发送“禁止呼叫”命令，请检查网络连接后重试。").arg(s->entry(m, 0)->name));
  }
};

ENGINE_TEST_MAIN(TestBoothControl)
#include "test_booth.moc"
