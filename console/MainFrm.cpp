/* The main window: its frame and menus, the login and engine start of its
 * first showing, the shift change, and the quit confirmation (which warns of
 * calls the engine keeps only in memory). The line
 * monitor is in LineMonitor.cpp, the checkout in Checkout.cpp. */
#include "MainFrm.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QFrame>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QShowEvent>
#include <QFileInfo>
#include <QFile>
#include <QStatusBar>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <utility>

#include "quenta/quenta.h"

#include "Audit.h"
#include "Backup.h"
#include "BillText.h"
#include "ChangePwd2.h"
#include "Confirm.h"
#include "Forms.h"
#include "GatewayText.h"
#include "Login.h"
#include "Modal.h"
#include "Passwd.h"
#include "RateFrm.h"
#include "ReceiptDlg.h"
#include "ReceiptPrint.h"
#include "Report.h"
#include "SaveFile.h"
#include "ShiftLog.h"
#include "ShiftRecord.h"
#include "ShopDlg.h"
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
  ShopSet = File1->addAction(QStringLiteral("店铺设置..."));
  ShopSet->setObjectName(QStringLiteral("ShopSet"));
  N6 = File1->addAction(QStringLiteral("换班..."));
  N6->setObjectName(QStringLiteral("N6"));
  Reprint = File1->addAction(QStringLiteral("重打小票"));
  Reprint->setObjectName(QStringLiteral("Reprint"));
  BackupDb = File1->addAction(QStringLiteral("备份数据库"));
  BackupDb->setObjectName(QStringLiteral("BackupDb"));
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
  ShopSet->setEnabled(false);
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
                             QStringLiteral("通话时间"), QStringLiteral("应付金额"),
                             QStringLiteral("本次话费"), QStringLiteral("押金")});
  // The cost of the call in progress reads beside its call time; by index it
  // comes last, so every other column keeps its place.
  LineList->header()->moveSection(COLUMN_RUNNING_COST, COLUMN_AMOUNT_DUE);
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
  StatusBar1->setSizeGripEnabled(false);
  QLabel **fields[] = {&StatusOperator, &StatusTakings, &StatusLines, &StatusUnsaved,
                       &StatusGateways, &StatusEngine};
  const char *names[] = {"StatusOperator", "StatusTakings", "StatusLines", "StatusUnsaved",
                         "StatusGateways", "StatusEngine"};
  for (int i = 0; i < 6; i++) {
    auto *field = new QLabel(StatusBar1);
    field->setObjectName(QLatin1String(names[i]));
    field->setContentsMargins(8, 0, 8, 0);
    *fields[i] = field;
    // The engine's words stand at the right edge, the rest from the left.
    if (i < 3)
      StatusBar1->addWidget(field);
    else
      StatusBar1->addPermanentWidget(field);
  }
  StatusGateways->setStyleSheet(QStringLiteral("color: #b00000;"));
  StatusUnsaved->setStyleSheet(QStringLiteral("color: #d00000; font-weight: bold;"));

  Timer1 = new QTimer(this);
  Timer1->setObjectName(QStringLiteral("Timer1"));
  Timer1->setInterval(1000);

  connect(Exit1, &QAction::triggered, this, &TMainForm::Exit1Click);
  connect(N5, &QAction::triggered, this, &TMainForm::N5Click);
  connect(N6, &QAction::triggered, this, &TMainForm::N6Click);
  connect(BackupDb, &QAction::triggered, this, &TMainForm::BackupDbClick);
  connect(UserMgr, &QAction::triggered, this, &TMainForm::UserMgrClick);
  connect(SetRate, &QAction::triggered, this, &TMainForm::SetRateClick);
  connect(N8, &QAction::triggered, this, &TMainForm::N8Click);
  connect(ShopSet, &QAction::triggered, this, &TMainForm::ShopSetClick);
  connect(Reprint, &QAction::triggered, this, &TMainForm::ReprintClick);
  connect(Timer1, &QTimer::timeout, this, &TMainForm::Timer1Timer);

  SetUpLineMonitor();
  UpdateStatusBar();
  // An entry of the audit trail that could not be stored does not stop the
  // operator, but stands in the status bar for a while.
  SetAuditOperator(QString());
  SetAuditFile(StationFile(AUDIT_PENDING_FILE));
  SetAuditNotice([this](const QString &note) { StatusBar1->showMessage(note, 10000); });
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
    AuditAs(login->Username->text(), AUDIT_LOGIN_FAILED, QStringLiteral("登录窗口：操作员名或密码不对"));
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
  m_engineRunning = true;
  // The engine closed the station's files to other users; the folder is the owner's to close.
  const QFile::Permissions others = QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther;
  if (QFileInfo(m_workDir).permissions() & others)
    ShowMessage(this,
                QStringLiteral("工作目录 %1 其他用户可以进入或读取。通话、账单和密码只应由计费程序的用户读取，"
                               "请执行：chmod 700 %1").arg(m_workDir),
                QStringLiteral("提示"), QMessageBox::Information);
  LoadLineMap();
  LoadDeposits();

  TakeOperator(login->Username->text());
  const QByteArray now = StationTime(QDateTime::currentDateTime());
  const bool continued = ReadLastLog();
  if (!continued) {
    RecordUnhandedShift(now);
    WriteLastLog();
    StartShift(now);
  } else if (!ReadShiftStart(StationFile(SHIFTSTART_FILE), m_operator, &m_shiftStart)) {
    StartShift(now);
  }
  Audit(AUDIT_LOGIN, continued ? QStringLiteral("继续本班，已收%1").arg(AmountText(m_shiftTotal))
                               : QStringLiteral("开始新的一班"));
  const QList<int> widths = LineColumnWidths(LineList);
  for (int i = 0; i < LINE_COLUMNS; i++)
    LineList->setColumnWidth(i, widths[i]);
  Timer1->start();
  UpdateStatusBar();
  showMaximized();
  // The day's backup: its name tells whether an earlier run made it.
  if (!HasBackupOf(m_workDir, QDate::currentDate()))
    BackUpDatabase(false);
}

