// Accounts without a window: the user manager's list from the file, names that
// clash in another letter case, names that could not log in as typed, and the
// own password change's rewrite that keeps every other line.
#include <QTest>

#include "ConsoleTest.h"
#include "Users.h"

namespace {

const QByteArray kZhangSanGbk = "\xd5\xc5\xc8\xfd";                   // 张三
const QByteArray kZhangSanMima = "58b6b09f6c5ec2d6317253f3d1be59ed";  // 张三 / 密码
const QByteArray kBobSecret = "bb20f63bb59e0455a4c09b19bd125401";     // bob / secret

}  // namespace

class TestUsers : public QObject {
  Q_OBJECT

  std::unique_ptr<StationDir> dir;

  QString passwd() const { return dir->file(PASSWD_FILE); }

private slots:
  void init() { dir = std::make_unique<StationDir>(); }
  void cleanup() { dir.reset(); }

  void listComesFromTheFileOrIsAdminAlone()
  {
    QList<PasswdEntry> users = LoadUsers(passwd());
    QCOMPARE(users.size(), 1);
    QCOMPARE(users[0].name, QByteArray("admin"));
    QCOMPARE(users[0].digest, QByteArray());

    dir->write(PASSWD_FILE, "# operators\n  admin\n\n" + kZhangSanGbk + " " + kZhangSanMima + "\n");
    users = LoadUsers(passwd());
    QCOMPARE(users.size(), 2);
    QCOMPARE(users[1].name, kZhangSanGbk);
    QCOMPARE(users[1].digest, kZhangSanMima);
  }

  void namesMatchWithoutRegardToLetterCase()
  {
    const QList<PasswdEntry> users = {{"admin", {}}, {"Bob", kBobSecret}, {kZhangSanGbk, {}}};
    QCOMPARE(FindUser(users, QStringLiteral("ADMIN")), 0);
    QCOMPARE(FindUser(users, QStringLiteral("bob")), 1);
    QCOMPARE(FindUser(users, QStringLiteral("张三")), 2);
    QCOMPARE(FindUser(users, QStringLiteral("bo")), -1);
  }

  void namesThatCouldNotLogInAsTypedAreRefused_data()
  {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("password");
    QTest::addColumn<bool>("refused");
    QTest::newRow("plain") << "bob"
                           << "secret" << false;
    QTest::newRow("Chinese, no password") << "张三"
                                          << "" << false;
    QTest::newRow("empty name") << ""
                                << "x" << true;
    QTest::newRow("blank inside") << "bob smith"
                                  << "x" << true;
    QTest::newRow("tab") << "bob\tx"
                         << "" << true;
    QTest::newRow("comment mark") << "#bob"
                                  << "x" << true;
    QTest::newRow("no GBK form in the name") << "bob😀"
                                             << "x" << true;
    QTest::newRow("no GBK form in the password") << "bob"
                                                 << "se😀cret" << true;
  }
  void namesThatCouldNotLogInAsTypedAreRefused()
  {
    QFETCH(QString, name);
    QFETCH(QString, password);
    QFETCH(bool, refused);
    QCOMPARE(!NewUserFault(name, password).isEmpty(), refused);
  }

  void ownPasswordChangeReplacesOnlyTheOperatorsLines()
  {
    const QByteArray before = "# station accounts\n"
                              "admin\n"
                              "   bob 0123 old note\n"
                              "bobby " +
                              kBobSecret +
                              "\n"
                              "\tbob\n"
                              "#bob commented out\n" +
                              kZhangSanGbk + " " + kZhangSanMima;  // no final line feed
    dir->write(PASSWD_FILE, before);
    QVERIFY(SetOwnPassword(passwd(), QStringLiteral("bob"), QStringLiteral("secret")));
    const QByteArray bobLine = "bob <secret>\n";
    QCOMPARE(MaskDigests(PasswordLine(QStringLiteral("bob"), QStringLiteral("secret")), {"secret"}), bobLine);
    QCOMPARE(MaskDigests(dir->read(PASSWD_FILE), {"secret"}), "# station accounts\n"
                                                              "admin\n" +
                                                                  bobLine + "bobby " + kBobSecret + "\n" + bobLine +
                                                                  "#bob commented out\n" + kZhangSanGbk + " " +
                                                                  kZhangSanMima);
    QVERIFY(LookupPassword(passwd(), QStringLiteral("bob"), QStringLiteral("secret")) == PasswordCheck::Accepted);

    // A name the file does not hold leaves it as it was.
    const QByteArray now = dir->read(PASSWD_FILE);
    QVERIFY(SetOwnPassword(passwd(), QStringLiteral("carol"), QStringLiteral("x")));
    QCOMPARE(dir->read(PASSWD_FILE), now);
  }

  void ownPasswordChangeKeepsAFileOfAnyLength()
  {
    QByteArray before;
    for (int i = 0; i < 1500; i++)
      before += "user" + QByteArray::number(i) + ' ' + QByteArray(i == 700 ? 1500 : 4, '0') + '\n';
    before += "bob\n";
    dir->write(PASSWD_FILE, before);
    QVERIFY(SetOwnPassword(passwd(), QStringLiteral("bob"), QStringLiteral("secret")));
    QByteArray expected = before;
    expected.replace("bob\n", "bob <secret>\n");
    QCOMPARE(MaskDigests(dir->read(PASSWD_FILE), {"secret"}), expected);
  }

  void ownPasswordChangeWithoutFileWritesTheOneLine()
  {
    QVERIFY(SetOwnPassword(passwd(), QStringLiteral("admin"), QStringLiteral("123456")));
    const QByteArray written = dir->read(PASSWD_FILE);
    QCOMPARE(MaskDigests(written, {"123456"}), QByteArray("admin <123456>\n"));
    QVERIFY(!SetOwnPassword(passwd(), QStringLiteral("admin"), QStringLiteral("😀")));
    QCOMPARE(dir->read(PASSWD_FILE), written);
  }
};

CONSOLE_TEST_MAIN(TestUsers)
#include "test_users.moc"
