/* The main window: its frame and menus, the login and engine start of its
 * first showing, the shift change, and the quit confirmation. The line
 * monitor is in LineMonitor.cpp, the checkout in Checkout.cpp. */
#include "MainFrm.h"

#include <QCloseEvent>
#include <QDir>
#include <QFrame>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QShowEvent>
#include <QStatusBar>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "quenta/quenta.h"

#include "ChangePwd2.h"
#include "Confirm.h"
#include "Forms.h"
#include "Login.h"
#include "Modal.h"
#include "Passwd.h"
#include "RateFrm.h"
#include "Report.h"
#include "SaveFile.h"
#include "ShiftLog.h"
#include "ShiftRecord.h"
#include "Switch.h"
#include "UserMgr.h"
#include "Users.h"

namespace {

bool g_engineCalled = false;

const int kLineColumnWidths[LINE_COLUMNS] = {180, 100, 220, 240, 300, 200};

void ShowWindow(QWidget *window)
{
  window->show();
  window->raise();
  window->activateWindow();
}

} // namespace

bool EngineCalled()
{
  return g_engineCalled;
}

TMainForm::TMainForm(QWidget *parent)
  : QMainWindow(parent), m_workDir(QDir::currentPath())
{
  setObjectName(QStringLiteral("MainForm"));
  resize(1024, 600);

  menuBar()->setObjectName(QStringLiteral("MainMenu1"));
  File1 = menuBar()->addMenu(QStringLiteral("文件"));
  File1->setObjectName(QStringLiteral("File1"));
  N5 = File1->addAction(QStringLiteral("修改密码..."));
  N5->setObjectName(QStringLiteral("N5"));
  UserMgr = File1->addAction(QStringLiteral("用户管理..."));
  UserMgr->setObjectName(QStringLiteral("UserMgr"));
  N6 = File1->addAction(QStringLiteral("换班..."));
  N6->setObjectName(QStringLiteral("N6"));
  File1->addSeparator();
  Exit1 = File1->addAction(QStringLiteral("退出"));
  Exit1->setObjectName(QStringLiteral("Exit1"));
  N1 = menuBar()->addMenu(QStringLiteral("费率"));
  N1->setObjectName(QStringLiteral("N1"));
  SetRate = N1->addAction(QStringLiteral("费率设置..."));
  SetRate->setObjectName(QStringLiteral("SetRate"));
  N7 = menuBar()->addMenu(QStringLiteral("统计"));
  N7->setObjectName(QStringLiteral("N7"));
  N8 = N7->addAction(QStringLiteral("统计报表..."));
  N8->setObjectName(QStringLiteral("N8"));
  // Nobody is on duty yet: the administrator's windows stay shut until the
  // login has decided who is.
  UserMgr->setEnabled(false);
  SetRate->setEnabled(false);

  auto *central = new QWidget(this);
  Panel1 = new QFrame(central);
  Panel1->setObjectName(QStringLiteral("Panel1"));
  Panel1->setFixedWidth(BILL_STRIP_WIDTH);
  Panel1->setFrameShape(QFrame::StyledPanel);
  Panel2 = new QLabel(QStringLiteral("结帐"), Panel1);
  Panel2->setObjectName(QStringLiteral("Panel2"));
  Panel2->setAlignment(Qt::AlignCenter);
  Panel2->setFrameShape(QFrame::Panel);
  Panel2->setFrameShadow(QFrame::Raised);
  auto *strip = new QVBoxLayout(Panel1);
  strip->setContentsMargins(0, 0, 0, 0);
  strip->addWidget(Panel2);
  strip->addStretch();

  LineList = new QTreeWidget(central);
  LineList->setObjectName(QStringLiteral("LineList"));
  LineList->setColumnCount(LINE_COLUMNS);
  LineList->setHeaderLabels({QStringLiteral("线路"), QStringLiteral("状态"),
                             QStringLiteral("呼出号码"), QStringLiteral("开始时间"),
                             QStringLiteral("通话时间"), QStringLiteral("应付金额")});
  LineList->setRootIsDecorated(false);
  LineList->setUniformRowHeights(true);
  LineList->setAllColumnsShowFocus(true);
  LineList->setSelectionBehavior(QAbstractItemView::SelectRows);
  LineList->setSelectionMode(QAbstractItemView::SingleSelection);
  LineList->setStyleSheet(QStringLiteral(
      "QTreeView::item { border-right: 1px solid palette(midlight);"
      " border-bottom: 1px solid palette(midlight); }"));
  QFont listFont(QStringLiteral("宋体"));
  listFont.setBold(true);
  LineList->setFont(listFont);
  // The strip's heading sits level with the list's column captions.
  Panel2->setFixedHeight(LineList->header()->sizeHint().height());

  auto *body = new QHBoxLayout(central);
  body->setContentsMargins(0, 0, 0, 0);
  body->setSpacing(0);
  body->addWidget(Panel1);
  body->addWidget(LineList);
  setCentralWidget(central);

  StatusBar1 = statusBar();
  StatusBar1->setObjectName(QStringLiteral("StatusBar1"));

  Timer1 = new QTimer(this);
  Timer1->setObjectName(QStringLiteral("Timer1"));
  Timer1->setInterval(1000);

  connect(Exit1, &QAction::triggered, this, &TMainForm::Exit1Click);
  connect(N5, &QAction::triggered, this, &TMainForm::N5Click);
  connect(N6, &QAction::triggered, this, &TMainForm::N6Click);
  connect(UserMgr, &QAction::triggered, this, &TMainForm::UserMgrClick);
  connect(SetRate, &QAction::triggered, this, &TMainForm::SetRateClick);
  connect(N8, &QAction::triggered, this, &TMainForm::N8Click);
  connect(Timer1, &QTimer::timeout, this, &TMainForm::Timer1Timer);

  SetUpLineMonitor();
}

