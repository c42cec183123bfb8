/* The main window: its frame and menus, the login and engine start of its
 * first showing, the shift change, and the quit confirmation (which warns of
 * calls the engine keeps only in memory), the poll and the answers to
 * what the operator asks of the line monitor's rows. The checkout is in
 * Checkout.cpp, the deposits in LineDeposits.cpp. */
#include "MainFrm.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QShowEvent>
#include <QFileInfo>
#include <QFile>
#include <QStatusBar>
#include <QTimer>

#include <utility>

#include "quenta/quenta.h"

#include "Audit.h"
#include "Backup.h"
#include "BillText.h"
#include "ChangePwd2.h"
#include "Confirm.h"
#include "Forms.h"
#include "GatewayText.h"
#include "Gbk.h"
#include "LineCommand.h"
#include "LineMap.h"
#include "LineMonitor.h"
#include "Login.h"
#include "Modal.h"
#include "Passwd.h"
#include "Question.h"
#include "RateFrm.h"
#include "ReceiptDlg.h"
#include "ReceiptPrint.h"
#include "Report.h"
#include "SaveFile.h"
#include "ShiftLog.h"
#include "ShiftRecord.h"
#include "ShopDlg.h"
#include "StationState.h"
#include "Switch.h"
#include "UnsavedCalls.h"
#include "UserMgr.h"
#include "Users.h"

namespace {

bool g_engineCalled = false;

void ShowWindow(QWidget *window)
{
  window->show();
  window->raise();
  window->activateWindow();
}

}  // namespace

bool EngineCalled()
{
  return g_engineCalled;
}

TMainForm::TMainForm(StationState *station, QWidget *parent) : QMainWindow(parent), m_station(station)
{
  setObjectName(QStringLiteral("MainForm"));
  resize(1024, 600);

  menuBar()->setObjectName(QStringLiteral("MainMenu1"));
  auto addMenu = [this](const char *text, const char *name) {
    QMenu *menu = menuBar()->addMenu(QString::fromUtf8(text));
    menu->setObjectName(QLatin1String(name));
    return menu;
  };
  auto addAction = [this](QMenu *menu, const char *text, const char *name, void (TMainForm::*click)()) {
    QAction *action = menu->addAction(QString::fromUtf8(text));
    action->setObjectName(QLatin1String(name));
    connect(action, &QAction::triggered, this, click);
    return action;
  };
  QMenu *file = addMenu("文件", "File1");
  addAction(file, "修改密码...", "N5", &TMainForm::N5Click);
  m_userMgr = addAction(file, "用户管理...", "UserMgr", &TMainForm::UserMgrClick);
  m_shopSet = addAction(file, "店铺设置...", "ShopSet", &TMainForm::ShopSetClick);
  addAction(file, "换班...", "N6", &TMainForm::N6Click);
  addAction(file, "重打小票", "Reprint", &TMainForm::ReprintClick);
  addAction(file, "备份数据库", "BackupDb", &TMainForm::BackupDbClick);
  file->addSeparator();
  addAction(file, "退出", "Exit1", &TMainForm::Exit1Click);
  m_setRate = addAction(addMenu("费率", "N1"), "费率设置...", "SetRate", &TMainForm::SetRateClick);
  addAction(addMenu("统计", "N7"), "统计报表...", "N8", &TMainForm::N8Click);
  // Nobody is on duty yet: the administrator's windows stay shut until the
  // login has decided who is.
  m_userMgr->setEnabled(false);
  m_shopSet->setEnabled(false);
  m_setRate->setEnabled(false);

  m_lines = new LineTable(this);
  m_monitor = new TLineMonitor(m_lines, this);
  setCentralWidget(m_monitor);
  connect(m_monitor, &TLineMonitor::checkoutRequested, this, &TMainForm::Checkout);
  connect(m_monitor, &TLineMonitor::renameRequested, this, &TMainForm::RenameLine);
  connect(m_monitor, &TLineMonitor::swapRequested, this, &TMainForm::SwapLines);
  connect(m_monitor, &TLineMonitor::denyRequested, this, &TMainForm::AskDenyLine);
  connect(m_monitor, &TLineMonitor::permitRequested, this, &TMainForm::PermitLine);
  connect(m_monitor, &TLineMonitor::depositRequested, this, &TMainForm::TakeDeposit);
  connect(m_monitor, &TLineMonitor::refundRequested, this, &TMainForm::RefundDeposit);

  m_statusBar = statusBar();
  m_statusBar->setObjectName(QStringLiteral("StatusBar1"));
  m_statusBar->setSizeGripEnabled(false);
  QLabel **fields[] = {&m_statusOperator, &m_statusTakings,  &m_statusLines,
                       &m_statusUnsaved,  &m_statusGateways, &m_statusEngine};
  const char *names[] = {"StatusOperator", "StatusTakings",  "StatusLines",
                         "StatusUnsaved",  "StatusGateways", "StatusEngine"};
  for (int i = 0; i < 6; i++) {
    auto *field = new QLabel(m_statusBar);
    field->setObjectName(QLatin1String(names[i]));
    field->setContentsMargins(8, 0, 8, 0);
    *fields[i] = field;
    // The engine's words stand at the right edge, the rest from the left.
    if (i < 3)
      m_statusBar->addWidget(field);
    else
      m_statusBar->addPermanentWidget(field);
  }
  m_statusGateways->setStyleSheet(QStringLiteral("color: #b00000;"));
  m_statusUnsaved->setStyleSheet(QStringLiteral("color: #d00000; font-weight: bold;"));

  m_pollTimer = new QTimer(this);
  m_pollTimer->setObjectName(QStringLiteral("Timer1"));
  m_pollTimer->setInterval(1000);
  connect(m_pollTimer, &QTimer::timeout, this, qOverload<>(&TMainForm::PollLines));

  UpdateStatusBar();
  // An entry of the audit trail that could not be stored does not stop the
  // operator, but stands in the status bar for a while.
  SetAuditOperator(QString());
  SetAuditFile(StationFile(AUDIT_PENDING_FILE));
  SetAuditNotice([this](const QString &note) { m_statusBar->showMessage(note, 10000); });
}

