// Nothing the console keeps is lost, miscounted or hidden: the operator
// manager, the shift record during a checkout, failed saves, unreadable calls.
#include <QAction>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>

#include <dlfcn.h>
#include <sched.h>
#include <sys/mount.h>

#include "BillFrm.h"
#include "DepositDlg.h"
#include "EngineTest.h"
#include "LineMap.h"
#include "MainFrm.h"
#include "RateFile.h"
#include "RateFrm.h"
#include "ShiftLog.h"
#include "ShiftRecord.h"
#include "ShopInfo.h"
#include "UserMgr.h"
#include "Users.h"

/* Run before the console's next quenta_checkout or quenta_getbill: the moment
 * a crash or a failing disk would strike. */
static std::function<void()> g_beforeSave, g_beforeGetbill;

int quenta_checkout(checkout_info *co, const bill_info *bills, int nbills)
{
  if (g_beforeSave)
    g_beforeSave();
  return reinterpret_cast<int (*)(checkout_info *, const bill_info *, int)>(dlsym(RTLD_NEXT, "quenta_checkout"))(
      co, bills, nbills);
}

bill_info *quenta_getbill(const char *callid)
{
  if (g_beforeGetbill)
    std::exchange(g_beforeGetbill, nullptr)();
  return reinterpret_cast<bill_info *(*)(const char *)>(dlsym(RTLD_NEXT, "quenta_getbill"))(callid);
}

/* Mounts of the suite's own, taken before any thread starts (a process with
 * threads cannot leave its mount namespace): the full disk a test mounts is
 * gone with the process, and nobody else sees it. */
static const bool g_ownMounts =
    unshare(CLONE_NEWNS) == 0 && mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;

/* A filesystem of 64 KiB at path, full, for the object's life. */
struct FullDisk {
  QByteArray path;
  bool mounted;
  explicit FullDisk(const QString &at) : path(QFile::encodeName(at))
  {
    mounted = g_ownMounts && QDir().mkpath(at) && mount("tmpfs", path, "tmpfs", 0, "size=64k,mode=0700") == 0;
  }
  ~FullDisk()
  {
    if (mounted)
      umount2(path, MNT_DETACH);
  }
  bool fill() const
  {
    QFile filler(QFile::decodeName(path) + "/filler");
    if (!filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
      return false;
    while (filler.write(QByteArray(4096, 'f')) == 4096) {
    }
    return filler.error() == QFileDevice::ResourceError;
  }
};

class TestSafekeeping : public QObject {
  Q_OBJECT

  std::unique_ptr<StationFixture> s;
  QByteArray m; /* the test's machine: lines 0 and 1 are shown */
  static constexpr auto fill = &ScriptedOperator::fill;

  QByteArray read(const char *file) const { return s->forms->dir.read(file); }
  /* The first lines of the message boxes shown (all with the caption "错误"). */
  QStringList told() const
  {
    QStringList texts;
    for (const ScriptedOperator::Message &msg : s->forms->op.messages)
      texts << msg.text.section(QLatin1Char('\n'), 0, 0) + (msg.caption == "错误" ? "" : msg.caption);
    return texts;
  }
  /* Calls of line 0, stored and polled. */
  bool calls(const std::vector<std::string> &numbers)
  {
    TestLine a(m, 0);
    for (const std::string &n : numbers)
      if (!a.call(n))
        return false;
    s->main->PollLines();
    return true;
  }
  void checkout(bool ok = true)
  {
    if (ok)
      s->forms->op.then([](QDialog *dlg) {  // the customer pays what is due
        auto *bill = static_cast<TBillForm *>(dlg);
        QTest::keyClicks(bill->Money, CentsText(bill->Total()));
        bill->OKBtn->click();
      });
    s->button(m, 0)->click();
  }

private slots:
  void init()
  {
    s = std::make_unique<StationFixture>();
    m = FreshMachine();
    s->logIn();
    QVERIFY(TestLine(m, 0).discovery() && TestLine(m, 1).discovery());
    s->main->PollLines();
  }
  void cleanup()
  {
    g_beforeSave = g_beforeGetbill = nullptr;
    s->forms->verifyScriptDone();
    s.reset();
  }

