/* For console suites that drive a real engine: the engine started once per
 * process in a directory of its own (with the suite's rate file); gateway
 * lines on UDP sockets of 127.0.0.1 that talk to it; and reading its tables
 * back. */
#ifndef TESTS_CONSOLE_ENGINETEST_H
#define TESTS_CONSOLE_ENGINETEST_H

#include <QByteArray>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "quenta/quenta.h"
#include "testkit.h"

#include "FormsTest.h"
#include "MainFrm.h"
#include "MonitorTest.h"

/* Starts the engine, once per process, with rateFile as its "rateinfo". The
 * login's own start-up later finds it running. */
inline void StartEngineOnce(const QByteArray &rateFile)
{
  if (EngineDir())
    return;
  HoldGatewayPort();
  auto dir = std::make_unique<QTemporaryDir>();
  QVERIFY(dir->isValid());
  QFile rates(dir->filePath(QStringLiteral("rateinfo")));
  QVERIFY(rates.open(QIODevice::WriteOnly));
  rates.write(rateFile);
  rates.close();
  const QString previous = QDir::currentPath();
  QVERIFY(QDir::setCurrent(dir->path()));
  const int rc = quenta_init();
  QDir::setCurrent(previous);
  QCOMPARE(rc, 0);
  EngineDir() = std::move(dir);
}

/* A machine id no earlier test of this process used: the engine's line table
 * and database live as long as the process. */
inline QByteArray FreshMachine()
{
  static int n = 0;
  return "TM" + QByteArray::number(++n);
}

/* One gateway line on a socket of its own. */
class TestLine {
public:
  TestLine(const QByteArray &machine, int line) : m_machine(machine.toStdString()), m_line(line) {}

  /* Each sends a message and is true once the station echoed it, that is once
   * the engine has handled it. */
  bool discovery(const char *state = "IDLE")
  {
    return exchange("Discovery", {{"machine_id", m_machine}, {"line_id", lineText()}, {"state", state}});
  }
  bool keepAlive(const char *state, const std::string &dialled = {})
  {
    return exchange("KeepAlive",
                    {{"machine_id", m_machine}, {"line_id", lineText()}, {"state", state}, {"dest_num", dialled}});
  }
  bool connected(const std::string &dialled, const std::string &calling = "8001")
  {
    return exchange("Connected", {{"machine_id", m_machine},
                                  {"line_id", lineText()},
                                  {"state", "CONNECTED"},
                                  {"src_num", calling},
                                  {"dest_num", dialled}});
  }

  /* Ends the call under way; true once the engine has stored it. The engine
   * echoes before it stores, and handles one datagram after the other: the
   * echo of a second message comes after the store. */
  bool hangUp() { return keepAlive("IDLE") && keepAlive("IDLE"); }

  /* A whole call to the number, stored when this returns. Call ids carry the
   * start second: a second call of the line waits for the next second. */
  bool call(const std::string &dialled)
  {
    // The engine's clock is time(), which may lag the precise clock by a
    // few milliseconds: the same clock, then.
    while (m_lastStart >= 0 && time(nullptr) <= m_lastStart)
      QTest::qSleep(20);
    if (!connected(dialled))
      return false;
    // The engine stamped the start at or before this second.
    m_lastStart = time(nullptr);
    return hangUp();
  }

  /* The next datagram the station sends the line unasked (a command), or
   * nothing within timeout_ms. */
  std::optional<std::string> command(int timeout_ms) { return m_socket.receive(timeout_ms); }

private:
  using Attrs = testkit::Attrs;

  std::string lineText() const { return std::to_string(m_line); }

  bool exchange(const std::string &type, const Attrs &attrs)
  {
    return m_socket.exchange(testkit::message(type, attrs));
  }

  testkit::GatewaySocket m_socket{SRV_PORT};
  std::string m_machine;
  int m_line;
  time_t m_lastStart = -1; /* second of the last call's start, or -1 */
};

/* An SQL text literal of the bytes. */
inline QByteArray Literal(QByteArray text)
{
  return "'" + text.replace('\'', "''") + "'";
}

/* The call records of a machine in the order the calls began, and the bills
 * of a call, as the engine reads them. */
