/* What every console suite shares: a fresh working directory per test, and a
 * scripted operator who answers dialogs and message boxes in advance, so no
 * test ever waits in exec(). */
#ifndef TESTS_CONSOLE_CONSOLETEST_H
#define TESTS_CONSOLE_CONSOLETEST_H

#include <QApplication>
#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>

#include <functional>

class QDialog;

/* A fresh temporary directory, the process's current directory while it lives. */
class StationDir {
public:
  StationDir();
  ~StationDir();

  QString path() const { return m_dir.path(); }
  QString file(const char *name) const { return m_dir.filePath(QLatin1String(name)); }
  void write(const char *name, const QByteArray &bytes) const;
  bool exists(const char *name) const;
  QByteArray read(const char *name) const;

private:
  QTemporaryDir m_dir;
  QString m_previous;
};

/* The text with each salted password digest that verifies for one of the
 * passwords replaced by "<password>": new digests carry a random salt, so a
 * file is compared with what it should hold through this. A digest that
 * verifies for none of them stays as it is, and the comparison shows it. */
QByteArray MaskDigests(QByteArray text, const QStringList &passwords);

using Answer = std::function<void(QDialog *)>;

/* Answers the dialogs in the order they appear, takes message boxes and the
 * program's end. A dialog beyond the script is cancelled and recorded. */
class ScriptedOperator {
public:
  ScriptedOperator();
  ~ScriptedOperator();

  ScriptedOperator &then(Answer answer);

  /* Types name and password into Username and Password, which must arrive
   * empty, and clicks OKBtn. */
  static Answer logIn(const QString &name, const QString &password);
  /* Clicks the named button. */
  static Answer click(const char *button);
  /* Types the texts into the dialog's edits (by object name), clicks OKBtn. */
  static Answer fill(const QList<QPair<const char *, QString>> &texts);

  struct Message {
    QString text;
    QString caption;
  };
  QList<Message> messages;        /* message boxes, in order */
  QStringList dialogs;            /* object names of the dialogs shown, in order */
  QStringList unexpected;         /* dialogs shown with the script used up */
  QList<int> ends;                /* exit statuses the program asked for */
  qsizetype pending() const { return m_script.size(); }

private:
  QList<Answer> m_script;
};

/* A QTest main that creates the application first, as every window needs. */
#define CONSOLE_TEST_MAIN(TestClass)                                                     \
  int main(int argc, char *argv[])                                                       \
  {                                                                                      \
    QApplication app(argc, argv);                                                        \
    TestClass test;                                                                      \
    return QTest::qExec(&test, argc, argv);                                              \
  }

#endif
