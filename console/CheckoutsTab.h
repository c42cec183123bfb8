/* The report's tab "收款记录": the checkouts confirmed within the report's
 * range (time, running number, operator, line, due, deposit, paid, change,
 * owed in red, refunded) and their total; any of them reprinted from its
 * record (double-click or "重打小票") and, by the administrator, refunded in
 * whole or in part with a reason ("退款"), its slip (退款单) printed when
 * asked. Read when the tab is shown. */
#ifndef CONSOLE_CHECKOUTSTAB_H
#define CONSOLE_CHECKOUTSTAB_H

#include <QByteArray>
#include <QList>
#include <QStringList>
#include <QWidget>

#include "CheckoutRecord.h"

class QLabel;
class StationState;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

#define CHECKOUT_COLUMNS 10

class TCheckoutsTab : public QWidget {
  Q_OBJECT

public:
  /* The station gives the operator (only an administrator refunds) and
   * where receipts and slips go. */
  explicit TCheckoutsTab(const StationState &station, QWidget *parent = nullptr);

  /* The range of the report's query and the names of its lines; the list is
   * read again when next shown. */
  void SetRange(const QByteArray &from, const QByteArray &to, const LineNames &names);
  /* Lists the range's checkouts unless they are listed already. */
  void ListIfStale();
  /* The list with its heading and total, as the CSV export writes it. */
  QList<QStringList> CsvRows() const;

  QTreeWidget *CheckoutTable; /* one row per checkout, then "合计" */
  QLabel *CheckoutInfo;       /* how many are listed */
  QPushButton *ReprintBtn;    /* "重打小票": the selected checkout's receipt again */
  QPushButton *RefundBtn;     /* "退款": the administrator refunds the selected checkout */

private:
  void ListCheckouts();
  /* The checkout of the selected row, read afresh; false (told) when none. */
  bool SelectedCheckout(CheckoutRow *row);
  void ReprintBtnClick();
  void RefundBtnClick();
  void CheckoutTableDoubleClick(QTreeWidgetItem *item);
  void SelectionChange();

  const StationState &m_station;
  QByteArray m_from, m_to;
  LineNames m_lineNames;
  bool m_ranged = false; /* a query has given the range */
  bool m_listed = false; /* the list shows the range */
};

#endif