QString TMainForm::StationFile(const char *name) const
{
  return m_workDir + QLatin1Char('/') + QLatin1String(name);
}

bool TMainForm::CheckPassword(const QString &name, const QString &password, QWidget *parent)
{
  return ::CheckPassword(StationFile(PASSWD_FILE), name, password, parent);
}

bool TMainForm::ReadLastLog()
{
  return ::ReadLastLog(StationFile(LASTLOG_FILE), m_operator, &m_shiftTotal);
}

void TMainForm::WriteLastLog()
{
  QString reason;
  if (!StoreShiftRecord(&reason))
    ShowShiftRecordFailure(reason);
}

bool TMainForm::StoreShiftRecord(QString *reason)
{
  if (::WriteLastLog(StationFile(LASTLOG_FILE), m_operator, m_shiftTotal, reason))
    return true;
  qWarning("cannot write the shift record %s", qPrintable(StationFile(LASTLOG_FILE)));
  return false;
}

void TMainForm::ShowShiftRecordFailure(const QString &reason)
{
  // The total in the window is right; only a restart would lose it.
  ShowSaveFailure(this, LASTLOG_FILE, reason,
                  QStringLiteral("本班金额没有记下，程序重新启动后会不准确。"));
}

void TMainForm::showEvent(QShowEvent *event)
{
  QMainWindow::showEvent(event);
  if (event->spontaneous() || m_started)
    return;
  m_started = true;
  // The login runs from the event loop, once the window is on the screen
  // behind it, and can end the program from there.
  QMetaObject::invokeMethod(this, &TMainForm::FormShow, Qt::QueuedConnection);
}

void TMainForm::FormShow()
{
  TLoginDlg *login = Forms.LoginDlg;
  for (;;) {
    if (ShowModal(login) != QDialog::Accepted) {
      EndProgram(0);
      return;
    }
    if (CheckPassword(login->Username->text(), login->Password->text(), login))
      break;
  }
  m_shiftTotal = 0;

  g_engineCalled = true;
  int rc = quenta_init();
  if (rc != 0) {
    if (rc == QUENTA_INIT_RUNNING)
      ShowMessage(this, QStringLiteral("计费程序已在运行"), QStringLiteral("错误"),
                  QMessageBox::Critical);
    EndProgram(-1);
    return;
  }
  LoadLineMap();

  TakeOperator(login->Username->text());
  const QByteArray now = StationTime(QDateTime::currentDateTime());
  if (!ReadLastLog()) {
    WriteLastLog();
    StartShift(now);
  } else if (!ReadShiftStart(StationFile(SHIFTSTART_FILE), m_operator, &m_shiftStart)) {
    StartShift(now);
  }
  for (int i = 0; i < LINE_COLUMNS; i++)
    LineList->setColumnWidth(i, kLineColumnWidths[i]);
  Timer1->start();
  showMaximized();
}

