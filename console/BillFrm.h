/* The checkout dialog: a line's unsettled calls, their prices and the total,
 * the deposit when the line has one (it counts as paid), the money received
 * and the change, or with a deposit what is handed back or still owed, and
 * the customer's receipt. The main window fills the table and hands over the
 * total, the deposit and the receipt's calls before it shows the dialog; OK
 * settles the calls. */
#ifndef CONSOLE_BILLFRM_H
#define CONSOLE_BILLFRM_H

#include <QDialog>
#include <QString>

#include "Receipt.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QTreeWidget;

#define BILL_COLUMNS 4

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

  QTreeWidget *BillTable;         /* "号码", "起始时间", "通话时长", "金额"; read only */
  QLabel *TotalAmout;             /* beside "应付金额：": the total */
  QLabel *DepositCaption;         /* "押金：", shown with a deposit only */
  QLabel *DepositAmount;          /* beside it: the deposit */
  QLabel *MoneyCaption;           /* "已付金额：", with a deposit "补交金额：" */
  QLineEdit *Money;               /* beside it: the money received now */
  QLabel *ChangeCaption;          /* "找零："; with a deposit "退还：", "找零：" or "还需补交：" */
  QLabel *Change;                 /* beside it */
  QPushButton *OKBtn;             /* "结帐", default: ends with OK */
  QPushButton *CancelBtn;         /* "取消" */
  QPushButton *PrintBtn;          /* "打印小票": the receipt of what the dialog shows now */

signals:
  /* A receipt went to the printer or into its file. */
  void receiptPrinted(const Receipt &receipt);

protected:
  void showEvent(QShowEvent *event) override;

private:
  void FormShow();
  void MoneyChange();
  void PrintBtnClick();

  Cents m_total = 0;
  Cents m_deposit = 0;
  Receipt m_receipt;
  QString m_receiptDir;           /* where receipts go as PDF files without a printer */
};

#endif
