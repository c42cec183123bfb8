/* The console suites' working directories and scripted operator. */
#include "ConsoleTest.h"

#include <QRegularExpression>

#include <clocale>
#include <cstdio>
#include <cstdlib>

#include "Passwd.h"

#include <QDialog>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>

#include "Modal.h"

StationDir::StationDir()
    : m_dir(std::make_unique<QTemporaryDir>()), m_path(m_dir->path()), m_previous(QDir::currentPath())
{
  QVERIFY(m_dir->isValid());
  QVERIFY(QDir::setCurrent(m_path));
}

StationDir::~StationDir()
{
  QDir::setCurrent(m_previous);
}

void StationDir::write(const char *name, const QByteArray &bytes) const
{
  QFile f(file(name));
  QVERIFY(f.open(QIODevice::WriteOnly));
  QCOMPARE(f.write(bytes), bytes.size());
}

bool StationDir::exists(const char *name) const
{
  return QFile::exists(file(name));
}

QByteArray StationDir::read(const char *name) const
{
  QFile f(file(name));
  if (!f.open(QIODevice::ReadOnly))
    return QByteArray();
  return f.readAll();
}

ScriptedOperator::ScriptedOperator()
{
  SetDialogAnswer([this](QDialog *dialog) {
    dialogs.append(dialog->objectName());
    if (m_script.isEmpty()) {
      unexpected.append(dialog->objectName());
      return;
    }
    Answer answer = m_script.takeFirst();
    answer(dialog);
  });
  SetMessageAnswer([this](const QString &text, const QString &caption) { messages.append({text, caption}); });
  SetProgramEnd([this](int status) { ends.append(status); });
}

ScriptedOperator::~ScriptedOperator()
{
  // A fixture that goes at the end of a test function, or in cleanup(),
  // still fails its test; outside any test there is none to fail.
  if (QTest::currentTestFunction())
    verify();
  SetDialogAnswer(nullptr);
  SetMessageAnswer(nullptr);
  SetProgramEnd(nullptr);
}

void ScriptedOperator::verify()
{
  for (const Message &m : messages.takeUnseen()) {
    const QString what = QStringLiteral("unexpected message box %1: %2").arg(m.caption, m.text);
    QTest::qFail(qPrintable(what), __FILE__, __LINE__);
  }
  for (const QString &name : unexpected.takeUnseen()) {
    const QString what = QStringLiteral("unexpected dialog %1 (cancelled)").arg(name);
    QTest::qFail(qPrintable(what), __FILE__, __LINE__);
  }
}

ScriptedOperator &ScriptedOperator::then(Answer answer)
{
  m_script.append(std::move(answer));
  return *this;
}

Answer ScriptedOperator::logIn(const QString &name, const QString &password)
{
  return [name, password](QDialog *dialog) {
    auto *user = dialog->findChild<QLineEdit *>(QStringLiteral("Username"));
    auto *pass = dialog->findChild<QLineEdit *>(QStringLiteral("Password"));
    auto *ok = dialog->findChild<QPushButton *>(QStringLiteral("OKBtn"));
    QVERIFY(user && pass && ok);
    QVERIFY2(user->text().isEmpty() && pass->text().isEmpty(), "the dialog kept old input");
    QCOMPARE(dialog->focusWidget(), user);
    user->setText(name);
    pass->setText(password);
    ok->click();
  };
}

Answer ScriptedOperator::fill(const QList<QPair<const char *, QString>> &texts)
{
  return [texts](QDialog *dialog) {
    for (const auto &[name, text] : texts) {
      auto *edit = dialog->findChild<QLineEdit *>(QLatin1String(name));
      QVERIFY2(edit, name);
      edit->setText(text);
    }
    click("OKBtn")(dialog);
  };
}

Answer ScriptedOperator::click(const char *button)
{
  return [button](QDialog *dialog) {
    auto *b = dialog->findChild<QPushButton *>(QLatin1String(button));
    QVERIFY2(b, button);
    b->click();
  };
}

QByteArray MaskDigests(QByteArray text, const QStringList &passwords)
{
  static const QRegularExpression salted(QStringLiteral("\\b01[0-9a-f]{104}\\b"));
  const QString latin = QString::fromLatin1(text);
  for (auto it = salted.globalMatch(latin); it.hasNext();) {
    const QByteArray digest = it.next().captured().toLatin1();
    for (const QString &password : passwords)
      if (DigestMatches(digest, QString(), password)) {
        text.replace(digest, "<" + password.toUtf8() + ">");
        break;
      }
  }
  return text;
}

bool UseCommaNumbers(const QTemporaryDir &dir)
{
  QFile source(dir.filePath("src"));
  const QByteArray make = "localedef -c -i '" + source.fileName().toLocal8Bit() + "' -f ANSI_X3.4-1968 '" +
                          dir.filePath("comma").toLocal8Bit() + "' >/dev/null 2>&1";
  if (!source.open(QIODevice::WriteOnly) || source.write("LC_NUMERIC\ndecimal_point \",\"\nEND LC_NUMERIC\n") < 0 ||
      !source.flush() || std::system(make.constData()) == -1 || setenv("LOCPATH", qPrintable(dir.path()), 1) != 0)
    return false;
  const bool set = std::setlocale(LC_NUMERIC, "comma") != nullptr;
  unsetenv("LOCPATH");
  char text[8];
  return set && std::snprintf(text, sizeof text, "%.1f", 1.5) > 0 && QByteArray(text) == "1,5";
}
