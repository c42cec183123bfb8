// The password file: digests, line splitting, the verdict on a name and
// password, the message of a wrong password, and GBK names through the file.
#include <QDir>
#include <QTest>

#include "ConsoleTest.h"
#include "Gbk.h"
#include "Passwd.h"

namespace {

// Digests worked out independently: iconv -t GBK | sha1sum, first 32 digits.
const QByteArray kAdminEmpty = "d033e22ae348aeb5660fc2140aec3585";
const QByteArray kAdmin123456 = "cd5ea73cd58f827fa78eef7197b8ee60";
const QByteArray kZhangSanMima = "58b6b09f6c5ec2d6317253f3d1be59ed";  // 张三 / 密码
const QByteArray kBobSecret = "bb20f63bb59e0455a4c09b19bd125401";
const QByteArray kZhangSanGbk = "\xd5\xc5\xc8\xfd";  // 张三

}  // namespace

Q_DECLARE_METATYPE(PasswordCheck)

class TestPasswd : public QObject {
  Q_OBJECT

  std::unique_ptr<StationDir> dir;
  std::unique_ptr<ScriptedOperator> op;

  PasswordCheck lookup(const QString &name, const QString &password)
  {
    return LookupPassword(dir->file(PASSWD_FILE), name, password);
  }

private slots:
  void init()
  {
    dir = std::make_unique<StationDir>();
    op = std::make_unique<ScriptedOperator>();
  }
  void cleanup()
  {
    op.reset();
    dir.reset();
  }

  void legacyDigestIsTheFirstHalfOfSha1OverGbkNameAndPassword()
  {
    QCOMPARE(LegacyPasswordDigest(QStringLiteral("admin"), QString()), kAdminEmpty);
    QCOMPARE(LegacyPasswordDigest(QStringLiteral("admin"), QStringLiteral("123456")), kAdmin123456);
    QCOMPARE(LegacyPasswordDigest(QStringLiteral("张三"), QStringLiteral("密码")), kZhangSanMima);
    // No GBK form: no digest that a substituted text could also reach.
    QCOMPARE(LegacyPasswordDigest(QStringLiteral("bob"), QStringLiteral("se😀cret")), QByteArray());
    QCOMPARE(PasswordDigest(QStringLiteral("bob"), QStringLiteral("se😀cret")), QByteArray());
  }

  void newDigestsAreSaltedPbkdf2()
  {
    // PBKDF2-HMAC-SHA256 of "secret", salt "0123456789abcdef", 10000 rounds, worked out with
    // Python's hashlib.pbkdf2_hmac.
    const QByteArray known = "01"
                             "00002710"
                             "30313233343536373839616263646566"
                             "eae9ac1e1cf4ca16fe60827f154802aec381fad2be806741fadbc8d8a3c81e7b";
    QVERIFY(DigestMatches(known, QStringLiteral("bob"), QStringLiteral("secret")));
    QVERIFY(!DigestMatches(known, QStringLiteral("bob"), QStringLiteral("Secret")));

    const QByteArray a = PasswordDigest(QStringLiteral("bob"), QStringLiteral("123456"));
    const QByteArray b = PasswordDigest(QStringLiteral("bob"), QStringLiteral("123456"));
    QCOMPARE(a.size(), SALTED_DIGEST_HEX_LEN);
    QVERIFY(a != b);  // a salt of its own each time
    QVERIFY(DigestMatches(a, QStringLiteral("bob"), QStringLiteral("123456")));
    QVERIFY(DigestMatches(b, QStringLiteral("bob"), QStringLiteral("123456")));
    QVERIFY(!DigestMatches(a, QStringLiteral("bob"), QStringLiteral("123457")));
    // An older station reads the salted digest as a digest that matches nothing, never as
    // an empty one: it takes the run of hexadecimal digits.
    PasswdEntry e;
    QVERIFY(ParsePasswdLine("bob " + a + "\n", &e));
    QCOMPARE(e.digest, a);
    QVERIFY(e.digest.size() != DIGEST_HEX_LEN);
  }

