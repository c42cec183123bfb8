/* The checkout dialog: a line's unsettled calls, their prices and the total,
 * the deposit when the line has one (it counts as paid), the money received
 * and the change, or what is still owed, and whether the customer's receipt
 * is printed. The main window fills the table and hands over the line, the
 * total, the deposit and the receipt's calls before it shows the dialog.
 * "结帐" (or "结帐并打印") ends it accepted once the money is settled on: an
 * amount below what is due is settled only when the operator confirms that
 * the customer owes the rest, and Enter settles only after something was
 * typed into the money field. The receipt is printed by the main window once
 * the checkout is stored, with its running number. */
#ifndef CONSOLE_BILLFRM_H
#define CONSOLE_BILLFRM_H

#include <QDialog>
#include <QString>

#include "BillText.h"
#include "Receipt.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

#define BILL_COLUMNS 4
#define BILL_BREAKDOWN_ROLE (Qt::UserRole + 1)

class TBillForm : public QDialog {
  Q_OBJECT

public:
  explicit TBillForm(QWidget *parent = nullptr);

  /* The checkout total the change is counted against. */
  void SetTotal(Cents total) { m_total = total; }
  Cents Total() const { return m_total; }
  /* The line's deposit, 0 for none: shown, and counted as paid. */
  void SetDeposit(Cents deposit) { m_deposit = deposit; }
  /* What the receipt holds besides the money and the time: the shop, the
   * line, the operator and the calls settled. */
  void SetReceipt(const Receipt &receipt) { m_receipt = receipt; }
  const Receipt &ReceiptCalls() const { return m_receipt; }
  /* The line in the caption, and the call still in progress on it: empty
   * when there is none, else what the dialog says of it. */
  void SetLine(const QString &lineName, const QString &callInProgress);

  /* Once accepted: what the customer paid now, what went back to him and
   * what he still owes, and whether a receipt is to be printed. */
  Cents Paid() const { return m_paid; }
  CheckoutMoney Outcome() const { return m_settled; }
  bool PrintWanted() const { return m_print; }

  QTreeWidget *BillTable; /* "号码", "起始时间", "通话时长", "金额"; read only; a priced
                                     call's breakdown (BreakdownText) in column 0's BILL_BREAKDOWN_ROLE */
  QLabel *TotalAmout;     /* beside "应付金额：": the total */
  QLabel *DepositCaption; /* "押金：", shown with a deposit only */
  QLabel *DepositAmount;  /* beside it: the deposit */
  QLabel *MoneyCaption;   /* "已付金额：", with a deposit "补交金额：" */
  QLineEdit *Money;       /* beside it: the money received now */
  QLabel *ChangeCaption;  /* "找零：" or "还差："; with a deposit "退还：", "找零：" or "还需补交：" */
  QLabel *Change;         /* beside it */
  QLabel *CallInProgress; /* above the amounts, in red: the call still going on, not settled now */
  QPushButton *OKBtn;     /* "结帐", default: ends with OK */
  QPushButton *CancelBtn; /* "取消" */
  QPushButton *PrintBtn;  /* "结帐并打印": settles, then prints the receipt */
  QPushButton *DetailBtn; /* "计费明细": how the selected call's amount came about
                                     (also a double-click on the call) */
  QCheckBox *BreakdownOnReceipt; /* "小票附计费明细": the receipt lists each call's breakdown */

protected:
  void showEvent(QShowEvent *event) override;
  void keyPressEvent(QKeyEvent *event) override;

private:
  void FormShow();
  void MoneyChange();
  void MoneyEdited(); /* typed by the operator, not set by the dialog */
  void OKBtnClick();
  void PrintBtnClick();
  void BillTableDoubleClick(QTreeWidgetItem *item);
  void ShowBreakdown(); /* DetailBtn, or a double-click on a call: the current call's */
  void Settle(bool print);

  Cents m_total = 0;
  Cents m_deposit = 0;
  Receipt m_receipt;
  bool m_typed = false; /* the operator has typed into the money field since it showed */
  Cents m_paid = 0;
  CheckoutMoney m_settled{0, 0};
  bool m_print = false;
};

#endif
