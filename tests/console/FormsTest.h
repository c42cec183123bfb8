/* For the suites of the console's windows: every window of the console made afresh in
 * a fresh working directory for every test, the login through the main
 * window's first showing, and a main that never tears the test down under a
 * running engine. */
#ifndef TESTS_CONSOLE_FORMSTEST_H
#define TESTS_CONSOLE_FORMSTEST_H

#include <QCoreApplication>
#include <QEvent>
#include <QTemporaryDir>

#include <cstdio>
#include <memory>
#include <unistd.h>

#include "ConsoleTest.h"
#include "Forms.h"
#include "MainFrm.h"
#include "Passwd.h"
#include "ShiftLog.h"
#include "testkit.h"

/* Taken before the first engine start and held to the process's end: the
 * engine binds the gateway port, which the suites of every checkout on this
 * machine take turns at. */
inline void HoldGatewayPort()
{
  static testkit::PortLock lock;
}

/* The directory the engine runs in: once started, the engine keeps its
 * database, journal and rate file there to the process's end, so that outlives
 * the test that started it. Null until the engine runs. */
inline std::unique_ptr<QTemporaryDir> &EngineDir()
{
  static std::unique_ptr<QTemporaryDir> dir;
  return dir;
}

/* For the suite's main, once the tests are done: removes the engine's
 * directory and says whether the engine was ever started. */
inline bool LeaveEngine()
{
  if (!EngineDir())
    return EngineCalled();
  EngineDir()->remove();
  return true;
}

struct FormsFixture {
  StationDir dir; /* first: the windows take it as the station's directory */
  ScriptedOperator op;

  FormsFixture() { CreateForms(); }
  ~FormsFixture()
  {
    ReleaseForms();
    // A login of this test started the engine here: the directory is the
    // engine's from now on, and later tests of the process work beside it.
    if (EngineCalled() && !EngineDir())
      EngineDir() = dir.release();
  }

  /* Shows the main window and lets its first showing run with the answers
   * scripted so far. */
  void showMainForm()
  {
    Forms.MainForm->show();
    QCoreApplication::sendPostedEvents(Forms.MainForm, QEvent::MetaCall);
  }

  /* Logs name in through the main window's first showing. */
  void logIn(const QString &name, const QString &password = QString())
  {
    op.then(ScriptedOperator::logIn(name, password));
    HoldGatewayPort();
    showMainForm();
    // The engine refuses to start while another station (a test of another
    // build, say) runs on this machine; say so rather than fail later.
    QVERIFY2(op.ends.isEmpty(), "the login ended the program: is another station running?");
    // The day's backup, copied beside the window: done before the test goes on.
    Forms.MainForm->WaitForBackup();
  }

  /* Ends the test: every scripted answer used, no dialog left unanswered, no
   * message box the test did not expect. */
  void verifyScriptDone()
  {
    op.verify();
    QCOMPARE(op.pending(), 0);
  }
};

/* Runs the suite. Once a test has started the engine its thread runs on to the
 * process's end: then the program leaves without destructors running under
 * it. engine_left (which may tidy up) says whether that is so. */
template <class TestClass>
int RunConsoleSuite(int argc, char *argv[], bool (*engine_left)())
{
  QApplication app(argc, argv);
  int rc;
  {
    TestClass test;
    rc = QTest::qExec(&test, argc, argv);
  }
  if (engine_left()) {
    std::fflush(nullptr);
    _exit(rc);
  }
  return rc;
}

#define FORMS_TEST_MAIN(TestClass)                              \
  int main(int argc, char *argv[])                              \
  {                                                             \
    return RunConsoleSuite<TestClass>(argc, argv, LeaveEngine); \
  }

#endif