  void damagedOrUnreadableFilesOpenNothing_data()
  {
    QTest::addColumn<QByteArray>("adminLine");
    QTest::addColumn<PasswordCheck>("emptyPassword");
    QTest::newRow("digest starting with a non-hex byte")
        << QByteArray("admin \xff" + kAdminEmpty.mid(1)) << PasswordCheck::DamagedDigest;
    QTest::newRow("digest with a stray byte inside")
        << QByteArray("admin " + kAdminEmpty.left(10) + "-" + kAdminEmpty.mid(11)) << PasswordCheck::DamagedDigest;
    QTest::newRow("salted digest cut short") << QByteArray("admin 01000027") << PasswordCheck::WrongPassword;
    QTest::newRow("no digest at all stays passwordless") << QByteArray("admin") << PasswordCheck::Accepted;
  }
  void damagedOrUnreadableFilesOpenNothing()
  {
    QFETCH(QByteArray, adminLine);
    QFETCH(PasswordCheck, emptyPassword);
    dir->write(PASSWD_FILE, adminLine + "\nbob " + kBobSecret + "\n");
    QCOMPARE(lookup(QStringLiteral("admin"), QString()), emptyPassword);
    QCOMPARE(lookup(QStringLiteral("bob"), QStringLiteral("secret")), PasswordCheck::Accepted);
    QCOMPARE(CheckPassword(dir->file(PASSWD_FILE), QStringLiteral("admin"), QString()),
             emptyPassword == PasswordCheck::Accepted);
    if (emptyPassword == PasswordCheck::DamagedDigest) {
      QCOMPARE(op->messages.size(), 1);
      QVERIFY(op->messages[0].text.contains(QStringLiteral("passwd")));
      QVERIFY(op->messages[0].text.contains(QStringLiteral("备份")));
    } else if (emptyPassword == PasswordCheck::WrongPassword) {
      QCOMPARE(op->messages.size(), 1);
      QCOMPARE(op->messages[0].text, QStringLiteral("用户名/密码错误！"));
    }
  }

  void anUnreadableFileLetsNobodyIn()
  {
    // A folder where the file should be: there, but not readable as a file.
    QVERIFY(QDir(dir->path()).mkdir(PASSWD_FILE));
    QCOMPARE(lookup(QStringLiteral("admin"), QString()), PasswordCheck::Unreadable);
    QVERIFY(!CheckPassword(dir->file(PASSWD_FILE), QStringLiteral("admin"), QString()));
    QCOMPARE(op->messages.size(), 1);
    QVERIFY(op->messages[0].text.contains(QStringLiteral("无法读取密码文件 passwd")));
    QVERIFY(op->messages[0].text.contains(QStringLiteral("移走")));
  }

  void aLegacyDigestIsRewrittenSaltedInPlace()
  {
    const QByteArray before = "# counter\nbob " + kBobSecret + " front desk\nadmin " + kAdmin123456 + "\n";
    dir->write(PASSWD_FILE, before);
    QVERIFY(!CheckPassword(dir->file(PASSWD_FILE), QStringLiteral("bob"), QStringLiteral("wrong")));
    QCOMPARE(op->messages.size(), 1);
    QCOMPARE(dir->read(PASSWD_FILE), before);
    QVERIFY(CheckPassword(dir->file(PASSWD_FILE), QStringLiteral("bob"), QStringLiteral("secret")));
    const QByteArray after = dir->read(PASSWD_FILE);
    QVERIFY(after.startsWith("# counter\nbob 01"));
    QVERIFY(after.endsWith(" front desk\nadmin " + kAdmin123456 + "\n"));
    QCOMPARE(after.size(), before.size() - DIGEST_HEX_LEN + SALTED_DIGEST_HEX_LEN);
    QCOMPARE(lookup(QStringLiteral("bob"), QStringLiteral("secret")), PasswordCheck::Accepted);
    QCOMPARE(lookup(QStringLiteral("bob"), QStringLiteral("wrong")), PasswordCheck::WrongPassword);
    QVERIFY(CheckPassword(dir->file(PASSWD_FILE), QStringLiteral("bob"), QStringLiteral("secret")));
    QCOMPARE(dir->read(PASSWD_FILE), after);  // salted already: left alone
  }

