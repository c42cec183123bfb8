/* The main window: the line monitor with its checkout strip, the menus that
 * open every other window, and the state the whole console shares (the
 * operator on duty, the shift's takings, the station's working directory).
 * Its first showing logs an operator in and starts the engine; closing it
 * ends the program after a confirmation. */
#ifndef CONSOLE_MAINFRM_H
#define CONSOLE_MAINFRM_H

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QMainWindow>
#include <QString>

#include <memory>
#include <optional>
#include <vector>

#include "Backup.h"
#include "LineMonitor.h"
#include "ShiftRecord.h"

class QAction;
class QCloseEvent;
class QFrame;
class QKeyEvent;
class QLabel;
class QMenu;
class QShowEvent;
class QStatusBar;
class QTimer;
class QTreeWidget;

#define PROGRAM_TITLE "IP电话计费程序 v2.14 - "   /* followed by the operator's name */
#define LINE_COLUMNS 8
#define BILL_STRIP_WIDTH 81

class TMainForm : public QMainWindow {
  Q_OBJECT

public:
  explicit TMainForm(QWidget *parent = nullptr);

  const QString &OperatorName() const { return m_operator; }
  Cents ShiftTotal() const { return m_shiftTotal; }
  void SetShiftTotal(Cents total) { m_shiftTotal = total; }
  const QString &WorkDir() const { return m_workDir; }
  /* A file of the station: the working directory, "/", the name. */
  QString StationFile(const char *name) const;

  /* The password check against the station's password file; a message box
   * for a wrong password appears over parent. */
  bool CheckPassword(const QString &name, const QString &password, QWidget *parent);
  /* Continues the shift when "lastlog" names the operator on duty: true, and
   * the shift total is the stored one. */
  bool ReadLastLog();
  /* Stores the operator on duty and the shift total in "lastlog"; when that
   * fails the operator is told. */
  void WriteLastLog();
  /* When the shift on duty began, in the engine's time form (ShiftRecord.h). */
  const QByteArray &ShiftStart() const { return m_shiftStart; }
  /* Backs the database up into "backups", on a thread of its own: the
   * window goes on meanwhile, the status bar shows how far the copy is. Once
   * done a failure is shown with its reason; a success only in the status
   * bar, or in a message box naming the file when tellWhere. While a copy
   * runs no second one starts: the operator's request is met by it, a shift
   * change's by one more copy after it. */
  void BackUpDatabase(bool tellWhere);
  /* A copy runs (or has ended and its result is not shown yet). */
  bool BackingUp() const { return m_backup.running(); }
  /* Waits for the copy under way and shows its result; at the program's end. */
  void WaitForBackup() { m_backup.wait(); }

  QMenu *File1;                   /* "文件" */
  QAction *N5;                    /* "修改密码...": own password */
  QAction *UserMgr;               /* "用户管理...": administrator only */
  QAction *ShopSet;               /* "店铺设置...": administrator only */
  QAction *Reprint;               /* "重打小票": the last receipt again */
  QAction *N6;                    /* "换班...": shift change */
  QAction *BackupDb;              /* "备份数据库": a backup now */
  QAction *Exit1;                 /* "退出" */
  QMenu *N1;                      /* "费率" */
  QAction *SetRate;               /* "费率设置...": administrator only */
  QMenu *N7;                      /* "统计" */
  QAction *N8;                    /* "统计报表..." */
  QTreeWidget *LineList;          /* one row per gateway line */
  QFrame *Panel1;                 /* the strip of checkout buttons left of the rows */
  QLabel *Panel2;                 /* its heading "结帐" */
  QStatusBar *StatusBar1;         /* the operator, the takings, lines online, the engine,
                                     calls kept only in memory, refused gateways */
  QLabel *StatusOperator;         /* "操作员：admin" */
  QLabel *StatusTakings;          /* "本班收入：36.50元" */
  QLabel *StatusLines;            /* "在线线路：3/8" */
  QLabel *StatusEngine;           /* "计费引擎：运行中" */
  QLabel *StatusGateways;         /* senders the "gateways" file refused, when any */
  QLabel *StatusUnsaved;          /* in red, calls the engine keeps only in memory, when any */
  QTimer *Timer1;                 /* polls the lines once a second after login */