  void theManagerWritesOnlyOverThePasswordFileAsItIsNow()
  {
    const QByteArray bob = PasswordLine("bob", "b"), carol = PasswordLine("carol", "c");
    const QByteArray admin = PasswordLine("admin", "new");
    s->forms->dir.write(PASSWD_FILE, "admin\n" + bob + carol);
    TUserMgrFrm *mgr = Forms.UserMgrFrm;
    Part(s->main, "UserMgr")->trigger();
    mgr->UserList->setCurrentRow(2);
    // The administrator's own new password, then bob's line taken out by hand.
    s->forms->op.then(fill({{"OrigPassword", ""}, {"Password", "new"}, {"Password2", "new"}}))
        .then(fill({{"Password", "c2"}, {"Password2", "c2"}}))
        .then(fill({{"Password", "c3"}, {"Password2", "c3"}}))
        .then(fill({{"Username", "dave"}, {"Password", "d"}, {"Password2", "d"}}));
    Part(s->main, "N5")->trigger();
    s->forms->dir.write(PASSWD_FILE, admin + carol);
    mgr->ChangePwdBtn->click();
    QCOMPARE(MaskDigests(read(PASSWD_FILE), {"c2"}), admin + "carol <c2>\n");
    QCOMPARE(mgr->UserList->currentItem()->text(), QStringLiteral("carol"));
    // Gone meanwhile: a new password does not bring it back.
    s->forms->dir.write(PASSWD_FILE, admin + bob);
    mgr->ChangePwdBtn->click();
    mgr->AddUserBtn->click();
    QCOMPARE(MaskDigests(read(PASSWD_FILE), {"d"}), admin + bob + "dave <d>\n");
    QCOMPARE(told(), QStringList{"操作员“carol”已不存在，密码没有设置。"});
  }

  void theShiftRecordFollowsTheStoredBills()
  {
    QVERIFY(calls({"0101", "0202"}));
    // What a crash before each store would leave: the record and the bills.
    QByteArrayList left;
    g_beforeSave = [&] {
      size_t bills = 0;
      for (const cdr_info &c : CallsOf(m))
        bills += BillsOf(c.callid).size();
      left << read(LASTLOG_FILE) + " " + QByteArray::number(bills);
    };
    checkout();
    // The bills go in together, with the checkout's record; the shift's
    // record follows them.
    QCOMPARE(left, QByteArrayList({"admin 0.00 0"}));
    QCOMPARE(read(LASTLOG_FILE), QByteArray("admin 1.80"));
  }

  void aFileThatCannotBeSavedIsToldByName()
  {
    // A folder in each file's place, then every road that writes one. The
    // password file's comes once the logins are done: a passwd that cannot be
    // read lets nobody in.
    QFile::remove(s->forms->dir.file(PASSWD_FILE));
    for (const char *file : {LASTLOG_FILE, LINEMAP_FILE, RATE_FILE}) {
      QFile::remove(s->forms->dir.file(file));
      QVERIFY(QDir().mkdir(s->forms->dir.file(file)));
    }
    QVERIFY(calls({"0101", "0202"}));
    s->restart();
    s->main->PollLines();
    emit static_cast<LineNameDelegate *>(s->main->Monitor()->List()->itemDelegate())->nameAccepted(0, "VIP");
    s->main->Monitor()->SelectLine(s->row(m, 1));
    Part(s->main, "LineUp")->trigger();
    s->forms->op.then(ScriptedOperator::logIn("admin", {}))
        .then(fill({{"Username", "dave"}, {"Password", "d"}, {"Password2", "d"}}));
    Part(s->main, "N6")->trigger();
    QVERIFY(QDir().mkdir(s->forms->dir.file(PASSWD_FILE)));
    Forms.UserMgrFrm->show();
    Forms.UserMgrFrm->AddUserBtn->click();
    Forms.RateForm->show();
    Forms.RateForm->ChargeEdit->setText("1");
    Forms.RateForm->SaveBtn->click();
    checkout();  // two bills, told once
    const QString lastlog = "无法保存文件 lastlog：已有同名的文件夹";
    const QString linemap = "无法保存文件 linemap：已有同名的文件夹";
    QCOMPARE(told(), QStringList({lastlog, linemap, linemap, linemap, lastlog, "无法读取文件 passwd，修改没有保存。",
                                  "无法保存文件 rateinfo：已有同名的文件夹", lastlog}));
  }

