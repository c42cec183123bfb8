// Backups of the database from the console: the day's backup at the first
// login of the day (known from the names, so across restarts), the newest 30
// kept, one at every shift change and one on demand from the File menu, and a
// failure shown with its reason; the window going on while a copy runs. The
// engine starts once per process, in the first test's directory: so no data
// rows here.
#include <QAction>
#include <QDir>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTimer>
#include <QTest>

#include <dlfcn.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "quenta/quenta.h"

#include "Backup.h"
#include "FormsTest.h"
#include "MonitorTest.h"

/* While held, the console's copy stands after its first progress, as a big
 * file's copy would, until the test lets it go (or, were the window thread
 * stuck in it, for 20 s). */
static std::atomic<bool> g_holdCopy{false};
static std::atomic<int> g_copies{0};

int quenta_backup(const char *path, BACKUP_CALLBACK progress, void *param)
{
  g_copies++;
  if (progress)
    progress(37, param);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (g_holdCopy && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  return reinterpret_cast<int (*)(const char *, BACKUP_CALLBACK, void *)>(dlsym(RTLD_NEXT, "quenta_backup"))(
      path, progress, param);
}

/* The engine's suite proves a backup whole; here it is enough that one is there. */
bool IsDatabase(const QString &path)
{
  QFile file(path);
  return file.open(QIODevice::ReadOnly) && file.read(16) == QByteArray("SQLite format 3", 16);
}

class TestBackup : public QObject {
  Q_OBJECT

  std::unique_ptr<FormsFixture> f;

  QString folder() const { return f->dir.file(BACKUP_DIR); }

private slots:
  void init() { f = std::make_unique<FormsFixture>(); }
  void cleanup()
  {
    f->verifyScriptDone();
    f.reset();
  }

  void theFirstLoginOfTheDayMakesItsBackupAndTheNewest30Stay()
  {
    QVERIFY(QDir().mkpath(folder()));
    for (int day = 0; day < 35; day++)
      f->dir.write(qPrintable(QStringLiteral(BACKUP_DIR "/") +
                              BackupName(QDateTime(QDate(2020, 1, 1).addDays(day), QTime(8, 0)))),
                   "x");
    f->dir.write(BACKUP_DIR "/" BACKUP_NAME_PREFIX "20200101-090000" BACKUP_PART_SUFFIX, "half");
    f->logIn(QStringLiteral("admin"));

    const QStringList names = Backups(f->dir.path());
    QCOMPARE(names.size(), BACKUPS_KEPT);
    QCOMPARE(names.first(), QStringLiteral(BACKUP_NAME_PREFIX "20200107-080000"));
    QVERIFY(HasBackupOf(f->dir.path(), QDate::currentDate()));
    QCOMPARE(QDir(folder()).entryList(QDir::Files), names);  // the half one is gone
    QVERIFY(IsDatabase(folder() + QLatin1Char('/') + names.last()));
    QCOMPARE(Part<QStatusBar>(Forms.MainForm, "StatusBar1")->currentMessage(),
             QStringLiteral("数据库已备份到 %1/%2").arg(folder(), names.last()));

    // The next run of the day finds today's backup by its name.
    ReleaseForms();
    CreateForms();
    f->logIn(QStringLiteral("admin"));
    QCOMPARE(Backups(f->dir.path()), names);
    QCOMPARE(Part<QStatusBar>(Forms.MainForm, "StatusBar1")->currentMessage(), QString());
    QVERIFY(f->op.messages.isEmpty());
  }

  void theMenuAndTheShiftChangeMakeOneAndFailuresAreTold()
  {
    f->logIn(QStringLiteral("admin"));
    TMainForm *main = Forms.MainForm;
    Part(main, "BackupDb")->trigger();
    main->WaitForBackup();
    QCOMPARE(f->op.messages.size(), 1);
    QCOMPARE(f->op.messages[0].caption, QStringLiteral("备份数据库"));
    const QString told = f->op.messages[0].text;
    QVERIFY2(told.startsWith(QStringLiteral("数据库已备份到 ") + folder() + QLatin1Char('/')), qPrintable(told));
    QVERIFY(IsDatabase(told.mid(told.indexOf(QLatin1Char('/')))));

    Part<QStatusBar>(main, "StatusBar1")->clearMessage();
    f->op.then(ScriptedOperator::logIn(QStringLiteral("admin"), QString()));
    Part(main, "N6")->trigger();
    main->WaitForBackup();
    QVERIFY(Part<QStatusBar>(main, "StatusBar1")->currentMessage().startsWith(QStringLiteral("数据库已备份到 ")));

    QVERIFY(QDir(folder()).removeRecursively());
    f->dir.write(BACKUP_DIR, "a file in the folder's place");
    Part(main, "BackupDb")->trigger();
    main->WaitForBackup();
    QCOMPARE(f->op.messages.size(), 2);
    QCOMPARE(f->op.messages[1].caption, QStringLiteral("错误"));
    QCOMPARE(f->op.messages[1].text, QStringLiteral("数据库没有备份：已有名为 backups 的文件，无法建立备份文件夹\n"
                                                    "计费照常进行，数据库本身没有受到影响。"));
  }

  void theWindowGoesOnWhileACopyRunsAndOneCopyRunsAtATime()
  {
    f->logIn(QStringLiteral("admin"));
    TMainForm *main = Forms.MainForm;
    const int before = g_copies;
    g_holdCopy = true;
    Part(main, "BackupDb")->trigger();
    // The window thread shows the copy's progress and polls the lines meanwhile.
    const bool shown = QTest::qWaitFor(
        [&] {
          return Part<QStatusBar>(main, "StatusBar1")->currentMessage() == QStringLiteral("正在备份数据库... 37%");
        },
        30000);
    QSignalSpy ticks(Part<QTimer>(main, "Timer1"), &QTimer::timeout);
    const bool ticked = ticks.wait(30000);
    // A second request, a shift change and quitting meanwhile start no second copy.
    Part(main, "BackupDb")->trigger();
    f->op.then(ScriptedOperator::logIn(QStringLiteral("admin"), QString()));
    Part(main, "N6")->trigger();
    main->close();
    const bool stillCopying = main->BackingUp() && g_copies == before + 1;
    g_holdCopy = false;
    QVERIFY(shown && ticked);
    QVERIFY(stillCopying);
    QVERIFY(main->isVisible());
    QVERIFY(f->op.ends.isEmpty());
    // Then the copy the shift change asked for, after the first.
    QTRY_VERIFY_WITH_TIMEOUT(g_copies == before + 2 && !main->BackingUp(), 30000);
    QCOMPARE(f->op.messages.size(), 2);
    QCOMPARE(f->op.messages[0].text, QStringLiteral("正在备份数据库（已完成37%），请等备份完成后再退出。"));
    QVERIFY(f->op.messages[1].text.startsWith(QStringLiteral("数据库已备份到 ")));
  }
};

FORMS_TEST_MAIN(TestBackup)
#include "test_dbbackup.moc"
