/* The unattended operator: scripted login, messages on standard error, and the
 * screenshots of every window. */
#include "Unattended.h"

#include <QAction>
#include <QComboBox>
#include <QCoreApplication>
#include <QDateEdit>
#include <QDialog>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTimeEdit>
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

/* Saves the window as it is drawn now, as <name>.png (the window's object
 * name when name is empty); false when the file cannot be written. */
bool Grab(QWidget *window, const QString &name = QString())
{
  QCoreApplication::processEvents();
  const QString path = g_shotDir + QLatin1Char('/') + (name.isEmpty() ? window->objectName() : name) +
                       QStringLiteral(".png");
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

/* The report over the two weeks before today, grouped by line with the chart
 * of its takings, and the handovers of those weeks. */
void GrabReportViews(TReportFrm *report)
{
  const QDate today = QDate::currentDate();
  report->FromDate->setDate(today.addDays(-14));
  report->FromTime->setTime(QTime(0, 0, 0));
  report->ToDate->setDate(today.addDays(-1));
  report->ToTime->setTime(QTime(23, 59, 59));
  report->GroupBy->setCurrentIndex(GroupLine);
  report->Button2->click();
  Grab(report, QStringLiteral("ReportFrmGrouped"));
  report->ReportTabs->setCurrentIndex(1);
  Grab(report, QStringLiteral("ReportFrmShifts"));
  report->ReportTabs->setCurrentIndex(0);
  report->GroupBy->setCurrentIndex(GroupNone);
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
  Forms.RateForm->hide();
  main->N8->trigger();
  Grab(Forms.ReportFrm);
  GrabReportViews(Forms.ReportFrm);
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
