/* The checkout dialog: a line's unsettled calls, their prices and the total,
 * the money received and the change. The main window fills the table and
 * hands over the total before it shows the dialog; OK settles the calls. */
#ifndef CONSOLE_BILLFRM_H
#define CONSOLE_BILLFRM_H

#include <QDialog>

class QKeyEvent;
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
  void SetTotal(float total) { m_total = total; }
  float Total() const { return m_total; }

  QTreeWidget *BillTable;         /* "号码", "起始时间", "通话时长", "金额"; read only */
  QLabel *TotalAmout;             /* beside "应付金额：": the total */
  QLineEdit *Money;               /* beside "已付金额：": the money received */
  QLabel *Change;                 /* beside "找零：" */
  QPushButton *OKBtn;             /* "结帐", default: ends with OK */
  QPushButton *CancelBtn;         /* "取消" */

protected:
  void showEvent(QShowEvent *event) override;
  bool eventFilter(QObject *watched, QEvent *event) override;

private:
  void FormShow();
  /* True when the key is refused. */
  bool MoneyKeyPress(QKeyEvent *event);
  void MoneyChange();

  float m_total = 0;
};

#endif
