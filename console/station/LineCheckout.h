/* The checkout of one line without its dialog: what the line owes (its
 * unsettled calls, each priced, and its deposit, which counts as paid), the
 * checkout stored by the engine in one transaction with the money the
 * customer handed over, what it adds to the shift's takings, the audit
 * trail's figures and the receipt it prints. Plain functions, no window. */
#ifndef CONSOLE_LINECHECKOUT_H
#define CONSOLE_LINECHECKOUT_H

#include <QByteArray>
#include <QString>

#include <vector>

#include "Audit.h"
#include "BillText.h"
#include "Calls.h"
#include "Receipt.h"
#include "ShopInfo.h"

struct LineCheckout {
  QByteArray machineId; /* the line settled */
  int lineId = 0;
  std::vector<CheckoutCall> calls; /* its unsettled calls in the engine's order */
  Cents total = 0;                 /* the priced calls' amounts, each rounded to the fen once */
  bool unpriced = false;           /* a call no rule prices: listed, neither counted nor settled */
  Cents deposit = 0;               /* the line's deposit, 0: none */

  /* The calls the checkout settles: those with a price. */
  int PricedCalls() const;
};

/* The line's calls to settle, with its deposit; false when the engine could
 * not be asked (not "nothing to pay"). */
bool GatherLineCheckout(const QByteArray &machineId, int lineId, Cents deposit, LineCheckout *checkout);

/* How the call's amount came about, under the name of the rule whose price
 * the engine froze for it; empty for a call without a price. */
QString BreakdownOf(const CheckoutCall &call);

/* The shop's heading and the line, operator and priced calls of the receipt
 * (each with its breakdown, which the receipt keeps only when asked for). */
Receipt ReceiptOf(const ShopInfo &shop, const QString &lineName, const QString &operatorName,
                  const std::vector<CheckoutCall> &calls);

/* Stores the checkout: the bills, the calls' settled flags and the record
 * with the operator and the money (paid now, the change given and what the
 * customer still owes); *co then holds the running number and date the
 * engine gave it. The engine's result: 0 when stored (Calls.h). */
int StoreLineCheckout(const LineCheckout &checkout, const QString &operatorName, Cents paid, const CheckoutMoney &money,
                      checkout_info *co);

/* What a stored checkout adds to the shift's takings: what the customer settled. */
Cents SettledAmount(const checkout_info &co);

/* The audit trail's figures of the checkout, stored or not. */
CheckoutFigures FiguresOf(const LineCheckout &checkout, Cents paid, bool stored);

/* The receipt of the stored checkout from the one the dialog showed: its
 * number, moment and money; the breakdowns only when wanted. */
Receipt StoredReceipt(Receipt receipt, const LineCheckout &checkout, const checkout_info &co, bool breakdowns);

/* What the operator is told of a checkout the engine did not store. */
QString CheckoutFailureText(int result);

#endif