const QString &TMainForm::OperatorName() const
{
  return m_station->OperatorName();
}

const QString &TMainForm::WorkDir() const
{
  return m_station->WorkDir();
}

QString TMainForm::StationFile(const char *name) const
{
  return m_station->File(name);
}

bool TMainForm::CheckPassword(const QString &name, const QString &password, QWidget *parent)
{
  return ::CheckPassword(StationFile(PASSWD_FILE), name, password, parent);
}

bool TMainForm::ReadLastLog()
{
  return ::ReadLastLog(StationFile(LASTLOG_FILE), OperatorName(), &m_shiftTotal);
}

void TMainForm::WriteLastLog()
{
  QString reason;
  if (!StoreShiftRecord(&reason))
    ShowShiftRecordFailure(reason);
}

bool TMainForm::StoreShiftRecord(QString *reason)
{
  if (::WriteLastLog(StationFile(LASTLOG_FILE), OperatorName(), m_shiftTotal, reason))
    return true;
  qWarning("cannot write the shift record %s", qPrintable(StationFile(LASTLOG_FILE)));
  return false;
}

void TMainForm::ShowShiftRecordFailure(const QString &reason)
{
  // The total in the window is right; only a restart would lose it.
  ShowSaveFailure(this, LASTLOG_FILE, reason, QStringLiteral("本班金额没有记下，程序重新启动后会不准确。"));
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
    AuditAs(login->Username->text(), AUDIT_LOGIN_FAILED, QStringLiteral("登录窗口：操作员名或密码不对"));
  }
  m_shiftTotal = 0;

  g_engineCalled = true;
  int rc = quenta_init();
  if (rc != 0) {
    if (rc == QUENTA_INIT_RUNNING)
      ShowMessage(this, QStringLiteral("计费程序已在运行"), QStringLiteral("错误"), QMessageBox::Critical);
    EndProgram(-1);
    return;
  }
  m_engineRunning = true;
  // The engine closed the station's files to other users; the folder is the owner's to close.
  const QFile::Permissions others = QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther;
  if (QFileInfo(WorkDir()).permissions() & others)
    ShowMessage(this,
                QStringLiteral("工作目录 %1 其他用户可以进入或读取。通话、账单和密码只应由计费程序的用户读取，"
                               "请执行：chmod 700 %1")
                    .arg(WorkDir()),
                QStringLiteral("提示"), QMessageBox::Information);
  m_lines->LoadLineMap(StationFile(LINEMAP_FILE));
  LoadDeposits();

  TakeOperator(login->Username->text());
  const QByteArray now = StationTime(QDateTime::currentDateTime());
  const bool continued = ReadLastLog();
  if (!continued) {
    RecordUnhandedShift(now);
    WriteLastLog();
    StartShift(now);
  } else if (!ReadShiftStart(StationFile(SHIFTSTART_FILE), OperatorName(), &m_shiftStart)) {
    StartShift(now);
  }
  Audit(AUDIT_LOGIN,
        continued ? QStringLiteral("继续本班，已收%1").arg(AmountText(m_shiftTotal)) : QStringLiteral("开始新的一班"));
  m_monitor->FitColumns();
  m_pollTimer->start();
  UpdateStatusBar();
  showMaximized();
  // The day's backup: its name tells whether an earlier run made it.
  if (!HasBackupOf(WorkDir(), QDate::currentDate()))
    BackUpDatabase(false);
}