  void splitsLines_data()
  {
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<bool>("account");
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QByteArray>("digest");
    QTest::newRow("plain") << QByteArray("bob " + kBobSecret + "\n") << true << QByteArray("bob") << kBobSecret;
    QTest::newRow("leading blanks, tabs, CRLF")
        << QByteArray(" \t bob\t\t" + kBobSecret + "\r\n") << true << QByteArray("bob") << kBobSecret;
    QTest::newRow("text after the digest")
        << QByteArray("bob " + kBobSecret + " since 2009\n") << true << QByteArray("bob") << kBobSecret;
    QTest::newRow("digest is the whole non-blank run")
        << QByteArray("bob 12ab-34\n") << true << QByteArray("bob") << QByteArray("12ab-34");
    QTest::newRow("upper-case digits kept as stored")
        << QByteArray("bob ABCdef\n") << true << QByteArray("bob") << QByteArray("ABCdef");
    QTest::newRow("no digest") << QByteArray("bob\n") << true << QByteArray("bob") << QByteArray();
    QTest::newRow("name then blanks only") << QByteArray("bob   \n") << true << QByteArray("bob") << QByteArray();
    QTest::newRow("GBK name") << QByteArray(kZhangSanGbk + " " + kZhangSanMima) << true << kZhangSanGbk
                              << kZhangSanMima;
    QTest::newRow("comment") << QByteArray("# operators\n") << false << QByteArray() << QByteArray();
    QTest::newRow("indented comment") << QByteArray("   #bob 1234\n") << false << QByteArray() << QByteArray();
    QTest::newRow("blank line") << QByteArray(" \t \n") << false << QByteArray() << QByteArray();
    QTest::newRow("empty line") << QByteArray("\n") << false << QByteArray() << QByteArray();
  }
  void splitsLines()
  {
    QFETCH(QByteArray, line);
    QFETCH(bool, account);
    QFETCH(QByteArray, name);
    QFETCH(QByteArray, digest);
    PasswdEntry e;
    QCOMPARE(ParsePasswdLine(line, &e), account);
    if (account) {
      QCOMPARE(e.name, name);
      QCOMPARE(e.digest, digest);
    }
  }

  void withoutFileOnlyAdminWithEmptyPassword_data()
  {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("password");
    QTest::addColumn<PasswordCheck>("verdict");
    QTest::newRow("admin") << "admin"
                           << "" << PasswordCheck::Accepted;
    QTest::newRow("admin with a password") << "admin"
                                           << "admin" << PasswordCheck::UnknownName;
    QTest::newRow("Admin") << "Admin"
                           << "" << PasswordCheck::UnknownName;
    QTest::newRow("someone else") << "bob"
                                  << "" << PasswordCheck::UnknownName;
    QTest::newRow("empty name") << ""
                                << "" << PasswordCheck::UnknownName;
  }
  void withoutFileOnlyAdminWithEmptyPassword()
  {
    QFETCH(QString, name);
    QFETCH(QString, password);
    QFETCH(PasswordCheck, verdict);
    QCOMPARE(lookup(name, password), verdict);
    QCOMPARE(CheckPassword(dir->file(PASSWD_FILE), name, password), verdict == PasswordCheck::Accepted);
    QVERIFY(op->messages.isEmpty());
    QVERIFY(!dir->exists(PASSWD_FILE));
  }