  void aFullDiskIsToldForEveryFileAndLeavesItWhole()
  {
    const QString disk = s->forms->dir.file("disk");
    FullDisk full(disk);
    if (!full.mounted)
      QSKIP("a small filesystem cannot be mounted here (the suite needs root and its own mount namespace)");
    // Each file the console writes, as it is or as one would be, moved onto
    // the small disk and linked from its place.
    const QList<QPair<const char *, QByteArray>> files = {
        {LINEMAP_FILE, m + " 0 A\n"},
        {DEPOSITS_FILE, m + " 1 3.00\n"},
        {SHOPINFO_FILE, "name=x\n"},
        {PASSWD_FILE, "admin\n"},
        {RATE_FILE, FormatRateLine(DefaultRule()) + '\n'},
        {LASTLOG_FILE, "admin 0.00"},
        {SHIFTSTART_FILE, read(SHIFTSTART_FILE)},
    };
    for (const auto &[file, bytes] : files) {
      QFile::remove(s->forms->dir.file(file));
      QFile moved(disk + '/' + file);
      QVERIFY(moved.open(QIODevice::WriteOnly) && moved.write(bytes) == bytes.size());
      moved.close();
      QVERIFY(QFile::link(moved.fileName(), s->forms->dir.file(file)));
    }
    QVERIFY(full.fill());
    emit static_cast<LineNameDelegate *>(s->main->Monitor()->List()->itemDelegate())->nameAccepted(0, "VIP");
    s->forms->op.then(fill({{"Money", "5"}}));
    s->main->Monitor()->SelectLine(s->row(m, 0));
    emit Part<QMenu>(s->main, "PopupMenu1")->aboutToShow();
    Part(s->main, "LineDeposit")->trigger();
    s->forms->op.then(fill({{"ShopName", QStringLiteral("东店")}}));
    Part(s->main, "ShopSet")->trigger();
    Forms.UserMgrFrm->show();
    s->forms->op.then(fill({{"Username", "dave"}, {"Password", "d"}, {"Password2", "d"}}));
    Forms.UserMgrFrm->AddUserBtn->click();
    Forms.RateForm->show();
    Forms.RateForm->ChargeEdit->setText("1");
    Forms.RateForm->SaveBtn->click();
    s->forms->op.then(ScriptedOperator::logIn("admin", {}));
    Part(s->main, "N6")->trigger();
    s->main->WaitForBackup();
    QStringList expected;
    for (const char *file :
         {LINEMAP_FILE, DEPOSITS_FILE, SHOPINFO_FILE, PASSWD_FILE, RATE_FILE, LASTLOG_FILE, SHIFTSTART_FILE})
      expected << QStringLiteral("无法保存文件 %1：磁盘空间已满").arg(QLatin1String(file));
    QCOMPARE(told(), expected);
    for (const auto &[file, bytes] : files)
      QCOMPARE(read(file), bytes);
  }

  void recordsThatCannotBeReadAreNotTakenForAMissingRate()
  {
    QVERIFY(calls({"0101"}));
    // The calls while they are priced, then the bills, which are asked first.
    g_beforeGetbill = [] { QVERIFY(execOnEngineDb("alter table cdrtbl rename to away")); };
    checkout(false);
    QVERIFY(execOnEngineDb("alter table away rename to cdrtbl"));
    QVERIFY(execOnEngineDb("alter table billtbl rename to away"));
    checkout(false);
    QVERIFY(execOnEngineDb("alter table away rename to billtbl"));
    QCOMPARE(s->checkouts(), 0);
    QCOMPARE(told(), QStringList({"无法读取通话记录", "无法读取通话记录"}));
    QCOMPARE(s->button(m, 0)->text(), QStringLiteral("结帐"));
  }

  void callsKeptOnlyInMemoryAreShownAndWarnedOfAtQuitting()
  {
    // Neither the database nor the pending file can take a call.
    const QString db = EngineDir()->filePath(QStringLiteral("quentadb"));
    QVERIFY(QFile::rename(db, db + ".away") && QDir().mkdir(db));
    QVERIFY(QDir().mkdir(s->forms->dir.file("cdr.pending")));
    const bool ended = TestLine(m, 0).call("0101");
    s->main->PollLines();
    const QString shown = Part<QLabel>(s->main, "StatusUnsaved")->text();
    const bool visible = !Part<QLabel>(s->main, "StatusUnsaved")->isHidden();
    s->forms->op.then([](QDialog *dlg) {
      auto *warning = dlg->findChild<QLabel *>("Warning");
      QVERIFY(warning && !warning->isHidden());
      QVERIFY(warning->text().contains(QStringLiteral("有 1 个通话")));
      QVERIFY(warning->text().contains(QStringLiteral("现在退出，这些通话将会丢失")));
      ScriptedOperator::click("CancelBtn")(dlg);
    });
    Part(s->main, "Exit1")->trigger();
    QVERIFY(QDir().rmdir(db) && QFile::rename(db + ".away", db));
    QVERIFY(ended);
    QCOMPARE(shown, QStringLiteral("有 1 个通话未能存盘，退出将丢失"));
    QVERIFY(visible);
    QVERIFY(s->forms->op.ends.isEmpty());

    // The next tries store it; the note goes, and so does the warning.
    QVERIFY(testkit::eventually([] { return quenta_getUnsavedCalls() == 0; }, 5000));
    s->main->PollLines();
    QVERIFY(Part<QLabel>(s->main, "StatusUnsaved")->isHidden());
    QCOMPARE(CallsOf(m).size(), size_t(1));
    s->forms->op.then([](QDialog *dlg) {
      QVERIFY(dlg->findChild<QLabel *>("Warning")->isHidden());
      ScriptedOperator::click("CancelBtn")(dlg);
    });
    Part(s->main, "Exit1")->trigger();
  }
};

ENGINE_TEST_MAIN(TestSafekeeping)
#include "test_safekeeping.moc"