inline std::vector<cdr_info> CallsOf(const QByteArray &machine)
{
  const QByteArray cond = "machineid=" + Literal(machine);
  const char *conds[] = {cond.constData(), nullptr};
  std::vector<cdr_info> rows;
  quenta_selectCDRTable(
      conds, [](void *r, void *p) { static_cast<std::vector<cdr_info> *>(p)->push_back(*static_cast<cdr_info *>(r)); },
      &rows);
  std::sort(rows.begin(), rows.end(), [](const cdr_info &a, const cdr_info &b) {
    return std::strcmp(a.bdate, b.bdate) < 0 || (std::strcmp(a.bdate, b.bdate) == 0 && a.lineid < b.lineid);
  });
  return rows;
}

inline std::vector<bill_info> BillsOf(const char *callid)
{
  const QByteArray cond = "callid=" + Literal(QByteArray(callid));
  const char *conds[] = {cond.constData(), nullptr};
  std::vector<bill_info> rows;
  quenta_selectBillTable(
      conds,
      [](void *r, void *p) { static_cast<std::vector<bill_info> *>(p)->push_back(*static_cast<bill_info *>(r)); },
      &rows);
  return rows;
}

/* Runs a statement on the engine's database from a connection of our own
 * (the suite links SQLite). */
inline bool execOnEngineDb(const QByteArray &sql)
{
  sqlite3 *db = nullptr;
  const QByteArray path = EngineDir()->filePath(QStringLiteral("quentadb")).toLocal8Bit();
  bool ok = sqlite3_open(path.constData(), &db) == SQLITE_OK &&
            sqlite3_exec(db, sql.constData(), nullptr, nullptr, nullptr) == SQLITE_OK;
  sqlite3_close(db);
  return ok;
}

/* The rate file of the console's engine suites: calls shorter than three
 * minutes cost 1.20 to "010...", 0.60 to "020..." and 2.00 to "030..."; no
 * rule prices any other number. */
inline const QByteArray kStationRates = "A|010|0.20|00:00:00-0.30|180:1.00|0|60\n"
                                        "B|020|0.00|00:00:00-0.30|180:0.60|0|60\n"
                                        "C|030|0.00|00:00:00-0.30|180:2.00|0|60\n";

/* The console's windows in a fresh working directory, on the process's engine. */
struct StationFixture {
  std::unique_ptr<FormsFixture> forms;
  TMainForm *main = nullptr;

  StationFixture()
  {
    StartEngineOnce(kStationRates);
    forms = std::make_unique<FormsFixture>();
    main = Forms.MainForm;
  }

  /* Logs in; the test polls when it wants to, not the timer. */
  void logIn(const QString &name = QStringLiteral("admin"), const QString &password = QString())
  {
    forms->logIn(name, password);
    QVERIFY(Part<QTimer>(main, "Timer1")->isActive());
    Part<QTimer>(main, "Timer1")->stop();
  }

  /* The program ends and starts again in the same working directory. */
  void restart(const QString &name = QStringLiteral("admin"))
  {
    ReleaseForms();
    CreateForms();
    main = Forms.MainForm;
    logIn(name);
  }

  /* The line's row, its text in a column, its tint, its checkout button. */
  int row(const QByteArray &machine, int line) const { return main->Lines()->FindLine(machine, line); }
  QString text(const QByteArray &machine, int line, int column) const
  {
    return LineText(main, row(machine, line), column);
  }
  QColor tint(const QByteArray &machine, int line, int column) const
  {
    return LineTint(main, row(machine, line), column);
  }
  QPushButton *button(const QByteArray &machine, int line) const
  {
    return main->Monitor()->BillButton(row(machine, line));
  }
  const LineEntry *entry(const QByteArray &machine, int line) const { return main->Lines()->Line(row(machine, line)); }
  /* How often the checkout dialog has been shown. */
  qsizetype checkouts() const { return forms->op.dialogs.count(QStringLiteral("BillForm")); }
};

/* The suite's engine directory is removed before the program leaves. */
#define ENGINE_TEST_MAIN(TestClass)                             \
  int main(int argc, char *argv[])                              \
  {                                                             \
    return RunConsoleSuite<TestClass>(argc, argv, LeaveEngine); \
  }

#endif
