/* The console program Mirolt: claims the station (one per machine), creates
 * its windows, shows the main window (whose first showing logs an operator in
 * and starts the engine) and runs the window loop until the main window
 * closes. Everything the station keeps lies in the current directory. */
#include <QApplication>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QProcessEnvironment>

#include <cstdio>
#include <cstring>
#include <exception>
#include <sys/stat.h>
#include <unistd.h>

#include "quenta/quenta.h"

#include "Forms.h"
#include "MainFrm.h"
#include "Modal.h"
#include "Unattended.h"

namespace {

/* A failure thrown inside a handler is shown and the window loop goes on. */
class TApplication : public QApplication {
public:
  using QApplication::QApplication;

  bool notify(QObject *receiver, QEvent *event) override
  {
    try {
      return QApplication::notify(receiver, event);
    } catch (const std::exception &e) {
      ShowMessage(nullptr, QString::fromLocal8Bit(e.what()), QStringLiteral("错误"), QMessageBox::Critical);
    }
    return false;
  }
};

/* The program's options. Help and version are answered before any window
 * system is needed, so that they work on a machine without a display. */
struct Options {
  QCommandLineParser parser;
  QCommandLineOption login{QStringLiteral("login"),
                           QStringLiteral("Log in unattended as <name>, with the password in the environment "
                                          "variable MIROLT_PASSWORD (empty when unset). Message boxes are then "
                                          "written to standard error as \"caption: text\", every other dialog is "
                                          "cancelled, and a failed login ends the program with status 0."),
                           QStringLiteral("name")};
  QCommandLineOption screenshots{QStringLiteral("screenshots"),
                                 QStringLiteral("With --login: save a PNG of every window into <dir> after the login, "
                                                "then end."),
                                 QStringLiteral("dir")};
  QCommandLineOption wait{QStringLiteral("screenshot-wait"),
                          QStringLiteral("With --screenshots: let the lines play for <seconds> after the login "
                                         "before the windows are drawn (default 0)."),
                          QStringLiteral("seconds"), QStringLiteral("0")};

  Options()
  {
    parser.setApplicationDescription(
        QStringLiteral("The operator console of the call-billing station. The station's files lie in\n"
                       "the current directory. The last three options are for tests and tools only."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOption(login);
    parser.addOption(screenshots);
    parser.addOption(wait);
  }
};

void NameProgram()
{
  QCoreApplication::setApplicationName(QStringLiteral("Mirolt"));
  QCoreApplication::setApplicationVersion(QStringLiteral(QUENTA_VERSION));
}

/* True when the command line asks only for text: help or the version. */
bool AsksForTextOnly(int argc, char *argv[])
{
  for (int i = 1; i < argc; i++) {
    const char *a = argv[i];
    if (!std::strcmp(a, "--"))
      break;
    if (!std::strcmp(a, "-v") || !std::strcmp(a, "--version") || !std::strcmp(a, "-h") || !std::strcmp(a, "--help") ||
        !std::strcmp(a, "--help-all") || !std::strcmp(a, "-?"))
      return true;
  }
  return false;
}

}  // namespace

int main(int argc, char *argv[])
{
  // Whatever the station writes (passwords, calls, receipts) is its user's alone.
  umask(077);
  if (AsksForTextOnly(argc, argv)) {
    // Prints the text and ends the program (or says what is wrong and ends
    // it); goes on only when "-v" or "-h" was the value of another option.
    QCoreApplication core(argc, argv);
    NameProgram();
    Options options;
    options.parser.process(core);
  }
  TApplication app(argc, argv);
  NameProgram();

  Options opts;
  QCommandLineParser &options = opts.parser;
  const QCommandLineOption &login = opts.login, &screenshots = opts.screenshots, &wait = opts.wait;
  options.process(app);

  if (options.isSet(screenshots) && !options.isSet(login)) {
    std::fprintf(stderr, "Mirolt: --screenshots needs --login\n");
    return 2;
  }
  if (options.isSet(login))
    RunUnattended(options.value(login),
                  QProcessEnvironment::systemEnvironment().value(QStringLiteral("MIROLT_PASSWORD")),
                  options.value(screenshots), options.value(wait).toDouble());

  // A second console on the machine says so before it asks for a password.
  if (quenta_claimStation() == QUENTA_INIT_RUNNING) {
    ShowMessage(nullptr, QStringLiteral("计费程序已在运行"), QStringLiteral("错误"), QMessageBox::Critical);
    return -1;
  }
  try {
    CreateForms();
  } catch (const std::exception &e) {
    ShowMessage(nullptr, QString::fromLocal8Bit(e.what()), QStringLiteral("错误"), QMessageBox::Critical);
    return -1;
  }
  Forms.MainForm->show();
  int status = app.exec();

  if (EngineCalled()) {
    // A backup under way is finished first: half a copy is none.
    Forms.MainForm->WaitForBackup();
    // The engine's thread has no stop and runs on: leave without running
    // destructors under it.
    std::fflush(nullptr);
    _exit(status);
  }
  ReleaseForms();
  return status;
}
