/* The deposit of a line: "收押金" asks for the amount the customer leaves
 * (added to what the line holds already), "退押金" asks whether the deposit
 * goes back to him and says how much that is. The main window sets the
 * dialog up for one or the other before it shows it, and keeps the deposits. */
#ifndef CONSOLE_DEPOSITDLG_H
#define CONSOLE_DEPOSITDLG_H

#include <QDialog>

#include <optional>

#include "Money.h"

#define DEPOSIT_MAX 100000 /* yuan: a deposit is less */

class QLabel;
class QLineEdit;
class QPushButton;
class QShowEvent;

class TDepositDlg : public QDialog {
  Q_OBJECT

public:
  explicit TDepositDlg(QWidget *parent = nullptr);

  /* "收押金" for the line, which holds held already (0: nothing). */
  void AskDeposit(const QString &lineName, Cents held);
  /* "退押金": the deposit to hand back, and due, what the line's calls cost
   * so far (they are still to be paid after the refund). */
  void AskRefund(const QString &lineName, Cents deposit, Cents due);
  /* The amount typed: nothing unless it is at least 0.01 and below DEPOSIT_MAX. */
  std::optional<Cents> TypedAmount() const;

  QLabel *Question;       /* the line and what is asked */
  QLabel *MoneyCaption;   /* "押金金额：", or "再收押金：" when the line holds some */
  QLineEdit *Money;       /* the amount, with the checkout's money field rules */
  QPushButton *OKBtn;     /* "确定", or "退还" for a refund; default */
  QPushButton *CancelBtn; /* "取消" */

protected:
  void showEvent(QShowEvent *event) override;
};

#endif