void TMainForm::TakeOperator(const QString &name)
{
  m_station->SetOperator(name);
  SetAuditOperator(name);
  const bool admin = IsAdministrator(name);
  m_userMgr->setEnabled(admin);
  m_shopSet->setEnabled(admin);
  m_setRate->setEnabled(admin);
  if (!admin) {
    // The administrator's windows do not stay open for the next operator.
    for (QWidget *window : {static_cast<QWidget *>(Forms.UserMgrFrm), static_cast<QWidget *>(Forms.RateForm)})
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
  // A copy just done is shown first (it may start the one a shift change
  // asked for); a copy cut off halfway is no backup.
  if (!m_backup.copying())
    m_backup.wait();
  if (m_backup.running()) {
    ShowMessage(this, QStringLiteral("正在备份数据库（已完成%1%），请等备份完成后再退出。").arg(m_backup.percent()),
                QStringLiteral("提示"), QMessageBox::Information);
    event->ignore();
    return;
  }
  // Rate edits not yet saved are asked about as closing the editor asks; an
  // operator who stays in the editor stays in the program.
  if (Forms.RateForm->isVisible() && !Forms.RateForm->MayClose()) {
    event->ignore();
    return;
  }
  // The engine's calls end with the process: those it could not put on disk
  // are lost, and the operator decides knowing it.
  Forms.ConfirmDlg->SetUnsavedCalls(m_engineRunning ? UnsavedCalls() : 0);
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
  dlg->Title->setText(QStringLiteral("本班总金额：%1元").arg(CentsText(m_shiftTotal)));
  dlg->Drawer->setText(DrawerText(DrawerAt(StationTime(QDateTime::currentDateTime()))));
  std::optional<Cents> counted;
  for (;;) {
    if (ShowModal(dlg) != QDialog::Accepted)
      return;
    const QString countedText = dlg->Counted->text().trimmed();
    counted = countedText.isEmpty() ? std::nullopt : ParseMoney(countedText);
    if (!countedText.isEmpty() && !counted) {
      ShowMessage(dlg, QStringLiteral("实点现金不是金额：%1").arg(countedText), QStringLiteral("错误"));
      continue;
    }
    if (CheckPassword(dlg->Username->text(), dlg->Password->text(), dlg))
      break;
    AuditAs(dlg->Username->text(), AUDIT_LOGIN_FAILED, QStringLiteral("交班窗口：操作员名或密码不对"));
  }
  const QString incoming = dlg->Username->text();
  const QByteArray now = StationTime(QDateTime::currentDateTime());
  RecordHandover(incoming, now, counted);
  TakeOperator(incoming);
  m_shiftTotal = 0;
  UpdateStatusBar();
  // At once: a record left naming the previous operator would let a restart
  // continue the shift just handed over, and hand its takings over twice.
  WriteLastLog();
  StartShift(now);

  // The shift just handed over, kept in a copy of its own.
  BackUpDatabase(false);
}

void TMainForm::BackupDbClick()
{
  BackUpDatabase(true);
}

void TMainForm::BackUpDatabase(bool tellWhere)
{
  if (m_backup.running()) {
    // One copy at a time. The shift just handed over is to be in a copy of
    // its own: that one follows.
    if (tellWhere)
      m_backupTellWhere = true;
    else
      m_backupAgain = true;
    return;
  }
  m_backupTellWhere = tellWhere;
  m_statusBar->showMessage(QStringLiteral("正在备份数据库..."));
  m_backup.start(
      WorkDir(), QDateTime::currentDateTime(),
      [this](int percent) { m_statusBar->showMessage(QStringLiteral("正在备份数据库... %1%").arg(percent)); },
      [this](const BackgroundBackup::Result &result) { BackupDone(result); });
}

void TMainForm::BackupDone(const BackgroundBackup::Result &result)
{
  const bool tellWhere = std::exchange(m_backupTellWhere, false);
  Audit(AUDIT_BACKUP,
        result.made ? QDir::toNativeSeparators(result.path) : QStringLiteral("没有备份：") + result.reason);
  if (!result.made) {
    m_statusBar->clearMessage();
    ShowMessage(this, QStringLiteral("数据库没有备份：%1\n计费照常进行，数据库本身没有受到影响。").arg(result.reason),
                QStringLiteral("错误"), QMessageBox::Critical);
  } else {
    const QString done = QStringLiteral("数据库已备份到 %1").arg(QDir::toNativeSeparators(result.path));
    // A message hides the operator's fields beside it: it stands for a while only.
    m_statusBar->showMessage(done, 10000);
    if (tellWhere)
      ShowMessage(this, done, QStringLiteral("备份数据库"), QMessageBox::Information);
  }
  if (std::exchange(m_backupAgain, false))
    BackUpDatabase(false);
}

ShiftDrawer TMainForm::DrawerAt(const QByteArray &when) const
{
  ShiftDrawer drawer;
  // A failed query shows what it found; the handover keeps that figure.
  ReckonDrawer(m_shiftStart.isEmpty() ? when : m_shiftStart, when, OperatorName(), &drawer);
  drawer.held += m_lines->DepositsHeld();
  return drawer;
}

void TMainForm::RecordHandover(const QString &incoming, const QByteArray &when, std::optional<Cents> counted)
{
  const QByteArray begin = m_shiftStart.isEmpty() ? when : m_shiftStart;
  const ShiftDrawer drawer = DrawerAt(when);
  QString detail = QStringLiteral("交给%1，本班交出%2，%3").arg(incoming, AmountText(m_shiftTotal), DrawerText(drawer));
  detail += counted ? QStringLiteral("，实点现金%1，差额%2")
                          .arg(AmountText(*counted), DrawerDifferenceText(*counted, drawer.Expected()))
                    : QStringLiteral("，没有点现金");
  if (!StoreHandover(begin, when, OperatorName(), m_shiftTotal, incoming, drawer, counted, true))
    ShowMessage(
        this,
        QStringLiteral("交班记录没有保存：本班 %1 交出 %2，请另行记下").arg(OperatorName(), CentsText(m_shiftTotal)),
        QStringLiteral("错误"));
  Audit(AUDIT_SHIFT, detail);
}

void TMainForm::RecordUnhandedShift(const QByteArray &when)
{
  const QString lastlog = StationFile(LASTLOG_FILE);
  QString previous;
  Cents takings = 0;
  if (!ReadLastLogOwner(lastlog, &previous, &takings))
    return;  // no shift on record (a new station, or a record that cannot be read)
  // Its beginning as kept, else the last moment the record was written in it.
  QByteArray begin;
  if (!ReadShiftStart(StationFile(SHIFTSTART_FILE), previous, &begin))
    begin = qMin(StationTime(QFileInfo(lastlog).lastModified()), when);
  ShiftDrawer drawer;
  ReckonDrawer(begin, when, previous, &drawer);
  drawer.held += m_lines->DepositsHeld();
  if (!StoreHandover(begin, when, previous, takings, OperatorName(), drawer, std::nullopt, false)) {
    ShowMessage(
        this,
        QStringLiteral("上一班没有交班，记录也没有保存：%1 收入 %2，请另行记下").arg(previous, CentsText(takings)),
        QStringLiteral("错误"));
    return;
  }
  Audit(AUDIT_SHIFT,
        QStringLiteral("%1没有交班，程序记下该班收入%2，%3").arg(previous, AmountText(takings), DrawerText(drawer)));
}

void TMainForm::StartShift(const QByteArray &when)
{
  m_shiftStart = when;
  QString reason;
  if (!WriteShiftStart(StationFile(SHIFTSTART_FILE), OperatorName(), when, &reason))
    ShowSaveFailure(this, SHIFTSTART_FILE, reason,
                    QStringLiteral("程序重新启动后，交班记录中本班的开始时间会不准确。"));
}

void TMainForm::N5Click()
{
  TChangePwdDlg *dlg = Forms.ChangePwdDlg;
  dlg->setWindowTitle(QStringLiteral("更改密码 - ") + OperatorName());
  for (;;) {
    if (ShowModal(dlg) != QDialog::Accepted)
      return;
    if (!CheckPassword(OperatorName(), dlg->OrigPassword->text(), dlg))
      continue;
    if (dlg->Password->text() != dlg->Password2->text()) {
      ShowMessage(dlg, QStringLiteral("密码不一致"), QStringLiteral("错误"));
      continue;
    }
    if (PasswordLine(OperatorName(), dlg->Password->text()).isEmpty()) {
      ShowMessage(dlg, QStringLiteral("密码中有无法使用的字符"), QStringLiteral("错误"));
      continue;
    }
    QString reason;
    if (!SetOwnPassword(StationFile(PASSWD_FILE), OperatorName(), dlg->Password->text(), &reason))
      ShowSaveFailure(this, PASSWD_FILE, reason, QStringLiteral("密码没有修改。"));
    else
      Audit(AUDIT_PASSWORD, QStringLiteral("修改了自己的密码"));
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
  Forms.ReportFrm->SetLineNames(m_lines->Names());
  ShowWindow(Forms.ReportFrm);
}

void TMainForm::ShopSetClick()
{
  ShopInfo info;
  QString reason;
  if (!ReadShopInfo(StationFile(SHOPINFO_FILE), &info, &reason)) {
    // Whatever it holds would be lost under the new settings.
    ShowMessage(this, QStringLiteral("无法读取文件 %1：%2").arg(QLatin1String(SHOPINFO_FILE), reason),
                QStringLiteral("错误"));
    return;
  }
  TShopDlg *dlg = Forms.ShopDlg;
  dlg->SetInfo(info);
  if (ShowModal(dlg) != QDialog::Accepted)
    return;
  const ShopInfo changed = dlg->Info(info);
  if (!WriteShopInfo(StationFile(SHOPINFO_FILE), changed, &reason))
    ShowSaveFailure(this, SHOPINFO_FILE, reason, QStringLiteral("店铺设置没有改变。"));
  else
    Audit(AUDIT_SHOP, ShopChangeDetail(info, changed));
}

void TMainForm::ReprintClick()
{
  TReceiptDlg *dlg = Forms.ReceiptDlg;
  if (!dlg->HasReceipt()) {
    ShowMessage(this, QStringLiteral("还没有打印过小票"), QStringLiteral("重打小票"), QMessageBox::Information);
    return;
  }
  if (ShowModal(dlg) == QDialog::Accepted)
    PrintReceipt(this, dlg->Reprint(), StationFile(RECEIPT_DIR));
}

void TMainForm::UpdateStatusBar()
{
  const QString &name = OperatorName();
  m_statusOperator->setText(QStringLiteral("操作员：") + (name.isEmpty() ? QStringLiteral("未登录") : name));
  m_statusTakings->setText(QStringLiteral("本班收入：") + AmountText(m_shiftTotal));
  m_statusLines->setText(QStringLiteral("在线线路：%1/%2").arg(m_lines->OnlineCount()).arg(m_lines->LineCount()));
  m_statusEngine->setText(m_engineRunning ? QStringLiteral("计费引擎：运行中") : QStringLiteral("计费引擎：未启动"));
  m_statusGateways->setText(m_engineRunning ? RefusedGatewaysNote() : QString());
  m_statusGateways->setVisible(!m_statusGateways->text().isEmpty());
  m_statusUnsaved->setText(m_engineRunning ? UnsavedCallsText(UnsavedCalls()) : QString());
  m_statusUnsaved->setVisible(!m_statusUnsaved->text().isEmpty());
}

/* ---- the line monitor ---- */

void TMainForm::PollLines()
{
  PollLines(QDateTime::currentDateTime());
}

void TMainForm::PollLines(const QDateTime &now)
{
  // New rows are written to the map once per poll, not once per row.
  if (m_lines->Poll(now))
    SaveLineMap();
  // Out of the engine's callback: a denial that cannot be sent is told in a
  // message box, whose event loop may run the next poll.
  for (int row = 0; row < m_lines->LineCount(); row++)
    WatchDeposit(row);
  UpdateStatusBar();
}

void TMainForm::SaveLineMap()
{
  QString reason;
  if (m_lines->SaveLineMap(StationFile(LINEMAP_FILE), &reason))
    return;
  qWarning("cannot write the line map %s", qPrintable(StationFile(LINEMAP_FILE)));
  ShowSaveFailure(this, LINEMAP_FILE, reason, QStringLiteral("线路的名称和顺序没有保存，程序重新启动后会恢复原样。"));
}

void TMainForm::RenameLine(int row, const QString &name)
{
  if (!m_lines->Line(row))
    return;
  if (!ToGbk(name)) {
    ShowMessage(this, QStringLiteral("线路名称中有无法保存的字符"), QStringLiteral("错误"));
    return;
  }
  if (m_lines->Rename(row, name))
    SaveLineMap();
}

void TMainForm::SwapLines(int a, int b)
{
  m_lines->SwapLines(a, b);
  SaveLineMap();
  // What the rows show comes from the engine as of now.
  PollLines();
  m_lines->RefreshUnsettled(a);
  m_lines->RefreshUnsettled(b);
}

bool TMainForm::SendLineCommand(int row, const QByteArray &command, const QString &action)
{
  const LineEntry *entry = m_lines->Line(row);
  if (!entry)
    return false;
  if (::SendLineCommand(entry->machineId, entry->lineId, command))
    return true;
  ShowMessage(this, QStringLiteral("未能向线路“%1”发送“%2”命令，请检查网络连接后重试。").arg(entry->name, action),
              QStringLiteral("错误"));
  return false;
}

bool TMainForm::DenyLine(int row, const QString &why)
{
  if (!SendLineCommand(row, LINE_DENY_COMMAND, QStringLiteral("禁止呼叫")))
    return false;
  Audit(AUDIT_DENY, QStringLiteral("线路“%1”").arg(m_lines->Line(row)->name) + why);
  return true;
}

bool TMainForm::PermitLine(int row)
{
  if (!SendLineCommand(row, LINE_PERMIT_COMMAND, QStringLiteral("允许呼叫")))
    return false;
  Audit(AUDIT_PERMIT, QStringLiteral("线路“%1”").arg(m_lines->Line(row)->name));
  return true;
}

void TMainForm::AskDenyLine(int row)
{
  const LineEntry *entry = m_lines->Line(row);
  if (!entry)
    return;
  // The gateway cuts a call in progress at once: the customer's, perhaps
  // mid-sentence, so the operator says so first.
  if (entry->runningCost &&
      !AskOperator(
          this, QStringLiteral("线路“%1”正在通话中，禁止呼叫会立即挂断这个通话。\n确定禁止呼叫吗？").arg(entry->name),
          QStringLiteral("禁止呼叫"), QStringLiteral("挂断并禁止"), QStringLiteral("取消")))
    return;
  DenyLine(row);
}
