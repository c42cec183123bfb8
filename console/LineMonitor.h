/* The rows of the line monitor: one entry per gateway line shown in the main
 * window's list, and the in-place editor of a row's name. The main window owns
 * the entries (MainFrm.h); the monitor's code is in LineMonitor.cpp and the
 * checkout in Checkout.cpp. */
#ifndef CONSOLE_LINEMONITOR_H
#define CONSOLE_LINEMONITOR_H

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStyledItemDelegate>

#include <optional>

#include "Deposits.h"
#include "LineText.h"

class QPushButton;
class QTreeWidget;

/* One row of the list. A row is known by its machine id and line id. */
struct LineEntry {
  QByteArray machineId;           /* as the engine reports it, at most 127 bytes */
  int lineId = 0;                 /* as the engine reports it, from 0 */
  QString name;                   /* display name, also the row's caption */
  unsigned char shownState = LINE_NOT_SHOWN; /* state whose caption "状态" shows */
  QPushButton *button = nullptr;  /* the checkout button of the entry's row */
  bool unsettled = false;         /* the line has, or may have, calls not yet settled */
  std::optional<Cents> unsettledAmount; /* the unsettled calls' prices as last read; nothing: none */
  std::optional<Cents> runningCost; /* the call in progress priced at the poll (0 when no rule
                                       prices it); nothing: no call in progress */
  QString runningText;            /* "本次话费": that price, "无法计费", or empty */
  QString amountDue;              /* "应付金额": unsettled calls and the call in progress, or empty */
  DepositLevel depositLevel = DEPOSIT_NONE; /* against its deposit, as the row shows it */
};

/* Columns of the list by logical index; "本次话费" shows between "通话时间" and
 * "应付金额", "押金" (the deposit and what is left of it) comes last. */
#define COLUMN_CALL_TIME 4
#define COLUMN_AMOUNT_DUE 5
#define COLUMN_RUNNING_COST 6
#define COLUMN_DEPOSIT 7

/* The widths of the list's columns by logical index: each holds its heading
 * and the longest text it shows in everyday use ("2026-12-10 14:03:05（恢复）",
 * "500.00元，押金用完，超出12.30元") in the list's font, so that at the
 * default font the columns fit a screen 1366 pixels wide beside the strip. */
QList<int> LineColumnWidths(const QTreeWidget *list);

#define LINE_ROW_HEIGHT 22        /* a checkout button of 20 pixels fits beside a row */
#define BILL_BUTTON_HEIGHT 20

/* Draws the rows, with their state's tint beneath the list's grid lines (a
 * selected row keeps its tint and its text colour, under a wash and a frame
 * of the selection colour), and
 * edits a row's name in place (column 0 only). It never writes the list
 * itself: an accepted text goes to the main window, which may refuse it. */
class LineNameDelegate : public QStyledItemDelegate {
  Q_OBJECT

public:
  using QStyledItemDelegate::QStyledItemDelegate;

  QWidget *createEditor(QWidget *parent, const QStyleOptionViewItem &option,
                        const QModelIndex &index) const override;
  void setModelData(QWidget *editor, QAbstractItemModel *model,
                    const QModelIndex &index) const override;
  void destroyEditor(QWidget *editor, const QModelIndex &index) const override;
  QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;
  void paint(QPainter *painter, const QStyleOptionViewItem &option,
             const QModelIndex &index) const override;

signals:
  void editingStarted();
  void nameAccepted(int row, const QString &name);
  void editingEnded();            /* accepted or cancelled */
};

#endif
