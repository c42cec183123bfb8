/* The unattended operator: scripted login, messages on standard error, and the
 * screenshots of every window. */
#include "Unattended.h"

#include <QAction>
#include <QComboBox>
#include <QCoreApplication>
#include <QDateEdit>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimeEdit>
#include <QTimer>

#include <cstdio>

#include "AddUser.h"
#include "BillFrm.h"
#include "CheckoutsTab.h"
#include "ChangePwd.h"
#include "DepositDlg.h"
#include "Forms.h"
#include "LineMonitor.h"
#include "Login.h"
#include "MainFrm.h"
#include "Modal.h"
#include "RateFrm.h"
#include "ReceiptDlg.h"
#include "Report.h"
#include "UserMgr.h"

namespace {

QString g_name;
QString g_password;
QString g_shotDir;
double g_wait = 0;
int g_logins = 0;

/* Saves the window as it is drawn now, as <name>.png (the window's object
 * name when name is empty); false when the file cannot be written. */
bool Grab(QWidget *window, const QString &name = QString())
{
  QCoreApplication::processEvents();
  const QString path =
      g_shotDir + QLatin1Char('/') + (name.isEmpty() ? window->objectName() : name) + QStringLiteral(".png");
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
  report->ReportTabs->setCurrentWidget(report->CheckoutsPage);
  Grab(report, QStringLiteral("ReportFrmCheckouts"));
  report->ReportTabs->setCurrentIndex(0);
  report->GroupBy->setCurrentIndex(GroupNone);
}

void TakeScreenshots()
{
  TMainForm *main = Forms.MainForm;
  if (main->OperatorName().isEmpty())
    return;  // the login or the engine failed: the program is ending already
  // The day's backup, copied beside the window, done first: the windows show
  // its result, and quitting is not held up by it.
  main->WaitForBackup();
  main->PollLines();
  Grab(main);
  auto trigger = [main](const char *action) { main->findChild<QAction *>(QLatin1String(action))->trigger(); };
  trigger("N6");     // the shift change, with this shift's takings
  trigger("N5");     // the own password change, captioned with the operator
  trigger("Exit1");  // the quit confirmation, cancelled
  trigger("UserMgr");
  Grab(Forms.UserMgrFrm);
  Forms.UserMgrFrm->hide();
  trigger("SetRate");
  Grab(Forms.RateForm);
  GrabImportPreview();
  Forms.RateForm->hide();
  trigger("N8");
  Grab(Forms.ReportFrm);
  GrabReportViews(Forms.ReportFrm);
  Forms.ReportFrm->hide();
  trigger("ShopSet");  // the shop settings, cancelled
  // More deposit for the first line that holds some (or the first line), cancelled.
  const LineTable *lines = main->Lines();
  int held = lines->LineCount() > 0 ? 0 : -1;
  for (int row = lines->LineCount() - 1; row >= 0; row--) {
    if (lines->DepositOf(row))
      held = row;
  }
  if (held >= 0) {
    main->Monitor()->SelectLine(held);
    trigger("LineDeposit");
  } else {
    GrabHidden(Forms.DepositDlg);
  }
  // The checkout of the first line with calls waiting, its receipt printed
  // (or kept as a file) and the checkout cancelled; the reprint's preview.
  int waiting = -1;
  for (int row = 0; row < lines->LineCount() && waiting < 0; row++) {
    const LineEntry *line = lines->Line(row);
    if (line->unsettled && line->shownState != LINE_IN_CALL)
      waiting = row;
  }
  if (waiting >= 0)
    main->Checkout(waiting);
  else
    GrabHidden(Forms.BillForm);
  if (Forms.ReceiptDlg->HasReceipt())
    trigger("Reprint");
  else
    GrabHidden(Forms.ReceiptDlg);
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
      // Runs once the main window's start has gone through (and the lines
      // have played for the time asked), or finds that it ended the program.
      QTimer::singleShot(static_cast<int>(g_wait * 1000), TakeScreenshots);
    }
    Forms.LoginDlg->OKBtn->click();
    return;
  }
  if (dialog == Forms.BillForm && !g_shotDir.isEmpty()) {
    // The customer hands over a note.
    Forms.BillForm->Money->setText(QStringLiteral("20"));
    Grab(dialog);
    // Looked at only: the customer's calls stay to be settled at the counter.
    Forms.BillForm->CancelBtn->click();
    return;
  }
  // Anything else is looked at, if screenshots are wanted, and cancelled.
  if (!g_shotDir.isEmpty())
    Grab(dialog);
}

}  // namespace

void RunUnattended(const QString &name, const QString &password, const QString &screenshotDir, double waitSeconds)
{
  g_wait = waitSeconds > 0 ? waitSeconds : 0;
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
