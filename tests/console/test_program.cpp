// The program as it runs: the exit statuses of a failed login, of a second
// station on the same machine and of a gateway port held by another program,
// and the screenshots of every window.
#include <QDir>
#include <QImage>
#include <QProcess>
#include <QTest>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "ConsoleTest.h"
#include "testkit.h"

namespace {

const QByteArray kBobSecret = "bb20f63bb59e0455a4c09b19bd125401";  // bob / secret

/* Starts Mirolt in dir, logging in unattended as name. */
void Start(QProcess *p, const QString &dir, const QString &name, QStringList more = {})
{
  p->setWorkingDirectory(dir);
  p->setProgram(QStringLiteral(MIROLT_PATH));
  p->setArguments(QStringList{QStringLiteral("--login"), name} + more);
  p->start();
  QVERIFY2(p->waitForStarted(), qPrintable(p->errorString()));
}

/* Waits for the end: its status, or -1000 when it did not end by itself. */
int Finish(QProcess *p)
{
  if (!p->waitForFinished(30000) || p->exitStatus() != QProcess::NormalExit)
    return -1000;
  return p->exitCode();
}

}  // namespace

class TestProgram : public QObject {
  Q_OBJECT

  std::unique_ptr<QTemporaryDir> dir;
  std::unique_ptr<testkit::PortLock> port; /* the stations started here bind the gateway port */

  QString stationDir(const char *name)
  {
    QString path = dir->filePath(QLatin1String(name));
    QDir().mkpath(path);
    return path;
  }

private slots:
  void init()
  {
    port = std::make_unique<testkit::PortLock>();
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(dir->isValid());
  }
  void cleanup()
  {
    dir.reset();
    port.reset();
  }

  void failedLoginEndsWithZeroAndKeepsOnlyItsAuditEntry()
  {
    const QString station = stationDir("station");
    QFile passwd(station + QStringLiteral("/passwd"));
    QVERIFY(passwd.open(QIODevice::WriteOnly));
    passwd.write("bob " + kBobSecret + "\n");
    passwd.close();
    QProcess p;
    Start(&p, station, QStringLiteral("alice"));
    QCOMPARE(Finish(&p), 0);
    // The failed login waits for the audit trail: the one file such a start leaves.
    QCOMPARE(QDir(station).entryList(QDir::Files), (QStringList{"audit.pending", "passwd"}));
    QFile pending(station + QStringLiteral("/audit.pending"));
    QVERIFY(pending.open(QIODevice::ReadOnly));
    QVERIFY(pending.readAll().contains("alice"));
  }

  void secondStationOnTheMachineEndsWithMinusOne()
  {
    const QString first = stationDir("first");
    const QString second = stationDir("second");
    QProcess running;
    Start(&running, first, QStringLiteral("admin"));
    // The shift record is written only once the engine runs.
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(first + QStringLiteral("/lastlog")), 30000);

    // Told before the password is asked for: a login that would fail is
    // never tried (it would end with 0 and leave its audit entry).
    QFile passwd(second + QStringLiteral("/passwd"));
    QVERIFY(passwd.open(QIODevice::WriteOnly));
    passwd.write("bob " + kBobSecret + "\n");
    passwd.close();
    QProcess p;
    Start(&p, second, QStringLiteral("alice"));
    const int status = Finish(&p);
    running.kill();
    running.waitForFinished();
    QCOMPARE(status, 255);
    QVERIFY(QString::fromUtf8(p.readAllStandardError()).contains(QStringLiteral("错误: 计费程序已在运行")));
    QCOMPARE(QDir(second).entryList(QDir::Files), QStringList{"passwd"});
  }

  void heldGatewayPortEndsWithMinusOneSilently()
  {
    // Another program on the port, without address reuse: the engine cannot
    // share it.
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    QVERIFY(fd >= 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(9849);
    addr.sin_addr.s_addr = htonl(INADDR_ANY);
    QVERIFY2(bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0, "port 9849 is busy");

    const QString station = stationDir("station");
    QProcess p;
    Start(&p, station, QStringLiteral("admin"));
    const int status = Finish(&p);
    close(fd);
    QCOMPARE(status, 255);
    QVERIFY(!QString::fromUtf8(p.readAllStandardError()).contains(QStringLiteral("计费程序已在运行")));
    QVERIFY(!QFile::exists(station + QStringLiteral("/lastlog")));
  }

  void screenshotsShowEveryWindow()
  {
    const QString station = stationDir("station");
    const QString shots = dir->filePath(QStringLiteral("shots"));
    QProcess p;
    Start(&p, station, QStringLiteral("admin"), {QStringLiteral("--screenshots"), shots});
    QCOMPARE(Finish(&p), 0);
    const char *windows[] = {"MainForm",    "BillForm",     "RateForm",  "LoginDlg",  "UserMgrFrm",
                             "PasswordDlg", "ChangePwdDlg", "SwitchDlg", "ReportFrm", "ConfirmDlg",
                             "AddUserDlg",  "ShopDlg",      "ReceiptDlg"};
    for (const char *w : windows) {
      QImage image(shots + QLatin1Char('/') + QLatin1String(w) + QStringLiteral(".png"));
      QVERIFY2(!image.isNull() && image.width() > 100, w);
    }
  }
};

CONSOLE_TEST_MAIN(TestProgram)
#include "test_program.moc"
