// Backups of the database from the console: the day's backup at the first
// login of the day (known from the names, so across restarts), the newest 30
// kept, one at every shift change and one on demand from the File menu, and a
// failure shown with its reason. The engine starts once per process, in the
// first test's directory: so no data rows here.
#include <QAction>
#include <QDir>
#include <QStatusBar>
#include <QTest>

#include "Backup.h"
#include "FormsTest.h"

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
      f->dir.write(qPrintable(QStringLiteral(BACKUP_DIR "/")
                              + BackupName(QDateTime(QDate(2020, 1, 1).addDays(day), QTime(8, 0)))),
                   "x");
    f->dir.write(BACKUP_DIR "/" BACKUP_NAME_PREFIX "20200101-090000" BACKUP_PART_SUFFIX, "half");
    f->logIn(QStringLiteral("admin"));

    const QStringList names = Backups(f->dir.path());
    QCOMPARE(names.size(), BACKUPS_KEPT);
    QCOMPARE(names.first(), QStringLiteral(BACKUP_NAME_PREFIX "20200107-080000"));
    QVERIFY(HasBackupOf(f->dir.path(), QDate::currentDate()));
    QCOMPARE(QDir(folder()).entryList(QDir::Files), names);  // the half one is gone
    QVERIFY(IsDatabase(folder() + QLatin1Char('/') + names.last()));
    QCOMPARE(Forms.MainForm->StatusBar1->currentMessage(),
             QStringLiteral("数据库已备份到 %1/%2").arg(folder(), names.last()));

    // The next run of the day finds today's backup by its name.
    ReleaseForms();
    CreateForms();
    f->logIn(QStringLiteral("admin"));
    QCOMPARE(Backups(f->dir.path()), names);
    QCOMPARE(Forms.MainForm->StatusBar1->currentMessage(), QString());
    QVERIFY(f->op.messages.isEmpty());
  }

  void theMenuAndTheShiftChangeMakeOneAndFailuresAreTold()
  {
    f->logIn(QStringLiteral("admin"));
    TMainForm *main = Forms.MainForm;
    main->BackupDb->trigger();
    QCOMPARE(f->op.messages.size(), 1);
    QCOMPARE(f->op.messages[0].caption, QStringLiteral("备份数据库"));
    const QString told = f->op.messages[0].text;
    QVERIFY2(told.startsWith(QStringLiteral("数据库已备份到 ") + folder() + QLatin1Char('/')), qPrintable(told));
    QVERIFY(IsDatabase(told.mid(told.indexOf(QLatin1Char('/')))));

    main->StatusBar1->clearMessage();
    f->op.then(ScriptedOperator::logIn(QStringLiteral("admin"), QString()));
    main->N6->trigger();
    QVERIFY(main->StatusBar1->currentMessage().startsWith(QStringLiteral("数据库已备份到 ")));

    QVERIFY(QDir(folder()).removeRecursively());
    f->dir.write(BACKUP_DIR, "a file in the folder's place");
    main->BackupDb->trigger();
    QCOMPARE(f->op.messages.size(), 2);
    QCOMPARE(f->op.messages[1].caption, QStringLiteral("错误"));
    QCOMPARE(f->op.messages[1].text, QStringLiteral("数据库没有备份：已有名为 backups 的文件，无法建立备份文件夹\n"
                                                    "计费照常进行，数据库本身没有受到影响。"));
  }
};

FORMS_TEST_MAIN(TestBackup)
#include "test_dbbackup.moc"