  /* ---- the line monitor (LineMonitor.cpp) and the checkout (Checkout.cpp) ---- */

  QMenu *PopupMenu1;              /* the list's pop-up menu */
  QAction *LineBill;              /* "结帐" */
  QAction *LineUp;                /* "上移" */
  QAction *LineDown;              /* "下移" */
  QAction *LineRename;            /* "改名" */
  QAction *LineDeny;              /* "禁止呼叫" */
  QAction *LinePermit;            /* "允许呼叫" */
  QAction *LineDeposit;           /* "收押金" */
  QAction *LineRefund;            /* "退押金": only a line with a deposit */

  int LineCount() const { return static_cast<int>(m_lines.size()); }
  /* The entry of a row, from 0; null past the last row. */
  const LineEntry *Line(int row) const;
  /* Machine ids in the order they were first met: the line map's, then the
   * engine's. A machine's position plus one numbers its default line names. */
  const QList<QByteArray> &Machines() const { return m_machines; }
  /* True while a row's name is being edited in place. */
  bool EditingName() const { return m_editing; }

  /* One poll of the engine, as Timer1 makes every second: the call times and
   * running costs as of now (the clock's now, or the one given). */
  void PollLines();
  void PollLines(const QDateTime &now);
  /* Appends a row for the line; its row index. */
  int AddLine(const QString &name, const QByteArray &machineId, int lineId);
  /* The row of the line, or -1. */
  int FindLine(const QByteArray &machineId, int lineId) const;
  /* True when the engine holds calls of the line not yet settled, and when it
   * cannot be asked (the line may have some). */
  bool HasUnsettledCalls(const LineEntry &entry) const;
  /* The row's button: red "结帐" when on, the row number when off. */
  void SetBillButton(int row, bool on);
  void LoadLineMap();
  void SaveLineMap();
  /* Settles the row's line with the customer. */
  void Checkout(int row);

  /* Booth control: sends the row's line a command through the engine; when
   * it cannot be sent the operator is told (caption "错误"), naming the action.
   * True when sent. The gateway's answer, the line's new state, shows at a
   * later poll. DenyLine sends "call: deny", PermitLine "call: permit"; each
   * one sent goes into the audit trail, a denial the station made by itself
   * with why ("（押金用完）"). */
  bool SendLineCommand(int row, const QByteArray &command, const QString &action);
  bool DenyLine(int row, const QString &why = QString());
  bool PermitLine(int row);

  /* ---- deposits (LineDeposits.cpp) ---- */

  /* The deposit of the row's line; nothing when it has none. */
  std::optional<Cents> DepositOf(int row) const;
  /* Takes amount more as the row's line's deposit, or hands the deposit
   * back (at a refund and a checkout), and rewrites "deposits"; when that
   * fails the operator is told. The row shows it at once. */
  void AddDeposit(int row, Cents amount);
  void ClearDeposit(int row);

protected:
  void showEvent(QShowEvent *event) override;
  void closeEvent(QCloseEvent *event) override;
  bool eventFilter(QObject *watched, QEvent *event) override;

private:
  void FormShow();
  void FormCloseQuery(QCloseEvent *event);
  void Exit1Click();
  void N5Click();
  void N6Click();
  void BackupDbClick();
  void BackupDone(const BackgroundBackup::Result &result);
  void UserMgrClick();
  void SetRateClick();
  void N8Click();
  void ShopSetClick();
  void ReprintClick();
  void Timer1Timer();
  /* The status bar from the state of the moment. */
  void UpdateStatusBar();

