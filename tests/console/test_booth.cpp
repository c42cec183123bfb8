// Booth control against a running engine and the gateway simulator: the pop-up
// menu denies and permits a line's calls with the gateway's commands, the row
// follows the gateway's answer, a denied line makes no call until permitted,
// and a command that cannot be sent is told.
#include <QAction>
#include <QDialog>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProcess>
#include <QTest>
#include <QTreeWidget>

#include "BillFrm.h"
#include "EngineTest.h"
#include "LineMap.h"
#include "ShopInfo.h"

class TestBoothControl : public QObject {
  Q_OBJECT

private slots:
  void aDeniedLineMakesNoCallUntilPermitted()
  {
    StationFixture s;
    const QByteArray m = FreshMachine();
    // A row the engine has not heard from has no address to send to.
    s.forms->dir.write(LINEMAP_FILE, m + " 9 Booth\n");
    s.logIn();
    TMainForm *main = s.main;
    auto offers = [&](int row) {  // "禁止呼叫", "允许呼叫"
      main->Monitor()->SelectLine(row);
      emit Part<QMenu>(main, "PopupMenu1")->aboutToShow();
      return QString(Part(main, "LineDeny")->isEnabled() ? '+' : '-') +
             (Part(main, "LinePermit")->isEnabled() ? '+' : '-');
    };
    auto shows = [&](const char *state) {
      return QTest::qWaitFor([&] { return main->PollLines(), s.text(m, 1, 1) == state; }, 5000);
    };
    QCOMPARE(offers(main->Lines()->FindLine(m, 9)), "--");

    const QString l = QString::fromLatin1(m) + "/1 ";
    QProcess sim;
    sim.start(GWSIM_PATH, {"-k", "200", "--digit-interval", "300", "--duration", "20", "--format", "json", "-e",
                           l + "announce;" + l + "talk 1.5;" + l + "dial 12;" + l + "connect 12;" + l + "talk 0.2;" +
                               l + "hangup"});
    QElapsedTimer started;
    started.start();
    QVERIFY(QTest::qWaitFor([&] { return main->PollLines(), main->Lines()->FindLine(m, 1) >= 0; }, 5000));
    QCOMPARE(offers(main->Lines()->FindLine(m, 1)), "++");
    Part(main, "LineDeny")->trigger();
    QVERIFY(shows("禁用"));
    QCOMPARE(offers(main->Lines()->FindLine(m, 1)), "-+");
    // Past the moment the script dials, the line has kept still.
    QTest::qWait(static_cast<int>(qMax<qint64>(0, 2000 - started.elapsed())));
    QVERIFY(shows("禁用") && CallsOf(m).empty());
    Part(main, "LinePermit")->trigger();
    QVERIFY(shows("拨号中"));  // an idle line with the digits so far
    QVERIFY(QTest::qWaitFor([&] { return CallsOf(m).size() == 1; }, 10000));
    QVERIFY(sim.waitForFinished(10000));
    const QByteArray summary = sim.readAllStandardOutput();
    QVERIFY2(summary.contains(R"("command": "call: deny\n", "answer": "FORBIDDEN")"), summary.constData());
    QVERIFY2(summary.contains(R"("command": "call: permit\n", "answer": "IDLE")"), summary.constData());

    // Longer than a datagram the engine sends: it refuses to send it.
    QVERIFY(!main->SendLineCommand(main->Lines()->FindLine(m, 1), QByteArray(600, 'x') + "\n", "禁止呼叫"));
    QCOMPARE(s.forms->op.messages.size(), 1);
    QCOMPARE(s.forms->op.messages[0].caption, "错误");
    QCOMPARE(s.forms->op.messages[0].text,
             QStringLiteral("未能向线路“%1”发送“禁止呼叫”命令，请检查网络连接后重试。").arg(s.entry(m, 1)->name));
    s.forms->verifyScriptDone();
  }

  // Denying a line cuts the call in progress at once: the operator is asked
  // first (from the menu, and by the denial after a checkout of the line's
  // earlier calls), and "取消" sends nothing; an idle line is denied without
  // a question.
  void denyingALineInACallAsksFirst()
  {
    StationFixture s;
    const QByteArray m = FreshMachine();
    s.forms->dir.write(SHOPINFO_FILE, "deny_after_checkout=1\n");
    s.logIn();
    TestLine a(m, 0);
    QVERIFY(a.discovery() && a.call("0202") && a.connected("0101"));
    s.main->PollLines();
    s.forms->op
        .then([](QDialog *dlg) {
          static_cast<TBillForm *>(dlg)->Money->setText(QStringLiteral("0.60"));
          ScriptedOperator::click("OKBtn")(dlg);
        })
        .then(ScriptedOperator::click("CancelBtn"));
    s.main->Checkout(s.main->Lines()->FindLine(m, 0));
    QVERIFY(!a.command(200));
    const QString name = s.entry(m, 0)->name;
    auto deny = [&] {
      s.main->Monitor()->SelectLine(s.row(m, 0));
      emit Part<QMenu>(s.main, "PopupMenu1")->aboutToShow();
      Part(s.main, "LineDeny")->trigger();
    };
    for (const char *answer : {"CancelBtn", "OKBtn"}) {
      s.forms->op.then([&, answer](QDialog *dlg) {
        QVERIFY(
            dlg->findChild<QLabel *>("Question")->text().startsWith(QStringLiteral("线路“%1”正在通话中").arg(name)));
        ScriptedOperator::click(answer)(dlg);
      });
      deny();
      const bool sent = qstrcmp(answer, "OKBtn") == 0;
      const std::optional<std::string> command = a.command(sent ? 2000 : 200);
      QVERIFY(command.has_value() == sent && (!sent || command->find("\ncall: deny\n") != std::string::npos));
    }
    QVERIFY(a.hangUp());
    s.main->PollLines();
    deny();
    QVERIFY(a.command(2000).has_value());
    QCOMPARE(s.forms->op.dialogs.count(QStringLiteral("QuestionDlg")), 3);
    s.forms->verifyScriptDone();
  }
};

ENGINE_TEST_MAIN(TestBoothControl)
#include "test_booth.moc"
