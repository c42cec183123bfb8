/* The main window: the line monitor (its view over the line table), the
 * menus that open every other window, the status bar, and the shift (the
 * operator on duty, the shift's takings).
 * Its first showing logs an operator in and starts the engine; closing it
 * ends the program after a confirmation. */
#ifndef CONSOLE_MAINFRM_H
#define CONSOLE_MAINFRM_H

#include <QByteArray>
#include <QDateTime>
#include <QMainWindow>
#include <QString>

#include <optional>

#include "Backup.h"
#include "LineTable.h"
#include "ShiftRecord.h"

class QAction;
class QCloseEvent;
class QLabel;
class QMenu;
class QShowEvent;
class QStatusBar;
class QTimer;
class StationState;
class TLineMonitor;

#define PROGRAM_TITLE "IP电话计费程序 v2.14 - " /* followed by the operator's name */

class TMainForm : public QMainWindow {
  Q_OBJECT

public:
  /* The station's state is shared with the other windows; the main window
   * keeps its operator. */
  explicit TMainForm(StationState *station, QWidget *parent = nullptr);

  const QString &OperatorName() const;
  Cents ShiftTotal() const { return m_shiftTotal; }
  void SetShiftTotal(Cents total) { m_shiftTotal = total; }
  const QString &WorkDir() const;
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

  /* ---- the line monitor ---- */

  /* The rows (LineTable.h) and the view that shows them (LineMonitor.h). */
  LineTable *Lines() const { return m_lines; }
  TLineMonitor *Monitor() const { return m_monitor; }

  /* One poll of the engine, as the window's timer makes every second after
   * the login: the call times and running costs as of now (the clock's now,
   * or the one given); new rows go into the line map, every line's deposit
   * is watched, the status bar follows. */
  void PollLines();
  void PollLines(const QDateTime &now);
  /* Settles the row's line with the customer (Checkout.cpp). */
  void Checkout(int row);

  /* Booth control: sends the row's line a command through the engine; when
   * it cannot be sent the operator is told (caption "错误"), naming the action.
   * True when sent. The gateway's answer, the line's new state, shows at a
   * later poll. */
  bool SendLineCommand(int row, const QByteArray &command, const QString &action);

protected:
  void showEvent(QShowEvent *event) override;
  void closeEvent(QCloseEvent *event) override;

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
  /* The status bar from the state of the moment. */
  void UpdateStatusBar();

  /* "call: deny" and "call: permit" sent to the row's line (SendLineCommand);
   * each one sent goes into the audit trail, a denial the station made by
   * itself with why ("（押金用完）"). */
  bool DenyLine(int row, const QString &why = QString());
  bool PermitLine(int row);
  /* Takes amount more as the row's line's deposit, or hands the deposit
   * back (at a refund and a checkout), and rewrites "deposits" (LineDeposits.cpp);
   * when that fails the operator is told. The row shows it at once. */
  void AddDeposit(int row, Cents amount);
  void ClearDeposit(int row);
  /* The monitor's requests. */
  void RenameLine(int row, const QString &name);
  void SwapLines(int a, int b);
  void AskDenyLine(int row);
  void TakeDeposit(int row);
  void RefundDeposit(int row);
  void SaveLineMap();
  /* Reads "deposits" at login; a file that cannot be read is told. */
  void LoadDeposits();
  /* "deposits" from the table; consequence is what a failure means. */
  void StoreDeposits(const QString &consequence);
  /* Where the row's line stands against its deposit now, once a poll and
   * whenever the deposit changes: the first time it reaches DEPOSIT_LOW the
   * window beeps, the first time it reaches DEPOSIT_USED_UP the line is
   * denied. */
  void WatchDeposit(int row);

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

  StationState *m_station;         /* the working directory and the operator on duty */
  Cents m_shiftTotal = 0;          /* money settled in this shift */
  QByteArray m_shiftStart;         /* when this shift began, "%Y-%m-%d %H:%M:%S" */
  bool m_started = false;          /* the first showing has run the login */
  bool m_engineRunning = false;    /* quenta_init succeeded */
  BackgroundBackup m_backup{this}; /* the database's copy under way */
  bool m_backupTellWhere = false;  /* its result goes into a message box */
  bool m_backupAgain = false;      /* one more copy once it is done */

  LineTable *m_lines;      /* one row per gateway line */
  TLineMonitor *m_monitor; /* the list, its checkout strip and its pop-up menu */

  /* Object names as the menus and the status bar are known by. */
  QAction *m_userMgr;       /* "UserMgr", "用户管理...": administrator only */
  QAction *m_shopSet;       /* "ShopSet", "店铺设置...": administrator only */
  QAction *m_setRate;       /* "SetRate", "费率设置...": administrator only */
  QStatusBar *m_statusBar;  /* "StatusBar1" */
  QLabel *m_statusOperator; /* "StatusOperator": "操作员：admin" */
  QLabel *m_statusTakings;  /* "StatusTakings": "本班收入：36.50元" */
  QLabel *m_statusLines;    /* "StatusLines": "在线线路：3/8" */
  QLabel *m_statusEngine;   /* "StatusEngine": "计费引擎：运行中" */
  QLabel *m_statusGateways; /* "StatusGateways": senders the "gateways" file refused, when any */
  QLabel *m_statusUnsaved;  /* "StatusUnsaved": in red, calls the engine keeps only in memory */
  QTimer *m_pollTimer;      /* "Timer1": polls the lines once a second after login */
};

/* True once quenta_init has been called: the engine's thread may be running,
 * and the program must not be torn down under it. */
bool EngineCalled();

#endif
