/* The line monitor's rows: one entry per gateway line, in the operator's
 * order, as a table model (one column per caption of the list, the row's
 * tint as its background and text colours). The poll of the engine updates
 * it; rows come from the line map and from lines the engine reports for the
 * first time; the deposits taken for lines are kept here too, with where each
 * line stands against its deposit. No window: the monitor's view
 * (LineMonitor.h) shows it, the main window answers what it asks. */
#ifndef CONSOLE_LINETABLE_H
#define CONSOLE_LINETABLE_H

#include <QAbstractTableModel>
#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>

#include <optional>
#include <vector>

#include "Deposits.h"
#include "LineText.h"
#include "ReportGroups.h"

/* Columns of the list by logical index; "本次话费" shows between "通话时间" and
 * "应付金额", "押金" (the deposit and what is left of it) comes last. */
#define COLUMN_NAME 0
#define COLUMN_STATE 1
#define COLUMN_DIALLED 2
#define COLUMN_START 3
#define COLUMN_CALL_TIME 4
#define COLUMN_AMOUNT_DUE 5
#define COLUMN_RUNNING_COST 6
#define COLUMN_DEPOSIT 7
#define LINE_COLUMNS 8

/* One row. A row is known by its machine id and line id. */
struct LineEntry {
  QByteArray machineId;                      /* as the engine reports it, at most 127 bytes */
  int lineId = 0;                            /* as the engine reports it, from 0 */
  QString name;                              /* display name, also the row's caption */
  unsigned char shownState = LINE_NOT_SHOWN; /* state whose caption "状态" shows */
  QString stateText;                         /* "状态" */
  QString dialled;                           /* "呼出号码" */
  QString startText;                         /* "开始时间", "（恢复）" after a call the restart took over */
  QString callTime;                          /* "通话时间" of a call in progress */
  bool unsettled = false;                    /* the line has, or may have, calls not yet settled */
  bool billable = false;                     /* its checkout button says "结帐" (a call in progress
                                     makes the line unsettled, the button only once it ends) */
  std::optional<Cents> unsettledAmount;      /* the unsettled calls' prices as last read; nothing: none */
  std::optional<Cents> runningCost;          /* the call in progress priced at the poll (0 when no rule
                                       prices it); nothing: no call in progress */
  QString runningText;                       /* "本次话费": that price, "无法计费", or empty */
  QString amountDue;                         /* "应付金额": unsettled calls and the call in progress, or empty */
  DepositLevel depositLevel = DEPOSIT_NONE;  /* against its deposit, as the row shows it */
};

class LineTable : public QAbstractTableModel {
  Q_OBJECT

public:
  enum Role {
    BillableRole = Qt::UserRole + 1, /* bool: the row's checkout button says "结帐" */
  };

  explicit LineTable(QObject *parent = nullptr);

  int rowCount(const QModelIndex &parent = QModelIndex()) const override;
  int columnCount(const QModelIndex &parent = QModelIndex()) const override;
  QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
  /* The name's column is editable; the view hands an edited name to the
   * main window, which renames the row through Rename. */
  Qt::ItemFlags flags(const QModelIndex &index) const override;

  int LineCount() const { return static_cast<int>(m_lines.size()); }
  /* The entry of a row, from 0; null past the last row. */
  const LineEntry *Line(int row) const;
  /* The row of the line, or -1. */
  int FindLine(const QByteArray &machineId, int lineId) const;
  /* Machine ids in the order they were first met: the line map's, then the
   * engine's. A machine's position plus one numbers its default line names. */
  const QList<QByteArray> &Machines() const { return m_machines; }
  /* Rows whose line the engine reports in a state other than offline. */
  int OnlineCount() const;
  /* Every row's name by its line, for the report. */
  LineNames Names() const;

  /* Appends a row for the line, which the engine is asked about its
   * unsettled calls; its row index. */
  int AddLine(const QString &name, const QByteArray &machineId, int lineId);
  /* Gives the row a name (control characters become blanks); false, and no
   * change, for a name of blanks. Whether the line map can keep it is the
   * caller's to check. */
  bool Rename(int row, const QString &name);
  /* Swaps two neighbouring rows: the lines keep what they show. */
  void SwapLines(int a, int b);

  /* One poll of the engine: every reported line's state, call and running
   * cost as of now (a new line gets a row of its own with its default name).
   * True when rows were added. */
  bool Poll(const QDateTime &now);
  /* Asks the engine again whether the row's line has calls to settle, and
   * what they come to: the button follows. */
  void RefreshUnsettled(int row);
  /* Reads the line's unsettled calls again for "应付金额"; when the engine
   * cannot be asked the row keeps what it shows. */
  void RefreshAmountDue(int row);
  /* The checkout found no calls to settle: nothing is due. */
  void MarkSettled(int row);

  /* The line map: rows for the lines it lists, in its order (a line listed
   * twice gets one row); false when it cannot be read. */
  bool LoadLineMap(const QString &path);
  /* The rows into the line map; false and *reason when it was not written. */
  bool SaveLineMap(const QString &path, QString *reason) const;

  /* ---- deposits ---- */

  /* The deposit of the row's line; nothing when it has none. */
  std::optional<Cents> DepositOf(int row) const;
  /* Every deposit held, also of lines without a row. */
  const QList<Deposit> &Deposits() const { return m_deposits; }
  Cents DepositsHeld() const;
  /* Takes amount more as the row's line's deposit (its thresholds are
   * crossed anew), or drops it. The file is the caller's to write. */
  void AddDeposit(int row, Cents amount);
  void ClearDeposit(int row);
  /* "deposits" read into the table, or written from it; false and *reason
   * when that failed (a file read in part keeps what was read). */
  bool LoadDeposits(const QString &path, QString *reason);
  bool SaveDeposits(const QString &path, QString *reason) const;
  /* Where the row's line stands against its deposit now: the row's look and
   * text follow, and what the caller does now comes back (the first time it
   * reaches DEPOSIT_LOW: beep; DEPOSIT_USED_UP: deny). A line not reported
   * since the start cannot be denied and waits at DEPOSIT_LOW until it is. */
  DepositCheck WatchDeposit(int row);

private:
  static void StatusCallback(const char *machineid, int lineid, const char *state, const char *srcnum,
                             const char *desnum, const char *bdate, int flag, void *param);
  void UpdateLine(const char *machineid, int lineid, const char *state, const char *desnum, const char *bdate,
                  int flag);
  /* Prices the entry's call in progress at the poll's moment. */
  void PriceRunningCall(LineEntry &entry, const char *desnum, const char *bdate);
  void RowChanged(int row);

  std::vector<LineEntry> m_lines; /* by row */
  QList<QByteArray> m_machines;   /* machine ids, first met first */
  QList<Deposit> m_deposits;      /* by line, also of lines without a row */
  bool m_added = false;           /* rows were added during this poll */
  QDateTime m_pollTime;           /* "now" of the poll under way */
  QByteArray m_pollEnd;           /* the same in the engine's form: the running calls' end */
};

#endif