void TMainForm::TakeOperator(const QString &name)
{
  m_operator = name;
  const bool admin = IsAdministrator(name);
  UserMgr->setEnabled(admin);
  SetRate->setEnabled(admin);
  if (!admin) {
    // The administrator's windows do not stay open for the next operator.
    for (QWidget *window : {static_cast<QWidget *>(Forms.UserMgrFrm),
                            static_cast<QWidget *>(Forms.RateForm)})
      if (window->isVisible())
        window->close();
  }
  setWindowTitle(QStringLiteral(PROGRAM_TITLE) + name);
}

void TMainForm::closeEvent(QCloseEvent *event)
{
  FormCloseQuery(event);
}

void TMainForm::FormCloseQuery(QCloseEvent *event)
{
  if (ShowModal(Forms.ConfirmDlg) != QDialog::Accepted) {
    event->ignore();
    return;
  }
  event->accept();
  EndProgram(0);
}

void TMainForm::Exit1Click()
{
  close();
}

void TMainForm::N6Click()
{
  TSwitchDlg *dlg = Forms.SwitchDlg;
  dlg->Title->setText(QStringLiteral("本班总金额：%1￥").arg(FormatMoney(m_shiftTotal)));
  do {
    if (ShowModal(dlg) != QDialog::Accepted)
      return;
  } while (!CheckPassword(dlg->Username->text(), dlg->Password->text(), dlg));
  const QString incoming = dlg->Username->text();
  const QByteArray now = StationTime(QDateTime::currentDateTime());
  RecordHandover(incoming, now);
  TakeOperator(incoming);
  m_shiftTotal = 0;
  // At once: a record left naming the previous operator would let a restart
  // continue the shift just handed over, and hand its takings over twice.
  WriteLastLog();
  StartShift(now);
}

void TMainForm::RecordHandover(const QString &incoming, const QByteArray &when)
{
  const QByteArray begin = m_shiftStart.isEmpty() ? when : m_shiftStart;
  if (!StoreHandover(begin, when, m_operator, m_shiftTotal, incoming))
    ShowMessage(this,
                QStringLiteral("交班记录没有保存：本班 %1 交出 %2，请另行记下")
                    .arg(m_operator, FormatMoney(m_shiftTotal)),
                QStringLiteral("错误"));
}

void TMainForm::StartShift(const QByteArray &when)
{
  m_shiftStart = when;
  QString reason;
  if (!WriteShiftStart(StationFile(SHIFTSTART_FILE), m_operator, when, &reason))
    ShowSaveFailure(this, SHIFTSTART_FILE, reason,
                    QStringLiteral("程序重新启动后，交班记录中本班的开始时间会不准确。"));
}

void TMainForm::N5Click()
{
  TChangePwdDlg *dlg = Forms.ChangePwdDlg;
  dlg->setWindowTitle(QStringLiteral("更改密码 - ") + m_operator);
  for (;;) {
    if (ShowModal(dlg) != QDialog::Accepted)
      return;
    if (!CheckPassword(m_operator, dlg->OrigPassword->text(), dlg))
      continue;
    if (dlg->Password->text() != dlg->Password2->text()) {
      ShowMessage(dlg, QStringLiteral("密码不一致"), QStringLiteral("错误"));
      continue;
    }
    if (PasswordLine(m_operator, dlg->Password->text()).isEmpty()) {
      ShowMessage(dlg, QStringLiteral("密码中有无法使用的字符"), QStringLiteral("错误"));
      continue;
    }
    QString reason;
    if (!SetOwnPassword(StationFile(PASSWD_FILE), m_operator, dlg->Password->text(), &reason))
      ShowSaveFailure(this, PASSWD_FILE, reason, QStringLiteral("密码没有修改。"));
    return;
  }
}

void TMainForm::UserMgrClick()
{
  ShowWindow(Forms.UserMgrFrm);
}

void TMainForm::SetRateClick()
{
  ShowWindow(Forms.RateForm);
}

void TMainForm::N8Click()
{
  LineNames names;
  for (const auto &entry : m_lines)
    names.insert({entry->machineId, entry->lineId}, entry->name);
  Forms.ReportFrm->SetLineNames(names);
  ShowWindow(Forms.ReportFrm);
}
