/* The unattended operator: scripted login, messages on standard error, and the
 * screenshots of every window. */
#include "Unattended.h"

#include <QAction>
#include <QCoreApplication>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>

#include "AddUser.h"
#include "BillFrm.h"
#include "ChangePwd.h"
#include "Forms.h"
#include "Login.h"
#include "MainFrm.h"
#include "Modal.h"
#include "RateFrm.h"
#include "Report.h"
#include "UserMgr.h"

namespace {

QString g_name;
QString g_password;
QString g_shotDir;
int g_logins = 0;

/* Saves the window as it is drawn now; false when the file cannot be written. */
bool Grab(QWidget *window)
{
  QCoreApplication::processEvents();
  const QString path = g_shotDir + QLatin1Char('/') + window->objectName() + QStringLiteral(".png");
  if (window->grab().save(path))
    return true;
  std::fprintf(stderr, "Mirolt: cannot write %s\n", qPrintable(path));
  return false;
}

void GrabHidden(QWidget *window)
{
  window->show();
  Grab(window);
  window->hide();
}

/* The import preview of a small deck, as the operator sees it before he
 * confirms: grabbed and cancelled like every other dialog. */
void GrabImportPreview()
{
  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("费率表.csv"));
  QFile deck(path);
  if (!deck.open(QIODevice::WriteOnly))
    return;
  deck.write("名称,区号,每分钟价格,手续费,计费间隔\n北京,010,0.30\n上海,021,0.30\n广州,020,0.39,,6\n"
             "\"香港, 九龙\",00852,1.20,0.50,6\n台北,00886,1.5\n首尔,0082,二元\n纽约,001212,0.80,,6\n"
             "纽约,001212,0.90\n伦敦,0044x,1.8\n东京,0081,2.40,,6\n");
  deck.close();
  Forms.RateForm->ImportDeck(path);
}

void TakeScreenshots()
{
  TMainForm *main = Forms.MainForm;
  if (main->OperatorName().isEmpty())
    return; // the login or the engine failed: the program is ending already
  Grab(main);
  main->N6->trigger();     // the shift change, with this shift's takings
  main->N5->trigger();     // the own password change, captioned with the operator
  main->Exit1->trigger();  // the quit confirmation, cancelled
  main->UserMgr->trigger();
  Grab(Forms.UserMgrFrm);
  Forms.UserMgrFrm->hide();
  main->SetRate->trigger();
  Grab(Forms.RateForm);
  GrabImportPreview();
  Forms.RateForm->hide();
  main->N8->trigger();
  Grab(Forms.ReportFrm);
  Forms.ReportFrm->hide();
  GrabHidden(Forms.BillForm);
  GrabHidden(Forms.PasswordDlg);
  GrabHidden(Forms.AddUserDlg);
  EndProgram(0);
}

void AnswerDialog(QDialog *dialog)
{
  if (dialog == Forms.LoginDlg) {
    if (g_logins++ > 0) {
      Forms.LoginDlg->Button1->click();
      return;
    }
    Forms.LoginDlg->Username->setText(g_name);
    Forms.LoginDlg->Password->setText(g_password);
    if (!g_shotDir.isEmpty()) {
      Grab(dialog);
      // Runs once the main window's start has gone through, or finds that it
      // ended the program.
      QTimer::singleShot(0, TakeScreenshots);
    }
    Forms.LoginDlg->OKBtn->click();
    return;
  }
  // Anything else is looked at, if screenshots are wanted, and cancelled.
  if (!g_shotDir.isEmpty())
    Grab(dialog);
}

} // namespace

void RunUnattended(const QString &name, const QString &password, const QString &screenshotDir)
{
  g_name = name;
  g_password = password;
  g_shotDir = screenshotDir;
  SetDialogAnswer(AnswerDialog);
  SetMessageAnswer([](const QString &text, const QString &caption) {
    std::fprintf(stderr, "%s: %s\n", caption.toUtf8().constData(), text.toUtf8().constData());
    std::fflush(stderr);
  });
  if (!screenshotDir.isEmpty())
    QDir().mkpath(screenshotDir);
}