void TMainForm::TakeOperator(const QString &name)
{
  m_operator = name;
  SetAuditOperator(name);
  const bool admin = IsAdministrator(name);
  UserMgr->setEnabled(admin);
  ShopSet->setEnabled(admin);
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
  StatusBar1->showMessage(QStringLiteral("正在备份数据库..."));
  m_backup.start(
      m_workDir, QDateTime::currentDateTime(),
      [this](int percent) { StatusBar1->showMessage(QStringLiteral("正在备份数据库... %1%").arg(percent)); },
      [this](const BackgroundBackup::Result &result) { BackupDone(result); });
}

void TMainForm::BackupDone(const BackgroundBackup::Result &result)
{
  const bool tellWhere = std::exchange(m_backupTellWhere, false);
  Audit(AUDIT_BACKUP, result.made ? QDir::toNativeSeparators(result.path)
                                  : QStringLiteral("没有备份：") + result.reason);
  if (!result.made) {
    StatusBar1->clearMessage();
    ShowMessage(this, QStringLiteral("数据库没有备份：%1\n计费照常进行，数据库本身没有受到影响。").arg(result.reason),
                QStringLiteral("错误"), QMessageBox::Critical);
  } else {
    const QString done = QStringLiteral("数据库已备份到 %1").arg(QDir::toNativeSeparators(result.path));
    // A message hides the operator's fields beside it: it stands for a while only.
    StatusBar1->showMessage(done, 10000);
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
  ReckonDrawer(m_shiftStart.isEmpty() ? when : m_shiftStart, when, m_operator, &drawer);
  for (const Deposit &d : m_deposits)
    drawer.held += d.amount;
  return drawer;
}

void TMainForm::RecordHandover(const QString &incoming, const QByteArray &when, std::optional<Cents> counted)
{
  const QByteArray begin = m_shiftStart.isEmpty() ? when : m_shiftStart;
  const ShiftDrawer drawer = DrawerAt(when);
  QString detail = QStringLiteral("交给%1，本班交出%2，%3").arg(incoming, AmountText(m_shiftTotal), DrawerText(drawer));
  detail += counted ? QStringLiteral("，实点现金%1，差额%2").arg(AmountText(*counted),
                                                                 DrawerDifferenceText(*counted, drawer.Expected()))
                    : QStringLiteral("，没有点现金");
  if (!StoreHandover(begin, when, m_operator, m_shiftTotal, incoming, drawer, counted, true))
    ShowMessage(this,
                QStringLiteral("交班记录没有保存：本班 %1 交出 %2，请另行记下")
                    .arg(m_operator, CentsText(m_shiftTotal)),
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
  for (const Deposit &d : m_deposits)
    drawer.held += d.amount;
  if (!StoreHandover(begin, when, previous, takings, m_operator, drawer, std::nullopt, false)) {
    ShowMessage(this,
                QStringLiteral("上一班没有交班，记录也没有保存：%1 收入 %2，请另行记下")
                    .arg(previous, CentsText(takings)),
                QStringLiteral("错误"));
    return;
  }
  Audit(AUDIT_SHIFT, QStringLiteral("%1没有交班，程序记下该班收入%2，%3")
                         .arg(previous, AmountText(takings), DrawerText(drawer)));
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
  LineNames names;
  for (const auto &entry : m_lines)
    names.insert({entry->machineId, entry->lineId}, entry->name);
  Forms.ReportFrm->SetLineNames(names);
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
    ShowMessage(this, QStringLiteral("还没有打印过小票"), QStringLiteral("重打小票"),
                QMessageBox::Information);
    return;
  }
  if (ShowModal(dlg) == QDialog::Accepted)
    PrintReceipt(this, dlg->Reprint(), StationFile(RECEIPT_DIR));
}

void TMainForm::UpdateStatusBar()
{
  int online = 0;
  for (const auto &line : m_lines) {
    const unsigned char state = line->shownState;
    if (state != LINE_OFFLINE && state != LINE_NOT_SHOWN)
      online++;
  }
  StatusOperator->setText(QStringLiteral("操作员：") +
                          (m_operator.isEmpty() ? QStringLiteral("未登录") : m_operator));
  StatusTakings->setText(QStringLiteral("本班收入：") + AmountText(m_shiftTotal));
  StatusLines->setText(QStringLiteral("在线线路：%1/%2").arg(online).arg(LineCount()));
  StatusEngine->setText(m_engineRunning ? QStringLiteral("计费引擎：运行中")
                                        : QStringLiteral("计费引擎：未启动"));
  StatusGateways->setText(m_engineRunning ? RefusedGatewaysNote() : QString());
  StatusGateways->setVisible(!StatusGateways->text().isEmpty());
  StatusUnsaved->setText(m_engineRunning ? UnsavedCallsText(UnsavedCalls()) : QString());
  StatusUnsaved->setVisible(!StatusUnsaved->text().isEmpty());
}