  /* Line monitor handlers and helpers. */
  void SetUpLineMonitor();
  static void UpdateLineCallback(const char *machineid, int lineid, const char *state,
                                 const char *srcnum, const char *desnum, const char *bdate,
                                 int flag, void *param);
  void UpdateLine(const char *machineid, int lineid, const char *state, const char *desnum,
                  const char *bdate, int flag);
  /* True when the key started a checkout. */
  bool LineListKeyPress(QKeyEvent *event);
  void LineListEditing();
  void LineListEdited(int row, const QString &name);
  void LineListEditEnded();
  void LineRenameClick();
  void LineUpClick();
  void LineDownClick();
  void PopupMenu1Popup();
  void BillButtonClick(int row);
  void LineBillClick();
  void LineDenyClick();
  void LinePermitClick();
  void LineDepositClick();
  void LineRefundClick();
  int SelectedLine() const;
  void SwapLines(int a, int b);
  /* Reads the line's unsettled calls again for "应付金额". */
  void RefreshAmountDue(int row);
  /* Prices the entry's call in progress at the poll's moment. */
  void PriceRunningCall(LineEntry &entry, const char *desnum, const char *bdate);
  /* Writes "应付金额", "本次话费" and "押金" from the entry. */
  void ShowAmounts(int row);
  /* The row's colours from its state and its deposit. */
  void TintRow(int row);
  /* Reads "deposits" at login; a file that cannot be read is told. */
  void LoadDeposits();
  /* Where the row's line stands against its deposit now, once a poll and
   * whenever the deposit changes: the row's look and text follow; the first
   * time it reaches DEPOSIT_LOW the window beeps, the first time it reaches
   * DEPOSIT_USED_UP the line is denied (a line not reported since the start
   * waits at DEPOSIT_LOW until it is). */
  void WatchDeposit(int row);
  /* "deposits" from m_deposits; consequence is what a failure means. */
  void StoreDeposits(const QString &consequence);
  void PlaceBillButtons();

  /* The operator goes on duty: the administrator's menus and the title follow. */
  void TakeOperator(const QString &name);
  /* "lastlog" from the operator and the shift total; false and *reason when
   * it could not be written, which ShowShiftRecordFailure tells. */
  bool StoreShiftRecord(QString *reason);
  void ShowShiftRecordFailure(const QString &reason);
  /* The shift of the operator on duty began at when: kept in "shiftstart". */
  void StartShift(const QByteArray &when);
  /* The ending shift goes into the shift history, handed over at when with
   * the cash counted in its drawer (none: not counted); a failure is told. */
  void RecordHandover(const QString &incoming, const QByteArray &when, std::optional<Cents> counted);
  /* What the drawer of the shift on duty should hold at when. */
  ShiftDrawer DrawerAt(const QByteArray &when) const;
  /* At a login that does not continue the shift in "lastlog": the shift of
   * the operator it names ended with the program, and goes into the shift
   * history with its takings as not handed over, ending at when. */
  void RecordUnhandedShift(const QByteArray &when);

  QString m_workDir;              /* taken once, when the window is made */
  QString m_operator;             /* on duty; empty until the first login */
  Cents m_shiftTotal = 0;         /* money settled in this shift */
  QByteArray m_shiftStart;        /* when this shift began, "%Y-%m-%d %H:%M:%S" */
  bool m_started = false;         /* the first showing has run the login */
  bool m_engineRunning = false;   /* quenta_init succeeded */
  BackgroundBackup m_backup{this}; /* the database's copy under way */
  bool m_backupTellWhere = false; /* its result goes into a message box */
  bool m_backupAgain = false;     /* one more copy once it is done */

  std::vector<std::unique_ptr<LineEntry>> m_lines; /* by row */
  QList<QByteArray> m_machines;   /* machine ids, first met first */
  QList<Deposit> m_deposits;      /* by line, also of lines without a row */
  bool m_editing = false;         /* a name is being edited in place */
  bool m_lineMapChanged = false;  /* rows were added during this poll */
  QDateTime m_pollTime;           /* "now" of the poll under way */
  QByteArray m_pollEnd;           /* the same in the engine's form: the running calls' end */
  QWidget *m_billButtons = nullptr; /* the part of Panel1 below its heading */
};

/* True once quenta_init has been called: the engine's thread may be running,
 * and the program must not be torn down under it. */
bool EngineCalled();

#endif