  void fileDecides_data()
  {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("password");
    QTest::addColumn<PasswordCheck>("verdict");
    QTest::newRow("right password after comments and blanks") << "bob"
                                                              << "secret" << PasswordCheck::Accepted;
    QTest::newRow("wrong password") << "bob"
                                    << "Secret" << PasswordCheck::WrongPassword;
    QTest::newRow("only the first of two lines counts") << "admin"
                                                        << "" << PasswordCheck::Accepted;
    QTest::newRow("the second line's password is refused") << "admin"
                                                           << "123456" << PasswordCheck::WrongPassword;
    QTest::newRow("no digest takes the empty password") << "carol"
                                                        << "" << PasswordCheck::Accepted;
    QTest::newRow("no digest refuses any other") << "carol"
                                                 << "x" << PasswordCheck::WrongPassword;
    QTest::newRow("upper-case digest never matches") << "dave"
                                                     << "secret" << PasswordCheck::WrongPassword;
    QTest::newRow("Chinese name") << "张三"
                                  << "密码" << PasswordCheck::Accepted;
    QTest::newRow("name differing in case") << "BOB"
                                            << "secret" << PasswordCheck::UnknownName;
    QTest::newRow("commented-out account") << "eve"
                                           << "" << PasswordCheck::UnknownName;
    QTest::newRow("a blank line is nobody's account") << ""
                                                      << "" << PasswordCheck::UnknownName;
    QTest::newRow("password without GBK form") << "bob"
                                               << "secret😀" << PasswordCheck::WrongPassword;
    QTest::newRow("name without GBK form") << "bob😀"
                                           << "" << PasswordCheck::UnknownName;
  }
  void fileDecides()
  {
    QFETCH(QString, name);
    QFETCH(QString, password);
    QFETCH(PasswordCheck, verdict);
    dir->write(PASSWD_FILE, "# operators of the counter\n"
                            "\n"
                            "  \t\n"
                            "admin\n"
                            "   bob " +
                                kBobSecret +
                                " front desk\n"
                                "admin " +
                                kAdmin123456 +
                                "\n"
                                "carol\n"
                                "dave " +
                                kBobSecret.toUpper() +
                                "\n"
                                "#eve\n" +
                                kZhangSanGbk + " " + kZhangSanMima + "\n");
    QCOMPARE(lookup(name, password), verdict);
  }

  void onlyAWrongPasswordIsTold()
  {
    dir->write(PASSWD_FILE, "bob " + kBobSecret + "\n");
    const QString path = dir->file(PASSWD_FILE);
    QVERIFY(!CheckPassword(path, QStringLiteral("nobody"), QStringLiteral("secret")));
    QVERIFY(!CheckPassword(path, QStringLiteral("admin"), QString()));  // no built-in account now
    QVERIFY(op->messages.isEmpty());
    QVERIFY(CheckPassword(path, QStringLiteral("bob"), QStringLiteral("secret")));
    QVERIFY(op->messages.isEmpty());
    QVERIFY(!CheckPassword(path, QStringLiteral("bob"), QStringLiteral("")));
    QCOMPARE(op->messages.size(), 1);
    QCOMPARE(op->messages[0].text, QStringLiteral("用户名/密码错误！"));
    QCOMPARE(op->messages[0].caption, QStringLiteral("密码错误"));
  }

  void chineseNameRoundTripsAsGbk()
  {
    const QString path = dir->file(PASSWD_FILE);
    QList<PasswdEntry> entries = {
        {*ToGbk(QStringLiteral("admin")), QByteArray()},
        {*ToGbk(QStringLiteral("张三")), LegacyPasswordDigest(QStringLiteral("张三"), QStringLiteral("密码"))},
    };
    QVERIFY(WritePasswdFile(path, entries));
    QCOMPARE(dir->read(PASSWD_FILE), "admin \n" + kZhangSanGbk + " " + kZhangSanMima + "\n");

    QList<PasswdEntry> back;
    QVERIFY(ReadPasswdFile(path, &back));
    QCOMPARE(back.size(), 2);
    QCOMPARE(FromGbk(back[1].name), QStringLiteral("张三"));
    QCOMPARE(lookup(QStringLiteral("张三"), QStringLiteral("密码")), PasswordCheck::Accepted);
    QCOMPARE(lookup(QStringLiteral("admin"), QString()), PasswordCheck::Accepted);
  }

  void rewriteReplacesTheWholeFile()
  {
    dir->write(PASSWD_FILE, "# a long comment that the new file must not keep any part of\n"
                            "bob " +
                                kBobSecret + "\n");
    QVERIFY(WritePasswdFile(dir->file(PASSWD_FILE), {{"admin", kAdminEmpty}}));
    QCOMPARE(dir->read(PASSWD_FILE), "admin " + kAdminEmpty + "\n");
  }
};

CONSOLE_TEST_MAIN(TestPasswd)
#include "test_passwd.moc"
