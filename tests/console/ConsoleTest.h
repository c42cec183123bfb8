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
#include <memory>

class QDialog;

/* A fresh temporary directory, the process's current directory while it lives. */
class StationDir {
public:
  StationDir();
  ~StationDir();

  QString path() const { return m_path; }
  QString file(const char *name) const { return m_path + QLatin1Char('/') + QLatin1String(name); }
  void write(const char *name, const QByteArray &bytes) const;
  bool exists(const char *name) const;
  QByteArray read(const char *name) const;

  /* Hands the directory over: it stays when this goes (the current directory
   * still changes back), and the caller removes it. */
  std::unique_ptr<QTemporaryDir> release() { return std::move(m_dir); }

private:
  std::unique_ptr<QTemporaryDir> m_dir;
  QString m_path;
  QString m_previous;
};

/* The text with each salted password digest that verifies for one of the
 * passwords replaced by "<password>": new digests carry a random salt, so a
 * file is compared with what it should hold through this. A digest that
 * verifies for none of them stays as it is, and the comparison shows it. */
QByteArray MaskDigests(QByteArray text, const QStringList &passwords);

/* Numbers with a decimal comma from now on (LC_NUMERIC): a locale of numbers
 * only, made on the spot in dir (a whole one takes seconds to make). False
 * when it cannot be made. */
bool UseCommaNumbers(const QTemporaryDir &dir);

using Answer = std::function<void(QDialog *)>;

/* What the operator was shown, in order, each entry marked once the test has
 * looked at it: read it (by index, first, last, value, a loop) or counted the
 * entries (size, isEmpty) with it among them. An entry no test looked at is
 * one nobody expected, and fails the test (ScriptedOperator::verify). */
template <class T>
class ShownLog {
public:
  qsizetype size() const { return seeAll(), m_items.size(); }
  qsizetype count() const { return size(); }
  bool isEmpty() const { return size() == 0; }
  const T &operator[](qsizetype i) const { return see(i), m_items[i]; }
  const T &at(qsizetype i) const { return (*this)[i]; }
  const T &first() const { return (*this)[0]; }
  const T &last() const { return (*this)[m_items.size() - 1]; }
  T value(qsizetype i) const
  {
    if (i >= 0 && i < m_items.size())
      see(i);
    return m_items.value(i);
  }
  typename QList<T>::const_iterator begin() const { return seeAll(), m_items.cbegin(); }
  typename QList<T>::const_iterator end() const { return m_items.cend(); }
  /* Drops the newest entry, looked at or not. */
  void removeLast()
  {
    m_items.removeLast();
    m_seen.removeLast();
  }

  /* For the operator: a new entry, not yet seen. */
  void append(T item)
  {
    m_items.append(std::move(item));
    m_seen.append(false);
  }
  /* The entries no test looked at, marked seen so that each is told once. */
  QList<T> takeUnseen()
  {
    QList<T> unseen;
    for (qsizetype i = 0; i < m_items.size(); i++)
      if (!m_seen[i]) {
        unseen.append(m_items[i]);
        m_seen[i] = true;
      }
    return unseen;
  }

private:
  void see(qsizetype i) const { m_seen[i] = true; }
  void seeAll() const { m_seen.fill(true); }

  QList<T> m_items;
  mutable QList<bool> m_seen;
};

/* Answers the dialogs in the order they appear, takes message boxes and the
 * program's end. A dialog beyond the script is cancelled and recorded. A
 * message box the test never looked at, or a dialog beyond the script, fails
 * the test at verify(): from the suite's cleanup or, at the latest, when the
 * operator goes. */
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

  /* Fails the running test for each message box it did not look at and each
   * dialog the script did not answer, naming them; each is told once. */
  void verify();

  struct Message {
    QString text;
    QString caption;
  };
  ShownLog<Message> messages;   /* message boxes, in order */
  QStringList dialogs;          /* object names of the dialogs shown, in order */
  ShownLog<QString> unexpected; /* dialogs shown with the script used up */
  QList<int> ends;              /* exit statuses the program asked for */
  qsizetype pending() const { return m_script.size(); }

private:
  QList<Answer> m_script;
};

/* A QTest main that creates the application first, as every window needs. */
#define CONSOLE_TEST_MAIN(TestClass)        \
  int main(int argc, char *argv[])          \
  {                                         \
    QApplication app(argc, argv);           \
    TestClass test;                         \
    return QTest::qExec(&test, argc, argv); \
  }

#endif
